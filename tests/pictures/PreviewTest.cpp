#include "PictureBuilders.h"
#include "TPreview.h"
#include "TestFiles.h"
#include "uPictureFile.h"

#include <gtest/gtest.h>

namespace {

// A preview in proportional mode that has a picture of w x h chosen.
TPreview Proportional(int w, int h) {
    TPreview p;
    p.Prepared = ImageOfRgb(Quadrants(w, h));
    p.PictureWidth = w;
    p.PictureHeight = h;
    p.Left = p.Top = 0;
    p.SelectProportional();
    return p;
}

struct TSize {
    int w, h;
    bool operator==(const TSize&) const = default;
};
std::ostream& operator<<(std::ostream& o, const TSize& s) {
    return o << s.w << "x" << s.h;
}
TSize View(const TPreview& p) {
    return {p.ViewWidth, p.ViewHeight};
}
TSize Preview(const TPreview& p) {
    return {p.Width, p.Height};
}

} // namespace

TEST(PreviewArithmetic, ProportionalFit) {
    using R = TPictureRect;
    EXPECT_EQ(TPreview::FitRectangle(240, 320, 480, 640), (R{0, 0, 240, 320}));
    EXPECT_EQ(TPreview::FitRectangle(240, 320, 640, 480), (R{0, 70, 240, 250}));
    EXPECT_EQ(TPreview::FitRectangle(240, 320, 100, 400), (R{80, 0, 160, 320}));
    // 240 x 0.09375 = 22.5 rounds to the even 22.
    EXPECT_EQ(TPreview::FitRectangle(240, 320, 32, 3), (R{0, 149, 240, 171}));
    // An odd extent: the sum and the difference are halved separately.
    EXPECT_EQ(TPreview::FitRectangle(240, 320, 160, 10), (R{0, 152, 240, 167}));
    EXPECT_EQ(TPreview::FitRectangle(241, 320, 20, 320), (R{110, 0, 130, 320}));
    // A square in a zoomed box.
    EXPECT_EQ(TPreview::FitRectangle(264, 352, 500, 500), (R{0, 44, 264, 308}));
}

TEST(PreviewArithmetic, ZoomSteps) {
    TPreview in = Proportional(480, 640);
    in.ZoomIn();
    EXPECT_EQ(View(in), (TSize{264, 352}));
    EXPECT_EQ(Preview(in), (TSize{264, 352}));
    EXPECT_EQ(in.Left, -12);
    EXPECT_EQ(in.Top, -16);
    EXPECT_EQ(in.Picture.size(), QSize(264, 352));

    TPreview out = Proportional(480, 640);
    out.ZoomOut(); // not wider than the panel: grows by 5 %
    EXPECT_EQ(View(out), (TSize{252, 336}));
    out.ZoomOut();
    EXPECT_EQ(View(out), (TSize{226, 302}));
    out.ZoomOut();
    EXPECT_EQ(View(out), (TSize{237, 317}));
    EXPECT_EQ(Preview(out), (TSize{237, 317}));

    TPreview limit = Proportional(480, 640);
    for (int i = 0; i < 22; ++i)
        limit.ZoomIn();
    EXPECT_EQ(View(limit), (TSize{1931, 2578}));
    limit.ZoomIn(); // taller than 2400: shrinks by 5 %
    EXPECT_EQ(View(limit), (TSize{1834, 2449}));
    limit.ZoomIn();
    EXPECT_EQ(View(limit), (TSize{1742, 2326}));
    limit.ZoomIn();
    EXPECT_EQ(View(limit), (TSize{1916, 2558}));
    EXPECT_EQ(Preview(limit), View(limit));

    // The 27th step: 1820 x 0.95 lies just below 1729.
    TPreview steps = Proportional(480, 640);
    for (int i = 0; i < 26; ++i)
        steps.ZoomIn();
    EXPECT_EQ(View(steps), (TSize{1820, 2430}));
    steps.ZoomIn();
    EXPECT_EQ(View(steps), (TSize{1728, 2308}));
    EXPECT_EQ(TPreview::ZoomedSize(1820, 0.95), 1728);

    // Without a chosen picture zooming does nothing.
    TPreview none;
    none.SelectProportional();
    none.ZoomIn();
    EXPECT_EQ(View(none), (TSize{240, 320}));
}

TEST(PreviewArithmetic, CentringAndPanning) {
    TPreview p;
    p.Width = 265;
    p.Height = 321;
    p.Centre();
    EXPECT_EQ(p.Left, -12) << "truncated toward zero, not -13";
    EXPECT_EQ(p.Top, 0);
    p.Width = 215;
    p.Centre();
    EXPECT_EQ(p.Left, 12);

    p.Left = p.Top = 0;
    p.MouseMove(50, 50);
    EXPECT_EQ(p.Left, 0) << "moves count only while dragging";
    p.MouseDown(100, 80);
    p.MouseMove(130, 60);
    EXPECT_EQ(p.Left, 30);
    EXPECT_EQ(p.Top, -20);
    // The pointer is now over the point grabbed, which is again (100, 80) of the preview.
    p.MouseMove(100 - 500, 80 + 1000);
    EXPECT_EQ(p.Left, -470);
    EXPECT_EQ(p.Top, 980);
    p.MouseUp();
    p.MouseMove(0, 0);
    EXPECT_EQ(p.Left, -470);
}

TEST(PreviewCapture, StretchedAndFittedPictures) {
    TempDir dir;
    WriteFile(dir.File("wide.bmp"), Bmp24(Quadrants(640, 480)));
    TPreview p;
    p.SelectPicture(dir.File("wide.bmp"));
    EXPECT_EQ(p.PictureWidth, 640);
    EXPECT_EQ(p.PictureHeight, 480);
    EXPECT_EQ(Preview(p), (TSize{240, 320}));
    QImage shot = p.Capture();
    ASSERT_EQ(shot.size(), QSize(240, 320));
    // Stretched: the whole picture, aspect ratio lost.
    EXPECT_TRUE(Near(PixelAt(shot, 5, 5), kRed, 8));
    EXPECT_TRUE(Near(PixelAt(shot, 234, 5), kGreen, 8));
    EXPECT_TRUE(Near(PixelAt(shot, 5, 314), kBlue, 8));
    EXPECT_TRUE(Near(PixelAt(shot, 234, 314), kYellow, 8));

    // Fitted: bands of the background above and below (0..69, 250..319).
    p.Background = QColor(0x12, 0x34, 0x56);
    p.SelectProportional();
    shot = p.Capture();
    EXPECT_EQ(PixelAt(shot, 120, 0), 0x123456u);
    EXPECT_EQ(PixelAt(shot, 120, 69), 0x123456u);
    EXPECT_EQ(PixelAt(shot, 120, 250), 0x123456u);
    EXPECT_TRUE(Near(PixelAt(shot, 5, 75), kRed, 8));
    EXPECT_TRUE(Near(PixelAt(shot, 234, 244), kYellow, 8));

    // The capture became the prepared picture: a redraw works from it, background included,
    // fitted with the size of the file chosen last.
    EXPECT_EQ(p.Prepared.size(), QSize(240, 320));
    p.Background = QColor(Qt::white);
    p.DrawPicture();
    EXPECT_EQ(PixelAt(p.Picture, 120, 0), 0xFFFFFFu);
    EXPECT_TRUE(Near(PixelAt(p.Picture, 120, 80), 0x123456, 8));
    EXPECT_TRUE(Near(PixelAt(p.Picture, 5, 140), kRed, 8));
}

TEST(PreviewCapture, ZoomedAndDraggedShowsOnlyThePanel) {
    TPreview p = Proportional(480, 640);
    for (int i = 0; i < 10; ++i)
        p.ZoomIn();
    // 618 x 825, centred: the panel shows the middle, where the quadrants meet.
    EXPECT_EQ(Preview(p), (TSize{618, 825}));
    QImage shot = p.Capture();
    EXPECT_TRUE(Near(PixelAt(shot, 100, 140), kRed, 8));
    EXPECT_TRUE(Near(PixelAt(shot, 140, 180), kYellow, 8));
    // Drag the top-left corner of the preview into the panel at (20, 30).
    p.MouseDown(0, 0);
    p.MouseMove(20 - p.Left, 30 - p.Top);
    p.MouseUp();
    EXPECT_EQ(p.Left, 20);
    EXPECT_EQ(p.Top, 30);
    p.PanelColor = QColor(0xAB, 0xCD, 0xEF);
    shot = p.Capture();
    EXPECT_EQ(PixelAt(shot, 19, 100), 0xABCDEFu) << "left of the preview: the panel's face";
    EXPECT_EQ(PixelAt(shot, 100, 29), 0xABCDEFu);
    EXPECT_TRUE(Near(PixelAt(shot, 20, 30), kRed, 8));
    EXPECT_TRUE(Near(PixelAt(shot, 239, 319), kRed, 8)) << "only the top-left quadrant shows";

    // Zoomed out below the panel's size: the panel shows around it.
    TPreview small = Proportional(480, 640);
    small.ZoomOut();
    small.ZoomOut(); // 226 x 302, centred at 7, 9
    EXPECT_EQ(small.Left, 7);
    EXPECT_EQ(small.Top, 9);
    shot = small.Capture();
    EXPECT_EQ(PixelAt(shot, 6, 100), 0xFFFFFFu);
    EXPECT_TRUE(Near(PixelAt(shot, 7, 9), kRed, 8));
}

TEST(PreviewCapture, EmbeddedAndEmptyPreviews) {
    // An embedded picture shows at natural size from the top-left corner.
    TPreview p;
    p.ShowEmbedded(ImageOfRgb(Quadrants(300, 400)));
    EXPECT_EQ(p.Left, 0);
    EXPECT_EQ(Preview(p), (TSize{300, 400}));
    EXPECT_EQ(p.Prepared.size(), QSize(300, 400));
    QImage shot = p.Capture();
    EXPECT_TRUE(Near(PixelAt(shot, 0, 0), kRed, 8));
    EXPECT_TRUE(Near(PixelAt(shot, 239, 199), kGreen, 8)) << "x 150.. is green";
    EXPECT_TRUE(Near(PixelAt(shot, 0, 319), kBlue, 8));
    EXPECT_EQ(p.PictureWidth, 0) << "showing does not change the chosen size";

    // No picture at all: the capture is blank white and the preview now holds a bitmap.
    TPreview empty;
    EXPECT_FALSE(empty.HasPicture());
    shot = empty.Capture();
    EXPECT_EQ(PixelAt(shot, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(PixelAt(shot, 239, 319), 0xFFFFFFu);
    EXPECT_TRUE(empty.HasPicture());

    // An empty embedded picture is no picture.
    TPreview none;
    none.ShowEmbedded(QImage());
    EXPECT_FALSE(none.HasPicture());

    // Stretched redraw without a picture: only the background.
    TPreview blank;
    blank.DrawPicture();
    EXPECT_EQ(PixelAt(blank.Picture, 120, 160), 0x0000FFu);
    blank.SelectProportional();
    EXPECT_EQ(PixelAt(blank.Picture, 120, 160), 0x0000FFu);
}
