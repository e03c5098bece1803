// The text encodings of ID3v2 frames: 0 the single-byte encoding (in practice whatever legacy code
// page the tagging machine used: the file's code page), 1 UTF-16 with a byte-order mark, 2 UTF-16
// big-endian, 3 UTF-8. Frames are decoded here for display.
#pragma once

#include "CodePage.h"

#include <string>
#include <string_view>

namespace id3text {

// The end of the string that starts at `from`: its terminator (one NUL, or two at an even
// distance for UTF-16) or the end of `bytes`. `next` is set to the offset behind the terminator.
size_t StringEnd(int encoding, std::string_view bytes, size_t from, size_t& next);

// One string (without its terminator) as UTF-8. What cannot be decoded becomes U+FFFD.
// Encoding 0 is read in `cp`.
std::string Decode(int encoding, std::string_view bytes,
                   platform::TCodePage cp = platform::TCodePage::Gbk);

// Every string of a region of terminated strings, as UTF-8, joined by "/" (the separator version
// 2.3 uses for several values); a terminator at the very end adds nothing, and strings that are all
// empty give an empty text.
std::string DecodeAll(int encoding, std::string_view bytes,
                      platform::TCodePage cp = platform::TCodePage::Gbk);

// A region of UTF-8 strings separated by NUL bytes as UTF-16: each string little-endian with its
// byte-order mark, the separators as two NUL bytes.
std::string Utf8ToUtf16(std::string_view utf8);

// Undoes unsynchronisation: every 0xFF 0x00 becomes 0xFF.
std::string Deunsynchronise(std::string_view bytes);

} // namespace id3text
