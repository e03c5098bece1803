// The ID3v2 reader against a plain model of its rules: the same bytes must give the same frame
// store, whatever the sizes claim, and the reader must stay within the file. Then the writer:
// saving the store and reading the file again gives the store back (less what the writer drops
// by design) and keeps every byte behind the old tag.
#include "FuzzFile.h"

#include "CodePage.h"
#include "ID3v2Tags.h"
#include "Id3v2Model.h"
#include "utPublic.h"

#include <fstream>
#include <sstream>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TFuzzFile file("song.mp3");
    file.Write(data, size);
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    TID3v2Tag tag;
    tag.ReadFromFile(file.Path());
    const Id3v2Store want = ReadByRules(bytes);

    FUZZ_CHECK(tag.FileName == file.Path());
    FUZZ_CHECK(tag.Loaded == tag.ReadError.empty());
    FUZZ_CHECK(tag.Exists == want.Exists);
    FUZZ_CHECK(tag.TagSize == want.TagSize);
    if (want.Modelled) {
        FUZZ_CHECK(tag.Loaded == want.Loaded);
        FUZZ_CHECK(tag.FrameIds == want.Ids);
        FUZZ_CHECK(tag.FramePayloads == want.Payloads);
    }

    // What the store holds can never be more than the file gave and the inflate limit allows.
    size_t stored = 0;
    for (size_t i = 0; i < tag.FrameIds.size(); ++i) {
        const std::string& id = tag.FrameIds[i];
        FUZZ_CHECK(!id.empty() && id.size() <= 4 && id.find('\0') == std::string::npos);
        // A "tpic" entry takes a later TPIC frame's payload unstripped, as the rules say.
        if (!platform::SameText(id, "APIC") && !platform::SameText(id, "TPIC"))
            FUZZ_CHECK(tag.FramePayloads[i].find('\0') == std::string::npos);
        FUZZ_CHECK(tag.IndexOfId(id) <= static_cast<int>(i));
        stored += tag.FramePayloads[i].size();
    }
    FUZZ_CHECK(stored <= size + kMaxInflated + 64 * tag.FrameIds.size());

    // A second read of the same file into the same object replaces everything.
    const auto ids = tag.FrameIds;
    const auto payloads = tag.FramePayloads;
    tag.ReadFromFile(file.Path());
    FUZZ_CHECK(tag.FrameIds == ids && tag.FramePayloads == payloads);
    if (!tag.Loaded) return 0;

    static bool quiet = (SetMessageSink([](const std::string&) {}), true);
    (void)quiet;
    // Nothing was edited: every entry goes back from its bytes as read and comes back the same,
    // less the empty texts the add command makes, which a save drops. An entry read from another
    // program's frame is compared by its text (UTF-8 comes back as UTF-16, or all ASCII in the
    // single-byte encoding).
    TStringList wantIds, wantPayloads, texts;
    std::vector<bool> byOrigin; // per wanted entry: compared by its text, not its payload
    bool writable = true;
    for (size_t i = 0; i < ids.size(); ++i) {
        const TFrameOrigin* stored = tag.StoredFrame(i);
        FUZZ_CHECK(stored && !tag.Edited(i));
        writable = writable && !tag.RawFrames(i).empty();
        if (stored->OwnForm && payloads[i].empty() && stored->Frame.size() == 13 &&
            stored->Frame.compare(10, 3, std::string(3, '\0')) == 0)
            continue;
        const TFrameOrigin* origin = tag.OriginOf(i);
        wantIds.push_back(ids[i]);
        // A version 2.4 picture of an ASCII description in UTF-8 goes back in the single-byte
        // encoding: its payload as written.
        wantPayloads.push_back(origin                 ? std::string()
                               : stored->Data.empty() ? payloads[i]
                                                      : stored->Frame.substr(10));
        byOrigin.push_back(origin != nullptr);
        // A frame without text (binary, compressed) comes back as the same frame.
        if (origin) texts.push_back(origin->HasText ? tag.DisplayText(i) : origin->Frame);
    }
    const int64_t oldEnd = tag.TagSize, oldReadEnd = tag.TagEnd;
    const bool hadTag = tag.Exists;
    FUZZ_CHECK(oldReadEnd >= oldEnd);
    tag.SaveToFile();
    if (!writable) { // a version 2.2 frame without a name in 2.3: refused, nothing written
        FUZZ_CHECK(Contents(file.Path()) == bytes);
        return 0;
    }
    ::unlink(BackupFileName(file.Path()).c_str());
    FUZZ_CHECK(tag.Loaded && tag.Exists);
    FUZZ_CHECK(tag.FrameIds == wantIds);
    for (size_t i = 0, t = 0; i < wantIds.size() && i < tag.FrameIds.size(); ++i) {
        const TFrameOrigin* origin = tag.OriginOf(i);
        // A UTF-8 text of ASCII alone goes back in the single-byte encoding: then it may read as
        // a frame of this program's own form, with the same text.
        if (byOrigin[i]) {
            const std::string& text = texts[t++];
            FUZZ_CHECK(origin ? (origin->HasText ? tag.DisplayText(i) : origin->Frame) == text
                              : tag.DisplayText(i) == text);
        } else
            FUZZ_CHECK(tag.FramePayloads[i] == wantPayloads[i]);
    }
    const std::string now = Contents(file.Path());
    FUZZ_CHECK(now.compare(0, 6, "ID3\x03\x00\x00", 6) == 0);
    // Behind the new tag: the old bytes from the old tag's end; a tag that ran past its size
    // field leaves 10 bytes of padding instead of its remains, and a file without a tag gets them
    // in front of all its bytes.
    const std::string tail =
        oldReadEnd > oldEnd || !hadTag
            ? std::string(10, '\0') + (oldReadEnd < static_cast<int64_t>(size)
                                           ? bytes.substr(oldReadEnd)
                                           : std::string())
            : (oldEnd < static_cast<int64_t>(size) ? bytes.substr(oldEnd) : std::string());
    FUZZ_CHECK(now.substr(tag.TagSize) == tail);

    // Every code page reads every store, and the conversion to Unicode leaves an entry for each.
    for (platform::TCodePage cp : platform::kCodePages) {
        JudgeCodePage(tag, nullptr, cp);
        for (size_t i = 0; i < tag.FrameIds.size(); ++i)
            FUZZ_CHECK(platform::IsWellFormedUtf8(tag.DisplayText(i)));
    }
    JudgeCodePage(tag, nullptr);
    FUZZ_CHECK(tag.ConvertToUnicode().size() <= tag.FrameIds.size());
    FUZZ_CHECK(tag.FrameOrigins.size() == tag.FrameIds.size());
    return 0;
}
