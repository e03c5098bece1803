#include "PictureBuilders.h"
#include "TestFiles.h"
#include "uPictureFile.h"

#include <gtest/gtest.h>

namespace {

std::string LoadError(const std::string& fileName) {
    QImage picture(10, 10, QImage::Format_RGB32);
    int w = -1, h = -1;
    try {
        LoadPictureFile(picture, fileName, w, h);
    } catch (const std::exception& e) {
        EXPECT_EQ(w, 0);
        EXPECT_EQ(h, 0);
        EXPECT_TRUE(picture.isNull()) << "a failed load leaves the picture empty";
        return e.what();
    }
    return "(loaded)";
}

} // namespace

TEST(PictureFile, LoadsByExtension) {
    TempDir dir;
    const std::string jpeg = EncodeJpeg(Quadrants(64, 48), 90);
    for (const char* name : {"a.jpg", "b.Jpg", "c.JPG", "d.jpeg", "e.JPEG"})
        WriteFile(dir.File(name), jpeg);
    QImage reference;
    int w = 0, h = 0;
    LoadPictureFile(reference, dir.File("a.jpg"), w, h);
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 48);
    ASSERT_EQ(reference.size(), QSize(64, 48));
    for (const char* name : {"b.Jpg", "c.JPG", "d.jpeg", "e.JPEG"}) {
        QImage picture;
        LoadPictureFile(picture, dir.File(name), w, h);
        EXPECT_TRUE(picture == reference) << name << ": the same codec either way";
    }

    // A bitmap after a JPEG of another size: exactly the bitmap, pixel for pixel.
    const TRgbPicture bitmap = Quadrants(31, 17);
    WriteFile(dir.File("f.bmp"), Bmp24(bitmap));
    WriteFile(dir.File("g.BMP"), Bmp24(bitmap));
    QImage picture = reference;
    LoadPictureFile(picture, dir.File("f.bmp"), w, h);
    EXPECT_EQ(w, 31);
    EXPECT_EQ(h, 17);
    ASSERT_EQ(picture.size(), QSize(31, 17));
    EXPECT_TRUE(RgbOfImage(picture).Rgb == bitmap.Rgb);
    LoadPictureFile(picture, dir.File("g.BMP"), w, h);
    EXPECT_EQ(w, 31);

    // A name that does not exist: no picture, no error.
    LoadPictureFile(picture, dir.File("missing.jpg"), w, h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    EXPECT_TRUE(picture.isNull());

    // The extension alone picks the decoder.
    WriteFile(dir.File("h.gif"), "GIF89a");
    EXPECT_EQ(LoadError(dir.File("h.gif")), "Unknown picture file extension (.gif)");
    WriteFile(dir.File("noext"), jpeg);
    EXPECT_EQ(LoadError(dir.File("noext")), "Unknown picture file extension (.)");
    WriteFile(dir.File("jpeg.bmp"), jpeg);
    EXPECT_EQ(LoadError(dir.File("jpeg.bmp")).rfind("Cannot decode picture file (bmp)", 0), 0u);
}

TEST(PictureFile, EmbeddedDataAndConversions) {
    EXPECT_TRUE(DecodeJpegImage("").isNull());
    const QImage image = DecodeJpegImage(EncodeJpeg(Quadrants(40, 20), 90));
    EXPECT_EQ(image.size(), QSize(40, 20));
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    EXPECT_TRUE(Near(PixelAt(image, 0, 19), kBlue));
    const TRgbPicture exact = MakePicture(3, 2, [](int x, int y) { return uint32_t(x * 80 + y); });
    EXPECT_TRUE(RgbOfImage(ImageOfRgb(exact)).Rgb == exact.Rgb);
}

TEST(PictureFileHostile, DamagedAndHugePicturesFailClearly) {
    TempDir dir;
    const std::string jpeg = EncodeJpeg(Quadrants(64, 48), 90);
    WriteFile(dir.File("cut.jpg"), jpeg.substr(0, jpeg.size() / 2));
    EXPECT_EQ(LoadError(dir.File("cut.jpg")).rfind("JPEG error #", 0), 0u);
    WriteFile(dir.File("cut.jpeg"), jpeg.substr(0, 100));
    EXPECT_EQ(LoadError(dir.File("cut.jpeg")).rfind("JPEG error #", 0), 0u);

    WriteFile(dir.File("garbage.bmp"), std::string(5000, '\x5A'));
    EXPECT_EQ(LoadError(dir.File("garbage.bmp")).rfind("Cannot decode picture file (bmp)", 0), 0u);
    const std::string bmp = Bmp24(Quadrants(40, 40));
    WriteFile(dir.File("cut.bmp"), bmp.substr(0, 54 + 100));
    EXPECT_EQ(LoadError(dir.File("cut.bmp")).rfind("Cannot decode picture file (bmp)", 0), 0u);
    // Headers that declare 9000 x 9000 pixels (81 megapixels) with none behind them.
    WriteFile(dir.File("huge.bmp"), BmpHeaderOnly(9000, 9000));
    EXPECT_EQ(LoadError(dir.File("huge.bmp")), PictureTooLargeText(9000, 9000));
    // 40000 x 40000: sizes that overflow the header's own fields.
    WriteFile(dir.File("huger.bmp"), BmpHeaderOnly(40000, 40000));
    EXPECT_NE(LoadError(dir.File("huger.bmp")), "(loaded)");
    WriteFile(dir.File("negative.bmp"), BmpHeaderOnly(-5, 7));
    EXPECT_NE(LoadError(dir.File("negative.bmp")), "(loaded)");
}
