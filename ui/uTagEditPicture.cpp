// The picture panel of TFrmEditText: showing embedded pictures, the preview (choose, redraw,
// zoom, pan, centre, background) and embedding. Until the panel is built these show no picture.
#include "ID3v2Tags.h"
#include "uControls.h"
#include "uTagEdit.h"

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
    if (ID3v2Tag->IndexOfId("TPIC") < 0) return;
}

void TFrmEditText::ShowAttachedPicture(int row) {
    Preview.Clear();
    ShowPreview();
    if (row == 0) return;
    const int index = row - 1;
    if (index >= static_cast<int>(ID3v2Tag->FramePayloads.size())) return;
    if (ID3v2Tag->FramePayloads[index] == std::string(1, '\0')) return;
}

// ---- picture preview

void TFrmEditText::DrawPicture() {}
void TFrmEditText::btnSelPicClick() {}
void TFrmEditText::rbStretchClick() {}
void TFrmEditText::rbScaleClick() {}
void TFrmEditText::btnZoomBigClick() {}
void TFrmEditText::btnZoomSmallClick() {}
void TFrmEditText::ImageMouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {}
void TFrmEditText::ImageMouseMove(Qt::KeyboardModifiers, int, int) {}
void TFrmEditText::ImageMouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {}
void TFrmEditText::ImageDblClick() {}
void TFrmEditText::plPicDblClick() {}
void TFrmEditText::plColorDblClick() {}

// ---- picture embedding

void TFrmEditText::btnInputPicClick() {}
void TFrmEditText::SaveCustomPicture() {}
void TFrmEditText::SaveAttachedPicture(int, int) {}
