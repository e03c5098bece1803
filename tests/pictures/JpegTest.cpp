#include "PictureBuilders.h"
#include "PlatformFile.h"
#include "TestFiles.h"
#include "uJpeg.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <jerror.h>
#include <jpeglib.h>

namespace {

std::string JpegErrorText(int code) {
    return "JPEG error #" + std::to_string(code);
}

std::string DecodeError(const std::string& bytes) {
    try {
        DecodeJpeg(bytes);
    } catch (const EPictureError& e) {
        return e.what();
    }
    return "(decoded)";
}

} // namespace

TEST(Jpeg, EncodesBaselineAndDecodesBackAtFullSize) {
    const TRgbPicture picture = Quadrants(240, 320);
    for (int quality : {kCustomPictureQuality, kAttachedPictureQuality}) {
        const std::string jpeg = EncodeJpeg(picture, quality);
        ASSERT_GT(jpeg.size(), 4u);
        EXPECT_EQ(jpeg.substr(0, 2), "\xFF\xD8");
        EXPECT_NE(FindMarker(jpeg, 0xC0), std::string::npos) << "baseline frame";
        EXPECT_EQ(FindMarker(jpeg, 0xC2), std::string::npos) << "never progressive";
        // jpeg_set_quality scales the standard tables: the first luminance entry 16 becomes
        // 16 * 20 / 100 = 3 at quality 90 and 16 * 50 / 100 = 8 at quality 75.
        EXPECT_EQ(FirstQuantValue(jpeg), quality == 90 ? 3 : 8);

        const TRgbPicture back = DecodeJpeg(jpeg);
        ASSERT_EQ(back.Width, 240);
        ASSERT_EQ(back.Height, 320);
        EXPECT_TRUE(Near(PixelAt(back, 10, 10), kRed)) << Hex(PixelAt(back, 10, 10));
        EXPECT_TRUE(Near(PixelAt(back, 230, 10), kGreen));
        EXPECT_TRUE(Near(PixelAt(back, 10, 310), kBlue));
        EXPECT_TRUE(Near(PixelAt(back, 230, 310), kYellow));
    }
    // Odd sizes keep their size.
    const TRgbPicture odd = DecodeJpeg(EncodeJpeg(Quadrants(33, 7), 90));
    EXPECT_EQ(odd.Width, 33);
    EXPECT_EQ(odd.Height, 7);
}

TEST(Jpeg, EmptyInputIsAnEmptyPicture) {
    const TRgbPicture empty = DecodeJpeg(std::string());
    EXPECT_EQ(empty.Width, 0);
    EXPECT_EQ(empty.Height, 0);
    EXPECT_TRUE(empty.Rgb.empty());
    TempDir dir;
    WriteFile(dir.File("empty.jpg"), "");
    EXPECT_TRUE(DecodeJpegFile(dir.File("empty.jpg")).Empty());
    EXPECT_THROW(EncodeJpeg(empty, 90), EPictureError);
}

TEST(Jpeg, FileAndMemoryGiveTheSamePixels) {
    TempDir dir;
    // Larger than one read block of the file source.
    const std::string jpeg = EncodeJpeg(
        MakePicture(600, 500, [](int x, int y) { return uint32_t(x * 7 ^ y * 13) * 2654435761u; }),
        95);
    ASSERT_GT(jpeg.size(), 64u * 1024);
    WriteFile(dir.File("a.jpg"), jpeg);
    const TRgbPicture fromFile = DecodeJpegFile(dir.File("a.jpg"));
    const TRgbPicture fromMemory = DecodeJpeg(jpeg);
    EXPECT_EQ(fromFile.Width, 600);
    EXPECT_EQ(fromFile.Height, 500);
    EXPECT_TRUE(fromFile.Rgb == fromMemory.Rgb);
    EXPECT_THROW(DecodeJpegFile(dir.File("missing.jpg")), platform::EPlatformError);
}

TEST(JpegHostile, DamagedDataFailsWithTheCodecMessageNumber) {
    const std::string jpeg = EncodeJpeg(Quadrants(240, 320), 90);
    // Cut inside the picture data: libjpeg alone would pad the rest with grey.
    EXPECT_EQ(DecodeError(jpeg.substr(0, jpeg.size() / 2)), JpegErrorText(JWRN_JPEG_EOF));
    // Cut inside the headers.
    EXPECT_EQ(DecodeError(jpeg.substr(0, 30)).rfind("JPEG error #", 0), 0u);
    // Not a JPEG at all.
    EXPECT_EQ(DecodeError("GIF89a garbage garbage garbage"), JpegErrorText(JERR_NO_SOI));
    EXPECT_EQ(DecodeError(std::string(1, '\xFF')).rfind("JPEG error #", 0), 0u);

    TempDir dir;
    WriteFile(dir.File("cut.jpg"), jpeg.substr(0, jpeg.size() - 200));
    try {
        DecodeJpegFile(dir.File("cut.jpg"));
        ADD_FAILURE() << "a truncated file decoded";
    } catch (const EPictureError& e) {
        EXPECT_EQ(std::string(e.what()), JpegErrorText(JWRN_JPEG_EOF));
    }
}

TEST(JpegHostile, ScanDataCutShortByAMarkerFails) {
    // The picture data stops early and a marker follows: libjpeg only warns ("premature end of
    // data segment") and pads the rest with grey, so a damaged picture would pass for whole.
    const std::string jpeg = EncodeJpeg(Quadrants(240, 320), 90);
    const size_t eoi = jpeg.size() - 2;
    const std::string cut = jpeg.substr(0, eoi / 2) + jpeg.substr(eoi);
    EXPECT_EQ(DecodeError(cut), JpegErrorText(JWRN_HIT_MARKER));
    TempDir dir;
    WriteFile(dir.File("cut.jpg"), cut);
    EXPECT_THROW(DecodeJpegFile(dir.File("cut.jpg")), EPictureError);

    // Found by fuzzing: a few hundred bytes that declare 744 x 65496 pixels and whose scan ends
    // at once. libjpeg went on to fill 48 megapixels with grey (seconds of work and 140 MB) before
    // the picture was shown as if whole; now the first row fails.
    std::string huge = WithDeclaredSize(EncodeJpeg(Quadrants(16, 16), 90), 744, 65496);
    const size_t data = FindMarker(huge, 0xDA) + 2 + 12; // after the scan header
    huge = huge.substr(0, data + 3) + std::string("\xFF\xD9", 2);
    EXPECT_EQ(DecodeError(huge), JpegErrorText(JWRN_HIT_MARKER));
}

TEST(JpegHostile, HugeDeclaredSizeIsRefusedBeforeAllocating) {
    const std::string jpeg = EncodeJpeg(Quadrants(16, 16), 90);
    ASSERT_NE(FindMarker(jpeg, 0xC0), std::string::npos);
    // 4.2 gigapixels, 12.7 GB of RGB
    EXPECT_EQ(DecodeError(WithDeclaredSize(jpeg, 65000, 65000)), PictureTooLargeText(65000, 65000));
    // Just over the limit.
    EXPECT_EQ(DecodeError(WithDeclaredSize(jpeg, 8001, 8000)), PictureTooLargeText(8001, 8000));
    // At the limit the size is accepted and decoding starts; the data, made for 16 x 16 pixels,
    // then ends inside the first rows, which is the codec's error and no longer grey padding.
    EXPECT_EQ(DecodeError(WithDeclaredSize(jpeg, 8000, 8000)), JpegErrorText(JWRN_HIT_MARKER));
}

namespace {

// A small progressive JPEG made directly with libjpeg (the program itself never writes one).
std::string ProgressiveJpeg() {
    const TRgbPicture picture = Quadrants(16, 16);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = 16;
    cinfo.image_height = 16;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < 16) {
        JSAMPROW row = const_cast<JSAMPLE*>(&picture.Rgb[cinfo.next_scanline * 16 * 3]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string jpeg(reinterpret_cast<char*>(buffer), size);
    free(buffer);
    return jpeg;
}

} // namespace

TEST(JpegHostile, EndlessScansAreRefused) {
    const std::string jpeg = ProgressiveJpeg();
    ASSERT_EQ(DecodeJpeg(jpeg).Width, 16);
    // The first scan (its header and its data, up to the next marker) repeated over and over:
    // libjpeg only warns about the bogus progression and would pass over the picture each time.
    const size_t sos = FindMarker(jpeg, 0xDA);
    ASSERT_NE(sos, std::string::npos);
    size_t end = sos + 2;
    while (end + 1 < jpeg.size() && !(static_cast<unsigned char>(jpeg[end]) == 0xFF &&
                                      static_cast<unsigned char>(jpeg[end + 1]) != 0 &&
                                      (static_cast<unsigned char>(jpeg[end + 1]) & 0xF8) != 0xD0))
        ++end;
    const std::string scan = jpeg.substr(sos, end - sos);
    std::string hostile = jpeg.substr(0, end);
    for (int i = 0; i < 1100; ++i)
        hostile += scan;
    hostile += jpeg.substr(end);
    EXPECT_EQ(DecodeError(hostile), "JPEG error: more than 1000 scans");
    // A few repeats are merely odd.
    std::string odd = jpeg.substr(0, end) + scan + scan + jpeg.substr(end);
    EXPECT_EQ(DecodeJpeg(odd).Width, 16);
}
