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

} // namespace

Id3v2Store ReadByRules(const std::string& f) {
    Id3v2Store s;
    if (f.size() < 10) return s;
    s.Exists = UpToNul(f, 0, 3) == "ID3";
    if (!s.Exists) return s;
    s.TagSize = static_cast<int32_t>(((Byte(f, 6) & 0x7F) << 21) | ((Byte(f, 7) & 0x7F) << 14) |
                                     ((Byte(f, 8) & 0x7F) << 7) | (Byte(f, 9) & 0x7F));
    size_t pos = 10;
    while (static_cast<int64_t>(s.TagSize) > static_cast<int64_t>(pos)) {
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
        std::string payload = f.substr(pos + 10, size);
        pos += 10 + size;
        if (id != "APIC" && id != "TPIC") payload = WithoutNuls(payload);
        if (id.empty()) continue;
        int k = -1;
        for (size_t i = 0; i < s.Ids.size() && k < 0; ++i)
            if (platform::SameText(s.Ids[i], id)) k = static_cast<int>(i);
        if (k < 0) {
            if (id == "COMM" || id == "SYLT" || id == "USLT")
                payload.erase(0, std::min<size_t>(3, payload.size()));
            s.Ids.push_back(id);
            s.Payloads.push_back(payload);
        } else if (id == "APIC") {
            s.Ids.push_back(id);
            s.Payloads.push_back(payload);
        } else {
            s.Payloads[k] += payload; // the pieces of a long text join again
        }
    }
    return s;
}
