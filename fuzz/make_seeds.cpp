// Writes the seed corpus of every fuzz target, made with the tests' byte builders:
//   make_seeds OUTDIR  ->  OUTDIR/<target>/<n>
#include "Builders.h"
#include "JpegBuilders.h"
#include "OtherProgramsKinds.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

std::map<std::string, std::vector<Bytes>> seeds;

void Add(const std::string& target, const Bytes& bytes) {
    seeds[target].push_back(bytes);
}

std::vector<Bytes> Jpegs() {
    std::vector<Bytes> out;
    out.push_back(JpegOf({}));
    out.push_back(JpegOf({.width = 1, .height = 1}));
    out.push_back(JpegOf({.width = 17, .height = 9, .fullChroma = true}));
    out.push_back(JpegOf({.components = 1}));
    out.push_back(JpegOf({.components = 4}));
    out.push_back(JpegOf({.components = 4, .adobeCmyk = false}));
    out.push_back(JpegOf({.width = 24, .height = 24, .progressive = true}));
    out.push_back(JpegOf({.components = 1, .progressive = true}));
    out.push_back(JpegOf({.arithmetic = true}));
    out.push_back(JpegOf({.progressive = true, .arithmetic = true}));
    out.push_back(JpegOf({.width = 32, .height = 32, .restartRows = 1}));
    out.push_back(JpegOf({.quality = 100}));
    return out;
}

void Id3v2Seeds() {
    const Bytes audio = MpegFrames(2);
    const Bytes text =
        Id3Frame("TIT2", Bytes("\0Song", 5)) + Id3Frame("TPE1", Bytes("\0Artist", 7));
    Add("id3v2", Id3TagOurs(text) + audio);
    Add("id3v2", Id3TagStandard(text, 20) + audio);
    Add("id3v2", Id3Header(10) + audio);
    Add("id3v2",
        Id3TagOurs(Id3Frame("COMM", Bytes("\0chi\0abc", 8)) + Id3Frame("COMM", Bytes("\0def", 4)) +
                   Id3Frame("USLT", Bytes("\0engd\0lyrics", 12)) +
                   Id3Frame("SYLT", Bytes("\0eng", 4))));
    Add("id3v2", Id3TagOurs(Id3Frame("TIT2", Bytes("\0A", 2)) + Id3Frame("tit2", Bytes("\0B", 2)) +
                            Id3Frame("TIT", Bytes("\0C", 2)) + Id3Frame(Bytes(4, '\0'), "x")));
    const Bytes jpeg = JpegOf({.width = 8, .height = 8});
    Add("id3v2", Id3TagOurs(Id3Frame("APIC", Bytes("\0image/jpeg\0\3\0", 14) + jpeg) +
                            Id3Frame("APIC", Bytes("\0image/jpeg\0\4desc\0", 18) + jpeg) +
                            Id3Frame("TPIC", Bytes(1, '\0') + jpeg)) +
                     audio);
    // A version 2.4 tag with a UTF-16 text and a sync-safe frame size above 127.
    Add("id3v2",
        Id3TagStandard(Id3Frame("TIT2", Bytes("\1\xFF\xFEh\0i\0", 7)) + Bytes("TALB") +
                           SyncSafe(200) + Bytes(2, '\0') + Bytes(1, '\0') + Bytes(199, 'a'),
                       10) +
            audio);
    // Sizes that claim more than the file holds, and cut files.
    Add("id3v2", Id3Header(1000) + Id3Frame("TIT2", Bytes("\0x", 2)));
    Add("id3v2", Id3TagOurs(Bytes("TIT2") + BE32(0x7FFFFFF0) + Bytes(2, '\0') + "abc"));
    Add("id3v2", Id3TagOurs(text).substr(0, 25));
    Add("id3v2", Bytes("ID3\3\0\0", 6));
    // Other programs' tags: UTF-16 and UTF-8, versions 2.2 and 2.4, unsynchronisation, extended
    // headers, frame flags, compressed frames, repeated and binary frames.
    for (const Kind& kind : Kinds())
        Add("id3v2", kind.tag + audio);
    Add("id3v2",
        Id3TagOf(4, 0x80, Id3Frame24("TIT2", Unsynchronised("\x01" + Utf16("\xC3\xBF")), 0x02)));
    Add("id3v2", Id3TagOf(4, 0, Id3Frame24("TALB", SyncSafe(900) + kPacked, 0x09)));
    // A decompression bomb: a few kilobytes that claim and hold twice the inflate limit.
    Add("id3v2",
        Id3TagOf(4, 0, Compressed24("TPE1", Bytes(2 * kMaxInflated, 'b'), 2 * kMaxInflated)));
    // Other tags in the same file: APEv2 behind the ID3v2 tag, ID3v1 at the end.
    Add("id3v2", Id3TagOurs(text) + ApeTag({{"Title", "t"}}) + audio +
                     Id3v1Block({.title = "Title", .track = 3, .genre = 17}));
}

void Id3v1Seeds() {
    const Bytes audio = MpegFrames(1);
    Add("id3v1", audio + Id3v1Block({.title = "Title",
                                     .artist = "Artist",
                                     .album = "Album",
                                     .year = "2024",
                                     .comment = "Comment",
                                     .track = 7,
                                     .genre = 17}));
    Add("id3v1", Id3v1Block({.title = "Hello\0World   ", .comment = Bytes(30, 'c'), .genre = 147}));
    Add("id3v1", Id3v1Block({.title = "  \xD6\xD0\xCE\xC4  ", .genre = 148}));
    Add("id3v1", audio + Id3v1Block({.title = "one"}) + Id3v1Block({.title = "two"}));
    Add("id3v1", Bytes(127, 'x'));
    Add("id3v1", Bytes("TAG") + Bytes(125, ' '));
}

void Apev2Seeds() {
    const Bytes audio = MpegFrames(2);
    const std::vector<std::pair<Bytes, Bytes>> items = {
        {"Title", "Song"},  {"Artist", "\xE8\x89\xBA\xE6\x9C\xAF"},
        {"Track", "7"},     {" Album ", "A"},
        {"title", "lower"}, {"Cover Art (Front)", Bytes("x\0\xFF\xD8", 4)}};
    Add("apev2", audio + ApeTag(items));
    Add("apev2", audio + ApeTag(items) + Id3v1Block({.title = "v1"}));
    Add("apev2", ApeTag(items) + audio);
    Add("apev2", Id3TagOurs(Id3Frame("TIT2", Bytes("\0x", 2))) + ApeTag(items) + audio);
    Add("apev2", audio + ApeTag(items, false));
    Add("apev2", audio + ApeTag({}));
    Add("apev2", audio + ApeHeaderOrFooter(1000000, 1, false)); // claims more than the file
    Add("apev2", audio + ApeHeaderOrFooter(40, 0x7FFFFFFF, true) + ApeItem("K", "v") +
                     ApeHeaderOrFooter(40, 0x7FFFFFFF, false));
    Add("apev2", audio + ApeHeaderOrFooter(32, 1, true) + LE32(0xFFFFFFF0) + LE32(0) + "Key" +
                     '\0' + ApeHeaderOrFooter(32, 1, false));
    Add("apev2", Bytes(31, 'x'));
}

void PictureSeeds() {
    for (const Bytes& jpeg : Jpegs())
        Add("jpeg", jpeg);
    const Bytes jpeg = JpegOf({.width = 8, .height = 8});
    const Bytes head("\0image/jpeg\0", 12);
    Add("picture_payload", head + '\3' + '\0' + jpeg);
    Add("picture_payload", head + '\x04' + "cover" + '\0' + jpeg);
    Add("picture_payload", head + '\x15' + Bytes(66, 'd') + '\0' + jpeg);
    Add("picture_payload",
        Bytes("\x01image/png\0\x03", 12) + Utf16("封面") + Bytes(2, '\0') + jpeg);
    Add("picture_payload", head + '\x02' + Bytes(67, 'd') + '\0' + jpeg);
    Add("picture_payload", head + '\x03' + '\0');
    Add("picture_payload", Bytes(1, '\0') + jpeg); // a custom picture
    Add("picture_payload", Bytes(2, '\0'));
}

void CodePageSeeds() {
    Add("codepage", "Title");
    Add("codepage", "\xD6\xD0\xCE\xC4");                 // code page 936 bytes
    Add("codepage", "\xE4\xB8\xAD\xE6\x96\x87 abc");     // UTF-8 text
    Add("codepage", "\xF0\x9F\x8E\xB5");                 // a character outside code page 936
    Add("codepage", "\x81\x30\x81\x30\x80\xFF\xC0\xAF"); // odd bytes
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUTDIR\n");
        return 2;
    }
    Id3v2Seeds();
    Id3v1Seeds();
    Apev2Seeds();
    PictureSeeds();
    CodePageSeeds();
    for (const auto& [target, list] : seeds) {
        const std::filesystem::path dir = std::filesystem::path(argv[1]) / target;
        std::filesystem::create_directories(dir);
        for (size_t i = 0; i < list.size(); ++i) {
            std::ofstream out(dir / ("seed-" + std::to_string(i)), std::ios::binary);
            out.write(list[i].data(), static_cast<std::streamsize>(list[i].size()));
        }
    }
    return 0;
}
