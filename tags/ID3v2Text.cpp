#include "ID3v2Text.h"

#include "CodePage.h"

namespace id3text {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

constexpr char32_t kReplacement = 0xFFFD;

// The code point at `i` of UTF-8 text, moving `i` past it; a malformed sequence gives U+FFFD and
// moves one byte.
char32_t NextUtf8(std::string_view s, size_t& i) {
    const unsigned char c = s[i];
    if (c < 0x80) {
        ++i;
        return c;
    }
    const int extra = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || i + extra >= s.size()) {
        ++i;
        return kReplacement;
    }
    char32_t cp = c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        const unsigned char t = s[i + k];
        if ((t & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = (cp << 6) | (t & 0x3F);
    }
    static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += 1 + extra;
    return cp;
}

std::string DecodeUtf16(std::string_view s, bool bigEndian) {
    std::string out;
    size_t i = 0;
    if (s.size() >= 2) {
        const unsigned char a = s[0], b = s[1];
        if (a == 0xFF && b == 0xFE)
            bigEndian = false, i = 2;
        else if (a == 0xFE && b == 0xFF)
            bigEndian = true, i = 2;
    }
    auto unit = [&](size_t at) -> char32_t {
        const unsigned char a = s[at], b = s[at + 1];
        return bigEndian ? (a << 8) | b : (b << 8) | a;
    };
    for (; i + 1 < s.size(); i += 2) {
        char32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < s.size()) {
            const char32_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        AppendUtf8(out, u >= 0xD800 && u <= 0xDFFF ? kReplacement : u);
    }
    if (i < s.size()) AppendUtf8(out, kReplacement); // an odd byte left over
    return out;
}

} // namespace

size_t StringEnd(int encoding, std::string_view bytes, size_t from, size_t& next) {
    if (encoding == 1 || encoding == 2) {
        for (size_t i = from; i + 1 < bytes.size(); i += 2)
            if (bytes[i] == 0 && bytes[i + 1] == 0) {
                next = i + 2;
                return i;
            }
    } else {
        const size_t nul = bytes.find('\0', from);
        if (nul != std::string_view::npos) {
            next = nul + 1;
            return nul;
        }
    }
    next = bytes.size();
    return bytes.size();
}

std::string Decode(int encoding, std::string_view bytes, platform::TCodePage cp) {
    switch (encoding) {
    case 1:
        return DecodeUtf16(bytes, false);
    case 2:
        return DecodeUtf16(bytes, true);
    case 3: {
        std::string out;
        for (size_t i = 0; i < bytes.size();)
            AppendUtf8(out, NextUtf8(bytes, i));
        return out;
    }
    default:
        return platform::LegacyToUtf8(cp, bytes);
    }
}

std::string DecodeAll(int encoding, std::string_view bytes, platform::TCodePage cp) {
    std::string out;
    size_t at = 0;
    bool blank = true;
    while (at < bytes.size()) {
        size_t next;
        const size_t end = StringEnd(encoding, bytes, at, next);
        if (!out.empty() || at > 0) out += '/';
        const size_t length = out.size();
        out += Decode(encoding, bytes.substr(at, end - at), cp);
        blank = blank && out.size() == length;
        at = next;
    }
    // Only separators hold no text: shown empty, as the same bytes in the single-byte encoding are.
    return blank ? std::string() : out;
}

std::string Utf8ToUtf16(std::string_view utf8) {
    std::string out = "\xFF\xFE";
    auto unit = [&](char32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (size_t i = 0; i < utf8.size();) {
        if (utf8[i] == '\0') {
            out.append("\0\0\xFF\xFE", 4);
            ++i;
            continue;
        }
        const char32_t c = NextUtf8(utf8, i);
        if (c >= 0x10000) {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            unit(c);
        }
    }
    // A trailing separator ends the last string: no byte-order mark of an empty string after it.
    if (!utf8.empty() && utf8.back() == '\0') out.resize(out.size() - 2);
    return out;
}

std::string Deunsynchronise(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        out += bytes[i];
        if (static_cast<unsigned char>(bytes[i]) == 0xFF && i + 1 < bytes.size() &&
            bytes[i + 1] == 0)
            ++i;
    }
    return out;
}

} // namespace id3text
