// Pictures for the picture panel as Qt images: loading a picture file the way the panel does,
// decoding embedded JPEG data, and the bridge to the plain RGB pictures of uJpeg.h. Needs QtGui
// only (no widgets), so the command line's embed module can use it too.
#pragma once

#include "uJpeg.h"

#include <QImage>
#include <string>

// Loads a picture file into `picture` (the prepared picture) and gives its natural size.
// Width and height are 0 and the picture is empty when the file does not exist or decoding
// fails. A name ending in ".jpg" (any letter case) goes to libjpeg directly; any other goes to
// the loader chosen by the extension: ".jpeg" to libjpeg as well, ".bmp" and ".png" to Qt's
// readers. Throws EPictureError ("JPEG error #n", "Unknown picture file extension (.ext)", ...)
// or platform::EPlatformError when the file cannot be read.
void LoadPictureFile(QImage& picture, const std::string& fileName, int& width, int& height);

// Embedded JPEG data as an opaque 32-bit image; empty data gives the empty (null) image.
// Throws EPictureError.
QImage DecodeJpegImage(const std::string& bytes);

// Opaque 32-bit image of an RGB picture, and back.
QImage ImageOfRgb(const TRgbPicture& picture);
TRgbPicture RgbOfImage(const QImage& image);
