// The picture module of quillon-tags `embed` (see EmbedModule.h): the panel's load, preview and
// capture without a window.
#include "EmbedModule.h"
#include "TPreview.h"
#include "uJpeg.h"
#include "uPictureFile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

namespace {

void SetError(TEmbedResult* result, const std::string& text) {
    std::snprintf(result->Error, sizeof result->Error, "%s", text.c_str());
}

} // namespace

extern "C" __attribute__((visibility("default"))) int
QuillonEmbedCapture(const TEmbedRequest* request, TEmbedResult* result) {
    std::memset(result, 0, sizeof *result);
    if (request->Version != kEmbedInterfaceVersion) {
        SetError(result, "the picture module does not match quillon-tags");
        return 1;
    }
    try {
        TPreview preview;
        preview.Background = QColor((request->Background >> 16) & 0xFF,
                                    (request->Background >> 8) & 0xFF, request->Background & 0xFF);
        preview.Stretched = request->Fit == 0;
        preview.SelectPicture(request->PicturePath);
        result->PictureWidth = preview.PictureWidth;
        result->PictureHeight = preview.PictureHeight;
        // A missing file or an empty one would embed the bare background.
        if (preview.PictureWidth == 0) {
            SetError(result, std::string("no picture in ") + request->PicturePath);
            return 1;
        }
        const std::string jpeg = EncodeJpeg(RgbOfImage(preview.Capture()), request->Quality);
        result->Jpeg = static_cast<unsigned char*>(std::malloc(jpeg.size()));
        if (!result->Jpeg) throw std::bad_alloc();
        std::memcpy(result->Jpeg, jpeg.data(), jpeg.size());
        result->JpegSize = jpeg.size();
        return 0;
    } catch (const std::exception& e) {
        SetError(result, std::string(request->PicturePath) + ": " + e.what());
        return 1;
    }
}
