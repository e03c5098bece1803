#include "Json.h"

#include "CodePage.h"

#include <cstdio>

namespace {

// Replaces ill-formed UTF-8 sequences byte by byte with U+FFFD.
std::string SanitiseUtf8(std::string_view text) {
    if (platform::IsWellFormedUtf8(text)) return std::string(text);
    std::string out;
    for (size_t i = 0; i < text.size();) {
        size_t n = 1;
        while (n <= 4 && i + n <= text.size() && !platform::IsWellFormedUtf8(text.substr(i, n)))
            ++n;
        if (n <= 4 && i + n <= text.size()) {
            out.append(text.substr(i, n));
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

} // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : SanitiseUtf8(text)) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
    return out;
}

std::string HexBytes(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}
