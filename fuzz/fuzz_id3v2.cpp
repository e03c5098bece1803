// The ID3v2 reader against a plain model of its rules: the same bytes must give the same frame
// store, whatever the sizes claim, and the reader must stay within the file.
#include "FuzzFile.h"

#include "CodePage.h"
#include "ID3v2Tags.h"

#include <string>
#include <vector>

namespace {

struct TStore {
    bool Loaded = true;
    bool Exists = false;
    int32_t TagSize = 0;
    std::vector<std::string> Ids, Payloads;
};

std::string UpToNul(const std::string& bytes, size_t at, size_t count) {
    std::string out;
    for (size_t i = at; i < at + count && bytes[i] != '\0'; ++i)
        out += bytes[i];
    return out;
}

uint32_t Byte(const std::string& b, size_t at) {
    return static_cast<unsigned char>(b[at]);
}

// The reader's rules step by step, on the bytes in memory. A short read ends the loop and leaves
// the store unloaded, with the frames read so far.
TStore Model(const std::string& f) {
    TStore s;
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
        const uint32_t size = Byte(f, pos + 4) << 24 | Byte(f, pos + 5) << 16 |
                              Byte(f, pos + 6) << 8 | Byte(f, pos + 7);
        if (size > f.size() - pos - 10) {
            s.Loaded = false;
            break;
        }
        const std::string id = UpToNul(f, pos, 4);
        std::string payload = f.substr(pos + 10, size);
        pos += 10 + size;
        if (id != "APIC" && id != "TPIC") payload = StripNulls(payload);
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
            s.Payloads[k] += payload;
        }
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TFuzzFile file("song.mp3");
    file.Write(data, size);
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    TID3v2Tag tag;
    tag.ReadFromFile(file.Path());
    const TStore want = Model(bytes);

    FUZZ_CHECK(tag.FileName == file.Path());
    FUZZ_CHECK(tag.Loaded == want.Loaded);
    FUZZ_CHECK(tag.Loaded == tag.ReadError.empty());
    FUZZ_CHECK(tag.Exists == want.Exists);
    FUZZ_CHECK(tag.TagSize == want.TagSize);
    FUZZ_CHECK(tag.FrameIds == want.Ids);
    FUZZ_CHECK(tag.FramePayloads == want.Payloads);

    // What the store holds can never be more than the file gave.
    size_t stored = 0;
    for (size_t i = 0; i < tag.FrameIds.size(); ++i) {
        const std::string& id = tag.FrameIds[i];
        FUZZ_CHECK(!id.empty() && id.size() <= 4 && id.find('\0') == std::string::npos);
        if (id != "APIC" && id != "TPIC")
            FUZZ_CHECK(tag.FramePayloads[i].find('\0') == std::string::npos);
        FUZZ_CHECK(tag.IndexOfId(id) <= static_cast<int>(i));
        stored += tag.FramePayloads[i].size();
    }
    FUZZ_CHECK(stored <= size);

    // A second read of the same file into the same object replaces everything.
    const auto ids = tag.FrameIds;
    const auto payloads = tag.FramePayloads;
    tag.ReadFromFile(file.Path());
    FUZZ_CHECK(tag.FrameIds == ids && tag.FramePayloads == payloads);
    return 0;
}
