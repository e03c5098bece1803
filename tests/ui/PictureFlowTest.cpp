// The picture panel through the window: embedded pictures shown on row selection, choosing a
// picture, the two modes, zoom, pan, centring and background, the capture of what the panel
// shows, and embedding as TPIC or APIC, read back from the file.
#include "WindowFixture.h"

#include "ID3v2Tags.h"
#include "PictureBuilders.h"
#include "uControls.h"
#include "uPictureFile.h"
#include "uStringGrid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

namespace {

const Bytes kAudio = MpegFrames(3);

Bytes Tpic(const Bytes& jpeg) {
    return Id3Frame("TPIC", Bytes(1, '\0') + jpeg);
}

// An attached picture as the editor writes it: encoding byte, MIME type, type, description.
Bytes ApicPayload(unsigned char type, const Bytes& description, const Bytes& jpeg) {
    return Bytes("\0image/jpeg\0", 12) + char(type) + description + Bytes(1, '\0') + jpeg;
}
Bytes Apic(unsigned char type, const Bytes& description, const Bytes& jpeg) {
    return Id3Frame("APIC", ApicPayload(type, description, jpeg));
}

std::string Payload(const std::string& path, int index) {
    TID3v2Tag tag;
    tag.ReadFromFile(path);
    return index < static_cast<int>(tag.FramePayloads.size()) ? tag.FramePayloads[index]
                                                              : std::string();
}

// What the 240 x 320 preview area shows on screen.
QImage Shown(TFrmEditText& w) {
    return w.plPic->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// What embedding would capture now, without embedding.
QImage CaptureNow(TFrmEditText& w) {
    TPreview copy = w.Preview;
    copy.PanelColor = w.plPic->Color();
    return copy.Capture();
}

void ChoosePicture(TWindowFixture& f, const std::string& path) {
    f.Choices << QFile::decodeName(QByteArray::fromStdString(path));
    f.Click(f.W().btnSelPic);
}

// Presses at `from` and moves the pointer to `to`, both in the preview's coordinates at the
// press. The preview follows the pointer, so the release is again over `from`.
void Drag(QWidget* image, QPoint from, QPoint to) {
    QTest::mousePress(image, Qt::LeftButton, {}, from);
    QTest::mouseMove(image, to);
    QTest::mouseRelease(image, Qt::LeftButton, {}, from);
}

QRect Geometry(TFrmEditText& w) {
    return w.Image->geometry();
}

uint32_t Rgb(const QColor& c) {
    return c.rgb() & 0xFFFFFF;
}

bool ModeButtons(TFrmEditText& w, bool modes, bool zoom) {
    return w.rbStretch->isEnabled() == modes && w.rbScale->isEnabled() == modes &&
           w.btnZoomBig->isEnabled() == zoom && w.btnZoomSmall->isEnabled() == zoom;
}

// A pixel of an image, within JPEG's tolerance.
#define VERIFY_PIXEL(image, x, y, rgb)                                                             \
    QVERIFY2(Near(PixelAt(image, x, y), rgb),                                                      \
             qPrintable(QString("(%1, %2) is %3, expected %4")                                     \
                            .arg(x)                                                                \
                            .arg(y)                                                                \
                            .arg(QString::fromStdString(Hex(PixelAt(image, x, y))))                \
                            .arg(QString::fromStdString(Hex(rgb)))))

} // namespace

class PictureFlowTest : public QObject {
    Q_OBJECT
  private slots:
    void ShowsEmbeddedPictures();
    void DamagedEmbeddedPictures();
    void ChoosingAPicture();
    void ChoosingFailures();
    void ProportionalZoomPanAndCentre();
    void CaptureIsWhatThePanelShows();
    void EmbedsTheCustomPicture();
    void EmbedsAnAttachedPicture();
    void EmbedsWhatIsShownWithoutChoosing();
};

void PictureFlowTest::ShowsEmbeddedPictures() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const Bytes big = EncodeJpeg(Quadrants(300, 400), 90);
    const Bytes small = EncodeJpeg(Quadrants(64, 48), 90);
    const Bytes desc66(66, 'd');
    const std::string path =
        f.Write("pics.MP3", Id3TagOurs(Tpic(big) + Apic(5, "abc", small) +
                                       Id3Frame("APIC", Bytes("\0image/jpeg\0\x03\0", 14)) +
                                       Apic(25, "", small) + Id3Frame("APIC", Bytes(1, '\0')) +
                                       Apic(2, desc66, small) + Id3Frame("TIT2", Bytes("\0T", 2))) +
                                kAudio);
    f.Open(path);
    QVERIFY(f.Messages.isEmpty());
    // Row 1, the custom picture: shown unscaled from the panel's corner; lbSize counts the JPEG.
    QCOMPARE(w.sg->Row(), 1);
    QCOMPARE(w.lbSize->text(), QString::number(big.size()));
    QCOMPARE(Geometry(w), QRect(0, 0, 300, 400));
    QCOMPARE(w.Image->Picture().size(), QSize(300, 400));
    QCOMPARE(w.imgInvisible->Picture().size(), QSize(300, 400));
    // Only its top-left 240 x 320 is visible.
    QImage shown = Shown(w);
    VERIFY_PIXEL(shown, 10, 10, kRed);
    VERIFY_PIXEL(shown, 200, 10, kGreen);
    VERIFY_PIXEL(shown, 10, 300, kBlue);
    VERIFY_PIXEL(shown, 200, 300, kYellow);
    // Showing an embedded picture changes neither the chosen size nor the view box.
    QCOMPARE(w.Preview.PictureWidth, 0);
    QCOMPARE(w.Preview.ViewWidth, 240);

    // An attached picture: type, description, whole payload length, picture at natural size.
    f.SelectRow(2);
    QCOMPARE(w.cbPicType->currentIndex(), 5);
    QCOMPARE(w.edPicInfo->text(), Q("abc"));
    QCOMPARE(w.lbSize->text(), QString::number(ApicPayload(5, "abc", small).size()));
    QCOMPARE(Geometry(w), QRect(0, 0, 64, 48));
    shown = Shown(w);
    VERIFY_PIXEL(shown, 5, 5, kRed);
    VERIFY_PIXEL(shown, 60, 44, kYellow);
    // Beyond the picture the panel's face shows.
    QCOMPARE(PixelAt(shown, 100, 100), Rgb(w.plPic->Color()));

    // The attached picture the add command makes: type 3, no description, no picture, no error.
    f.SelectRow(3);
    QCOMPARE(w.cbPicType->currentIndex(), 3);
    QCOMPARE(w.edPicInfo->text(), QString());
    QCOMPARE(w.lbSize->text(), Q("14"));
    QCOMPARE(Geometry(w).size(), QSize(0, 0));
    QVERIFY(w.Image->Picture().isNull());
    QVERIFY(w.imgInvisible->Picture().isNull());
    QVERIFY(!w.Preview.HasPicture());

    // A type byte past the table is type 0.
    f.SelectRow(4);
    QCOMPARE(w.cbPicType->currentIndex(), 0);
    QCOMPARE(w.cbPicType->currentText(), Q("其他"));
    QCOMPARE(Geometry(w), QRect(0, 0, 64, 48));

    // A single 0x00 shows nothing and leaves the panel's fields as they were.
    f.SelectRow(5);
    QVERIFY(w.Image->Picture().isNull());
    QCOMPARE(w.lbSize->text(), QString::number(ApicPayload(25, "", small).size()));
    QCOMPARE(w.cbPicType->currentIndex(), 0);
    QCOMPARE(w.imgInvisible->Picture().size(), QSize(64, 48));

    // 66 bytes of description still end inside the readers' reach, and are shown whole although
    // the box takes only 60 typed characters.
    f.SelectRow(6);
    QCOMPARE(w.edPicInfo->text(), QString(66, QLatin1Char('d')));
    QTest::keyClicks(w.edPicInfo, "x");
    QCOMPARE(w.edPicInfo->text(), QString(66, QLatin1Char('d')));
    w.edPicInfo->selectAll();
    QTest::keyClicks(w.edPicInfo, QString(61, QLatin1Char('x')));
    QCOMPARE(w.edPicInfo->text(), QString(60, QLatin1Char('x')));
    QCOMPARE(Geometry(w), QRect(0, 0, 64, 48));
    QCOMPARE(w.lbSize->text(), QString::number(ApicPayload(2, desc66, small).size()));
    QVERIFY(f.Messages.isEmpty());
    // A typed description is held to 60 characters again.
    f.SelectRow(2);
    w.edPicInfo->clear();
    QTest::keyClicks(w.edPicInfo, QString(61, QLatin1Char('x')));
    QCOMPARE(w.edPicInfo->text().size(), 60);

    // A custom picture of two 0x00 bytes is empty: nothing shown, lbSize kept.
    const std::string empty = f.Write(
        "empty.MP3",
        Id3TagOurs(Id3Frame("TPIC", Bytes(2, '\0')) + Id3Frame("TIT2", Bytes("\0T", 2))) + kAudio);
    w.lbSize->setText(Q("000000"));
    f.Open(empty);
    QVERIFY(w.Image->Picture().isNull());
    QCOMPARE(w.lbSize->text(), Q("000000"));
    QVERIFY(f.Messages.isEmpty());
}

void PictureFlowTest::DamagedEmbeddedPictures() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const Bytes good = EncodeJpeg(Quadrants(32, 32), 90);
    const Bytes huge = WithDeclaredSize(good, 65000, 65000);
    const std::string path =
        f.Write("bad.MP3", Id3TagOurs(Tpic("GIF89a not a JPEG at all") +
                                      Apic(3, Bytes(67, 'x'), good) + Apic(4, "ok", good) +
                                      Apic(6, "big", huge) + Id3Frame("TIT2", Bytes("\0T", 2))) +
                               kAudio);
    // The custom picture is shown by the rebuild and again by the selection of row 1: one
    // message, and the open goes on to its end, so the file can be edited.
    f.Open(path);
    QCOMPARE(f.Messages.size(), 1);
    QVERIFY2(f.Messages[0].startsWith(Q("！嵌入的图片已损坏，不能显示（JPEG error #")),
             qPrintable(f.Messages[0]));
    QVERIFY(f.Messages[0].endsWith(Q("：TPIC")));
    QCOMPARE(w.sg->RowCount(), 6);
    QVERIFY(w.sg->isEnabled() && w.btnID3Kill->isEnabled() && w.btnSelPic->isEnabled());
    QVERIFY(w.Image->Picture().isNull());
    // lbSize was set before the decoding.
    QCOMPARE(w.lbSize->text(), QString::number(24));

    // 67 bytes of description hide the picture's start: its type, description and size are set,
    // the preview stays empty and the prepared picture keeps the picture shown before.
    f.SelectRow(3);
    QCOMPARE(w.imgInvisible->Picture().size(), QSize(32, 32));
    f.Messages.clear();
    f.SelectRow(2);
    QCOMPARE(f.Messages.size(), 1);
    QVERIFY(f.Messages[0].endsWith(Q("：APIC")));
    QCOMPARE(w.cbPicType->currentIndex(), 3);
    QCOMPARE(w.edPicInfo->text(), QString(67, QLatin1Char('x')));
    QCOMPARE(w.lbSize->text(), QString::number(ApicPayload(3, Bytes(67, 'x'), good).size()));
    QVERIFY(w.Image->Picture().isNull());
    QCOMPARE(w.imgInvisible->Picture().size(), QSize(32, 32));
    QVERIFY(w.edPicInfo->isEnabled());

    // A header that declares 4 gigapixels is refused before anything that size is allocated.
    f.Messages.clear();
    f.SelectRow(4);
    w.sgClick(); // showing it again tells nothing new
    QCOMPARE(f.Messages.size(), 1);
    QVERIFY2(f.Messages[0].contains(QString::fromStdString(PictureTooLargeText(65000, 65000))),
             qPrintable(f.Messages[0]));
    QVERIFY(w.Image->Picture().isNull());
    // After a good picture in between, the damaged one is reported again.
    f.SelectRow(3);
    f.SelectRow(2);
    QCOMPARE(f.Messages.size(), 2);
}

void PictureFlowTest::ChoosingAPicture() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    f.Open(f.Write(
        "song.MP3",
        Id3TagOurs(Id3Frame("TIT2", Bytes("\0T", 2)) + Id3Frame("TPIC", Bytes(2, '\0'))) + kAudio));
    QVERIFY(!w.btnSelPic->isEnabled());
    f.SelectRow(2);
    QVERIFY(w.btnSelPic->isEnabled());
    QVERIFY(ModeButtons(w, false, false));

    // Cancelling the dialog changes nothing.
    const QRect before = Geometry(w);
    f.Click(w.btnSelPic);
    QCOMPARE(Geometry(w), before);
    QVERIFY(ModeButtons(w, false, false));

    // Stretched mode at start: the whole picture, aspect not kept, fills the panel.
    const std::string wide = f.Write("wide.Jpg", EncodeJpeg(Quadrants(200, 100), 95));
    ChoosePicture(f, wide);
    QVERIFY(f.Messages.isEmpty());
    QCOMPARE(w.Preview.PictureWidth, 200);
    QCOMPARE(w.Preview.PictureHeight, 100);
    QCOMPARE(w.imgInvisible->Picture().size(), QSize(200, 100));
    QCOMPARE(Geometry(w), QRect(0, 0, 240, 320));
    QCOMPARE(w.lbSize->text(), QString());
    QVERIFY(ModeButtons(w, true, false));
    QImage shown = Shown(w);
    VERIFY_PIXEL(shown, 60, 80, kRed);
    VERIFY_PIXEL(shown, 180, 80, kGreen);
    VERIFY_PIXEL(shown, 60, 240, kBlue);
    VERIFY_PIXEL(shown, 180, 240, kYellow);

    // The same picture as .jpeg goes through the generic loader and prepares the same picture.
    const QImage fromJpg = w.imgInvisible->Picture();
    ChoosePicture(f, f.Write("wide.jpeg", EncodeJpeg(Quadrants(200, 100), 95)));
    QCOMPARE(w.imgInvisible->Picture(), fromJpg);
    // A bitmap of another size prepares exactly its own size.
    ChoosePicture(f, f.Write("tall.bmp", Bmp24(Quadrants(30, 90))));
    QCOMPARE(w.imgInvisible->Picture().size(), QSize(30, 90));
    QCOMPARE(w.Preview.PictureWidth, 30);
    shown = Shown(w);
    VERIFY_PIXEL(shown, 60, 80, kRed);
    VERIFY_PIXEL(shown, 180, 240, kYellow);

    // Selecting another row disables modes and zoom again until the next choice.
    f.SelectRow(1);
    QVERIFY(!w.btnSelPic->isEnabled());
    QVERIFY(ModeButtons(w, false, false));
    f.SelectRow(2);
    QVERIFY(ModeButtons(w, false, false));
    // The empty custom picture emptied the preview; the chosen size stays.
    QVERIFY(w.Image->Picture().isNull());
    QCOMPARE(w.Preview.PictureWidth, 30);
}

void PictureFlowTest::ChoosingFailures() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    f.Open(f.Write("song.MP3", Id3TagOurs(Id3Frame("TPIC", Bytes(2, '\0'))) + kAudio));
    const Bytes jpeg = EncodeJpeg(Quadrants(200, 100), 90);
    ChoosePicture(f, f.Write("ok.jpg", jpeg));
    f.Click(w.rbScale);
    QVERIFY(ModeButtons(w, true, true));
    f.Click(w.btnZoomBig);
    w.lbSize->setText(Q("123"));
    const QRect zoomed = Geometry(w);
    const QImage shownBefore = Shown(w);

    // Damaged data: the codec's message; the chosen size and the prepared picture are emptied,
    // the preview, the view box, lbSize and the buttons stay.
    ChoosePicture(f, f.Write("cut.jpg", jpeg.substr(0, jpeg.size() / 2)));
    QCOMPARE(f.Messages.size(), 1);
    QVERIFY2(f.Messages[0].startsWith(Q("JPEG error #")), qPrintable(f.Messages[0]));
    QCOMPARE(w.Preview.PictureWidth, 0);
    QCOMPARE(w.Preview.PictureHeight, 0);
    QVERIFY(w.imgInvisible->Picture().isNull());
    QCOMPARE(Geometry(w), zoomed);
    QCOMPARE(w.Preview.ViewWidth, 264);
    QCOMPARE(Shown(w), shownBefore);
    QCOMPARE(w.lbSize->text(), Q("123"));
    QVERIFY(ModeButtons(w, true, true));
    // Zooming without a chosen picture does nothing.
    f.Click(w.btnZoomBig);
    QCOMPARE(Geometry(w), zoomed);

    // An extension no loader knows.
    ChoosePicture(f, f.Write("p.gif", "GIF89a"));
    QCOMPARE(f.Messages.size(), 2);
    QCOMPARE(f.Messages[1], Q("Unknown picture file extension (.gif)"));
    // A bitmap whose header promises more than the limit is refused before its pixels exist.
    ChoosePicture(f, f.Write("huge.bmp", BmpHeaderOnly(9000, 9000)));
    QCOMPARE(f.Messages.size(), 3);
    QVERIFY2(f.Messages[2].contains(QString::fromStdString(PictureTooLargeText(9000, 9000))),
             qPrintable(f.Messages[2]));

    // A file that is gone: no message; the view is reset and shows the background only.
    ChoosePicture(f, f.File("gone.jpg"));
    QCOMPARE(f.Messages.size(), 3);
    QCOMPARE(w.Preview.PictureWidth, 0);
    QCOMPARE(w.Preview.ViewWidth, 240);
    QCOMPARE(w.Preview.ViewHeight, 320);
    QCOMPARE(Geometry(w), QRect(0, 0, 240, 320));
    QCOMPARE(w.lbSize->text(), QString());
    const QImage blue = Shown(w);
    for (QPoint p : {QPoint(0, 0), QPoint(120, 160), QPoint(239, 319)})
        QCOMPARE(PixelAt(blue, p.x(), p.y()), kBlue);
    // Proportional mode without a picture draws the background and nothing else.
    f.Click(w.rbStretch);
    f.Click(w.rbScale);
    QCOMPARE(PixelAt(Shown(w), 120, 160), kBlue);
}

void PictureFlowTest::ProportionalZoomPanAndCentre() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    f.Open(f.Write("song.MP3", Id3TagOurs(Id3Frame("TPIC", Bytes(2, '\0'))) + kAudio));
    ChoosePicture(f, f.Write("wide.bmp", Bmp24(Quadrants(200, 100))));

    // A new background is used from the next redraw on, not at once.
    DialogHooks().ChooseColor = [](TColorDialog& dialog) {
        dialog.Color = QColor(255, 0, 255);
        return true;
    };
    QTest::mouseDClick(w.plColor, Qt::LeftButton);
    QCOMPARE(w.plColor->Color(), QColor(255, 0, 255));
    // A cancelled colour dialog keeps the colour.
    DialogHooks().ChooseColor = [](TColorDialog&) { return false; };
    QTest::mouseDClick(w.plColor, Qt::LeftButton);
    QCOMPARE(w.plColor->Color(), QColor(255, 0, 255));

    // Fitted: 200 x 100 in 240 x 320 takes the full width, 120 high, from 100 to 220.
    f.Click(w.rbScale);
    QVERIFY(ModeButtons(w, true, true));
    QCOMPARE(Geometry(w), QRect(0, 0, 240, 320));
    QImage shown = Shown(w);
    QCOMPARE(PixelAt(shown, 120, 99), 0xFF00FFu);
    QCOMPARE(PixelAt(shown, 120, 220), 0xFF00FFu);
    VERIFY_PIXEL(shown, 60, 130, kRed);
    VERIFY_PIXEL(shown, 180, 130, kGreen);
    VERIFY_PIXEL(shown, 60, 190, kBlue);
    VERIFY_PIXEL(shown, 180, 190, kYellow);

    // Zoom in: view box and preview 264 x 352, centred at -12, -16.
    f.Click(w.btnZoomBig);
    QCOMPARE(Geometry(w), QRect(-12, -16, 264, 352));
    QCOMPARE(w.Preview.ViewWidth, 264);
    QCOMPARE(w.Preview.ViewHeight, 352);
    // Zoom out twice: 240 is not wider than the panel, so the second step grows by 5 %.
    f.Click(w.btnZoomSmall);
    QCOMPARE(Geometry(w).size(), QSize(237, 316));
    f.Click(w.btnZoomSmall);
    QCOMPARE(Geometry(w).size(), QSize(248, 331));
    QCOMPARE(Geometry(w).topLeft(), QPoint(-4, -5));

    // Dragging moves the preview with the pointer, without bounds; moves after the release do
    // nothing.
    Drag(w.Image, QPoint(100, 100), QPoint(130, 90));
    QCOMPARE(Geometry(w).topLeft(), QPoint(26, -15));
    w.ImageMouseMove({}, 150, 150);
    QCOMPARE(Geometry(w).topLeft(), QPoint(26, -15));
    Drag(w.Image, QPoint(10, 10), QPoint(210, 10));
    QCOMPARE(Geometry(w).topLeft(), QPoint(226, -15));
    // Double-clicking the free part of the panel centres the preview.
    QTest::mouseDClick(w.plPic, Qt::LeftButton, {}, QPoint(100, 100));
    QCOMPARE(Geometry(w).topLeft(), QPoint(-4, -5));
    Drag(w.Image, QPoint(50, 50), QPoint(40, 30));
    QCOMPARE(Geometry(w).topLeft(), QPoint(-14, -25));
    QTest::mouseDClick(w.Image, Qt::LeftButton, {}, QPoint(100, 100));
    QCOMPARE(Geometry(w).topLeft(), QPoint(-4, -5));

    // Without centring, a zoom step keeps the place; ticking the box alone moves nothing.
    Drag(w.Image, QPoint(50, 50), QPoint(60, 70));
    w.chkCenter->setChecked(false);
    f.Click(w.btnZoomBig);
    QCOMPARE(Geometry(w), QRect(6, 15, 272, 364));
    w.chkCenter->setChecked(true);
    QCOMPARE(Geometry(w).topLeft(), QPoint(6, 15));
    f.Click(w.btnZoomBig);
    QCOMPARE(Geometry(w), QRect(-29, -40, 299, 400));

    // Back to stretched mode: zoom disabled, the panel filled.
    f.Click(w.rbStretch);
    QVERIFY(ModeButtons(w, true, false));
    QCOMPARE(Geometry(w), QRect(0, 0, 240, 320));
    shown = Shown(w);
    VERIFY_PIXEL(shown, 60, 80, kRed);
    VERIFY_PIXEL(shown, 180, 240, kYellow);
    // The proportional mode starts again from the 240 x 320 view box.
    f.Click(w.rbScale);
    QCOMPARE(w.Preview.ViewWidth, 240);
    QCOMPARE(Geometry(w), QRect(0, 0, 240, 320));
}

void PictureFlowTest::CaptureIsWhatThePanelShows() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    f.Open(f.Write("song.MP3", Id3TagOurs(Id3Frame("TPIC", Bytes(2, '\0')) +
                                          Apic(3, "", EncodeJpeg(Quadrants(300, 400), 90))) +
                                   kAudio));
    auto same = [&](const char* state) {
        const QImage captured = CaptureNow(w);
        QCOMPARE(captured.size(), QSize(240, 320));
        QVERIFY2(captured == Shown(w), state);
    };
    // The empty preview of the custom picture row: white where the preview's new surface lies,
    // the panel's face elsewhere.
    {
        const QImage captured = CaptureNow(w);
        QCOMPARE(Geometry(w).topLeft(), QPoint(24, 40));
        QCOMPARE(PixelAt(captured, 120, 160), kWhite);
        QCOMPARE(PixelAt(captured, 10, 10), Rgb(w.plPic->Color()));
        QCOMPARE(PixelAt(captured, 30, 30), Rgb(w.plPic->Color()));
    }
    ChoosePicture(f, f.Write("wide.bmp", Bmp24(Quadrants(200, 100))));
    same("stretched");
    f.Click(w.rbScale);
    same("fitted");
    f.Click(w.btnZoomBig);
    f.Click(w.btnZoomBig);
    Drag(w.Image, QPoint(20, 20), QPoint(90, 5));
    same("zoomed and dragged partly out");
    Drag(w.Image, QPoint(20, 20), QPoint(-300, 20));
    same("dragged far to the left");
    f.Click(w.btnZoomSmall);
    f.Click(w.btnZoomSmall);
    QCOMPARE(Geometry(w), QRect(3, 3, 234, 313));
    same("zoomed out, smaller than the panel");
    // An embedded picture larger than the panel.
    f.SelectRow(2);
    same("embedded picture");
}

void PictureFlowTest::EmbedsTheCustomPicture() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const std::string song = f.Write("song.MP3", Id3TagOurs(Id3Frame("TIT2", Bytes("\0Title", 6)) +
                                                            Id3Frame("TPIC", Bytes(2, '\0'))) +
                                                     kAudio);
    f.Open(song);
    // Select the row, choose, fit, zoom, pan.
    f.SelectRow(2);
    ChoosePicture(f, f.Write("photo.JPG", EncodeJpeg(Quadrants(480, 640), 95)));
    f.Click(w.rbScale);
    f.Click(w.btnZoomBig);
    QCOMPARE(Geometry(w), QRect(-12, -16, 264, 352));
    Drag(w.Image, QPoint(100, 100), QPoint(130, 120));
    QCOMPARE(Geometry(w).topLeft(), QPoint(18, 4));
    const QImage shown = Shown(w);
    const QImage surface = w.Image->Picture();
    const std::string expected = EncodeJpeg(RgbOfImage(CaptureNow(w)), 90);

    f.Click(w.btnInputPic);
    QVERIFY(f.Messages.isEmpty());
    // The frame holds the writer's encoding byte and the JPEG of the capture, nothing else.
    const std::string stored = Payload(song, 1);
    QCOMPARE(Payload(song, 0), std::string("Title"));
    QCOMPARE(stored, Bytes(1, '\0') + expected);
    const std::string jpeg = stored.substr(1);
    QCOMPARE(jpeg.substr(0, 2), std::string("\xFF\xD8"));
    QCOMPARE(w.lbSize->text(), QString::number(jpeg.size()));
    QCOMPARE(FirstQuantValue(jpeg), 3); // quality 90
    // The embedded picture is what the panel showed: the panel's face left of and above the
    // dragged preview, the quadrants meeting at 18 + 132, 4 + 176.
    const QImage embedded = DecodeJpegImage(jpeg);
    QCOMPARE(embedded.size(), QSize(240, 320));
    const uint32_t face = Rgb(w.plPic->Color());
    for (QPoint p : {QPoint(5, 100), QPoint(100, 1), QPoint(80, 100), QPoint(220, 100),
                     QPoint(80, 250), QPoint(220, 250), QPoint(120, 160), QPoint(180, 200)})
        VERIFY_PIXEL(embedded, p.x(), p.y(), PixelAt(shown, p.x(), p.y()));
    VERIFY_PIXEL(embedded, 5, 100, face);
    VERIFY_PIXEL(embedded, 80, 100, kRed);
    VERIFY_PIXEL(embedded, 220, 250, kYellow);
    // The rest of the file is untouched.
    const std::string after = ReadFile(song);
    QCOMPARE(after.substr(after.size() - kAudio.size()), kAudio);

    // The panel looks as before; the prepared picture is now what it showed, and a zoom step
    // works from that.
    QCOMPARE(Shown(w), shown);
    QCOMPARE(w.imgInvisible->Picture(), surface);
    QCOMPARE(w.Preview.PictureWidth, 480);
    f.Click(w.btnZoomBig);
    QCOMPARE(Geometry(w).size(), QSize(290, 387));
    QCOMPARE(w.imgInvisible->Picture(), surface);

    // Selecting the row again shows the embedded picture and its size.
    f.SelectRow(1);
    f.SelectRow(2);
    QCOMPARE(w.lbSize->text(), QString::number(jpeg.size()));
    QCOMPARE(Geometry(w), QRect(0, 0, 240, 320));
    QCOMPARE(w.Image->Picture(), embedded);

    // Embedding again at once writes what is shown now: the embedded picture, re-encoded.
    f.Click(w.btnInputPic);
    const std::string again = Payload(song, 1).substr(1);
    VERIFY_PIXEL(DecodeJpegImage(again), 80, 100, kRed);
    QCOMPARE(w.lbSize->text(), QString::number(again.size()));

    // An empty preview embeds a blank picture: white where the preview's surface covers the
    // panel.
    const std::string blank =
        f.Write("blank.MP3", Id3TagOurs(Id3Frame("TPIC", Bytes(2, '\0'))) + kAudio);
    f.Open(blank);
    QVERIFY(w.Image->Picture().isNull());
    QCOMPARE(Geometry(w), QRect(0, 0, 240, 320));
    // The empty preview can be dragged too.
    Drag(w.Image, QPoint(10, 10), QPoint(34, 50));
    QCOMPARE(Geometry(w).topLeft(), QPoint(24, 40));
    f.Click(w.btnInputPic);
    const QImage white = DecodeJpegImage(Payload(blank, 0).substr(1));
    QCOMPARE(white.size(), QSize(240, 320));
    VERIFY_PIXEL(white, 120, 160, kWhite);
    VERIFY_PIXEL(white, 5, 5, face);
    QCOMPARE(Shown(w), CaptureNow(w));
}

void PictureFlowTest::EmbedsAnAttachedPicture() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const std::string song =
        f.Write("song.MP3", Id3TagOurs(Id3Frame("TIT2", Bytes("\0Title", 6)) +
                                       Id3Frame("APIC", Bytes("\0image/jpeg\0\x03\0", 14)) +
                                       Id3Frame("TPIC", Bytes(2, '\0'))) +
                                kAudio);
    f.Open(song);
    const std::string original = ReadFile(song);
    f.SelectRow(2);
    QVERIFY(w.cbPicType->isEnabled() && w.edPicInfo->isEnabled());
    QCOMPARE(w.cbPicType->currentIndex(), 3);
    // The row holds no picture: embedding does nothing at all.
    f.Click(w.btnInputPic);
    QCOMPARE(ReadFile(song), original);
    QCOMPARE(w.lbSize->text(), Q("14"));

    // Choose a bitmap, stretched; type 4 and a description of 33 Chinese characters, 66 bytes.
    ChoosePicture(f, f.Write("p.bmp", Bmp24(Quadrants(200, 100))));
    w.cbPicType->setCurrentIndex(4);
    const QString desc66 = QString(33, QChar(0x4E50));
    const std::string gbk66 = Gbk(desc66.toUtf8().constData());
    QCOMPARE(gbk66.size(), size_t(66));
    w.edPicInfo->setText(desc66);
    const std::string expected = EncodeJpeg(RgbOfImage(CaptureNow(w)), 75);
    f.Click(w.btnInputPic);
    QVERIFY(f.Messages.isEmpty());
    const std::string stored = Payload(song, 1);
    const std::string head = Bytes("\0image/jpeg\0\x04", 13) + gbk66 + Bytes(1, '\0');
    QCOMPARE(stored, head + expected);
    const std::string jpeg = stored.substr(head.size());
    QCOMPARE(w.lbSize->text(), QString::number(13 + 66 + jpeg.size()));
    QCOMPARE(FirstQuantValue(jpeg), 8); // quality 75
    const QImage embedded = DecodeJpegImage(jpeg);
    QCOMPARE(embedded.size(), QSize(240, 320));
    VERIFY_PIXEL(embedded, 60, 80, kRed);
    VERIFY_PIXEL(embedded, 180, 80, kGreen);
    VERIFY_PIXEL(embedded, 60, 240, kBlue);
    VERIFY_PIXEL(embedded, 180, 240, kYellow);
    // The other frames are as they were.
    QCOMPARE(Payload(song, 0), std::string("Title"));
    QCOMPARE(Payload(song, 2), std::string(2, '\0'));

    // Selecting it again: type, description, whole payload length, picture.
    f.SelectRow(1);
    w.cbPicType->setCurrentIndex(0);
    f.SelectRow(2);
    QCOMPARE(w.cbPicType->currentIndex(), 4);
    QCOMPARE(w.edPicInfo->text(), desc66);
    QCOMPARE(w.lbSize->text(), QString::number(stored.size()));
    QCOMPARE(Geometry(w), QRect(0, 0, 240, 320));
    QVERIFY(f.Messages.isEmpty());

    // A description the readers could not get past is refused and nothing changes.
    const std::string written = ReadFile(song);
    const QString sizeBefore = w.lbSize->text();
    w.edPicInfo->setText(desc66 + Q("x"));
    f.Click(w.btnInputPic);
    QCOMPARE(f.Messages.size(), 1);
    QVERIFY2(f.Messages[0].contains(Q("图片说明太长")), qPrintable(f.Messages[0]));
    QVERIFY(f.Messages[0].endsWith(Q("：APIC")));
    QCOMPARE(ReadFile(song), written);
    QCOMPARE(w.lbSize->text(), sizeBefore);

    // One code page 936 cannot hold goes in UTF-16, is not refused, and is shown again.
    w.edPicInfo->setText(Q("a😀"));
    f.Click(w.btnInputPic);
    QCOMPARE(f.Messages.size(), 1);
    QCOMPARE(Payload(song, 1).substr(0, 13), Bytes("\1image/jpeg\0\4", 13));
    f.SelectRow(2);
    QCOMPARE(w.edPicInfo->text(), Q("a😀"));

    // An empty description: "image/jpeg", 0x00, the type, 0x00, the JPEG.
    w.edPicInfo->clear();
    w.cbPicType->setCurrentIndex(0);
    f.Click(w.btnInputPic);
    const std::string bare = Payload(song, 1);
    QCOMPARE(bare.substr(0, 14), Bytes("\0image/jpeg\0\0\0", 14));
    QCOMPARE(w.lbSize->text(), QString::number(bare.size() - 1));
}

void PictureFlowTest::EmbedsWhatIsShownWithoutChoosing() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const std::string song = f.Write(
        "song.MP3", Id3TagOurs(Apic(3, "old", EncodeJpeg(Quadrants(300, 400), 90))) + kAudio);
    f.Open(song);
    QCOMPARE(w.sg->Row(), 1);
    // The row's picture is shown; embedding now re-encodes its top-left 240 x 320 with the type
    // and description in the panel.
    w.edPicInfo->setText(Q("封面"));
    f.Click(w.btnInputPic);
    const std::string stored = Payload(song, 0);
    const std::string head = Bytes("\0image/jpeg\0\x03", 13) + Gbk("封面") + Bytes(1, '\0');
    QCOMPARE(stored.substr(0, head.size()), head);
    const QImage embedded = DecodeJpegImage(stored.substr(head.size()));
    QCOMPARE(embedded.size(), QSize(240, 320));
    VERIFY_PIXEL(embedded, 100, 100, kRed);
    VERIFY_PIXEL(embedded, 200, 100, kGreen);
    VERIFY_PIXEL(embedded, 100, 250, kBlue);
    VERIFY_PIXEL(embedded, 200, 250, kYellow);
    // The grid is not refilled and the preview keeps what it shows.
    QCOMPARE(w.Image->Picture().size(), QSize(300, 400));
}

static TRegisterTest<PictureFlowTest> registerPictureFlowTest("PictureFlowTest");
#include "PictureFlowTest.moc"
