#include "TPreview.h"

#include "uPictureFile.h"

#include <QPainter>
#include <cmath>

namespace {

// The zoom limits: past this height zooming in shrinks instead, and a box no wider than the
// panel grows when zoomed out, so the size hovers round each limit.
constexpr int kMaxZoomInHeight = 2400;
constexpr double kZoomInAtLimit = 0.95;
constexpr double kZoomOutAtLimit = 1.05;

void DrawStretched(QImage& surface, const QImage& picture, const TPictureRect& r) {
    if (picture.isNull() || r.Width() <= 0 || r.Height() <= 0) return;
    const QImage scaled = picture.size() == QSize(r.Width(), r.Height())
                              ? picture
                              : picture.scaled(r.Width(), r.Height(), Qt::IgnoreAspectRatio,
                                               Qt::SmoothTransformation);
    QPainter painter(&surface);
    painter.drawImage(r.Left, r.Top, scaled);
}

} // namespace

TPictureRect TPreview::FitRectangle(int viewWidth, int viewHeight, int pictureWidth,
                                    int pictureHeight) {
    const double boxRatio = static_cast<double>(viewHeight) / viewWidth;
    const double pictureRatio = static_cast<double>(pictureHeight) / pictureWidth;
    TPictureRect r;
    if (pictureRatio >= boxRatio) {
        // Taller than the box: full height, centred across.
        const int m =
            static_cast<int>(std::nearbyint(static_cast<long double>(viewHeight) / pictureRatio));
        r = {(viewWidth - m) / 2, 0, (viewWidth + m) / 2, viewHeight};
    } else {
        const int m =
            static_cast<int>(std::nearbyint(static_cast<long double>(viewWidth) * pictureRatio));
        r = {0, (viewHeight - m) / 2, viewWidth, (viewHeight + m) / 2};
    }
    return r;
}

int TPreview::ZoomedSize(int size, double factor) {
    return static_cast<int>(std::trunc(static_cast<long double>(size) * factor));
}

void TPreview::LoadPicture(const std::string& fileName) {
    LoadPictureFile(Prepared, fileName, PictureWidth, PictureHeight);
}

void TPreview::SelectPicture(const std::string& fileName) {
    LoadPicture(fileName);
    ViewHeight = kPanelHeight;
    ViewWidth = kPanelWidth;
    Left = 0;
    Top = 0;
    Width = ViewWidth;
    Height = ViewHeight;
    DrawPicture();
}

void TPreview::SelectStretched() {
    Stretched = true;
    DrawPicture();
}

void TPreview::SelectProportional() {
    Stretched = false;
    Width = kPanelWidth;
    Height = kPanelHeight;
    ViewHeight = kPanelHeight;
    ViewWidth = kPanelWidth;
    DrawPicture();
}

void TPreview::NewSurface() {
    Picture = QImage(Width, Height, QImage::Format_RGB32);
    Picture.fill(Background);
}

// The prepared picture fitted into the view box at the surface's top-left corner. Nothing but
// the background while no picture was chosen: the ratios would be undefined.
void TPreview::DrawFitted() {
    if (PictureWidth <= 0 || PictureHeight <= 0) return;
    DrawStretched(Picture, Prepared,
                  FitRectangle(ViewWidth, ViewHeight, PictureWidth, PictureHeight));
}

void TPreview::DrawPicture() {
    Picture = QImage();
    if (Stretched) {
        Width = kPanelWidth;
        Height = kPanelHeight;
        NewSurface();
        DrawStretched(Picture, Prepared, {0, 0, Width, Height});
    } else {
        NewSurface();
        DrawFitted();
    }
    if (Centred) Centre();
}

void TPreview::Zoom(double factor, bool zoomIn) {
    if (PictureWidth == 0) return;
    if (zoomIn && ViewHeight > kMaxZoomInHeight) factor = kZoomInAtLimit;
    if (!zoomIn && ViewWidth <= kPanelWidth) factor = kZoomOutAtLimit;
    Picture = QImage();
    ViewHeight = ZoomedSize(ViewHeight, factor);
    ViewWidth = ZoomedSize(ViewWidth, factor);
    Width = ZoomedSize(Width, factor);
    Height = ZoomedSize(Height, factor);
    NewSurface();
    DrawFitted();
    if (Centred) Centre();
}

void TPreview::Centre() {
    Left = (kPanelWidth - Width) / 2;
    Top = (kPanelHeight - Height) / 2;
}

void TPreview::MouseDown(int x, int y) {
    DragStartX = x;
    DragStartY = y;
    Dragging = true;
}

void TPreview::MouseMove(int x, int y) {
    if (!Dragging) return;
    // The preview moves under the pointer, so the point grabbed stays under it.
    Left += x - DragStartX;
    Top += y - DragStartY;
}

void TPreview::ShowEmbedded(const QImage& picture) {
    Picture = picture;
    Left = 0;
    Top = 0;
    Width = picture.width();
    Height = picture.height();
    Prepared = picture;
}

QImage TPreview::Capture() {
    QImage captured(kPanelWidth, kPanelHeight, QImage::Format_RGB32);
    captured.fill(PanelColor);
    Prepared = Picture;
    // The preview keeps its look but now always holds a bitmap of its own size.
    if (!(Picture.size() == QSize(Width, Height) && Picture.format() == QImage::Format_RGB32)) {
        QImage surface(Width, Height, QImage::Format_RGB32);
        surface.fill(Qt::white);
        if (!Prepared.isNull()) {
            QPainter painter(&surface);
            painter.drawImage(0, 0, Prepared);
        }
        Picture = surface;
    }
    // Pixel (x, y) of the capture is the preview's pixel (x - Left, y - Top).
    QPainter painter(&captured);
    painter.drawImage(Left, Top, Picture);
    painter.end();
    return captured;
}
