// The ID3v2 reader against a plain model of its rules: the same bytes must give the same frame
// store, whatever the sizes claim, and the reader must stay within the file.
#include "FuzzFile.h"

#include "ID3v2Tags.h"
#include "Id3v2Model.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TFuzzFile file("song.mp3");
    file.Write(data, size);
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    TID3v2Tag tag;
    tag.ReadFromFile(file.Path());
    const Id3v2Store want = ReadByRules(bytes);

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
