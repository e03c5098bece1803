// The seam between quillon-tags and its picture module. Decoding a BMP needs Qt's image readers,
// and a program linked with Qt starts measurably slower, so the picture work of `embed` lives in
// the module quillon-embed.so, which quillon-tags loads only for that command. Plain C types
// only: the two sides are separate binaries.
#pragma once

#include <cstddef>

extern "C" {

struct TEmbedRequest {
    int Version;             // kEmbedInterfaceVersion
    const char* PicturePath; // as given on the command line
    int Fit;                 // nonzero: proportional mode (240 x 320 view box, centred)
    unsigned Background;     // 0xRRGGBB
    int Quality;             // JPEG quality of the target frame
};

struct TEmbedResult {
    unsigned char* Jpeg; // malloc'ed by the module; the caller frees it with free()
    size_t JpegSize;
    int PictureWidth;
    int PictureHeight;
    char Error[1024]; // why it failed, when the call returns nonzero
};

// Loads the picture as the picture panel does, previews it, captures the 240 x 320 panel and
// encodes it. 0 on success.
typedef int (*TEmbedCaptureFunction)(const TEmbedRequest* request, TEmbedResult* result);
}

inline constexpr int kEmbedInterfaceVersion = 1;
inline constexpr const char* kEmbedCaptureSymbol = "QuillonEmbedCapture";
inline constexpr const char* kEmbedModuleName = "quillon-embed.so";
