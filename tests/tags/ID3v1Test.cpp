#include "Builders.h"
#include "ID3v1Tags.h"
#include "PlatformFile.h"
#include "TestFiles.h"
#include "utPublic.h"

#include <gtest/gtest.h>

namespace {

const TStringList kKeys = {"Title", "Artist", "Album", "Year", "Comment", "Track", "fGenre"};

struct Read {
    TempDir dir;
    TID3v1Tag tag;
    std::string path = dir.File("song.MP3");
    TID3v1Tag& operator()(const Bytes& bytes) {
        WriteFile(path, bytes);
        tag.ReadFromFile(path);
        return tag;
    }
};

Bytes Block(Id3v1Fields f = {}) {
    return Id3v1Block(f);
}

} // namespace

TEST(ID3v1Read, FieldsAreCutAtNulAndTrimmedAtTheEndOnly) {
    Read read;
    Id3v1Fields f;
    f.title = Bytes("Hello\0World   ", 14);
    f.artist = Bytes("  Lead\t \x01 ", 10) + Bytes(20, ' '); // 30 bytes, no NUL at all
    f.album = "\xb7\xe2\xc3\xe6\xa1\xa0";                    // double-byte text ending in 0xA0
    f.year = "1999";
    f.comment = "note";
    f.genre = 17;
    auto& t = read(MpegFrames(2) + Block(f));
    ASSERT_TRUE(t.Exists);
    EXPECT_EQ(t.Title, "Hello");
    EXPECT_EQ(t.Artist, "  Lead");
    EXPECT_EQ(t.Album, "\xb7\xe2\xc3\xe6\xa1\xa0");
    EXPECT_EQ(t.Year, "1999");
    EXPECT_EQ(t.Comment, "note");
    EXPECT_EQ(t.Genre, "Rock");
    EXPECT_EQ(t.Keys, kKeys);
    EXPECT_EQ(t.Values, (TStringList{"Hello", "  Lead", "\xb7\xe2\xc3\xe6\xa1\xa0", "1999", "note",
                                     "0", "Rock"}));

    // "TAG" is compared case-sensitively; anything else is no block at all.
    Bytes lower = Block(f);
    lower[0] = 't';
    auto& none = read(MpegFrames(1) + lower);
    EXPECT_FALSE(none.Exists);
    EXPECT_TRUE(none.Keys.empty());
    EXPECT_TRUE(none.Values.empty());
}

TEST(ID3v1Read, TrackByteAndGenreNames) {
    Read read;
    Id3v1Fields f;
    f.comment = "abc";
    f.track = 7;
    EXPECT_EQ(read(Block(f)).Track, 7);
    EXPECT_EQ(read.tag.Values[5], "7");
    EXPECT_EQ(read.tag.Comment, "abc");
    f.track = 255;
    EXPECT_EQ(read(Block(f)).Values[5], "255");
    f.track = 0;
    EXPECT_EQ(read(Block(f)).Track, 0);
    EXPECT_EQ(read.tag.Values[5], "0");

    // A full 30-byte comment whose last two bytes are 0x20 and 7: no track, both bytes trimmed.
    f = {};
    f.comment = Bytes(28, 'c') + "\x20\x07";
    auto& full = read(Block(f));
    EXPECT_EQ(full.Track, 0);
    EXPECT_EQ(full.Comment, Bytes(28, 'c'));
    // A comment that fills 28 bytes stops at byte 125's NUL and never takes the track byte.
    f.comment = Bytes(28, 'd');
    f.track = 9;
    EXPECT_EQ(read(Block(f)).Comment, Bytes(28, 'd'));
    EXPECT_EQ(read.tag.Track, 9);

    for (auto [genre, name] : {std::pair<int, Bytes>{0, "Blues"},
                               {17, "Rock"},
                               {147, "Synthpop"},
                               {148, ""},
                               {255, ""}}) {
        f.genre = static_cast<unsigned char>(genre);
        auto& t = read(Block(f));
        EXPECT_EQ(t.GenreId, genre);
        EXPECT_EQ(t.Genre, name) << genre;
        EXPECT_EQ(t.Keys.back(), "fGenre");
        EXPECT_EQ(t.Values.back(), name);
    }
}

TEST(ID3v1Read, SizesAndTheRegionGivenToTheStream) {
    Read read;
    Id3v1Fields f;
    f.title = "Only";
    auto& exact = read(Block(f)); // a file that is nothing but the block
    EXPECT_TRUE(exact.Exists);
    EXPECT_EQ(exact.Title, "Only");

    // 127 bytes right after a file with a block: nothing of the old block survives in the lists.
    auto& shortFile = read(Block(f).substr(1));
    EXPECT_FALSE(shortFile.Exists);
    EXPECT_TRUE(shortFile.Keys.empty());
    EXPECT_TRUE(shortFile.Values.empty());
    EXPECT_FALSE(read(Bytes()).Exists);

    // The stream examines the last 128 of `size` bytes from its current position.
    WriteFile(read.path, Bytes(50, 'x') + Block(f) + MpegFrames(1));
    platform::TFileStream s(read.path, platform::TOpenMode::Read, platform::TShareMode::DenyNone);
    s.Seek(40);
    read.tag.ReadFromStream(s, 138);
    EXPECT_TRUE(read.tag.Exists);
    EXPECT_EQ(read.tag.Title, "Only");
    s.Seek(41);
    read.tag.ReadFromStream(s, 138);
    EXPECT_FALSE(read.tag.Exists);
    s.Seek(0);
    EXPECT_THROW(read.tag.ReadFromStream(s, 1000), platform::EPlatformError); // short read
    EXPECT_FALSE(read.tag.Exists);

    // A block in memory shorter than 128 bytes is no block, even right after one that was.
    Bytes b = Block(f);
    read.tag.ParseTrailer(reinterpret_cast<const unsigned char*>(b.data()), 128);
    ASSERT_TRUE(read.tag.Exists);
    read.tag.ParseTrailer(reinterpret_cast<const unsigned char*>(b.data()), 127);
    EXPECT_FALSE(read.tag.Exists);
    EXPECT_TRUE(read.tag.Keys.empty());
}

TEST(ID3v1Remove, CutsOnlyTheLastBlockInPlace) {
    TempDir dir;
    const std::string path = dir.File("song.MP3");
    TID3v1Tag tag;
    Id3v1Fields a, b;
    a.title = "first";
    b.title = "second";
    const Bytes audio = MpegFrames(3);

    WriteFile(path, audio + Block(a) + Block(b));
    tag.RemoveFromFile(path);
    EXPECT_EQ(ReadFile(path), audio + Block(a));
    EXPECT_FALSE(Exists(BackupFileName(path))) << "the truncation makes no backup";
    tag.RemoveFromFile(path);
    EXPECT_EQ(ReadFile(path), audio);
    tag.RemoveFromFile(path);
    EXPECT_EQ(ReadFile(path), audio) << "no block: unchanged";

    WriteFile(path, Block(a).substr(0, 127));
    tag.RemoveFromFile(path);
    EXPECT_EQ(ReadFile(path), Block(a).substr(0, 127));
    WriteFile(path, Block(a));
    tag.RemoveFromFile(path);
    EXPECT_EQ(ReadFile(path), "");

    // The object is not touched: the caller reads again.
    WriteFile(path, audio + Block(a));
    tag.ReadFromFile(path);
    tag.RemoveFromFile(path);
    EXPECT_TRUE(tag.Exists);
    EXPECT_EQ(tag.Title, "first");
    EXPECT_THROW(tag.RemoveFromFile(dir.File("missing.MP3")), platform::EPlatformError);
}

TEST(ID3v1Sharing, ReadSharesTheFileAndStripWantsItAlone) {
    TempDir dir;
    const std::string path = dir.File("song.MP3");
    Id3v1Fields f;
    f.title = "held";
    const Bytes bytes = MpegFrames(2) + Block(f);
    WriteFile(path, bytes);
    TID3v1Tag tag;
    {
        ForeignLock reader(path, false); // another program reading it
        tag.ReadFromFile(path);
        EXPECT_TRUE(tag.Exists);
        EXPECT_THROW(tag.RemoveFromFile(path), platform::EPlatformError);
        EXPECT_EQ(ReadFile(path), bytes);
    }
    {
        // A program that holds the file without sharing keeps even the read out; the object
        // keeps what the previous read found.
        ForeignLock owner(path, true);
        EXPECT_THROW(tag.ReadFromFile(path), platform::EPlatformError);
        EXPECT_TRUE(tag.Exists);
        EXPECT_EQ(tag.Title, "held");
        EXPECT_EQ(tag.Keys.size(), 7u);
    }
    tag.RemoveFromFile(path);
    EXPECT_EQ(ReadFile(path), MpegFrames(2));
}
