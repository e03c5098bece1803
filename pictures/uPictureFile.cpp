#include "uPictureFile.h"

#include "PlatformFile.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QPainter>

namespace {

// A bitmap file is read whole before decoding; none that decodes within the pixel limit needs
// more than four bytes a pixel plus its headers.
constexpr int64_t kMaxBitmapFileBytes = kMaxPicturePixels * 4 + 1024 * 1024;

std::string Extension(const std::string& fileName) {
    const size_t slash = fileName.find_last_of('/');
    const size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return fileName.substr(dot);
}

std::string AsciiUpper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string AsciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

QByteArray ReadWholeFile(const std::string& fileName) {
    platform::TFileStream stream(fileName, platform::TOpenMode::Read,
                                 platform::TShareMode::DenyNone);
    const int64_t size = stream.Size();
    if (size > kMaxBitmapFileBytes)
        throw EPictureError("Picture file too large: " + std::to_string(size) + " bytes");
    QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
    stream.ReadBuffer(bytes.data(), static_cast<size_t>(size));
    return bytes;
}

uint32_t Le32(const QByteArray& b, int at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
           uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}

// Qt decodes a bitmap whose pixel rows are cut short without a word, leaving the missing rows
// blank; a damaged file would be embedded as if it were whole. Uncompressed bitmaps say exactly
// how many bytes their rows take, so the cut shows.
bool UncompressedBitmapIsCut(const QByteArray& b) {
    if (b.size() < 54 || !b.startsWith("BM") || Le32(b, 14) < 40) return false;
    const uint32_t compression = Le32(b, 30);
    if (compression != 0 && compression != 3) return false; // BI_RGB, BI_BITFIELDS
    const int64_t width = static_cast<int32_t>(Le32(b, 18));
    const int64_t height = static_cast<int32_t>(Le32(b, 22));
    const int64_t bits = uint8_t(b[28]) | uint8_t(b[29]) << 8;
    if (width <= 0 || height == 0 || bits == 0) return false; // Qt refuses these itself
    const int64_t stride = (width * bits + 31) / 32 * 4;
    return Le32(b, 10) + stride * (height < 0 ? -height : height) > b.size();
}

// Qt's reader for the formats it decodes itself, with the size checked from the header before
// any pixels are allocated.
QImage ReadWithQt(const std::string& fileName, const char* format) {
    QByteArray bytes = ReadWholeFile(fileName);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAutoTransform(false);
    reader.setAllocationLimit(static_cast<int>(kMaxPicturePixels * 4 / (1024 * 1024)) + 1);
    const QSize declared = reader.size();
    if (declared.isValid() &&
        static_cast<int64_t>(declared.width()) * declared.height() > kMaxPicturePixels)
        throw EPictureError(PictureTooLargeText(declared.width(), declared.height()));
    QImage image = reader.read();
    if (image.isNull() || (std::string(format) == "bmp" && UncompressedBitmapIsCut(bytes)))
        throw EPictureError("Cannot decode picture file (" + std::string(format) +
                            "): " + reader.errorString().toStdString());
    return image;
}

// The decoded picture on an opaque bitmap of its own size, cleared to white first so that
// transparent parts come out white.
QImage OnWhite(const QImage& decoded) {
    if (!decoded.hasAlphaChannel()) return decoded.convertToFormat(QImage::Format_RGB32);
    QImage picture(decoded.size(), QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.drawImage(0, 0, decoded);
    return picture;
}

} // namespace

QImage ImageOfRgb(const TRgbPicture& picture) {
    if (picture.Empty()) return {};
    const QImage view(picture.Rgb.data(), picture.Width, picture.Height, picture.Width * 3,
                      QImage::Format_RGB888);
    return view.convertToFormat(QImage::Format_RGB32);
}

TRgbPicture RgbOfImage(const QImage& image) {
    TRgbPicture picture;
    if (image.isNull()) return picture;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    picture.Width = rgb.width();
    picture.Height = rgb.height();
    const size_t stride = static_cast<size_t>(picture.Width) * 3;
    picture.Rgb.resize(stride * picture.Height);
    for (int y = 0; y < picture.Height; ++y)
        std::copy_n(rgb.constScanLine(y), stride, picture.Rgb.data() + y * stride);
    return picture;
}

QImage DecodeJpegImage(const std::string& bytes) {
    return ImageOfRgb(DecodeJpeg(bytes));
}

void LoadPictureFile(QImage& picture, const std::string& fileName, int& width, int& height) {
    width = 0;
    height = 0;
    picture = QImage();
    if (!platform::FileExists(fileName)) return;
    const std::string extension = Extension(fileName);
    QImage decoded;
    if (AsciiUpper(extension) == ".JPG") {
        decoded = ImageOfRgb(DecodeJpegFile(fileName));
    } else {
        // The generic loader: the extension alone picks the decoder, whatever the file holds.
        const std::string name = AsciiLower(extension.empty() ? extension : extension.substr(1));
        if (name == "jpeg")
            decoded = ImageOfRgb(DecodeJpegFile(fileName));
        else if (name == "bmp" || name == "png")
            decoded = OnWhite(ReadWithQt(fileName, name.c_str()));
        else
            throw EPictureError("Unknown picture file extension (." + name + ")");
    }
    width = decoded.width();
    height = decoded.height();
    picture = decoded;
}
