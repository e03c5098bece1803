// The picture panel of TFrmEditText: showing embedded pictures, the preview (choose, redraw,
// zoom, pan, centre, background) and embedding. The arithmetic and the capture live in TPreview,
// which quillon-tags embed drives the same way; the handlers here read the panel's controls into
// it, run it and show the result.
#include "CodePage.h"
#include "ID3v2Tags.h"
#include "uControls.h"
#include "uPictureEmbed.h"
#include "uPictureFile.h"
#include "uPicturePayload.h"
#include "uStringGrid.h"
#include "uTagEdit.h"
#include "utPublic.h"

#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QVariant>
#include <algorithm>

namespace {

void SetSizeLabel(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize();
}

void SetSizeLabel(QLabel* label, size_t bytes) {
    SetSizeLabel(label, QString::number(bytes));
}

// A description read from a file is shown whole, however long: the box's limit holds for
// typed characters only.
void ShowDescription(QLineEdit* edit, const QString& text) {
    edit->setText(text);
}

QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

// The preview works from the panel's controls as they stand: the mode, the centring box, the
// background colour, and the face of plPic where the preview does not cover the panel.
void ReadPanelControls(TFrmEditText& w) {
    w.Preview.Stretched = w.rbStretch->isChecked();
    w.Preview.Centred = w.chkCenter->isChecked();
    w.Preview.Background = w.plColor->Color();
    w.Preview.PanelColor = w.plPic->Color();
}

// Embedded JPEG data as a picture. Data that cannot be decoded is reported and gives false, and
// the command showing it goes on: the rebuild and the row selection must still finish, or a file
// holding a damaged picture could not be edited in the window, nor the picture deleted. Every
// rebuild shows the custom picture again, so each damaged picture of a file is reported once,
// not at every command.
bool DecodeEmbedded(TFrmEditText& w, const std::string& id, const std::string& payload,
                    const std::string& jpeg, QImage& picture) {
    static const char* const kReported = "damagedPictureReported";
    try {
        picture = DecodeJpegImage(jpeg);
        w.setProperty(kReported, QVariant());
        return true;
    } catch (const EPictureError& failure) {
        const QByteArray damaged = QByteArray::fromStdString(w.FilePath() + '\0' + payload);
        if (w.property(kReported).toByteArray() == damaged) return false;
        w.setProperty(kReported, damaged);
        MessageBoxOk(QString::fromUtf8("！嵌入的图片已损坏，不能显示（") +
                     QString::fromStdString(failure.what()) + QString::fromUtf8("）：") +
                     QString::fromStdString(platform::Cp936ToUtf8(id)));
        return false;
    }
}

} // namespace

void TFrmEditText::ShowPreview() {
    Image->setGeometry(Preview.Left, Preview.Top, Preview.Width, Preview.Height);
    Image->SetPicture(Preview.Picture);
}

void TFrmEditText::ShowPrepared() {
    imgInvisible->SetPicture(Preview.Prepared);
}

// ---- embedded picture display

void TFrmEditText::ShowCustomPicture() {
    Preview.Clear();
    ShowPreview();
    const int index = ID3v2Tag->IndexOfId("TPIC");
    if (index < 0) return;
    const std::string& payload = ID3v2Tag->FramePayloads[index];
    if (payload == std::string(2, '\0')) return;
    // The writer's encoding byte comes first.
    const std::string jpeg = payload.empty() ? std::string() : payload.substr(1);
    SetSizeLabel(lbSize, jpeg.size());
    QImage picture;
    if (!DecodeEmbedded(*this, "TPIC", payload, jpeg, picture)) return;
    Preview.ShowEmbedded(picture);
    ShowPreview();
    ShowPrepared();
}

void TFrmEditText::ShowAttachedPicture(int row) {
    Preview.Clear();
    ShowPreview();
    if (row == 0) return;
    const int index = row - 1;
    if (index < 0 || index >= static_cast<int>(ID3v2Tag->FramePayloads.size())) return;
    const std::string& payload = ID3v2Tag->FramePayloads[index];
    if (payload == std::string(1, '\0')) return;
    cbPicType->setCurrentIndex(PictureTypeOf(payload));
    // A description in UTF-16 or UTF-8 is shown decoded.
    const TFrameOrigin* origin = ID3v2Tag->OriginOf(index);
    ShowDescription(edPicInfo, origin && origin->HasText
                                   ? QString::fromStdString(origin->Text)
                                   : QString::fromStdString(platform::LegacyToUtf8(
                                         ID3v2Tag->CodePage, PictureDescriptionOf(payload))));
    const size_t start = static_cast<size_t>(PictureDataStart(payload)) - 1;
    const std::string jpeg = start < payload.size() ? payload.substr(start) : std::string();
    SetSizeLabel(lbSize, payload.size());
    QImage picture;
    if (!DecodeEmbedded(*this, "APIC", payload, jpeg, picture)) return;
    Preview.ShowEmbedded(picture);
    ShowPreview();
    ShowPrepared();
}

// ---- picture preview

void TFrmEditText::DrawPicture() {
    ReadPanelControls(*this);
    Preview.DrawPicture();
    ShowPreview();
}

void TFrmEditText::btnSelPicClick() {
    if (!OpenPictureDialog1.Execute(this)) return;
    SelectPictureFile(OpenPictureDialog1.FileName);
}

void TFrmEditText::SelectPictureFile(const QString& fileName) {
    ReadPanelControls(*this);
    try {
        Preview.SelectPicture(FileNameBytes(fileName));
    } catch (...) {
        // A picture that cannot be decoded leaves the prepared picture empty and the rest as it
        // was; the failure is reported by the handler's guard.
        ShowPrepared();
        throw;
    }
    ShowPreview();
    ShowPrepared();
    SetSizeLabel(lbSize, QString());
    rbScale->setEnabled(true);
    rbStretch->setEnabled(true);
    btnZoomBig->setEnabled(rbScale->isChecked());
    btnZoomSmall->setEnabled(rbScale->isChecked());
}

void TFrmEditText::rbStretchClick() {
    rbStretch->setChecked(true);
    btnZoomBig->setEnabled(rbScale->isChecked());
    btnZoomSmall->setEnabled(rbScale->isChecked());
    DrawPicture();
}

void TFrmEditText::rbScaleClick() {
    rbScale->setChecked(true);
    btnZoomBig->setEnabled(true);
    btnZoomSmall->setEnabled(true);
    ReadPanelControls(*this);
    Preview.SelectProportional();
    ShowPreview();
}

void TFrmEditText::btnZoomBigClick() {
    ReadPanelControls(*this);
    Preview.ZoomIn();
    ShowPreview();
}

void TFrmEditText::btnZoomSmallClick() {
    ReadPanelControls(*this);
    Preview.ZoomOut();
    ShowPreview();
}

void TFrmEditText::ImageMouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
    Preview.MouseDown(x, y);
}

void TFrmEditText::ImageMouseMove(Qt::KeyboardModifiers, int x, int y) {
    if (!Preview.Dragging) return;
    Preview.MouseMove(x, y);
    Image->move(Preview.Left, Preview.Top);
}

void TFrmEditText::ImageMouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    Preview.MouseUp();
}

void TFrmEditText::ImageDblClick() {
    Preview.Centre();
    Image->move(Preview.Left, Preview.Top);
}

void TFrmEditText::plPicDblClick() {
    ImageDblClick();
}

// The preview keeps its background until the next redraw or zoom step.
void TFrmEditText::plColorDblClick() {
    if (!ColorDialog1.Execute(this)) return;
    plColor->SetColor(ColorDialog1.Color);
}

// ---- picture embedding

void TFrmEditText::btnInputPicClick() {
    // Only into the picture frame of the row the user sees selected.
    const std::string id = sg->SelectedCells(0);
    if (id == "TPIC")
        SaveCustomPicture();
    else if (id == "APIC")
        SaveAttachedPicture(sg->Row() - 1, cbPicType->currentIndex());
}

// The capture is exactly what the panel shows. The preview keeps its look, but the prepared
// picture becomes what it showed, so a later redraw or zoom step works from the capture.
void TFrmEditText::SaveCustomPicture() {
    ReadPanelControls(*this);
    const QImage captured = Preview.Capture();
    ShowPreview();
    ShowPrepared();
    const std::string jpeg = EncodeJpeg(RgbOfImage(captured), kCustomPictureQuality);
    SetSizeLabel(lbSize, jpeg.size());
    const std::string payload = BuildCustomPicturePayload(jpeg);
    std::optional<TWriterLock> lock;
    if (!LockForCommand(lock)) return;
    ID3v2Tag->SetFrame("TPIC", payload.data(), static_cast<int>(payload.size()));
}

void TFrmEditText::SaveAttachedPicture(int index, int pictureType) {
    if (!Preview.HasPicture() || Preview.Picture.width() == 0 || Preview.Picture.height() == 0)
        return;
    // The description is written like every text: in the tag's code page when it fits, else in
    // UTF-16. One the readers could not get past is refused before anything changes.
    const TPictureDescription description =
        PictureDescriptionFor(*ID3v2Tag, edPicInfo->text().toStdString());
    const std::string refusal = CheckPictureDescription(description);
    if (!refusal.empty()) {
        MessageBoxOk(FromUtf8(refusal));
        return;
    }
    ReadPanelControls(*this);
    const QImage captured = Preview.Capture();
    ShowPreview();
    ShowPrepared();
    const std::string jpeg = EncodeJpeg(RgbOfImage(captured), kAttachedPictureQuality);
    const std::string payload = BuildAttachedPicturePayload(pictureType, description, jpeg);
    SetSizeLabel(lbSize, payload.size());
    std::optional<TWriterLock> lock;
    if (!LockForCommand(lock)) return;
    ID3v2Tag->ReplaceFrame("APIC", payload.data(), index, static_cast<int>(payload.size()));
}
