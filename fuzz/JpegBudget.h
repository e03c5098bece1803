// Pictures between the fuzz budget and the decoder's own limit are valid work for the decoder
// (tens of megapixels take seconds, more under the sanitizers) and would only slow the search
// down. Their headers are read here, with libjpeg alone, to leave them out.
#pragma once

#include "uJpeg.h"

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

inline constexpr int64_t kFuzzPixelBudget = 1 << 18;

namespace fuzzjpeg {
struct TError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};
inline void Exit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<TError*>(cinfo->err)->jump, 1);
}
inline void Quiet(j_common_ptr, int) {}

inline int64_t DeclaredPixels(const uint8_t* data, size_t size, jpeg_decompress_struct& cinfo,
                              TError& err) {
    if (setjmp(err.jump)) return -1;
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    return static_cast<int64_t>(cinfo.image_width) * cinfo.image_height;
}
} // namespace fuzzjpeg

// False when the data declares more pixels than the budget but no more than the decoder takes.
inline bool WorthDecoding(const uint8_t* data, size_t size) {
    if (size == 0) return true;
    jpeg_decompress_struct cinfo{};
    fuzzjpeg::TError err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = fuzzjpeg::Exit;
    err.pub.emit_message = fuzzjpeg::Quiet;
    jpeg_create_decompress(&cinfo);
    const int64_t pixels = fuzzjpeg::DeclaredPixels(data, size, cinfo, err);
    jpeg_destroy_decompress(&cinfo);
    return pixels <= kFuzzPixelBudget || pixels > kMaxPicturePixels;
}
