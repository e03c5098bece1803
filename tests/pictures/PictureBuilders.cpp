#include "PictureBuilders.h"

#include <cstdio>
#include <cstdlib>

TRgbPicture MakePicture(int width, int height, const TPixelFn& pixel) {
    TRgbPicture p;
    p.Width = width;
    p.Height = height;
    p.Rgb.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint32_t c = pixel(x, y);
            uint8_t* d = &p.Rgb[(static_cast<size_t>(y) * width + x) * 3];
            d[0] = c >> 16 & 0xFF;
            d[1] = c >> 8 & 0xFF;
            d[2] = c & 0xFF;
        }
    return p;
}

TRgbPicture Quadrants(int width, int height) {
    return MakePicture(width, height, [=](int x, int y) {
        bool right = x >= width / 2, bottom = y >= height / 2;
        return bottom ? (right ? kYellow : kBlue) : (right ? kGreen : kRed);
    });
}

namespace {

std::string LE(uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i)
        s.push_back(static_cast<char>(v >> (8 * i) & 0xFF));
    return s;
}

std::string BmpHeaders(int32_t width, int32_t height, uint32_t imageBytes) {
    return "BM" + LE(54 + imageBytes, 4) + LE(0, 4) + LE(54, 4) + LE(40, 4) +
           LE(static_cast<uint32_t>(width), 4) + LE(static_cast<uint32_t>(height), 4) + LE(1, 2) +
           LE(24, 2) + LE(0, 4) + LE(imageBytes, 4) + LE(2835, 4) + LE(2835, 4) + LE(0, 4) +
           LE(0, 4);
}

} // namespace

std::string Bmp24(const TRgbPicture& p) {
    const uint32_t stride = (static_cast<uint32_t>(p.Width) * 3 + 3) & ~3u;
    std::string bmp = BmpHeaders(p.Width, p.Height, stride * p.Height);
    for (int y = p.Height - 1; y >= 0; --y) {
        std::string row;
        for (int x = 0; x < p.Width; ++x) {
            const uint8_t* s = &p.Rgb[(static_cast<size_t>(y) * p.Width + x) * 3];
            row.push_back(static_cast<char>(s[2]));
            row.push_back(static_cast<char>(s[1]));
            row.push_back(static_cast<char>(s[0]));
        }
        row.resize(stride, '\0');
        bmp += row;
    }
    return bmp;
}

std::string BmpHeaderOnly(int32_t width, int32_t height) {
    return BmpHeaders(width, height, 0); // 0: "work it out from the size", allowed for BI_RGB
}

size_t FindMarker(const std::string& jpeg, unsigned char marker) {
    for (size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (static_cast<unsigned char>(jpeg[i]) == 0xFF &&
            static_cast<unsigned char>(jpeg[i + 1]) == marker)
            return i;
    return std::string::npos;
}

int FirstQuantValue(const std::string& jpeg) {
    // DQT: FF DB, length (2), precision and table number (1), then the 64 entries.
    const size_t dqt = FindMarker(jpeg, 0xDB);
    if (dqt == std::string::npos || dqt + 5 >= jpeg.size()) return -1;
    return static_cast<unsigned char>(jpeg[dqt + 5]);
}

std::string WithDeclaredSize(std::string jpeg, int width, int height) {
    // SOF0: FF C0, length (2), precision (1), height (2), width (2).
    const size_t sof = FindMarker(jpeg, 0xC0);
    if (sof == std::string::npos || sof + 9 > jpeg.size()) return jpeg;
    jpeg[sof + 5] = static_cast<char>(height >> 8);
    jpeg[sof + 6] = static_cast<char>(height & 0xFF);
    jpeg[sof + 7] = static_cast<char>(width >> 8);
    jpeg[sof + 8] = static_cast<char>(width & 0xFF);
    return jpeg;
}

uint32_t PixelAt(const TRgbPicture& p, int x, int y) {
    const uint8_t* s = &p.Rgb[(static_cast<size_t>(y) * p.Width + x) * 3];
    return uint32_t(s[0]) << 16 | uint32_t(s[1]) << 8 | s[2];
}

uint32_t PixelAt(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFF;
}

bool Near(uint32_t a, uint32_t e, int tolerance) {
    for (int shift : {16, 8, 0})
        if (std::abs(int(a >> shift & 0xFF) - int(e >> shift & 0xFF)) > tolerance) return false;
    return true;
}

std::string Hex(uint32_t rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "%06X", rgb);
    return text;
}
