// JPEG files of every kind a file may hold (the program itself writes only baseline RGB), made
// directly with libjpeg: grey, CMYK with and without the Adobe marker, progressive, arithmetic
// coded, with restart markers, subsampled or not.
#pragma once

#include <string>

struct JpegKind {
    int width = 16;
    int height = 16;
    int components = 3; // 1 grey, 3 colour, 4 CMYK
    bool progressive = false;
    bool arithmetic = false;
    bool adobeCmyk = true;   // YCCK with the Adobe marker, else plain CMYK without it
    bool fullChroma = false; // 4:4:4 instead of libjpeg's 4:2:0
    int restartRows = 0;     // restart marker every this many MCU rows
    int quality = 75;
};

// A picture of four flat quadrants (or their grey/ink equivalents) in the given kind.
std::string JpegOf(const JpegKind& kind);
