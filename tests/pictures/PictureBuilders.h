// Pictures for the picture tests, made in code: RGB pictures with known colours, JPEG and BMP
// files of them, and colour checks with a tolerance for JPEG's losses.
#pragma once

#include "uJpeg.h"

#include <QColor>
#include <QImage>
#include <cstdint>
#include <functional>
#include <string>

using TPixelFn = std::function<uint32_t(int x, int y)>; // 0xRRGGBB

TRgbPicture MakePicture(int width, int height, const TPixelFn& pixel);
// Four flat quadrants: red top left, green top right, blue bottom left, yellow bottom right.
TRgbPicture Quadrants(int width, int height);
inline constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kYellow = 0xFFFF00,
                          kWhite = 0xFFFFFF, kBlack = 0x000000;

// A 24-bit bottom-up BMP file of the picture.
std::string Bmp24(const TRgbPicture& picture);
// Only the headers of a 24-bit BMP that declares the given size (no pixels follow).
std::string BmpHeaderOnly(int32_t width, int32_t height);

// Offset of the first JPEG marker 0xFF `marker`, or npos.
size_t FindMarker(const std::string& jpeg, unsigned char marker);
// The first entry of the first quantisation table: 3 at quality 90, 8 at quality 75 (libjpeg
// scales the standard table's 16), -1 without a table.
int FirstQuantValue(const std::string& jpeg);
// The JPEG with the size in its baseline frame header (SOF0) changed; the data stays as it was.
std::string WithDeclaredSize(std::string jpeg, int width, int height);

uint32_t PixelAt(const TRgbPicture& picture, int x, int y);
uint32_t PixelAt(const QImage& image, int x, int y);
// True when every channel is within `tolerance`.
bool Near(uint32_t actual, uint32_t expected, int tolerance = 40);
std::string Hex(uint32_t rgb);
