#include "Json.h"

#include <array>
#include <cstring>

namespace {

// Length of the well-formed UTF-8 sequence at text[i], or 0.
size_t SequenceLength(std::string_view text, size_t i) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char c = b(0);
    const size_t left = text.size() - i;
    auto cont = [&](size_t k) { return k < left && (b(k) & 0xC0) == 0x80; };
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2)) return 0;
        if (c == 0xE0 && b(1) < 0xA0) return 0; // overlong
        if (c == 0xED && b(1) > 0x9F) return 0; // surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) return 0;
        if (c == 0xF0 && b(1) < 0x90) return 0;
        if (c == 0xF4 && b(1) > 0x8F) return 0;
        return 4;
    }
    return 0;
}

// Bytes that go into a JSON string as they are: printable ASCII other than " and \.
constexpr std::array<bool, 256> kPlain = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x80; ++c)
        plain[c] = c != '"' && c != '\\';
    return plain;
}();

// The two hex digits of every byte value.
constexpr std::array<char, 512> kHexPairs = [] {
    std::array<char, 512> pairs{};
    const char digits[] = "0123456789abcdef";
    for (int b = 0; b < 256; ++b) {
        pairs[2 * b] = digits[b >> 4];
        pairs[2 * b + 1] = digits[b & 15];
    }
    return pairs;
}();

} // namespace

void AppendJsonString(std::string& out, std::string_view text) {
    out += '"';
    size_t i = 0;
    while (i < text.size()) {
        // Runs of plain bytes go in one piece.
        size_t run = i;
        while (run < text.size() && kPlain[static_cast<unsigned char>(text[run])])
            ++run;
        out.append(text.data() + i, run - i);
        i = run;
        if (i == text.size()) break;
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const size_t n = SequenceLength(text, i);
            if (n == 0) {
                out += "\xEF\xBF\xBD"; // U+FFFD for a byte that starts no well-formed sequence
                ++i;
            } else {
                out.append(text.data() + i, n);
                i += n;
            }
            continue;
        }
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default: {
            const char escape[] = {'\\', 'u', '0', '0', kHexPairs[2 * c], kHexPairs[2 * c + 1]};
            out.append(escape, sizeof escape);
        }
        }
        ++i;
    }
    out += '"';
}

std::string JsonString(std::string_view text) {
    std::string out;
    AppendJsonString(out, text);
    return out;
}

void AppendHex(std::string& out, std::string_view bytes) {
    const size_t at = out.size();
    out.resize(at + 2 * bytes.size());
    char* p = out.data() + at;
    for (unsigned char c : bytes) {
        std::memcpy(p, &kHexPairs[2 * c], 2);
        p += 2;
    }
}

std::string HexBytes(std::string_view bytes) {
    std::string out;
    AppendHex(out, bytes);
    return out;
}
