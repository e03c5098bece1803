// Helpers the reader, the store and the writer of ID3v2 tags share; not part of the engine's
// interface.
#pragma once

#include "ID3v2Tags.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace id3v2 {

// StripNulls of bytes not yet in a string: the runs between NUL bytes are copied whole.
inline void AppendWithoutNulls(TByteString& out, const char* text, size_t size) {
    const char* end = text + size;
    while (text < end) {
        const char* nul = static_cast<const char*>(std::memchr(text, 0, end - text));
        const char* stop = nul ? nul : end;
        out.append(text, stop - text);
        text = nul ? nul + 1 : end;
    }
}

inline uint32_t GetBigEndian32(const unsigned char* b) {
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

// Bytes up to the first NUL among the first `count`.
inline std::string UpToNul(const unsigned char* bytes, size_t count) {
    size_t n = 0;
    while (n < count && bytes[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(bytes), n);
}

inline bool IsCommentOrLyrics(const std::string& id) {
    return id == "COMM" || id == "SYLT" || id == "USLT";
}

inline bool IsAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

inline std::string AsciiUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

} // namespace id3v2
