// The picture panel's preview without its widgets: the prepared picture, the preview's place,
// size and picture within the 240 x 320 panel, the view box of proportional mode, and the
// operations the panel's buttons and mouse handlers run. The window shows `Picture` at
// (Left, Top) inside its panel, clipped, at natural size; the capture is what that shows.
//
// Arithmetic: ratios are doubles; fitted and zoomed sizes are formed in extended precision
// (long double) from the integer and the double; fitted sizes are rounded to nearest with
// halves to even, zoomed sizes truncated; halving truncates toward zero.
#pragma once

#include <QColor>
#include <QImage>
#include <string>

// A rectangle by its edges: left and top inside, right and bottom just outside.
struct TPictureRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const TPictureRect&) const = default;
};

class TPreview {
  public:
    static constexpr int kPanelWidth = 240;
    static constexpr int kPanelHeight = 320;

    // Natural size of the picture file chosen last; 0 x 0 when none was chosen or the last
    // choice did not exist or could not be decoded. Showing an embedded picture keeps them.
    int PictureWidth = 0;
    int PictureHeight = 0;
    // The view box that proportional mode fits the picture into.
    int ViewWidth = kPanelWidth;
    int ViewHeight = kPanelHeight;
    // The preview within the panel: its place may be negative and its size exceed the panel.
    int Left = 24;
    int Top = 40;
    int Width = 3200;
    int Height = 2400;
    // The preview's picture: null (none), a drawing surface of exactly Width x Height, or an
    // embedded picture at its natural size.
    QImage Picture;
    // The prepared picture every redraw and zoom step works from.
    QImage Prepared;
    // Fills the preview's surface around the picture.
    QColor Background = QColor(0, 0, 255);
    // What the panel shows where the preview does not cover it. The capture puts this colour
    // there too, so that it embeds what the panel shows; white is the colour the captured
    // bitmap starts as.
    QColor PanelColor = QColor(255, 255, 255);
    bool Stretched = true; // stretched mode, else proportional mode
    bool Centred = true;   // every redraw and zoom step ends by centring
    // Panning.
    int DragStartX = 0;
    int DragStartY = 0;
    bool Dragging = false;

    // Loads a picture file as the prepared picture and sets PictureWidth/PictureHeight
    // (LoadPictureFile's rules and errors).
    void LoadPicture(const std::string& fileName);
    // Choosing a picture: load it, reset the view box and the preview to 240 x 320 at 0,0, and
    // redraw. A decoding error propagates after the load step; the rest is then left as it was.
    void SelectPicture(const std::string& fileName);
    // The two mode buttons.
    void SelectStretched();
    void SelectProportional();
    // Redraws the preview from the prepared picture in the current mode.
    void DrawPicture();
    void ZoomIn() { Zoom(1.1, true); }
    void ZoomOut() { Zoom(0.9, false); }
    void Centre();
    void MouseDown(int x, int y);
    void MouseMove(int x, int y);
    void MouseUp() { Dragging = false; }
    // Empties the preview's picture.
    void Clear() { Picture = QImage(); }
    bool HasPicture() const { return !Picture.isNull(); }
    // Shows an embedded picture unscaled at the panel's top-left corner; it becomes the
    // prepared picture too.
    void ShowEmbedded(const QImage& picture);
    // The 240 x 320 bitmap the panel shows. As a side effect the prepared picture becomes the
    // preview's current picture and the preview always holds a bitmap of its own size
    // afterwards (white where it had none).
    QImage Capture();

    // Where proportional mode draws a picture of w x h inside a view box of W x H.
    static TPictureRect FitRectangle(int viewWidth, int viewHeight, int pictureWidth,
                                     int pictureHeight);
    // A size after one zoom step by `factor`.
    static int ZoomedSize(int size, double factor);

  private:
    void Zoom(double factor, bool zoomIn);
    void NewSurface();
    void DrawFitted();
};
