// The APEv2 search, reader and strip: whatever the sizes and counts claim, the reader stays in
// the file (a short read is the platform's read error), keeps its lists in step, holds no more
// than the file gave, and the strip removes exactly the region it reported.
#include "FuzzFile.h"

#include "PlatformFile.h"
#include "uAPEv2Tag.h"
#include "utPublic.h"

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

uint32_t Le32(const std::string& b, size_t at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
           uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}

bool ApeAt(const std::string& b, int64_t at) {
    return at >= 0 && at + 32 <= static_cast<int64_t>(b.size()) &&
           b.compare(at, 8, "APETAGEX") == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TFuzzFile file("song.mp3");
    static bool quiet = (SetMessageSink([](const std::string&) {}), true);
    (void)quiet;
    file.Write(data, size);
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    TAPEv2Tag tag;
    bool readFailed = false;
    try {
        tag.ReadFromFile(file.Path());
    } catch (const platform::EPlatformError&) {
        readFailed = true; // a probe or an item past the end of the file
    }
    FUZZ_CHECK(tag.Keys.size() == tag.Values.size());
    size_t held = 0;
    for (size_t i = 0; i < tag.Keys.size(); ++i)
        held += tag.Keys[i].size() + tag.Values[i].size();
    FUZZ_CHECK(held <= size);
    if (!tag.Exists) {
        FUZZ_CHECK(tag.Keys.empty() && tag.Track == "0" && tag.Title.empty());
        return 0;
    }
    FUZZ_CHECK(tag.TagOffset >= 0 && tag.TagOffset < static_cast<int64_t>(size));
    if (readFailed) return 0;

    // A tag found at the end or the start: its footer or header is where the search says.
    const bool atEnd = size >= 32 && bytes.compare(size - 32, 8, "APETAGEX") == 0;
    const bool beforeV1 = size >= 160 && bytes.compare(size - 128, 3, "TAG") == 0 &&
                          bytes.compare(size - 160, 8, "APETAGEX") == 0;
    if (!atEnd && !beforeV1) FUZZ_CHECK(ApeAt(bytes, tag.TagOffset));
    if (tag.TagSize != 0) {
        FUZZ_CHECK(ApeAt(bytes, tag.TagOffset));
        FUZZ_CHECK(static_cast<int64_t>(tag.TagSize) ==
                   static_cast<int64_t>(Le32(bytes, tag.TagOffset + 12)) + 32);
    }

    // The strip writes the bytes before the region and those after it.
    const int64_t offset = tag.TagOffset, end = offset + tag.TagSize;
    std::string expected = bytes.substr(0, offset);
    if (end < static_cast<int64_t>(size)) expected += bytes.substr(end);
    try {
        tag.RemoveFromFile(file.Path());
        FUZZ_CHECK(Contents(file.Path()) == expected);
    } catch (const platform::EPlatformError&) {
        FUZZ_CHECK(Contents(file.Path()) == bytes); // a failed rewrite leaves the file whole
    }
    ::unlink(BackupFileName(file.Path()).c_str());
    return 0;
}
