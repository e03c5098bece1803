#include "Id3v2Model.h"

#include "CodePage.h"

#include <algorithm>

namespace {

std::string UpToNul(const std::string& bytes, size_t at, size_t count) {
    std::string out;
    for (size_t i = at; i < at + count && bytes[i] != '\0'; ++i)
        out += bytes[i];
    return out;
}

uint32_t Byte(const std::string& b, size_t at) {
    return static_cast<unsigned char>(b[at]);
}

std::string WithoutNuls(const std::string& s) {
    std::string out;
    for (char c : s)
        if (c != '\0') out += c;
    return out;
}

bool IsOwnPiece(const std::string& data) {
    return !data.empty() && data[0] == '\0' && data.find('\0', 1) == std::string::npos;
}

// Whether the writer gives this frame back from the payload read.
bool IsOwnForm(const std::string& id, const std::string& data, const std::string& payload) {
    if (data.empty() || data[0] != '\0') return false;
    const bool comment = id == "COMM" || id == "SYLT" || id == "USLT";
    if (id == "APIC" || id == "TPIC") return true;
    // An empty text; frames that are not text (a count of 0) are data.
    if (payload.empty())
        return comment
                   ? data.size() <= 5
                   : (id[0] == 'T' && id != "TPIC") || id[0] == 'W' || id == "COMM" || id == "USLT";
    if (data.size() > 1000) return false;
    if (comment) return data == std::string("\0chi\0", 5) + payload;
    return data.substr(1) == payload;
}

// A piece the writer cut: 999 bytes, or 998 whole characters of code page 936 before one that
// did not fit (then `needsLead`).
bool FullPiece(const std::string& piece, bool& needsLead) {
    needsLead = false;
    if (piece.size() == 999) return true;
    if (piece.size() != 998) return false;
    size_t at = 0;
    while (at < piece.size())
        at += Byte(piece, at) >= 0x81 && Byte(piece, at) <= 0xFE ? 2 : 1;
    needsLead = at == piece.size();
    return needsLead;
}

} // namespace

Id3v2Store ReadByRules(const std::string& f) {
    Id3v2Store s;
    if (f.size() < 10) return s;
    s.Exists = UpToNul(f, 0, 3) == "ID3";
    if (!s.Exists) return s;
    std::vector<bool> own; // per entry: made from a frame in the writer's own form
    s.TagSize = static_cast<int32_t>(((Byte(f, 6) & 0x7F) << 21) | ((Byte(f, 7) & 0x7F) << 14) |
                                     ((Byte(f, 8) & 0x7F) << 7) | (Byte(f, 9) & 0x7F));
    const uint32_t version = Byte(f, 3);
    if (s.TagSize > 10 && (version == 2 || version == 4 || (version == 3 && (Byte(f, 5) & 0xC0)))) {
        s.Modelled = false;
        return s;
    }
    size_t pos = 10;
    int joinable = -1;      // the entry whose last piece was full, when it was the frame before
    bool needsLead = false; // a piece of 998 bytes: the next must begin a double-byte character
    while (static_cast<int64_t>(s.TagSize) > static_cast<int64_t>(pos)) {
        // Zero bytes shorter than a frame header before the tag's end are its last padding.
        const size_t left = static_cast<size_t>(s.TagSize) - pos;
        if (left < 10 && f.size() >= pos + left && f.find_first_not_of('\0', pos) >= pos + left)
            break;
        if (f.size() - pos < 10) {
            s.Loaded = false;
            break;
        }
        // Plain big-endian, whatever the version byte says.
        const uint32_t size = Byte(f, pos + 4) << 24 | Byte(f, pos + 5) << 16 |
                              Byte(f, pos + 6) << 8 | Byte(f, pos + 7);
        if (size > f.size() - pos - 10) {
            s.Loaded = false;
            break;
        }
        const std::string id = UpToNul(f, pos, 4);
        const bool flags = Byte(f, pos + 8) || Byte(f, pos + 9);
        const std::string data = f.substr(pos + 10, size);
        std::string payload = data;
        pos += 10 + size;
        if (id != "APIC" && id != "TPIC") payload = WithoutNuls(payload);
        const int after = joinable;
        joinable = -1;
        if (id.empty()) continue;
        int k = -1;
        for (size_t i = 0; i < s.Ids.size() && k < 0; ++i)
            if (platform::SameText(s.Ids[i], id)) k = static_cast<int>(i);
        const bool packed = Byte(f, pos - size - 1) & 0xE0; // compressed, encrypted, grouped
        if (k >= 0 && id == "TPIC" && !packed) {
            s.Payloads[k] += payload;
        } else if (after >= 0 && platform::SameText(s.Ids[after], id) && id != "APIC" &&
                   IsOwnPiece(data) &&
                   (!needsLead ||
                    (data.size() > 1 && Byte(data, 1) >= 0x81 && Byte(data, 1) <= 0xFE))) {
            s.Payloads[after] += payload; // the pieces of a long text join again
            joinable = FullPiece(data.substr(1), needsLead) ? after : -1;
        } else {
            if (packed) { // kept as it is
            } else if (id == "COMM" || id == "USLT") {
                payload = WithoutNuls(data.substr(std::min<size_t>(4, data.size())));
            } else if (id == "SYLT") {
                payload.erase(0, std::min<size_t>(3, payload.size()));
            }
            own.push_back(!packed && !flags && IsOwnForm(id, data, payload));
            s.Ids.push_back(id);
            s.Payloads.push_back(payload);
            if (own.back() && id != "APIC" && id != "TPIC" && FullPiece(data.substr(1), needsLead))
                joinable = static_cast<int>(s.Ids.size()) - 1;
        }
    }
    return s;
}
