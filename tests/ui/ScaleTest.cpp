// The window at whatever scale factor the run sets (ctest runs it at 1 and at 2): the client area
// is 760 x 562 layout pixels, every control lies inside its parent, the controls of one parent do
// not overlap, and no caption is cut. Fonts are drawn at device pixels, so a caption that fits at
// one scale can outgrow its control at another.
#include "WindowFixture.h"

#include "uControls.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QWindow>

class ScaleTest : public QObject {
    Q_OBJECT
  private slots:
    void WindowSize();
    void ControlsInsideAndApart();
    void CaptionsFit();
};

namespace {

// The scale the run asked for; 1 when none.
qreal RequestedScale() {
    bool ok = false;
    const qreal scale = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&ok);
    return ok ? scale : 1.0;
}

// The file of a typical session: several frames, an APEv2 tag and an ID3v1 block, so that the
// status text, the show buttons and a long grid are all there.
void OpenTypicalFile(TWindowFixture& f) {
    const Bytes frames = TextFrame("TIT2", Gbk("月亮代表我的心")) +
                         TextFrame("TPE1", Gbk("邓丽君")) +
                         TextFrame("TALB", Gbk("岛国之情歌 第四集")) + TextFrame("TYER", "1977") +
                         TextFrame("COMM", Gbk("一九七七年录音，中文歌词。"));
    Id3v1Fields v1;
    v1.title = Gbk("月亮代表我的心");
    const Bytes file = Id3TagOurs(frames) + MpegFrames(4) +
                       ApeTag({{"Title", "\xe6\x9c\x88\xe4\xba\xae"}}) + Id3v1Block(v1);
    f.Open(f.Write("song.MP3", file));
}

// The named controls the user sees: the shown children of `parent` that have a name.
QList<QWidget*> ShownControls(QWidget* parent) {
    QList<QWidget*> controls;
    for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!child->objectName().isEmpty() && !child->objectName().startsWith("qt_") &&
            !child->isHidden())
            controls << child;
    return controls;
}

// What a control covers: for a label the pixels of its text (a full-width colon leaves the right
// half of its cell empty, and the next label may start there), else the whole control.
QRect Extent(QWidget* control) {
    if (auto* label = qobject_cast<QLabel*>(control)) {
        if (label->text().isEmpty()) return {};
        const QFontMetrics metrics = label->fontMetrics();
        return metrics.boundingRect(label->text())
            .translated(label->pos() + QPoint(0, metrics.ascent()));
    }
    return control->geometry();
}

} // namespace

void ScaleTest::WindowSize() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const qreal scale = RequestedScale();
    QCOMPARE(w.devicePixelRatioF(), scale);
    QCOMPARE(w.size(), QSize(760, 562));
    QCOMPARE(w.windowHandle()->size(), QSize(760, 562));
    // What the screen shows and a screenshot holds: the layout size times the scale.
    const QPixmap shot = w.grab();
    QCOMPARE(shot.size(), QSize(qRound(760 * scale), qRound(562 * scale)));
    QCOMPARE(shot.devicePixelRatio(), scale);
}

void ScaleTest::ControlsInsideAndApart() {
    TWindowFixture f;
    OpenTypicalFile(f);
    TFrmEditText& w = f.W();
    QVERIFY(w.btnShowID3v1Tag->isEnabled() && w.btnShowAPEv2Tag->isEnabled());
    QVERIFY(!w.lblID3Status->text().isEmpty());
    int checked = 0;
    QList<QWidget*> parents{&w};
    while (!parents.isEmpty()) {
        QWidget* parent = parents.takeFirst();
        const QList<QWidget*> controls = ShownControls(parent);
        for (int i = 0; i < controls.size(); ++i) {
            QWidget* control = controls[i];
            parents << control;
            const QString name = control->objectName();
            // The preview image is larger than its panel by design: the panel clips it.
            if (control != w.Image) {
                QVERIFY2(parent->rect().contains(Extent(control)),
                         qPrintable(name + " sticks out of " + parent->objectName()));
                ++checked;
            }
            for (int j = i + 1; j < controls.size(); ++j) {
                const QRect a = Extent(control), b = Extent(controls[j]);
                QVERIFY2(!a.intersects(b),
                         qPrintable(name + " overlaps " + controls[j]->objectName()));
            }
        }
    }
    QCOMPARE(checked, 36); // all but the preview image
}

void ScaleTest::CaptionsFit() {
    TWindowFixture f;
    OpenTypicalFile(f);
    TFrmEditText& w = f.W();
    // A raised edge of two pixels on each side of a button face.
    constexpr int kEdge = 2;
    for (auto* button : w.findChildren<TGlyphButton*>()) {
        const QString name = button->objectName();
        const int captionWidth =
            button->text().isEmpty()
                ? 0
                : button->CaptionGap() + button->fontMetrics().horizontalAdvance(button->text());
        QVERIFY2(button->GlyphLeft() >= kEdge, qPrintable(name));
        QVERIFY2(button->GlyphLeft() + kGlyphSize + captionWidth <= button->width() - kEdge,
                 qPrintable(name));
    }
    for (auto* button : {w.btnShowID3v1Tag, w.btnShowAPEv2Tag})
        QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) <=
                     button->width() - 2 * kEdge,
                 qPrintable(button->objectName()));
    for (auto* box : w.findChildren<QAbstractButton*>()) {
        if (!qobject_cast<QCheckBox*>(box) && !qobject_cast<QRadioButton*>(box)) continue;
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = box->text();
        const QStyle::SubElement contents = qobject_cast<QCheckBox*>(box)
                                                ? QStyle::SE_CheckBoxContents
                                                : QStyle::SE_RadioButtonContents;
        const QRect room = box->style()->subElementRect(contents, &option, box);
        QVERIFY2(room.left() + box->fontMetrics().horizontalAdvance(box->text()) <= box->width(),
                 qPrintable(box->objectName()));
    }
}

static TRegisterTest<ScaleTest> registerScaleTest("ScaleTest");
#include "ScaleTest.moc"
