// Tags written by independent programs, read by our engine: payloads hold texts as their bytes
// (encoding byte and NULs aside), comments as description plus text, pictures byte for byte; the
// text shown is decoded; the audio behind the tag stays where the writer put it.
#include "Interop.h"

#include "CodePage.h"
#include "ID3v1Tags.h"
#include "uAPEv2Tag.h"
#include "uJpeg.h"
#include "uPicturePayload.h"

namespace {

struct PeerFile {
    TempDir dir;
    std::string path = dir.File("song.MP3");
    std::string cover = dir.File("cover.jpg");
    PeerFile() {
        WriteFile(path, SineMp3());
        WriteFile(cover, CoverJpeg());
    }
    // The size field as a tag from another writer means it: the tag ends 10 bytes after it.
    size_t StandardTagEnd(const TID3v2Tag& tag) const {
        return static_cast<size_t>(tag.TagSize) + 10;
    }
};

const std::string kApicHead("\0image/jpeg\0\x03", 13);

// A picture as the editor shows it: type, description and the JPEG after the description.
void ExpectCover(const std::string& payload, const std::string& description) {
    EXPECT_EQ(PictureTypeOf(payload), 3);
    EXPECT_EQ(PictureDescriptionOf(payload), description);
    const std::string data = payload.substr(PictureDataStart(payload) - 1);
    EXPECT_EQ(data.substr(0, CoverJpeg().size()), CoverJpeg());
    const TRgbPicture picture = DecodeJpeg(data);
    EXPECT_EQ(picture.Width, 16);
    EXPECT_EQ(picture.Height, 16);
}

} // namespace

TEST(InteropPeersWrite, MutagenVersion23IsReadWhole) {
    PeerFile f;
    Peer(std::string(PEERS_PY) + " id3 " + f.path + " 3 " + f.cover);
    TID3v2Tag tag;
    auto frames = ReadAsTheRulesSay(tag, f.path);
    ASSERT_TRUE(tag.Loaded);
    EXPECT_EQ(frames["TIT2"], "Song");
    EXPECT_EQ(frames["TALB"], "Album");
    EXPECT_EQ(frames["TRCK"], "3/12");
    EXPECT_EQ(frames["TPE1"], "\x01\xFF\xFE"
                              "Artist")
        << "UTF-16 keeps its encoding byte and BOM";
    EXPECT_EQ(frames["COMM"], "dhi") << "description and text, language dropped";
    EXPECT_EQ(frames["USLT"], "la la");
    EXPECT_EQ(frames["TXXX"], "keyvalue");
    EXPECT_EQ(frames["APIC"], kApicHead + "cover" + '\0' + CoverJpeg()) << "byte for byte";
    ExpectCover(frames["APIC"], "cover");
    // The standard's size excludes the header: our reader stops 10 bytes early, in the padding,
    // and the audio follows where mutagen put it.
    const Bytes bytes = ReadFile(f.path);
    EXPECT_EQ(bytes.substr(f.StandardTagEnd(tag)), SineMp3());
    EXPECT_EQ(bytes.substr(tag.TagSize, 10), Bytes(10, '\0'));
}

TEST(InteropPeersWrite, MutagenVersion24IsReadWhole) {
    PeerFile f;
    Peer(std::string(PEERS_PY) + " id3 " + f.path + " 4 " + f.cover);
    TID3v2Tag tag;
    auto frames = ReadAsTheRulesSay(tag, f.path);
    ASSERT_TRUE(tag.Loaded);
    // UTF-8 keeps its encoding byte in the payload; the text shown is decoded.
    EXPECT_EQ(frames["TIT2"], "\x03Song");
    EXPECT_EQ(tag.DisplayText(tag.IndexOfId("TIT2")), "Song");
    EXPECT_EQ(frames["COMM"], "dhi");
    EXPECT_EQ(frames["TPE1"], "\x01\xFF\xFE"
                              "Artist");
    // The picture's sync-safe size is read as such: the picture is whole, and nothing more.
    EXPECT_EQ(frames["APIC"], kApicHead + "cover" + '\0' + CoverJpeg());
    ExpectCover(frames["APIC"], "cover");
    EXPECT_EQ(tag.TagEnd, static_cast<int64_t>(f.StandardTagEnd(tag)));
    EXPECT_EQ(ReadFile(f.path).substr(f.StandardTagEnd(tag)), SineMp3());
}

TEST(InteropPeersWrite, EyeD3BothVersions) {
    const std::string args = " -t Song -a Artist -A Album --add-comment hi:d:eng";
    {
        PeerFile f;
        Peer("eyeD3 -Q --to-v2.3 --encoding latin1" + args + " --add-image " + f.cover +
             ":FRONT_COVER:cover " + f.path + " >/dev/null 2>&1");
        TID3v2Tag tag;
        auto frames = ReadAsTheRulesSay(tag, f.path);
        ASSERT_TRUE(tag.Loaded);
        EXPECT_EQ(frames["TIT2"], "Song");
        EXPECT_EQ(frames["TPE1"], "Artist");
        EXPECT_EQ(frames["TALB"], "Album");
        EXPECT_EQ(frames["COMM"], "dhi");
        EXPECT_EQ(frames["APIC"], kApicHead + "cover" + '\0' + CoverJpeg());
        EXPECT_EQ(ReadFile(f.path).substr(f.StandardTagEnd(tag)), SineMp3());
    }
    {
        // eyeD3's default: version 2.4 in UTF-8, the picture first. Its sync-safe size (over
        // 127 bytes) is read as such, so the frames behind it are found too.
        PeerFile f;
        Peer("eyeD3 -Q" + args + " --add-image " + f.cover + ":FRONT_COVER:cover " + f.path +
             " >/dev/null 2>&1");
        TID3v2Tag tag;
        auto frames = ReadAsTheRulesSay(tag, f.path);
        ASSERT_FALSE(tag.FrameIds.empty());
        EXPECT_EQ(tag.FrameIds[0], "APIC");
        ExpectCover(frames["APIC"], "cover");
        EXPECT_EQ(tag.DisplayText(tag.IndexOfId("TALB")), "Album");
    }
    {
        PeerFile f;
        Peer("eyeD3 -Q" + args + " " + f.path + " >/dev/null 2>&1");
        TID3v2Tag tag;
        auto frames = ReadAsTheRulesSay(tag, f.path);
        EXPECT_EQ(frames["TIT2"], "\x03Song");
        EXPECT_EQ(frames["TPE1"], "\x03"
                                  "Artist");
        // Read by its layout: encoding byte and language go, description and text stay.
        EXPECT_EQ(frames["COMM"], "dhi");
        EXPECT_EQ(tag.DisplayText(tag.IndexOfId("COMM")), "[d] hi");
    }
}

TEST(InteropPeersWrite, Id3v2ToolAndKid3) {
    {
        // id3v2 writes version 2.3 and an ID3v1 block.
        PeerFile f;
        Peer("id3v2 -t Song -a Artist -A Album -c d:hi:eng -T 3 " + f.path);
        TID3v2Tag tag;
        auto frames = ReadAsTheRulesSay(tag, f.path);
        ASSERT_TRUE(tag.Loaded);
        EXPECT_EQ(frames["TIT2"], "Song");
        EXPECT_EQ(frames["TPE1"], "Artist");
        EXPECT_EQ(frames["TALB"], "Album");
        EXPECT_EQ(frames["TRCK"], "3");
        EXPECT_EQ(frames["COMM"], "dhi");
        const Bytes bytes = ReadFile(f.path);
        EXPECT_EQ(bytes.substr(f.StandardTagEnd(tag), SineMp3().size()), SineMp3());
        EXPECT_EQ(bytes.substr(bytes.size() - 128, 3), "TAG");
    }
    {
        PeerFile f;
        Peer("kid3-cli -c 'set title Song' -c 'set artist Artist' -c 'set album Album' "
             "-c 'set comment hi' -c \"set picture:'" +
             f.cover + "' 'cover'\" " + f.path);
        TID3v2Tag tag;
        auto frames = ReadAsTheRulesSay(tag, f.path);
        ASSERT_TRUE(tag.Loaded);
        EXPECT_EQ(frames["TIT2"], "Song");
        EXPECT_EQ(frames["TPE1"], "Artist");
        EXPECT_EQ(frames["TALB"], "Album");
        EXPECT_EQ(frames["COMM"], "hi");
        ExpectCover(frames["APIC"], "cover");
        EXPECT_EQ(ReadFile(f.path).substr(f.StandardTagEnd(tag)), SineMp3());
    }
}

TEST(InteropPeersWrite, Apev2FromMutagenAndId3v1FromId3v2) {
    PeerFile f;
    // mutagen appends its APEv2 tag; id3v2 then adds its ID3v2 tag in front and an ID3v1 block
    // behind it: the usual order of a file that went through both.
    Peer(std::string(PEERS_PY) + " ape " + f.path);
    const Bytes withApe = ReadFile(f.path);
    Peer("id3v2 -t Song -a Artist -A Album -c d:hi:eng -T 3 -g 17 -y 2024 " + f.path);

    TAPEv2Tag ape;
    ape.ReadFromFile(f.path);
    ASSERT_TRUE(ape.Exists);
    EXPECT_EQ(ape.Title, "Song");
    std::string artist;
    ASSERT_TRUE(platform::Utf8ToCp936("\xE8\x89\xBA\xE6\x9C\xAF\xE5\xAE\xB6", artist));
    EXPECT_EQ(ape.Artist, artist) << "UTF-8 turned into code page 936";
    EXPECT_EQ(ape.Album, "Album");
    EXPECT_EQ(ape.Track, "7");
    EXPECT_EQ(ape.Year, "2024");
    EXPECT_EQ(ape.Keys.size(), 5u);
    const Bytes bytes = ReadFile(f.path);
    const size_t apeSize = withApe.size() - SineMp3().size();
    EXPECT_EQ(ape.TagOffset, static_cast<int32_t>(bytes.size() - 128 - apeSize));
    EXPECT_EQ(ape.TagSize, static_cast<int32_t>(apeSize));

    TID3v1Tag v1;
    v1.ReadFromFile(f.path);
    ASSERT_TRUE(v1.Exists);
    EXPECT_EQ(v1.Title, "Song");
    EXPECT_EQ(v1.Artist, "Artist");
    EXPECT_EQ(v1.Album, "Album");
    EXPECT_EQ(v1.Year, "2024");
    EXPECT_EQ(v1.Comment, "hi");
    EXPECT_EQ(v1.Track, 3);
    EXPECT_EQ(v1.Genre, "Rock");

    // Our strips, seen by mutagen: the APEv2 tag is gone, the ID3v1 block and the audio stay.
    const std::string pcm = PcmMd5(f.path);
    ape.RemoveFromFile(f.path);
    const Bytes stripped = ReadFile(f.path);
    EXPECT_EQ(stripped.size(), bytes.size() - apeSize);
    EXPECT_EQ(Peer(std::string(PEERS_PY) + " view " + f.path).find("ape:"), std::string::npos);
    EXPECT_EQ(stripped.substr(stripped.size() - 128), bytes.substr(bytes.size() - 128));
    EXPECT_EQ(PcmMd5(f.path), pcm);
    v1.RemoveFromFile(f.path);
    EXPECT_EQ(ReadFile(f.path), stripped.substr(0, stripped.size() - 128));
    EXPECT_EQ(PcmMd5(f.path), pcm);
}

TEST(InteropPeersWrite, Apev2BehindAnId3v1BlockAsMutagenLeavesIt) {
    // mutagen appends APEv2 behind an existing ID3v1 block. The last 128 bytes are then no
    // ID3v1 block, so, by the rules, only the APEv2 tag at the end is found.
    PeerFile f;
    Peer("id3v2 -1 -t Song " + f.path);
    Peer(std::string(PEERS_PY) + " ape " + f.path);
    TAPEv2Tag ape;
    ape.ReadFromFile(f.path);
    EXPECT_TRUE(ape.Exists);
    EXPECT_EQ(ape.Title, "Song");
    TID3v1Tag v1;
    v1.ReadFromFile(f.path);
    EXPECT_FALSE(v1.Exists);
}
