#include "Json.h"

#include "CodePage.h"

#include <array>
#include <cstring>

namespace {

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
            const size_t n = platform::Utf8SequenceLength(text, i);
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

void AppendJsonPath(std::string& out, std::string_view key, std::string_view path) {
    AppendJsonString(out, key);
    out += ": ";
    AppendJsonString(out, path);
    if (platform::IsWellFormedUtf8(path)) return;
    out += ", ";
    AppendJsonString(out, std::string(key) + "_bytes");
    out += ": \"";
    AppendHex(out, path);
    out += '"';
}
