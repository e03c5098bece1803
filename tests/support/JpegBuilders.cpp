#include "JpegBuilders.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>

namespace {

// Quadrants: red, green, blue, yellow (colour); four grey levels; four ink mixes.
unsigned char Sample(const JpegKind& k, int x, int y, int c) {
    const int q = (x >= k.width / 2 ? 1 : 0) + (y >= k.height / 2 ? 2 : 0);
    static const unsigned char rgb[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
    static const unsigned char grey[4] = {30, 100, 170, 240};
    static const unsigned char ink[4][4] = {
        {0, 255, 255, 0}, {255, 0, 255, 0}, {255, 255, 0, 0}, {0, 0, 255, 0}};
    if (k.components == 1) return grey[q];
    if (k.components == 3) return rgb[q][c];
    return static_cast<unsigned char>(255 - ink[q][c]); // Adobe's inverted inks
}

} // namespace

std::string JpegOf(const JpegKind& k) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(k.width);
    cinfo.image_height = static_cast<JDIMENSION>(k.height);
    cinfo.input_components = k.components;
    cinfo.in_color_space = k.components == 1   ? JCS_GRAYSCALE
                           : k.components == 3 ? JCS_RGB
                                               : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, k.quality, TRUE);
    if (k.components == 4) {
        jpeg_set_colorspace(&cinfo, k.adobeCmyk ? JCS_YCCK : JCS_CMYK);
        cinfo.write_Adobe_marker = k.adobeCmyk ? TRUE : FALSE;
    }
    if (k.fullChroma)
        for (int c = 0; c < cinfo.num_components; ++c)
            cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    if (k.progressive) jpeg_simple_progression(&cinfo);
    cinfo.arith_code = k.arithmetic ? TRUE : FALSE;
    cinfo.restart_in_rows = k.restartRows;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(k.width) * k.components);
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < k.width; ++x)
            for (int c = 0; c < k.components; ++c)
                row[static_cast<size_t>(x) * k.components + c] =
                    Sample(k, x, static_cast<int>(cinfo.next_scanline), c);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string jpeg(reinterpret_cast<char*>(buffer), size);
    std::free(buffer);
    return jpeg;
}
