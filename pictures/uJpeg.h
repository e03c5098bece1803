// JPEG decoding and encoding through libjpeg, without widgets: the editor, the command line's
// embed module, the tests and the benchmark all use it. A picture here is just its size and its
// pixels, three bytes (red, green, blue) per pixel, rows top to bottom without padding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// A picture that cannot be decoded or encoded. Its text is what the user is shown, e.g.
// "JPEG error #42" for a codec failure.
class EPictureError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct TRgbPicture {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgb; // Width * Height * 3 bytes

    bool Empty() const { return Width == 0 || Height == 0; }
};

// Decoding refuses pictures whose header declares more pixels than this, before the pixels are
// allocated: a few hostile bytes could otherwise ask for gigabytes.
inline constexpr int64_t kMaxPicturePixels = 64LL * 1000 * 1000;

// The qualities of the two picture frames.
inline constexpr int kCustomPictureQuality = 90;   // TPIC
inline constexpr int kAttachedPictureQuality = 75; // APIC

// Decodes JPEG data at full size with libjpeg's default decompression settings. Grey-scale and
// CMYK pictures are turned into RGB. Empty input gives an empty 0 x 0 picture without an error.
// Damaged data (a truncated stream included) throws EPictureError "JPEG error #<message code>".
TRgbPicture DecodeJpeg(const void* data, size_t size);
inline TRgbPicture DecodeJpeg(const std::string& bytes) {
    return DecodeJpeg(bytes.data(), bytes.size());
}
// The same for a file, read in bounded blocks. An empty file gives an empty picture; a file that
// cannot be opened or read throws platform::EPlatformError.
TRgbPicture DecodeJpegFile(const std::string& fileName);

// Encodes an RGB picture as a baseline JPEG after jpeg_set_defaults and
// jpeg_set_quality(quality, TRUE). Throws EPictureError for an empty picture or a codec failure.
std::string EncodeJpeg(const TRgbPicture& picture, int quality);

// The text of a picture refused for its size.
std::string PictureTooLargeText(int64_t width, int64_t height);
