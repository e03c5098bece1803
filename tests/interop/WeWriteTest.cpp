// Files written by our engine, read by mutagen, TagLib (taglib_read) and ffprobe: the same texts
// and pictures, and the decoded audio unchanged wherever the old tag left the standard readers
// room (padding) for the 10 bytes our size field counts in addition.
#include "Interop.h"

#include "CodePage.h"
#include "OtherProgramsKinds.h"
#include "uPictureEmbed.h"

#include <algorithm>
#include <sstream>

namespace {

// "key=value" lines of a peer's output; a repeated key keeps every value in order.
std::multimap<std::string, std::string> Lines(const std::string& text) {
    std::multimap<std::string, std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) out.emplace(line.substr(0, eq), line.substr(eq + 1));
    }
    return out;
}

std::string One(const std::multimap<std::string, std::string>& m, const std::string& key) {
    auto it = m.find(key);
    return it == m.end() ? "<none>" : it->second;
}

// The lengths of the pieces of a text that a peer lists with "|" between them.
std::vector<size_t> Pieces(const std::string& text) {
    std::vector<size_t> lengths;
    size_t start = 0;
    for (size_t bar; (bar = text.find('|', start)) != std::string::npos; start = bar + 1)
        lengths.push_back(bar - start);
    lengths.push_back(text.size() - start);
    return lengths;
}

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::multimap<std::string, std::string> Mutagen(const std::string& path) {
    return Lines(Peer(std::string(PEERS_PY) + " view " + path));
}
std::multimap<std::string, std::string> TagLib(const std::string& path) {
    return Lines(Peer(std::string(TAGLIB_READ) + " " + path));
}
std::multimap<std::string, std::string> FfProbe(const std::string& path) {
    return Lines(
        Peer("ffprobe -v error -show_entries format_tags -of default=noprint_wrappers=1 " + path));
}
// The attached picture as ffmpeg extracts it.
std::string FfmpegPicture(const std::string& path) {
    return Peer("ffmpeg -v error -i " + path + " -map 0:v -c copy -f image2pipe -");
}
// Bytes of decoded 16-bit PCM.
size_t PcmBytes(const std::string& path) {
    return Peer("ffmpeg -v error -i " + path + " -map 0:a -f s16le -").size();
}

// Our usual tag: title, artist, album, a comment and a front cover, each written at once.
void WriteOurTag(const std::string& path) {
    TID3v2Tag tag;
    tag.ReadFromFile(path);
    const auto set = [&](const char* id, const std::string& text) {
        tag.SetFrame(id, text.data(), static_cast<int>(text.size()));
    };
    set("TIT2", "Our song");
    set("TPE1", "Our artist");
    set("TALB", "Our album");
    set("COMM", "Our note");
    const std::string apic = BuildAttachedPicturePayload(3, "cover", CoverJpeg());
    tag.AddFrame("APIC", apic.data(), static_cast<int>(apic.size()));
    ASSERT_TRUE(tag.Loaded) << tag.ReadError;
}

void ExpectPeersSeeOurTag(const std::string& path) {
    const auto m = Mutagen(path);
    EXPECT_EQ(One(m, "version"), "2.3");
    EXPECT_EQ(One(m, "TIT2"), "Our song");
    EXPECT_EQ(One(m, "TPE1"), "Our artist");
    EXPECT_EQ(One(m, "TALB"), "Our album");
    EXPECT_EQ(One(m, "COMM:chi:"), "Our note") << "language chi, empty description";
    EXPECT_EQ(One(m, "APIC"), "image/jpeg|3|cover|" + Hex(CoverJpeg()));

    const auto t = TagLib(path);
    EXPECT_EQ(One(t, "version"), "3");
    EXPECT_EQ(One(t, "TIT2"), "Our song");
    EXPECT_EQ(One(t, "TPE1"), "Our artist");
    EXPECT_EQ(One(t, "TALB"), "Our album");
    EXPECT_EQ(One(t, "COMM"), "Our note");
    EXPECT_EQ(One(t, "APIC"), "image/jpeg|3|cover|" + Hex(CoverJpeg()));

    const auto f = FfProbe(path);
    EXPECT_EQ(One(f, "TAG:title"), "Our song");
    EXPECT_EQ(One(f, "TAG:artist"), "Our artist");
    EXPECT_EQ(One(f, "TAG:album"), "Our album");
    EXPECT_EQ(One(f, "TAG:comment"), "Our note");
    EXPECT_EQ(FfmpegPicture(path).substr(0, CoverJpeg().size()), CoverJpeg());
}

} // namespace

TEST(InteropWeWrite, OverAPaddedTagEverythingReadsAndTheAudioIsUnchanged) {
    TempDir dir;
    const std::string path = dir.File("song.MP3"), cover = dir.File("cover.jpg");
    WriteFile(path, SineMp3());
    WriteFile(cover, CoverJpeg());
    // mutagen's tag ends in padding, as most writers' do.
    Peer(std::string(PEERS_PY) + " id3 " + path + " 3 " + cover);
    const std::string before = PcmMd5(path);
    WriteOurTag(path);
    ExpectPeersSeeOurTag(path);
    EXPECT_EQ(PcmMd5(path), before) << "the decoded audio is the same";
    // The frames mutagen wrote and we did not touch are still there for every reader.
    EXPECT_EQ(One(Mutagen(path), "TRCK"), "3/12");
    EXPECT_EQ(One(TagLib(path), "TRCK"), "3/12");
}

TEST(InteropWeWrite, OnAFileWithoutATagTheStandardReadersFindTheAudioWhereItWas) {
    TempDir dir;
    const std::string path = dir.File("song.MP3");
    WriteFile(path, SineMp3());
    const size_t pcmBefore = PcmBytes(path);
    WriteOurTag(path);
    ExpectPeersSeeOurTag(path);
    // Our size field counts the header: a standard reader puts the tag's end 10 bytes later, on
    // the 10 bytes of padding behind the frames, and decodes every audio frame.
    EXPECT_EQ(PcmBytes(path), pcmBefore);
    const auto m = Mutagen(path);
    TID3v2Tag ours;
    ours.ReadFromFile(path);
    EXPECT_EQ(One(m, "size"), std::to_string(ours.TagSize + 10));
    EXPECT_EQ(ours.TagEnd, ours.TagSize + 10) << "the padding is passed over";
}

TEST(InteropWeWrite, LongTextsAndCodePage936AsThePeersSeeThem) {
    TempDir dir;
    const std::string path = dir.File("song.MP3");
    WriteFile(path, SineMp3());
    TID3v2Tag tag;
    tag.ReadFromFile(path);
    // 2500 bytes: three frames of one id (999 + 999 + 502 bytes).
    const std::string lyric = std::string(999, 'a') + std::string(999, 'b') + std::string(502, 'c');
    tag.SetFrame("TIT3", lyric.data(), static_cast<int>(lyric.size()));
    // 歌名 in code page 936; the frames say Latin-1, so the peers show the bytes as Latin-1.
    std::string title;
    ASSERT_TRUE(platform::Utf8ToCp936("\xE6\xAD\x8C\xE5\x90\x8D", title));
    tag.SetFrame("TIT2", title.data(), static_cast<int>(title.size()));

    const auto m = Mutagen(path);
    EXPECT_EQ(Pieces(One(m, "TIT3")), (std::vector<size_t>{999, 999, 502}))
        << "mutagen joins the frames as a list of pieces";
    // mutagen keeps only one of several pieces that are byte for byte the same.
    const std::string same(2500, 'x');
    tag.SetFrame("TIT1", same.data(), static_cast<int>(same.size()));
    EXPECT_EQ(Pieces(One(Mutagen(path), "TIT1")), (std::vector<size_t>{999, 502}));
    EXPECT_EQ(One(m, "TIT2"), "\xC2\xB8\xC3\xA8\xC3\x83\xC3\xBB") << "B8 E8 C3 FB as Latin-1";
    const auto t = TagLib(path);
    EXPECT_EQ(t.count("TIT3"), 3u) << "TagLib lists the three frames";
    EXPECT_EQ(One(t, "TIT3").size(), 999u);
    EXPECT_EQ(One(t, "TIT2"), "\xC2\xB8\xC3\xA8\xC3\x83\xC3\xBB");
    // And our reader joins them again.
    TID3v2Tag again;
    again.ReadFromFile(path);
    EXPECT_EQ(again.FramePayloads[again.IndexOfId("TIT3")], lyric);
}

// Every kind of tag other programs write, built byte by byte in front of real audio: after our
// engine changes the title, mutagen, TagLib and ffprobe see every other frame as before, the
// picture ffmpeg extracts is the same and so is the decoded audio.
TEST(InteropWeWrite, EditingOneFrameLeavesThePeersViewOfTheOthers) {
    auto withoutTitle = [](std::multimap<std::string, std::string> view) {
        for (const char* key : {"TIT2", "version", "size", "tag_size", "title", "TAG:title"})
            view.erase(key);
        return view;
    };
    auto picture = [](const std::string& path) {
        return Shell("ffmpeg -v error -i " + path + " -map 0:v -c copy -f image2pipe - 2>/dev/null")
            .out;
    };
    std::string title;
    ASSERT_TRUE(platform::Utf8ToCp936("新标题", title));
    for (const Kind& kind : Kinds()) {
        bool writable = true;
        for (const WantEntry& w : kind.want)
            writable = writable && w.access != TAccess::Unwritable;
        if (!writable) continue; // refused by the save, as the tag tests show
        SCOPED_TRACE(kind.name);
        TempDir dir;
        const std::string path = dir.File("song.MP3");
        WriteFile(path, kind.tag + SineMp3());
        const auto mutagen = Mutagen(path), taglib = TagLib(path), ffprobe = FfProbe(path);
        const std::string pcm = PcmMd5(path), cover = picture(path);

        TID3v2Tag tag;
        tag.ReadFromFile(path);
        tag.SetFrame("TIT2", title.data(), static_cast<int>(title.size()));
        ASSERT_TRUE(tag.Loaded) << tag.ReadError;

        EXPECT_EQ(withoutTitle(Mutagen(path)), withoutTitle(mutagen));
        EXPECT_EQ(tag.DisplayText(tag.IndexOfId("TIT2")), "新标题");
        EXPECT_EQ(withoutTitle(TagLib(path)), withoutTitle(taglib));
        // ffmpeg misses a frame of an unsynchronised version 2.3 tag; written plainly it finds
        // it: what it saw before it still sees.
        const auto seen = FfProbe(path);
        for (const auto& [key, value] : withoutTitle(ffprobe)) {
            const auto [from, to] = seen.equal_range(key);
            EXPECT_TRUE(
                std::any_of(from, to, [&v = value](const auto& kv) { return kv.second == v; }))
                << key << "=" << value;
        }
        EXPECT_EQ(picture(path), cover);
        EXPECT_EQ(PcmMd5(path), pcm);
    }
}

// A Big5 tag turned into Unicode: mutagen reads every converted text exactly, the picture and
// the audio are unchanged.
TEST(InteropWeWrite, RecodedBig5TextsReadExactly) {
    TempDir dir;
    const std::string path = dir.File("big5.MP3");
    auto big5 = [](const char* utf8) {
        std::string out;
        EXPECT_TRUE(platform::Utf8ToLegacy(platform::TCodePage::Big5, utf8, out));
        return out;
    };
    const Bytes frames =
        Id3Frame("TIT2", '\0' + big5("月亮代表我的心")) + Id3Frame("TPE1", '\0' + big5("鄧麗君")) +
        Id3Frame("COMM", Bytes("\0eng", 4) + big5("說明") + '\0' + big5("測試")) +
        Id3Frame("TXXX", '\0' + big5("語言") + '\0' + big5("國語")) +
        Id3Frame("APIC", Bytes("\0image/jpeg\0\3", 13) + big5("封面") + '\0' + CoverJpeg());
    WriteFile(path, Id3TagStandard(frames, 64) + SineMp3());
    TID3v2Tag tag;
    tag.ReadFromFile(path);
    EXPECT_EQ(JudgeCodePage(tag, nullptr), platform::TCodePage::Big5);
    EXPECT_EQ(tag.ConvertToUnicode().size(), 5u);
    ASSERT_TRUE(tag.Loaded) << tag.ReadError;
    tag.SaveToFile();

    const auto m = Mutagen(path);
    EXPECT_EQ(One(m, "TIT2"), "月亮代表我的心");
    EXPECT_EQ(One(m, "TPE1"), "鄧麗君");
    EXPECT_EQ(One(m, "COMM:eng:說明"), "測試");
    EXPECT_EQ(One(m, "TXXX"), "國語");
    std::string hex;
    for (unsigned char c : CoverJpeg()) {
        static const char* digits = "0123456789abcdef";
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    EXPECT_EQ(One(m, "APIC"), "image/jpeg|3|封面|" + hex);
    const Bytes now = ReadFile(path);
    EXPECT_EQ(now.substr(now.size() - SineMp3().size()), SineMp3());
}
