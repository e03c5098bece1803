// The window as it opens: every control at its place with its texts, colours and state.
#include "WindowFixture.h"

#include "ID3v2Tags.h"
#include "uApplication.h"
#include "uControls.h"
#include "uGlyphArt.h"
#include "uMp3Const.h"
#include "uStringGrid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>

class LayoutTest : public QObject {
    Q_OBJECT
  private slots:
    void WindowFrame();
    void ControlPlaces();
    void TextsHintsAndColours();
    void InitialStates();
    void GridAtStart();
    void NewTagBoxAndPictureTypes();
    void FocusOrder();
    void Glyphs();
    void EnableTagControlsRule();
};

void LayoutTest::WindowFrame() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    QCOMPARE(w.windowTitle(), Q(" MP3[ID3v2]通用标签编辑器"));
    QCOMPARE(w.size(), QSize(760, 562));
    QCOMPARE(w.minimumSize(), QSize(760, 562));
    QCOMPARE(w.maximumSize(), QSize(760, 562));
    const Qt::WindowFlags flags = w.windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    // The whole window, frame included, sits in the middle of the screen.
    QVERIFY((w.frameGeometry().center() - centre).manhattanLength() <= 2);
    // The font: a face that holds Chinese, 12 pixels; the file name 14 pixels.
    QCOMPARE(w.font().pixelSize(), 12);
    QCOMPARE(w.font().family(), WindowFontFamily());
    QVERIFY(QFontDatabase::writingSystems(WindowFontFamily())
                .contains(QFontDatabase::SimplifiedChinese));
    QCOMPARE(w.sg->font().pixelSize(), 12);
    QCOMPARE(w.edFn->font().pixelSize(), 14);
    // Escape does not close the program's one window.
    QTest::keyClick(&w, Qt::Key_Escape);
    QVERIFY(w.isVisible());
}

void LayoutTest::ControlPlaces() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    struct Place {
        const char* name;
        const char* parent;
        QRect rect; // an empty size: a label sized by its text
    };
    const Place places[] = {
        {"btnOpen", "FrmEditText", {13, 16, 48, 25}},
        {"edFn", "FrmEditText", {64, 18, 681, 22}},
        {"imgInvisible", "FrmEditText", {696, 0, 105, 105}},
        {"GroupBox2", "FrmEditText", {13, 48, 460, 478}},
        {"Panel1", "FrmEditText", {480, 52, 265, 474}},
        {"Label1", "GroupBox2", {14, 20, 0, 0}},
        {"lblID3Status", "GroupBox2", {70, 20, 0, 0}},
        {"chkDelID3v1", "GroupBox2", {289, 18, 76, 17}},
        {"chkDelAPEv2", "GroupBox2", {374, 18, 77, 17}},
        {"sg", "GroupBox2", {14, 39, 432, 157}},
        {"btnID3Update", "GroupBox2", {246, 200, 100, 27}},
        {"btnReLoad", "GroupBox2", {346, 200, 100, 27}},
        {"lblComment", "GroupBox2", {14, 208, 0, 0}},
        {"edComm", "GroupBox2", {14, 232, 432, 182}},
        {"btnAddTag", "GroupBox2", {14, 421, 88, 27}},
        {"edNewTag", "GroupBox2", {104, 425, 58, 20}},
        {"btnShowID3v1Tag", "GroupBox2", {165, 421, 40, 27}},
        {"btnShowAPEv2Tag", "GroupBox2", {205, 421, 40, 27}},
        {"btnID3Kill", "GroupBox2", {246, 421, 100, 27}},
        {"btnDelAllTag", "GroupBox2", {346, 421, 100, 27}},
        {"chkBackFile", "GroupBox2", {14, 454, 412, 17}},
        {"btnSelPic", "Panel1", {11, 6, 101, 25}},
        {"btnInputPic", "Panel1", {112, 6, 143, 25}},
        {"rbStretch", "Panel1", {11, 33, 97, 17}},
        {"rbScale", "Panel1", {163, 33, 93, 17}},
        {"Label2", "Panel1", {12, 54, 0, 0}},
        {"lbSize", "Panel1", {173, 54, 0, 0}},
        {"plColor", "Panel1", {11, 69, 126, 20}},
        {"chkCenter", "Panel1", {143, 71, 50, 17}},
        {"btnZoomBig", "Panel1", {206, 67, 23, 22}},
        {"btnZoomSmall", "Panel1", {231, 67, 23, 22}},
        {"Label3", "Panel1", {11, 97, 0, 0}},
        {"cbPicType", "Panel1", {73, 92, 182, 20}},
        {"Label4", "Panel1", {11, 119, 0, 0}},
        {"edPicInfo", "Panel1", {73, 115, 182, 20}},
        {"Panel2", "Panel1", {11, 138, 244, 324}},
        {"plPic", "Panel2", {2, 2, 240, 320}},
        {"Image", "plPic", {24, 40, 3200, 2400}},
    };
    for (const Place& p : places) {
        auto* control = w.findChild<QWidget*>(p.name);
        QVERIFY2(control, p.name);
        QVERIFY2(control->parentWidget()->objectName() == p.parent, p.name);
        if (p.rect.isEmpty())
            QVERIFY2(control->pos() == p.rect.topLeft() && !control->size().isEmpty(), p.name);
        else
            QVERIFY2(control->geometry() == p.rect, p.name);
    }
    QCOMPARE(static_cast<QWidget*>(w.sg), w.findChild<QWidget*>("sg"));
}

void LayoutTest::TextsHintsAndColours() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    QCOMPARE(w.btnOpen->text(), Q("MP3"));
    QCOMPARE(w.edFn->text(), Q("←请选择一个MP3文件"));
    QCOMPARE(w.GroupBox2->title(), Q(" 标签信息"));
    QCOMPARE(w.Label1->text(), Q("标签类型"));
    QCOMPARE(w.chkDelID3v1->text(), Q("删除ID3v1"));
    QCOMPARE(w.chkDelAPEv2->text(), Q("删除APEv2"));
    QCOMPARE(w.btnID3Update->text(), Q("更新当前标签"));
    QCOMPARE(w.btnReLoad->text(), Q("重新获取标签"));
    QCOMPARE(w.lblComment->text(), Q("标签内容/编辑："));
    QCOMPARE(w.btnAddTag->text(), Q("增加新标签"));
    QCOMPARE(w.btnShowID3v1Tag->text(), Q("ID3v1"));
    QCOMPARE(w.btnShowAPEv2Tag->text(), Q("APEv2"));
    QCOMPARE(w.btnID3Kill->text(), Q("删除当前标签"));
    QCOMPARE(w.btnDelAllTag->text(), Q("删除所有标签"));
    QCOMPARE(w.chkBackFile->text(),
             Q("更新时备份原文件：加bak后缀【不选择，更新后自动删除临时备份文件】"));
    QCOMPARE(w.btnSelPic->text(), Q("选择嵌入图片"));
    QCOMPARE(w.btnInputPic->text(), Q("嵌入图片到MP3文件中"));
    QCOMPARE(w.rbStretch->text(), Q("图片拉伸显示"));
    QCOMPARE(w.rbScale->text(), Q("按比例额缩放"));
    QCOMPARE(w.Label2->text(), Q("嵌入图片大小240*320, 字节："));
    QCOMPARE(w.lbSize->text(), Q("000000"));
    QCOMPARE(w.plColor->Caption(), Q("背景颜色"));
    QCOMPARE(w.chkCenter->text(), Q("居中"));
    QVERIFY(w.btnZoomBig->text().isEmpty());
    QVERIFY(w.btnZoomSmall->text().isEmpty());
    QCOMPARE(w.Label3->text(), Q("图片类型："));
    QCOMPARE(w.Label4->text(), Q("文字说明："));

    // Hints on three controls only.
    const QString memoHint = Q("标签编辑器测试阶段，为安全起见，建议备份原来MP3文件。");
    const QString newTagHint =
        Q("手动输入标签来增加MP3标签时，可能导致某些播放器不能正确识别MP3.此时请删除该标签！");
    const QString embedHint = Q("嵌入图片会使文件增加几十到上百K字节大小");
    for (QWidget* control : w.findChildren<QWidget*>()) {
        const QString name = control->objectName();
        const QString expected = name == "edComm"        ? memoHint
                                 : name == "edNewTag"    ? newTagHint
                                 : name == "btnInputPic" ? embedHint
                                                         : QString();
        QVERIFY2(control->toolTip() == expected, qPrintable(name));
    }
    const THintTiming& hints = THintTiming::Instance();
    QCOMPARE(hints.HintHidePause, 10000);
    QCOMPARE(hints.PauseBeforeHint(true), 10);
    QCOMPARE(hints.PauseBeforeHint(false), 500);

    const auto text = [](QWidget* control) {
        return control->palette().color(QPalette::WindowText);
    };
    QCOMPARE(text(w.lblID3Status), QColor(0, 0, 128));
    QCOMPARE(text(w.chkDelID3v1), QColor(128, 0, 0));
    QCOMPARE(text(w.chkDelAPEv2), QColor(128, 0, 0));
    QCOMPARE(text(w.Label2), QColor(128, 0, 0));
    QCOMPARE(text(w.lbSize), QColor(128, 0, 0));
    QCOMPARE(w.plColor->Color(), QColor(0, 0, 255));
    QCOMPARE(text(w.plColor), QColor(192, 192, 192));
    QCOMPARE(w.plColor->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(w.Image->cursor().shape(), Qt::PointingHandCursor);

    QCOMPARE(w.OpenDialog1.Filter, Q("*.MP3|*.MP3"));
    QCOMPARE(QtFileFilter(w.OpenDialog1.Filter), Q("*.MP3 (*.MP3)"));
    QCOMPARE(QtFileFilter(w.OpenPictureDialog1.Filter),
             Q("图片 (jpg;*.jpeg;*.bmp) (*.jpg *.jpeg *.bmp)"));
}

void LayoutTest::InitialStates() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    QVERIFY(w.btnOpen->isEnabled());
    QVERIFY(w.edFn->isEnabled() && w.edFn->isReadOnly());
    QVERIFY(w.imgInvisible->isHidden());
    QVERIFY(w.lblID3Status->text().isEmpty());
    for (QWidget* off : std::initializer_list<QWidget*>{
             w.sg, w.btnID3Update, w.btnReLoad, w.btnAddTag, w.btnID3Kill, w.btnDelAllTag,
             w.btnSelPic, w.btnInputPic, w.rbStretch, w.rbScale, w.btnZoomBig, w.btnZoomSmall})
        QVERIFY2(!off->isEnabled(), qPrintable(off->objectName()));
    for (QWidget* on : std::initializer_list<QWidget*>{
             w.chkDelID3v1, w.chkDelAPEv2, w.edComm, w.edNewTag, w.btnShowID3v1Tag,
             w.btnShowAPEv2Tag, w.chkBackFile, w.plColor, w.chkCenter, w.cbPicType, w.edPicInfo})
        QVERIFY2(on->isEnabled(), qPrintable(on->objectName()));
    QVERIFY(!w.chkDelID3v1->isChecked());
    QVERIFY(!w.chkDelAPEv2->isChecked());
    QVERIFY(w.chkBackFile->isChecked());
    QVERIFY(w.rbStretch->isChecked());
    QVERIFY(!w.rbScale->isChecked());
    QVERIFY(w.chkCenter->isChecked());
    QVERIFY(!w.edComm->isReadOnly());
    QVERIFY(f.Memo().isEmpty());
    QVERIFY(w.edPicInfo->text().isEmpty());
    // The view box of the picture panel, and nothing chosen yet.
    QCOMPARE(w.Preview.ViewWidth, 240);
    QCOMPARE(w.Preview.ViewHeight, 320);
    QCOMPARE(w.Preview.PictureWidth, 0);

    // With no file the show buttons say there is no tag.
    f.Click(w.btnShowID3v1Tag);
    QCOMPARE(f.Memo(), Q("无ID3V1标签"));
    f.Click(w.btnShowAPEv2Tag);
    QCOMPARE(f.Memo(), Q("无APEv2标签"));
    // The caption shows the backup name of whatever edFn holds: here the prompt.
    QTest::mouseDClick(w.edFn, Qt::LeftButton);
    QCOMPARE(w.windowTitle(), Q("←请选择一个MP3文件bak"));
}

void LayoutTest::GridAtStart() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    TStringGrid* sg = w.sg;
    QCOMPARE(sg->RowCount(), 2);
    QCOMPARE(sg->columnCount(), 2);
    QCOMPARE(f.Cell(0, 0), Q("标签"));
    QCOMPARE(f.Cell(1, 0), Q("标签内容"));
    QVERIFY(f.Cell(0, 1).isEmpty() && f.Cell(1, 1).isEmpty());
    QCOMPARE(sg->columnWidth(0), 32);
    QCOMPARE(sg->columnWidth(1), 377);
    // Every known id whole ("COMM", not "COMI"), two pixels in and one short of the grid line,
    // at the run's scale: ctest runs this at 1 and at 2.
    const int room = sg->visualRect(sg->model()->index(0, 0)).width() - 3;
    for (std::string_view id : FrameIdList) {
        sg->SetCells(0, 1, std::string(id));
        const QFontMetricsF metrics(sg->item(0, 0)->font(), sg);
        QVERIFY2(metrics.horizontalAdvance(QString::fromLatin1(id)) <= room, id.data());
    }
    QCOMPARE(sg->rowHeight(0), 16);
    QCOMPARE(sg->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(sg->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(sg->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(sg->editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(sg->showGrid());
    // Disabled: a click changes nothing.
    QSignalSpy clicks(sg, &TStringGrid::Click);
    f.SelectRow(1);
    QCOMPARE(clicks.count(), 0);
    QCOMPARE(w.lblComment->text(), Q("标签内容/编辑："));
}

void LayoutTest::NewTagBoxAndPictureTypes() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    QCOMPARE(w.edNewTag->count(), 74);
    QCOMPARE(w.edNewTag->currentText(), Q("APIC"));
    const QStringList first = {"APIC", "COMM", "COMR", "ENCR"};
    for (int i = 0; i < first.size(); ++i)
        QCOMPARE(w.edNewTag->itemText(i), first[i]);
    QCOMPARE(w.edNewTag->itemText(72), Q("WPUB"));
    QCOMPARE(w.edNewTag->itemText(73), Q("WXXX"));
    for (int i = 1; i < w.edNewTag->count(); ++i)
        QVERIFY(QString::compare(w.edNewTag->itemText(i - 1), w.edNewTag->itemText(i),
                                 Qt::CaseInsensitive) < 0);
    // Typed letters become upper case, and Enter adds nothing to the list.
    w.edNewTag->lineEdit()->clear();
    QTest::keyClicks(w.edNewTag->lineEdit(), "apic");
    QCOMPARE(w.edNewTag->currentText(), Q("APIC"));
    w.edNewTag->lineEdit()->clear();
    QTest::keyClicks(w.edNewTag->lineEdit(), "xyzw");
    QTest::keyClick(w.edNewTag->lineEdit(), Qt::Key_Return);
    QCOMPARE(w.edNewTag->currentText(), Q("XYZW"));
    QCOMPARE(w.edNewTag->count(), 74);

    QCOMPARE(w.cbPicType->count(), 21);
    QCOMPARE(w.cbPicType->currentIndex(), -1);
    QCOMPARE(w.cbPicType->itemText(3), Q("封面"));
    QCOMPARE(w.cbPicType->itemText(0), Q("其他"));
    QVERIFY(!w.cbPicType->isEditable());

    QTest::keyClicks(w.edPicInfo, QString(61, QLatin1Char('x')));
    QCOMPARE(w.edPicInfo->text().size(), 60);
}

void LayoutTest::FocusOrder() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.edFn->setFocus();
    // The disabled grid and picture buttons are skipped; the speed buttons never take the focus.
    const QStringList expected = {
        "edComm",          "chkBackFile", "edNewTag",    "btnShowAPEv2Tag",
        "btnShowID3v1Tag", "chkDelID3v1", "chkDelAPEv2", "chkCenter",
        "cbPicType",       "edPicInfo",   "edFn"};
    QStringList seen;
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        while (focus && focus->objectName().isEmpty())
            focus = focus->parentWidget();
        seen << (focus ? focus->objectName() : QString("none"));
    }
    QCOMPARE(seen, expected);
    for (QWidget* speed :
         std::initializer_list<QWidget*>{w.btnOpen, w.btnID3Update, w.btnID3Kill, w.btnReLoad,
                                         w.btnDelAllTag, w.btnAddTag, w.btnZoomBig, w.btnZoomSmall})
        QCOMPARE(speed->focusPolicy(), Qt::NoFocus);
    QVERIFY(w.btnSelPic->focusPolicy() != Qt::NoFocus);
    QVERIFY(w.btnInputPic->focusPolicy() != Qt::NoFocus);
}

void LayoutTest::Glyphs() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    using P = TGlyphButton::TGlyphPlace;
    for (TGlyphButton* b :
         {w.btnID3Update, w.btnID3Kill, w.btnReLoad, w.btnDelAllTag, w.btnAddTag}) {
        QCOMPARE(b->GlyphPlace(), P::LeftEdge);
        QCOMPARE(b->Spacing(), 3);
    }
    QCOMPARE(w.btnOpen->GlyphPlace(), P::Centred);
    QCOMPARE(w.btnOpen->Spacing(), 2);
    QCOMPARE(w.btnSelPic->Spacing(), 4);
    QCOMPARE(w.btnInputPic->Spacing(), 4);
    // A centred glyph and its caption share the middle of the button.
    const int captionWidth = w.btnOpen->fontMetrics().horizontalAdvance("MP3");
    QCOMPARE(w.btnOpen->GlyphLeft(), (48 - 16 - 2 - captionWidth) / 2);
    QCOMPARE(w.btnZoomBig->GlyphLeft(), (23 - 16) / 2);
    QVERIFY(w.btnZoomBig->isFlat());
    // Each glyph button shows the glyph drawn for its name, greyed while it is disabled: what
    // it paints changes when it is enabled.
    for (TGlyphButton* b : w.findChildren<TGlyphButton*>()) {
        QVERIFY2(GlyphNames().contains(b->objectName()), qPrintable(b->objectName()));
        b->setEnabled(false);
        const QImage off = b->grab().toImage();
        b->setEnabled(true);
        const QImage on = b->grab().toImage();
        const QRect glyph(b->GlyphLeft(), (b->height() - 16) / 2, 16, 16);
        QVERIFY2(off.copy(glyph) != on.copy(glyph), qPrintable(b->objectName()));
    }
    QCOMPARE(w.findChildren<TGlyphButton*>().size(), GlyphNames().size());
}

void LayoutTest::EnableTagControlsRule() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const QList<QWidget*> six = {w.btnID3Update, w.btnID3Kill, w.btnReLoad,
                                 w.btnDelAllTag, w.btnAddTag,  w.sg};
    w.sg->SetCells(0, 1, "APIC");
    w.EnableTagControls(true);
    QVERIFY(!w.btnID3Update->isEnabled());
    for (QWidget* c : six.mid(1))
        QVERIFY(c->isEnabled());
    w.sg->SetCells(0, 1, "TPIC");
    w.EnableTagControls(true);
    QVERIFY(!w.btnID3Update->isEnabled());
    // Only the exact ids are picture rows.
    w.sg->SetCells(0, 1, "apic");
    w.EnableTagControls(true);
    QVERIFY(w.btnID3Update->isEnabled());
    w.EnableTagControls(false);
    for (QWidget* c : six)
        QVERIFY(!c->isEnabled());
}

static TRegisterTest<LayoutTest> registerLayoutTest("LayoutTest");
#include "LayoutTest.moc"
