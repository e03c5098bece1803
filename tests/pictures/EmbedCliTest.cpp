// quillon-tags embed, run as a program.
#include "Builders.h"
#include "CliRun.h"
#include "ID3v2Tags.h"
#include "PictureBuilders.h"
#include "TestFiles.h"
#include "uJpeg.h"

#include <gtest/gtest.h>

namespace {

const Bytes kAudio = MpegFrames(3);

// Frames: 0 TIT2, 1 APIC (added by hand), 2 TPIC (empty custom picture).
Bytes Song() {
    return Id3TagOurs(Id3Frame("TIT2", Bytes("\0title", 6)) +
                      Id3Frame("APIC", Bytes("\0image/jpeg\0\3\0", 14)) +
                      Id3Frame("TPIC", Bytes("\0\0", 2))) +
           kAudio;
}

struct TStored {
    std::string tpic, apic;
};

TStored ReadBack(const std::string& path) {
    TID3v2Tag tag;
    tag.ReadFromFile(path);
    TStored s;
    int t = tag.IndexOfId("TPIC"), a = tag.IndexOfId("APIC");
    if (t >= 0) s.tpic = tag.FramePayloads[t];
    if (a >= 0) s.apic = tag.FramePayloads[a];
    return s;
}

std::string Stderr(const TempDir& dir) {
    return ReadFile(dir.File("stderr"));
}

} // namespace

TEST(CliEmbed, TheTagCommandsLinkNoQt) {
    TempDir dir;
    FILE* p = popen(("ldd " + std::string(QUILLON_TAGS)).c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string libs;
    char buf[512];
    while (fgets(buf, sizeof buf, p))
        libs += buf;
    pclose(p);
    EXPECT_NE(libs.find("libc.so"), std::string::npos) << libs;
    EXPECT_EQ(libs.find("Qt"), std::string::npos) << libs;
    EXPECT_EQ(libs.find("jpeg"), std::string::npos) << libs;
}

TEST(CliEmbed, UsageErrors) {
    TempDir dir;
    WriteFile(dir.File("s.MP3"), Song());
    WriteFile(dir.File("p.bmp"), Bmp24(Quadrants(8, 8)));
    const std::string files = dir.File("s.MP3") + " " + dir.File("p.bmp");
    for (const std::string& words :
         {std::string("embed"), "embed " + dir.File("s.MP3") + " --tpic", "embed " + files,
          "embed " + files + " --tpic --apic 1", "embed " + files + " --apic",
          "embed " + files + " --apic x", "embed " + files + " --apic -1",
          "embed " + files + " --apic 1 --type 21", "embed " + files + " --tpic --type 3",
          "embed " + files + " --tpic --desc x", "embed " + files + " --tpic --background 00FF",
          "embed " + files + " --tpic --background GG0000",
          "embed " + files + " --tpic --frobnicate", "embed " + files + " --apic 1 --desc \xFF"}) {
        EXPECT_EQ(Tags(words, dir).status, 2) << words << "\n" << Stderr(dir);
    }
    EXPECT_EQ(ReadFile(dir.File("s.MP3")), Song());
}

TEST(CliEmbedHostile, RefusalsWriteNothing) {
    TempDir dir;
    const std::string song = dir.File("s.MP3");
    WriteFile(song, Song());
    WriteFile(dir.File("ok.bmp"), Bmp24(Quadrants(8, 8)));
    const std::string jpeg = EncodeJpeg(Quadrants(64, 64), 90);
    WriteFile(dir.File("cut.jpg"), jpeg.substr(0, jpeg.size() / 2));
    WriteFile(dir.File("empty.jpg"), "");
    WriteFile(dir.File("garbage.bmp"), std::string(3000, 'x'));
    WriteFile(dir.File("p.gif"), "GIF89a");
    WriteFile(dir.File("huge.bmp"), BmpHeaderOnly(9000, 9000));
    struct Case {
        std::string words, says;
    } cases[] = {
        {dir.File("missing.jpg") + " --tpic", "picture not found"},
        {dir.File("cut.jpg") + " --tpic", "JPEG error #"},
        {dir.File("empty.jpg") + " --tpic", "no picture in"},
        {dir.File("garbage.bmp") + " --apic 1", "Cannot decode picture file (bmp)"},
        {dir.File("p.gif") + " --tpic", "Unknown picture file extension (.gif)"},
        {dir.File("huge.bmp") + " --tpic", "Picture too large"},
        {dir.File("ok.bmp") + " --apic 0", "frame 0 is TIT2, not APIC"},
        {dir.File("ok.bmp") + " --apic 3", "there is no frame 3"},
        // 34 Chinese characters are 68 bytes in code page 936: the picture could not be found
        // behind such a description again.
        {dir.File("ok.bmp") +
             " --apic 1 --desc "
             "封面封面封面封面封面封面封面封面封面封面封面封面封面封面封面封面封面",
         "！图片说明太长"},
    };
    for (const Case& c : cases) {
        CliRun r = Tags("embed " + song + " " + c.words, dir);
        EXPECT_EQ(r.status, 1) << c.words;
        EXPECT_NE(Stderr(dir).find(c.says), std::string::npos) << c.words << "\n" << Stderr(dir);
        EXPECT_EQ(ReadFile(song), Song()) << c.words;
        EXPECT_FALSE(Exists(dir.File("sbak.MP3"))) << c.words;
    }
    // A file that is no MP3 at all cannot be opened for its tag.
    EXPECT_EQ(
        Tags("embed " + dir.File("none.MP3") + " " + dir.File("ok.bmp") + " --tpic", dir).status,
        1);
}

TEST(CliEmbed, WritesTheCustomPictureStretched) {
    TempDir dir;
    const std::string song = dir.File("s.MP3");
    WriteFile(song, Song());
    WriteFile(dir.File("p.bmp"), Bmp24(Quadrants(640, 480)));
    CliRun r = Tags("embed " + song + " " + dir.File("p.bmp") + " --tpic", dir);
    ASSERT_EQ(r.status, 0) << Stderr(dir);
    const std::string file = ReadFile(song);
    EXPECT_EQ(file.substr(file.size() - kAudio.size()), kAudio);
    EXPECT_TRUE(Exists(dir.File("sbak.MP3"))) << "the backup stays by default";
    const TStored stored = ReadBack(song);
    ASSERT_EQ(stored.tpic.substr(0, 3), std::string("\0\xFF\xD8", 3)) << "0x00, then the JPEG";
    const TRgbPicture picture = DecodeJpeg(stored.tpic.substr(1));
    ASSERT_EQ(picture.Width, 240);
    ASSERT_EQ(picture.Height, 320);
    EXPECT_TRUE(Near(PixelAt(picture, 10, 10), kRed)) << Hex(PixelAt(picture, 10, 10));
    EXPECT_TRUE(Near(PixelAt(picture, 230, 10), kGreen));
    EXPECT_TRUE(Near(PixelAt(picture, 10, 310), kBlue));
    EXPECT_TRUE(Near(PixelAt(picture, 230, 310), kYellow));
    // Quality 90: the first luminance quantiser is 3.
    const size_t dqt = stored.tpic.find("\xFF\xDB");
    ASSERT_NE(dqt, std::string::npos);
    EXPECT_EQ(stored.tpic[dqt + 5], '\x03');
}

TEST(CliEmbed, WritesTheAttachedPictureFitted) {
    TempDir dir;
    const std::string song = dir.File("s.MP3");
    WriteFile(song, Song());
    WriteFile(dir.File("p.JPG"), EncodeJpeg(Quadrants(640, 480), 95));
    CliRun r = Tags("embed " + song + " " + dir.File("p.JPG") +
                        " --apic 1 --type 4 --desc 封面 --fit --background 00FF00 --no-backup",
                    dir);
    ASSERT_EQ(r.status, 0) << Stderr(dir);
    EXPECT_FALSE(Exists(dir.File("sbak.MP3")));
    const TStored stored = ReadBack(song);
    const std::string head("\0image/jpeg\0\x04\xB7\xE2\xC3\xE6\0", 18);
    ASSERT_GT(stored.apic.size(), head.size());
    EXPECT_EQ(stored.apic.substr(0, head.size()), head);
    const TRgbPicture picture = DecodeJpeg(stored.apic.substr(head.size()));
    ASSERT_EQ(picture.Width, 240);
    ASSERT_EQ(picture.Height, 320);
    // 640 x 480 fits at (0, 70)-(240, 250); green bands above and below.
    EXPECT_TRUE(Near(PixelAt(picture, 120, 30), kGreen)) << Hex(PixelAt(picture, 120, 30));
    EXPECT_TRUE(Near(PixelAt(picture, 120, 290), kGreen));
    EXPECT_TRUE(Near(PixelAt(picture, 20, 90), kRed));
    EXPECT_TRUE(Near(PixelAt(picture, 220, 230), kYellow));
    // Quality 75: the first luminance quantiser is 8.
    const size_t dqt = stored.apic.find("\xFF\xDB");
    ASSERT_NE(dqt, std::string::npos);
    EXPECT_EQ(stored.apic[dqt + 5], '\x08');
}

TEST(CliEmbed, TheDescriptionFollowsTheWritingRule) {
    // In the tag's own code page when it fits (a Big5 tag keeps Big5), else UTF-16: never refused.
    const Bytes big5Title =
        Id3Frame("TIT2", Bytes("\0\xA4\xEB\xAB\x47\xA5\x4E\xAA\xED\xA7\xDA\xAA\xBA\xA4\xDF", 15));
    const struct {
        Bytes tag;
        std::string desc, head;
    } rows[] = {
        {Song(), "a😀", Bytes("\1image/jpeg\0\3", 13) + Utf16("a😀") + Bytes(2, '\0')},
        {Id3TagOurs(big5Title + Id3Frame("APIC", Bytes("\0image/jpeg\0\3\0", 14))) + kAudio, "封面",
         Bytes("\0image/jpeg\0\3\xAB\xCA\xAD\xB1\0", 17)},
    };
    for (const auto& row : rows) {
        TempDir dir;
        WriteFile(dir.File("s.MP3"), row.tag);
        WriteFile(dir.File("p.bmp"), Bmp24(Quadrants(8, 8)));
        ASSERT_EQ(Tags("embed " + dir.File("s.MP3") + " " + dir.File("p.bmp") +
                           " --apic 1 --desc " + row.desc,
                       dir)
                      .status,
                  0)
            << Stderr(dir);
        EXPECT_EQ(ReadBack(dir.File("s.MP3")).apic.substr(0, row.head.size()), row.head)
            << row.desc;
    }
}

TEST(CliEmbed, OneCaptureIntoTheFirstPictureOfEveryFile) {
    TempDir dir;
    const std::string withApic = dir.File("a.MP3"), without = dir.File("b.MP3");
    WriteFile(withApic, Song());
    WriteFile(without, Id3TagOurs(Id3Frame("TIT2", Bytes("\0title", 6))) + kAudio);
    WriteFile(dir.File("p.bmp"), Bmp24(Quadrants(64, 64)));
    CliRun r = Tags("embed -j 2 " + withApic + " " + dir.File("none.MP3") + " " + without + " " +
                        dir.File("p.bmp") + " --apic first --no-backup",
                    dir);
    EXPECT_EQ(r.status, 1) << "the missing file fails, the others are written";
    EXPECT_NE(Stderr(dir).find("none.MP3"), std::string::npos) << Stderr(dir);
    const TStored a = ReadBack(withApic), b = ReadBack(without);
    EXPECT_GT(a.apic.size(), 1000u);
    EXPECT_EQ(a.apic, b.apic) << "the same bytes in every file";
    TID3v2Tag tag;
    tag.ReadFromFile(without);
    EXPECT_EQ(tag.FrameIds, (TStringList{"TIT2", "APIC"})) << "added where there was none";
    EXPECT_FALSE(Exists(dir.File("abak.MP3")));
    EXPECT_FALSE(Exists(dir.File("bbak.MP3")));
}
