#include "uJpeg.h"

#include "PlatformFile.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

// libjpeg reports a failure by calling error_exit, which must not return. Throwing a C++
// exception through libjpeg's C frames is undefined, so error_exit longjmps back to a setjmp in
// one of the small "guarded" functions below; they hold nothing that needs a destructor, and
// their callers turn the failure into an exception once libjpeg's frames are gone.

namespace {

// A hostile progressive stream can hold thousands of tiny scans, each a pass over the whole
// picture; real pictures have a dozen or so.
constexpr int kMaxScans = 1000;
// libjpeg's own working memory (the whole-picture coefficient buffer of a progressive stream
// of kMaxPicturePixels needs up to 384 MB).
constexpr long kMaxCodecMemory = 512L * 1024 * 1024;
constexpr size_t kFileBlock = 64 * 1024;

enum class TFailure { None, Codec, TooManyScans, ReadError };

struct TJpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    TFailure failure;
    int code;
};

[[noreturn]] void Fail(j_common_ptr cinfo, TFailure failure) {
    auto* err = reinterpret_cast<TJpegError*>(cinfo->err);
    err->failure = failure;
    err->code = cinfo->err->msg_code;
    std::longjmp(err->jump, 1);
}

void ErrorExit(j_common_ptr cinfo) {
    Fail(cinfo, TFailure::Codec);
}

// Warnings are ignored, except the end of the data before the end of the picture, whether the
// file ends or a marker cuts the scan short: libjpeg would fill the rest with grey, and a
// damaged file would be embedded as if it were whole (a few hostile bytes declaring tens of
// megapixels would also cost seconds of filling).
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level < 0 &&
        (cinfo->err->msg_code == JWRN_JPEG_EOF || cinfo->err->msg_code == JWRN_HIT_MARKER))
        Fail(cinfo, TFailure::Codec);
}

void OutputMessage(j_common_ptr) {} // nothing is printed

void ProgressMonitor(j_common_ptr cinfo) {
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
        Fail(cinfo, TFailure::TooManyScans);
}

void InitError(TJpegError& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.emit_message = EmitMessage;
    err.pub.output_message = OutputMessage;
    err.failure = TFailure::None;
    err.code = 0;
}

// Source manager that reads a file in blocks, so that a large file is never held whole.
struct TFileSource {
    jpeg_source_mgr pub;
    platform::TFileStream* stream;
    JOCTET* buffer;
    std::exception_ptr* readError; // owned by the caller
};

void InitFileSource(j_decompress_ptr) {}

boolean FillFileBuffer(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<TFileSource*>(cinfo->src);
    size_t n = 0;
    bool failed = false;
    try {
        n = src->stream->ReadSome(src->buffer, kFileBlock);
    } catch (...) {
        *src->readError = std::current_exception();
        failed = true;
    }
    if (failed) Fail(reinterpret_cast<j_common_ptr>(cinfo), TFailure::ReadError);
    if (n == 0) {
        // As libjpeg's own sources do: warn (which fails, see EmitMessage) and insert an EOI.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        n = 2;
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = n;
    return TRUE;
}

void SkipFileData(j_decompress_ptr cinfo, long count) {
    auto* src = reinterpret_cast<TFileSource*>(cinfo->src);
    while (count > static_cast<long>(src->pub.bytes_in_buffer)) {
        count -= static_cast<long>(src->pub.bytes_in_buffer);
        FillFileBuffer(cinfo);
    }
    if (count > 0) {
        src->pub.next_input_byte += count;
        src->pub.bytes_in_buffer -= static_cast<size_t>(count);
    }
}

void TermFileSource(j_decompress_ptr) {}

bool GuardedReadHeader(j_decompress_ptr cinfo, TJpegError* err) {
    if (setjmp(err->jump)) return false;
    jpeg_read_header(cinfo, TRUE);
    return true;
}

bool GuardedStart(j_decompress_ptr cinfo, TJpegError* err) {
    if (setjmp(err->jump)) return false;
    jpeg_start_decompress(cinfo);
    return true;
}

// One output row in the colour space libjpeg decoded to by default, turned into RGB.
void RowToRgb(j_decompress_ptr cinfo, const JSAMPLE* in, uint8_t* out) {
    const JDIMENSION width = cinfo->output_width;
    const int components = cinfo->output_components;
    if (components == 4) {
        // CMYK or YCCK decoded to CMYK. Adobe writes the inks inverted (0 = full ink).
        const bool inverted = cinfo->saw_Adobe_marker;
        for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
            unsigned c = in[0], m = in[1], y = in[2], k = in[3];
            if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
            out[0] = static_cast<uint8_t>(c * k / 255);
            out[1] = static_cast<uint8_t>(m * k / 255);
            out[2] = static_cast<uint8_t>(y * k / 255);
        }
    } else {
        // Grey, or an unusual component count: show the first component as grey.
        for (JDIMENSION x = 0; x < width; ++x, in += components, out += 3)
            out[0] = out[1] = out[2] = in[0];
    }
}

bool GuardedReadPixels(j_decompress_ptr cinfo, TJpegError* err, uint8_t* pixels) {
    if (setjmp(err->jump)) return false;
    const size_t stride = static_cast<size_t>(cinfo->output_width) * 3;
    JSAMPARRAY row = nullptr;
    if (cinfo->output_components != 3)
        row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                          cinfo->output_width * cinfo->output_components, 1);
    while (cinfo->output_scanline < cinfo->output_height) {
        uint8_t* dest = pixels + cinfo->output_scanline * stride;
        if (row) {
            jpeg_read_scanlines(cinfo, row, 1);
            RowToRgb(cinfo, row[0], dest);
        } else {
            JSAMPROW direct = dest;
            jpeg_read_scanlines(cinfo, &direct, 1);
        }
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

[[noreturn]] void RaiseFailure(const TJpegError& err, const std::exception_ptr& readError) {
    switch (err.failure) {
    case TFailure::ReadError:
        std::rethrow_exception(readError);
    case TFailure::TooManyScans:
        throw EPictureError("JPEG error: more than " + std::to_string(kMaxScans) + " scans");
    default: {
        char text[64];
        std::snprintf(text, sizeof text, "JPEG error #%d", err.code);
        throw EPictureError(text);
    }
    }
}

// Owns a decompressor for the length of one decoding, whatever way it ends.
struct TDecompressor {
    jpeg_decompress_struct cinfo{};
    TJpegError err{};
    jpeg_progress_mgr progress{};
    std::exception_ptr readError;

    TDecompressor() {
        InitError(err);
        cinfo.err = &err.pub;
        jpeg_create_decompress(&cinfo);
        cinfo.mem->max_memory_to_use = kMaxCodecMemory;
        progress.progress_monitor = ProgressMonitor;
        cinfo.progress = &progress;
    }
    ~TDecompressor() { jpeg_destroy_decompress(&cinfo); }
    TDecompressor(const TDecompressor&) = delete;
    TDecompressor& operator=(const TDecompressor&) = delete;

    TRgbPicture Decode() {
        if (!GuardedReadHeader(&cinfo, &err)) RaiseFailure(err, readError);
        const int64_t width = cinfo.image_width, height = cinfo.image_height;
        if (width * height > kMaxPicturePixels)
            throw EPictureError(PictureTooLargeText(width, height));
        if (!GuardedStart(&cinfo, &err)) RaiseFailure(err, readError);
        TRgbPicture picture;
        picture.Rgb.resize(static_cast<size_t>(cinfo.output_width) * cinfo.output_height * 3);
        if (!GuardedReadPixels(&cinfo, &err, picture.Rgb.data())) RaiseFailure(err, readError);
        picture.Width = static_cast<int>(cinfo.output_width);
        picture.Height = static_cast<int>(cinfo.output_height);
        return picture;
    }
};

// Destination manager that collects the compressed bytes in a growing malloc'ed block, which the
// caller frees however the compression ends.
struct TMemoryDest {
    jpeg_destination_mgr pub;
    uint8_t* data;
    size_t capacity;
};

void InitMemoryDest(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<TMemoryDest*>(cinfo->dest);
    dest->capacity = 64 * 1024;
    dest->data = static_cast<uint8_t*>(std::malloc(dest->capacity));
    if (!dest->data) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    dest->pub.next_output_byte = dest->data;
    dest->pub.free_in_buffer = dest->capacity;
}

boolean EmptyMemoryDest(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<TMemoryDest*>(cinfo->dest);
    auto* grown = static_cast<uint8_t*>(std::realloc(dest->data, dest->capacity * 2));
    if (!grown) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
    dest->data = grown;
    dest->pub.next_output_byte = grown + dest->capacity;
    dest->pub.free_in_buffer = dest->capacity;
    dest->capacity *= 2;
    return TRUE;
}

void TermMemoryDest(j_compress_ptr) {}

bool GuardedCompress(j_compress_ptr cinfo, TJpegError* err, const TRgbPicture* picture,
                     int quality) {
    if (setjmp(err->jump)) return false;
    cinfo->image_width = static_cast<JDIMENSION>(picture->Width);
    cinfo->image_height = static_cast<JDIMENSION>(picture->Height);
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    const size_t stride = static_cast<size_t>(picture->Width) * 3;
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(picture->Rgb.data() + cinfo->next_scanline * stride);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

} // namespace

std::string PictureTooLargeText(int64_t width, int64_t height) {
    return "Picture too large: " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels (at most " + std::to_string(kMaxPicturePixels / 1000000) + " megapixels)";
}

TRgbPicture DecodeJpeg(const void* data, size_t size) {
    if (size == 0) return {};
    TDecompressor d;
    jpeg_mem_src(&d.cinfo, static_cast<const unsigned char*>(data),
                 static_cast<unsigned long>(size));
    return d.Decode();
}

TRgbPicture DecodeJpegFile(const std::string& fileName) {
    platform::TFileStream stream(fileName, platform::TOpenMode::Read,
                                 platform::TShareMode::DenyNone);
    if (stream.Size() == 0) return {};
    TDecompressor d;
    TFileSource source{};
    source.pub.init_source = InitFileSource;
    source.pub.fill_input_buffer = FillFileBuffer;
    source.pub.skip_input_data = SkipFileData;
    source.pub.resync_to_restart = jpeg_resync_to_restart;
    source.pub.term_source = TermFileSource;
    source.stream = &stream;
    source.readError = &d.readError;
    source.buffer = static_cast<JOCTET*>((*d.cinfo.mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(&d.cinfo), JPOOL_PERMANENT, kFileBlock));
    d.cinfo.src = &source.pub;
    return d.Decode();
}

std::string EncodeJpeg(const TRgbPicture& picture, int quality) {
    if (picture.Empty() ||
        picture.Rgb.size() != static_cast<size_t>(picture.Width) * picture.Height * 3)
        throw EPictureError("JPEG error: no picture to encode");
    jpeg_compress_struct cinfo{};
    TJpegError err{};
    InitError(err);
    cinfo.err = &err.pub;
    jpeg_create_compress(&cinfo);
    TMemoryDest dest{};
    dest.pub.init_destination = InitMemoryDest;
    dest.pub.empty_output_buffer = EmptyMemoryDest;
    dest.pub.term_destination = TermMemoryDest;
    cinfo.dest = &dest.pub;
    const bool ok = GuardedCompress(&cinfo, &err, &picture, quality);
    std::string jpeg;
    if (ok)
        jpeg.assign(reinterpret_cast<const char*>(dest.data),
                    dest.capacity - dest.pub.free_in_buffer);
    jpeg_destroy_compress(&cinfo);
    std::free(dest.data);
    if (!ok) RaiseFailure(err, nullptr);
    return jpeg;
}
