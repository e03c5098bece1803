#include "Builders.h"
#include "ID3v2Tags.h"
#include "OtherProgramsKinds.h"
#include "PlatformFile.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace {

struct Read {
    TempDir dir;
    TID3v2Tag tag;
    TID3v2Tag& operator()(const Bytes& bytes) {
        std::string path = dir.File("song.MP3");
        WriteFile(path, bytes);
        tag.ReadFromFile(path);
        return tag;
    }
};

} // namespace

TEST(ID3v2Read, HeaderAndSizeField) {
    Read read;
    auto& t = read(Bytes("ID3\x04\x07\xff", 6) + Bytes("\0\0\0\x0a", 4) + MpegFrames(1));
    EXPECT_TRUE(t.Exists);
    EXPECT_TRUE(t.Loaded);
    EXPECT_EQ(t.TagSize, 10);
    EXPECT_TRUE(t.FrameIds.empty());

    EXPECT_EQ(read(Id3Header(0).substr(0, 6) + Bytes("\0\0\x02\x01", 4) + Bytes(300, 0)).TagSize,
              257);
    // The top bit of each size byte is masked off.
    EXPECT_EQ(read(Bytes("ID3\3\0\0\xff\xff\xff\xff", 10) + Bytes(10, 0)).TagSize, 268435455);

    auto& none = read(Bytes("ID\0\3\0\0\0\0\0\x0a", 10) + MpegFrames(1));
    EXPECT_FALSE(none.Exists);
    EXPECT_EQ(none.TagSize, 0);
    EXPECT_TRUE(none.Loaded);

    // Too short for a header: no tag, not a damaged one.
    auto& tiny = read("ID3\3");
    EXPECT_FALSE(tiny.Exists);
    EXPECT_TRUE(tiny.Loaded);
}

TEST(ID3v2Read, PayloadsAsStored) {
    Read read;
    auto& t = read(Id3TagOurs(Id3Frame("TIT2", Bytes("\0Song", 5)) +
                              Id3Frame("COMM", Bytes("\0eng\0hi", 7)) +
                              Id3Frame("TPE1", Bytes("\0A\0B", 4))) +
                   MpegFrames(2));
    ASSERT_EQ(t.FrameIds, (TStringList{"TIT2", "COMM", "TPE1"}));
    EXPECT_EQ(t.FramePayloads, (TStringList{"Song", "hi", "AB"}));

    EXPECT_EQ(read(Id3TagOurs(Id3Frame("COMM", Bytes("\0engd\0hi", 8)))).FramePayloads[0], "dhi");
    EXPECT_EQ(read(Id3TagOurs(Id3Frame("USLT", Bytes("\0en", 3)))).FramePayloads[0], "");
    // A two-byte encoding keeps its encoding byte and BOM and loses its zero bytes.
    EXPECT_EQ(read(Id3TagOurs(Id3Frame("TIT2", Bytes("\1\xff\xfeS\0o\0", 7)))).FramePayloads[0],
              "\1\xff\xfeSo");
}

TEST(ID3v2Read, OnlyTheWritersFullPiecesJoin) {
    Read read;
    Bytes apic1("\0image/jpeg\0\3\0\xff\xd8", 16), apic2("\0image/png\0\4x\0\x89P", 16);
    auto& t = read(
        Id3TagOurs(Id3Frame("TIT2", Bytes("\0A", 2)) + Id3Frame("APIC", apic1) +
                   Id3Frame("COMM", Bytes("\0chi\0abc", 8)) + Id3Frame("tit2", Bytes("\0B", 2)) +
                   Id3Frame("APIC", apic2) + Id3Frame("COMM", Bytes("\0def", 4)) +
                   Id3Frame("TPIC", Bytes("\0\xff\0", 3)) + Id3Frame("TPIC", Bytes("\0\xd8", 2))));
    ASSERT_EQ(t.FrameIds, (TStringList{"TIT2", "APIC", "COMM", "tit2", "APIC", "COMM", "TPIC"}));
    EXPECT_EQ(t.FramePayloads[0], "A");
    EXPECT_EQ(t.FramePayloads[1], apic1);
    EXPECT_EQ(t.FramePayloads[2], "abc");
    EXPECT_EQ(t.FramePayloads[3], "B");
    EXPECT_EQ(t.FramePayloads[4], apic2);
    EXPECT_EQ(t.FramePayloads[6], Bytes("\0\xff\0\0\xd8", 5)); // TPIC keeps its NULs when joined

    // A frame joins the one just before it when that is a full piece of the writer: 999 bytes,
    // or 998 before a double-byte character that did not fit (whole texts repeated: the kinds).
    const Bytes full(999, 'a'), cut = Bytes(997, 'a') + "\xd7";
    struct Case {
        const char* name;
        Bytes frames;
        TStringList payloads;
    } cases[] = {
        {"full piece", Id3FrameWritten("TIT2", full) + Id3FrameWritten("TIT2", "b"), {full + "b"}},
        {"998 before a character",
         Id3FrameWritten("TIT2", Bytes(998, 'a')) + Id3FrameWritten("TIT2", "\xd7\xd6"),
         {Bytes(998, 'a') + "\xd7\xd6"}},
        {"998 before a letter",
         Id3FrameWritten("TIT2", Bytes(998, 'a')) + Id3FrameWritten("TIT2", "b"),
         {Bytes(998, 'a'), "b"}},
        {"998 ending inside a character",
         Id3FrameWritten("TIT2", cut) + Id3FrameWritten("TIT2", "\xd6\xd7\xd6"),
         {cut, "\xd6\xd7\xd6"}},
        {"not right after",
         Id3FrameWritten("TIT2", full) + Id3FrameWritten("TALB", "x") +
             Id3FrameWritten("TIT2", "b"),
         {full, "x", "b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(read(Id3TagOurs(c.frames)).FramePayloads, c.payloads);
    }
}

TEST(ID3v2Read, OddIds) {
    Read read;
    auto& t = read(Id3TagOurs(Id3Frame(Bytes(4, '\0'), "dropped") +
                              Id3Frame(Bytes("TIT\0", 4), Bytes("\0x", 2)) +
                              Id3Frame(Bytes("\0IT2", 4), "also dropped")));
    EXPECT_EQ(t.FrameIds, (TStringList{"TIT"}));
    EXPECT_EQ(t.FramePayloads, (TStringList{"x"}));
    // A lookup ignores letter case, the first match wins.
    EXPECT_EQ(t.IndexOfId("tit"), 0);
    EXPECT_EQ(t.IndexOfId("TIT2"), -1);
}

TEST(ID3v2Read, LoopBoundsAndPadding) {
    Read read;
    // A standard tag ending in padding: the frames are read, the padding passed over, and the
    // last 10 bytes of the tag (the header's length) are left to the audio.
    Bytes frames = Id3Frame("TIT2", Bytes("\0Song", 5)) + Id3Frame("TALB", Bytes("\0Al", 3));
    auto& t = read(Id3TagStandard(frames, 50) + MpegFrames(1));
    EXPECT_EQ(t.TagSize, static_cast<int>(frames.size() + 50));
    EXPECT_EQ(t.FrameIds, (TStringList{"TIT2", "TALB"}));
    EXPECT_TRUE(t.Loaded);

    // A frame that starts before the tag's end is read whole, even past it.
    Bytes big = Id3Frame("TIT2", Bytes("\0") + Bytes(100, 'x'));
    auto& past = read(Id3Header(20) + big + MpegFrames(1));
    EXPECT_EQ(past.FramePayloads, (TStringList{Bytes(100, 'x')}));
    EXPECT_TRUE(past.Loaded);

    // Our own tag: the loop ends exactly at the last frame; the audio is not read as frames.
    auto& ours = read(Id3TagOurs(frames) + Id3Frame("TPE1", Bytes("\0not a frame", 12)));
    EXPECT_EQ(ours.FrameIds, (TStringList{"TIT2", "TALB"}));
    // 64 bytes of padding (not a multiple of 10) end at the size field: the audio is no frame.
    auto& padded = read(Id3TagOurs(frames + Bytes(64, '\0')) + MpegFrames(1));
    EXPECT_TRUE(padded.Loaded && padded.TagEnd == padded.TagSize) << padded.ReadError;
}

TEST(ID3v2Read, DamagedTags) {
    Read read;
    Bytes good = Id3Frame("TIT2", Bytes("\0Song", 5));
    struct Case {
        const char* name;
        Bytes file;
    } cases[] = {
        {"size past the end", Id3Header(1000) + good},
        {"truncated frame header", Id3Header(100) + good + "TAL"},
        {"payload past the end",
         Id3Header(100) + good + Id3Frame("TALB", "abc").substr(0, 10) + "ab"},
        {"frame size 2^31", Id3Header(100) + good + "TALB" + BE32(0x80000000u) + Bytes(2, 0) + "x"},
        {"frame size 2^32-1", Id3Header(100) + good + "TALB" + BE32(0xffffffffu) + Bytes(2, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto& t = read(c.file);
        EXPECT_TRUE(t.Exists);
        EXPECT_FALSE(t.Loaded) << "a damaged tag must not be written back";
        EXPECT_FALSE(t.ReadError.empty());
        // Frames read before the fault stay; nothing of the broken frame is taken.
        EXPECT_EQ(t.FrameIds, (TStringList{"TIT2"}));
        EXPECT_EQ(t.FramePayloads, (TStringList{"Song"}));
    }
    // The next good read starts afresh.
    auto& again = read(Id3TagOurs(Id3Frame("TALB", Bytes("\0B", 2))));
    EXPECT_TRUE(again.Loaded);
    EXPECT_TRUE(again.ReadError.empty());
    EXPECT_EQ(again.FrameIds, (TStringList{"TALB"}));
}

TEST(ID3v2Read, FailedOpenLeavesAnEmptyUnloadedStore) {
    Read read;
    read(Id3TagOurs(Id3Frame("TIT2", Bytes("\0Song", 5))));
    std::string missing = read.dir.File("missing.MP3");
    EXPECT_THROW(read.tag.ReadFromFile(missing), platform::EPlatformError);
    EXPECT_FALSE(read.tag.Loaded);
    EXPECT_FALSE(read.tag.Exists);
    EXPECT_EQ(read.tag.TagSize, 0);
    EXPECT_TRUE(read.tag.FrameIds.empty());
    EXPECT_EQ(read.tag.FileName, missing);
}

TEST(ID3v2Read, SyncSafeAndBigEndianHelpers) {
    unsigned char b[4];
    PutSyncSafe32(b, 25);
    EXPECT_EQ(Bytes(reinterpret_cast<char*>(b), 4), Bytes("\0\0\0\x19", 4));
    PutSyncSafe32(b, 0x1fffffffu); // bits above the 28th are dropped
    EXPECT_EQ(GetSyncSafe32(b), 0x0fffffff);
    PutBigEndian32(b, 0x01020304u);
    EXPECT_EQ(Bytes(reinterpret_cast<char*>(b), 4), "\x01\x02\x03\x04");
    EXPECT_EQ(StripNulls(Bytes("\0a\0\0b\0", 6)), "ab");
}

TEST(ID3v2Read, OtherProgramsFramesByKind) {
    Read read;
    for (const Kind& kind : Kinds()) {
        SCOPED_TRACE(kind.name);
        auto& t = read(kind.tag + MpegFrames(1));
        ASSERT_TRUE(t.Loaded) << t.ReadError;
        ASSERT_EQ(t.FrameIds.size(), kind.want.size());
        for (size_t i = 0; i < kind.want.size(); ++i) {
            const WantEntry& w = kind.want[i];
            SCOPED_TRACE(i);
            EXPECT_EQ(t.FrameIds[i], w.id);
            const TFrameOrigin* origin = t.OriginOf(i);
            EXPECT_EQ(origin ? origin->Encoding : kOwnForm, w.encoding);
            EXPECT_EQ(origin ? origin->Access : TAccess::Editable, w.access);
            // Pictures, binary and compressed frames show no text of their own.
            if (w.id != "APIC" &&
                (w.access == TAccess::Editable || w.access == TAccess::Unwritable)) {
                EXPECT_EQ(t.DisplayText(i), w.text);
            }
        }
        // A tag that counts its size without the header is taken whole, its padding and footer
        // included.
        EXPECT_EQ(t.TagEnd, static_cast<int64_t>(kind.tag.size()));
    }
    // Pictures of version 2.2 get a MIME type; frames that are not text keep every byte.
    auto& v22 = read(Kinds()[6].tag);
    EXPECT_EQ(v22.FramePayloads[2], Bytes("\0image/jpeg\0\x03\0", 14) + kJpeg);
    // Values that are all empty show as no text, as the same bytes in the single-byte encoding do.
    EXPECT_EQ(read(Id3TagOf(4, 0, Id3Frame24("TPE2", Bytes("\x03\0\0\0", 4)))).DisplayText(0), "");
    auto& binary = read(Kinds().back().tag);
    EXPECT_EQ(binary.OriginOf(0)->Frame, Id3Frame("POPM", Bytes("a@b.c\0\x80\0\0\0\x01", 11)));
    EXPECT_EQ(binary.OriginOf(2)->Frame, Id3Frame("RVA2", Bytes("track\0\x01\xF2\x66\0", 10)));
    // A frame left compressed goes back as it was; with no inflate limit (a strip) none is
    // inflated.
    auto& packed = read(Kinds()[10].tag);
    EXPECT_EQ(packed.OriginOf(1)->Frame, Frame23Flagged("TIT2", BE32(7) + kPacked, '\x80'));
    packed.InflateLimit = 0;
    read(Kinds()[9].tag);
    EXPECT_EQ(packed.OriginOf(0)->Access, TAccess::Compressed);
}
