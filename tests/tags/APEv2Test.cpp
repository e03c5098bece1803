#include "Builders.h"
#include "ID3v1Tags.h"
#include "PlatformFile.h"
#include "TestFiles.h"
#include "uAPEv2Tag.h"
#include "utPublic.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Items = std::vector<std::pair<Bytes, Bytes>>;

struct Read {
    TempDir dir;
    TAPEv2Tag tag;
    std::string path = dir.File("song.MP3");
    TAPEv2Tag& operator()(const Bytes& bytes) {
        WriteFile(path, bytes);
        tag.ReadFromFile(path);
        return tag;
    }
};

Bytes Trailer() {
    Id3v1Fields f;
    f.title = "v1";
    return Id3v1Block(f);
}

const Items kSong = {{"Title", "Song"}, {"Artist", "Band"}};

} // namespace

TEST(APEv2Locate, TheFourPlacesInOrder) {
    Read read;
    const Bytes audio = MpegFrames(2);
    const Bytes tag = ApeTag(kSong);
    const int32_t tagSize = static_cast<int32_t>(tag.size());

    // The last bytes of the file.
    auto& end = read(audio + tag);
    EXPECT_EQ(LocateAPEv2Tag(read.path), int32_t(audio.size()));
    EXPECT_TRUE(end.Exists);
    EXPECT_EQ(end.TagOffset, int32_t(audio.size()));
    EXPECT_EQ(end.TagSize, tagSize);
    EXPECT_EQ(end.Title, "Song");

    // Directly before an ID3v1 block.
    auto& beforeV1 = read(audio + tag + Trailer());
    EXPECT_EQ(beforeV1.TagOffset, int32_t(audio.size()));
    EXPECT_EQ(beforeV1.Artist, "Band");

    // Right after the ID3v2 tag, at the offset its size value gives.
    const Bytes id3 = Id3TagOurs(Id3Frame("TIT2", Bytes("\0x", 2)));
    auto& afterV2 = read(id3 + tag + audio);
    EXPECT_EQ(afterV2.TagOffset, int32_t(id3.size()));
    EXPECT_EQ(afterV2.Keys, (TStringList{"Title", "Artist"}));
    // The size value is taken as it stands: a standard tag's end is 10 bytes later, not looked at.
    const Bytes standard = Id3TagStandard(Id3Frame("TIT2", Bytes("\0x", 2)));
    EXPECT_FALSE(read(standard + tag + audio).Exists);
    EXPECT_EQ(read.tag.TagOffset, -1);

    // The very start of a file without an ID3v2 tag.
    auto& start = read(tag + audio);
    EXPECT_EQ(start.TagOffset, 0);
    EXPECT_EQ(start.Title, "Song");

    // A tag at the end wins over one at the start.
    Bytes other = ApeTag({{"Title", "Other"}});
    EXPECT_EQ(read(other + audio + tag).Title, "Song");
    EXPECT_EQ(read.tag.TagOffset, int32_t(other.size() + audio.size()));

    // An ID3v1 block hides a tag that is not directly before it.
    EXPECT_FALSE(read(audio + tag + Bytes(5, 'x') + Trailer()).Exists);

    // None at all.
    auto& none = read(audio + Trailer());
    EXPECT_FALSE(none.Exists);
    EXPECT_EQ(none.TagOffset, -1);
    EXPECT_EQ(none.TagSize, 0);
    EXPECT_EQ(none.Track, "0");
    EXPECT_TRUE(none.Keys.empty());
}

TEST(APEv2Locate, FooterSizesThatPointBeforeTheStart) {
    Read read;
    const Bytes start = ApeTag({{"Title", "Start"}});
    // A footer claiming 1 000 000 bytes in a small file: a negative position, and the tag at the
    // start is not looked for.
    Bytes liar = ApeHeaderOrFooter(1000000, 1, false);
    auto& t = read(start + MpegFrames(20) + liar);
    EXPECT_LT(t.TagOffset, -1);
    EXPECT_FALSE(t.Exists);
    EXPECT_TRUE(t.Keys.empty());
    EXPECT_EQ(t.Title, "");

    // The largest field does not wrap round into the file, with or without an ID3v1 block.
    for (uint32_t field : {0xFFFFFFFFu, 0xFFFFFFE0u, 0x80000000u, 0x7FFFFFFFu}) {
        EXPECT_LT(read(start + MpegFrames(2) + ApeHeaderOrFooter(field, 0, false)).TagOffset, -1)
            << field;
        EXPECT_LT(read(MpegFrames(2) + ApeHeaderOrFooter(field, 0, false) + Trailer()).TagOffset,
                  -1)
            << field;
    }

    // A footer whose size lands exactly on -1 counts as nothing found, so the start is probed.
    const Bytes audio = MpegFrames(1);
    const uint32_t field = static_cast<uint32_t>(start.size() + audio.size() + 32 + 1 - 32);
    EXPECT_EQ(read(start + audio + ApeHeaderOrFooter(field, 0, false)).TagOffset, 0);
    EXPECT_EQ(read.tag.Title, "Start");
}

TEST(APEv2Locate, ProbesThatFindTooFewBytes) {
    Read read;
    // Shorter than 32 bytes: every search ends in the stream-read error.
    for (size_t n : {0, 10, 31}) {
        WriteFile(read.path, Bytes(n, 'a'));
        EXPECT_THROW(LocateAPEv2Tag(read.path), platform::EPlatformError) << n;
    }
    WriteFile(read.path, Bytes(32, 'a'));
    EXPECT_EQ(LocateAPEv2Tag(read.path), -1);

    // An ID3v1 block in a file too short for a footer in front of it: that probe finds nothing
    // and the start is looked at.
    WriteFile(read.path, ApeHeaderOrFooter(32, 0, true).substr(0, 20) + Trailer());
    EXPECT_EQ(LocateAPEv2Tag(read.path), 0);

    // An ID3v2 size value that points past the end of the file.
    WriteFile(read.path, Id3Header(5000) + MpegFrames(1));
    EXPECT_THROW(LocateAPEv2Tag(read.path), platform::EPlatformError);
    // A few bytes of "ID3" and nothing more: the size counts as 0 and the start is probed.
    WriteFile(read.path, "ID3\3");
    EXPECT_THROW(LocateAPEv2Tag(read.path), platform::EPlatformError);
    EXPECT_THROW(LocateAPEv2Tag(read.dir.File("missing.MP3")), platform::EPlatformError);
}

TEST(APEv2Read, ItemsWithOddKeysAndValues) {
    Read read;
    auto& t = read(MpegFrames(1) + ApeTag({{"title", "lower"},
                                           {"TITLE", "upper"},
                                           {" \tArtist \x01", "Trimmed"},
                                           {"Album", "\xe4\xb8\xad\xe6\x96\x87"}, // 中文
                                           {"Comment", "\xd6\xd0\xce\xc4"},       // GBK, not UTF-8
                                           {"Year", "caf\xc3\xa9 \xf0\x9f\x98\x80!"},
                                           {"Genre", Bytes("a\0b", 3)},
                                           {"Custom", "kept"},
                                           {"", "no key"},
                                           {"Year", "2024"}}));
    ASSERT_TRUE(t.Exists);
    EXPECT_EQ(t.Keys, (TStringList{"title", "TITLE", "Artist", "Album", "Comment", "Year", "Genre",
                                   "Custom", "", "Year"}));
    EXPECT_EQ(t.Values,
              (TStringList{"lower", "upper", "Trimmed", "\xd6\xd0\xce\xc4", "", "caf\xa8\xa6 ?!",
                           Bytes("a\0b", 3), "kept", "no key", "2024"}));
    EXPECT_EQ(t.Title, "") << "keys are compared case-sensitively";
    EXPECT_EQ(t.Artist, "Trimmed");
    EXPECT_EQ(t.Album, "\xd6\xd0\xce\xc4");
    EXPECT_EQ(t.Comment, "");
    EXPECT_EQ(t.Year, "2024") << "the later of two items wins the field";
    EXPECT_EQ(t.Genre, Bytes("a\0b", 3));
    EXPECT_EQ(t.Track, "0");

    // Items flagged as binary are read as text too; a Track item replaces the "0".
    Bytes body = ApeItem("Track", "3", 2) + ApeItem("Cover Art (Front)", "x\xff", 2);
    auto& flagged = read(ApeTagClaiming(body, uint32_t(body.size() + 32), 2) + MpegFrames(1));
    EXPECT_EQ(flagged.Track, "3");
    EXPECT_EQ(flagged.Values[1], "") << "not UTF-8";

    // Nothing of the previous file survives a read.
    auto& next = read(MpegFrames(1) + ApeTag({{"Genre", "Pop"}}));
    EXPECT_EQ(next.Keys, TStringList{"Genre"});
    EXPECT_EQ(next.Track, "0");
    EXPECT_EQ(next.Year, "");
}

TEST(APEv2Read, HeaderRulesCountsAndFooterOnlyTags) {
    Read read;
    // Item count 0: present, empty, the size from the header.
    auto& empty = read(MpegFrames(1) + ApeTagClaiming("", 32, 0));
    EXPECT_TRUE(empty.Exists);
    EXPECT_EQ(empty.TagSize, 64);
    EXPECT_TRUE(empty.Keys.empty());
    // A negative count reads nothing.
    Bytes body = ApeItem("Title", "x");
    auto& negative =
        read(MpegFrames(1) + ApeTagClaiming(body, uint32_t(body.size() + 32), 0x80000000u));
    EXPECT_TRUE(negative.Exists);
    EXPECT_TRUE(negative.Keys.empty());

    // A footer without a header: found, but nothing is read and the region is empty.
    const Bytes audio = MpegFrames(2);
    auto& footerOnly = read(audio + ApeTag(kSong, false));
    EXPECT_TRUE(footerOnly.Exists);
    EXPECT_EQ(footerOnly.TagSize, 0);
    EXPECT_TRUE(footerOnly.Keys.empty());
    const Bytes bytes = ReadFile(read.path);
    MessageCapture messages;
    footerOnly.RemoveFromFile(read.path);
    EXPECT_EQ(ReadFile(read.path), bytes);
    EXPECT_TRUE(messages.Messages().empty());
}

TEST(APEv2Read, MalformedItemsStopWithTheReadError) {
    Read read;
    const Bytes audio = MpegFrames(1);
    const Bytes good = ApeItem("Title", "ok");
    auto expectError = [&](const Bytes& file, size_t pairs) {
        WriteFile(read.path, file);
        EXPECT_THROW(read.tag.ReadFromFile(read.path), platform::EPlatformError);
        EXPECT_TRUE(read.tag.Exists);
        EXPECT_EQ(read.tag.Keys.size(), pairs);
        EXPECT_EQ(read.tag.Values.size(), pairs) << "the lists stay in step";
        if (pairs) {
            EXPECT_EQ(read.tag.Values[0], "ok");
        }
    };

    // A count larger than the items: the footer is no item.
    Bytes body = good + ApeItem("Artist", "b");
    expectError(audio + ApeTagClaiming(body, uint32_t(body.size() + 32), 5), 2);
    // Up to the largest count, at the end, at the start and after an ID3v2 tag.
    expectError(audio + ApeTagClaiming(good, uint32_t(good.size() + 32), 0x7FFFFFFF), 1);
    expectError(ApeTagClaiming(good, uint32_t(good.size() + 32), 0x7FFFFFFF) + audio, 1);
    expectError(
        Id3TagOurs("") + ApeTagClaiming(good, uint32_t(good.size() + 32), 0x7FFFFFFF) + audio, 1);

    // A value length past the region and past the file, up to the largest: nothing is
    // allocated for it.
    for (uint32_t n : {100u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Bytes bad = good + LE32(n) + LE32(0) + "Artist" + '\0' + "short";
        expectError(ApeTagClaiming(bad, uint32_t(bad.size() + 32), 2) + audio, 1);
        expectError(audio + ApeTagClaiming(bad, uint32_t(bad.size() + 32), 2, false) +
                        ApeHeaderOrFooter(uint32_t(bad.size() + 32), 2, false),
                    1);
    }

    // A key without its NUL runs to the end of the file.
    Bytes open = good + LE32(1) + LE32(0) + Bytes(5000, 'k');
    expectError(ApeTagClaiming(open, uint32_t(open.size()), 2, false), 1);
    // An item head cut short by the end of the region.
    Bytes cut = good + LE32(1);
    expectError(ApeTagClaiming(cut, uint32_t(cut.size()), 2, false), 1);
}

TEST(APEv2Read, RegionsThatRunPastTheFileAreRefused) {
    Read read;
    const Bytes audio = MpegFrames(3);
    // A header at the start that claims more than the file holds: its strip would take all the
    // audio with it.
    Bytes body = ApeItem("Title", "x");
    WriteFile(read.path, ApeTagClaiming(body, 100000, 1) + audio);
    const Bytes before = ReadFile(read.path);
    EXPECT_THROW(read.tag.ReadFromFile(read.path), platform::EPlatformError);
    EXPECT_TRUE(read.tag.Exists);
    EXPECT_EQ(read.tag.TagSize, 0);
    read.tag.RemoveFromFile(read.path);
    EXPECT_EQ(ReadFile(read.path), before);

    // A header whose size reaches into the ID3v1 block: the block would be cut in half.
    Bytes tag = ApeTag(kSong);
    tag[12] = char(tag[12] + 10);
    WriteFile(read.path, audio + tag + Trailer());
    EXPECT_THROW(read.tag.ReadFromFile(read.path), platform::EPlatformError);
    EXPECT_EQ(read.tag.TagSize, 0);
    // Exactly up to the block is fine.
    EXPECT_EQ(read(audio + ApeTag(kSong) + Trailer()).TagSize, int32_t(ApeTag(kSong).size()));
}

TEST(APEv2Remove, StripsByteForByteThroughABackup) {
    Read read;
    const Bytes audio = MpegFrames(3);
    const Bytes tag = ApeTag(kSong);
    const Bytes id3 = Id3TagOurs(Id3Frame("TIT2", Bytes("\0x", 2)));
    struct Case {
        const char* where;
        Bytes file, stripped;
    } cases[] = {
        {"at the end", audio + tag, audio},
        {"before an ID3v1 block", audio + tag + Trailer(), audio + Trailer()},
        {"after the ID3v2 tag", id3 + tag + audio + Trailer(), id3 + audio + Trailer()},
        {"at the start", tag + audio, audio},
        {"the whole file", tag, ""},
    };
    const std::string backup = BackupFileName(read.path);
    for (const Case& c : cases) {
        read(c.file);
        ASSERT_TRUE(read.tag.Exists) << c.where;
        ::chmod(read.path.c_str(), 0640);
        MessageCapture messages;
        read.tag.RemoveFromFile(read.path);
        EXPECT_EQ(ReadFile(read.path), c.stripped) << c.where;
        EXPECT_EQ(ReadFile(backup), c.file) << "the backup stays: " << c.where;
        struct stat st {};
        ::stat(read.path.c_str(), &st);
        EXPECT_EQ(st.st_mode & 07777, 0640u) << c.where;
        EXPECT_TRUE(messages.Messages().empty());
        EXPECT_TRUE(read.tag.Exists) << "the object is left as it was";
        if (c.stripped.size() >= 32) {
            read.tag.ReadFromFile(read.path);
            EXPECT_FALSE(read.tag.Exists) << c.where;
        } else {
            // Too short for the 32-byte probes of the search.
            EXPECT_THROW(read.tag.ReadFromFile(read.path), platform::EPlatformError);
        }
    }

    // No tag: no backup, no message.
    ForceDeleteFile(backup);
    read(audio);
    MessageCapture messages;
    read.tag.RemoveFromFile(read.path);
    EXPECT_FALSE(Exists(backup));
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(ReadFile(read.path), audio);

    // A file that shrank after the read: the copy runs short, and the file comes back whole.
    read(audio + tag);
    const Bytes shrunk = audio.substr(0, 100);
    WriteFile(read.path, shrunk);
    EXPECT_THROW(read.tag.RemoveFromFile(read.path), platform::EPlatformError);
    EXPECT_EQ(ReadFile(read.path), shrunk);
}

TEST(APEv2Sharing, ReadersShareWritersExclude) {
    Read read;
    Id3v1Fields f;
    f.title = "v1";
    const Bytes bytes = MpegFrames(2) + ApeTag(kSong) + Id3v1Block(f);
    read(bytes);
    ASSERT_EQ(read.tag.Keys.size(), 2u);
    {
        ForeignLock reader(read.path, false); // another program reading with sharing
        read.tag.ReadFromFile(read.path);
        EXPECT_EQ(read.tag.Keys.size(), 2u);
    }
    {
        ForeignLock owner(read.path, true); // one holding it without sharing keeps readers out
        EXPECT_THROW(read.tag.ReadFromFile(read.path), platform::EPlatformError);
        EXPECT_FALSE(read.tag.Exists);
        EXPECT_TRUE(read.tag.Keys.empty());
        EXPECT_TRUE(read.tag.Values.empty());
        EXPECT_THROW(LocateAPEv2Tag(read.path), platform::EPlatformError);
        TID3v1Tag v1; // like every reader
        EXPECT_THROW(v1.ReadFromFile(read.path), platform::EPlatformError);
    }
    read.tag.ReadFromFile(read.path);
    ASSERT_TRUE(read.tag.Exists);
    {
        // The strip cannot delete a file another program holds: its message, nothing changed.
        ForeignLock reader(read.path, false);
        MessageCapture messages;
        read.tag.RemoveFromFile(read.path);
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_EQ(messages.Messages()[0], kMsgFileInUse + read.path);
        EXPECT_EQ(ReadFile(read.path), bytes);
    }
    {
        // Nor one held without sharing.
        ForeignLock owner(read.path, true);
        MessageCapture messages;
        read.tag.RemoveFromFile(read.path);
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_EQ(messages.Messages()[0], kMsgFileInUse + read.path);
        EXPECT_FALSE(Exists(BackupFileName(read.path)));
        EXPECT_EQ(ReadFile(read.path), bytes);
    }
}

// Offsets are 32-bit: past 2 GiB the ID3v1 block is still the last one, and the APEv2 search
// refuses the file with a clear error instead of wrapping round.
TEST(TagSizes, FilesOfTwoGibibytesOrMore) {
    TempDir dir;
    const std::string path = dir.File("big.MP3");
    const off_t size = (off_t(1) << 31) + 4096;
    const Bytes block = Trailer();
    int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    bool sparse =
        ftruncate(fd, size) == 0 && pwrite(fd, block.data(), block.size(), size - 128) == 128;
    close(fd);
    if (!sparse) GTEST_SKIP() << "no sparse files here";
    TID3v1Tag v1;
    v1.ReadFromFile(path);
    EXPECT_EQ(v1.Title, "v1");
    TAPEv2Tag tag;
    try {
        tag.ReadFromFile(path);
        ADD_FAILURE() << "no error";
    } catch (const platform::EPlatformError& e) {
        EXPECT_NE(std::string(e.what()).find("2 GiB"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(tag.Exists);
}
