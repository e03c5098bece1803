#include "Builders.h"
#include "CliRun.h"
#include "ID3v2Tags.h"
#include "TestFiles.h"

#include <algorithm>
#include <gtest/gtest.h>

TEST(CliShow, PrintsTheStoreAsJsonLines) {
    TempDir dir;
    WriteFile(dir.File("a.MP3"), Id3TagOurs(Id3Frame("TIT2", Bytes("\0\xb7\xe2\xc3\xe6", 5)) +
                                            Id3Frame("APIC", Bytes("\0image/jpeg\0\3\0", 14))) +
                                     MpegFrames(1));
    WriteFile(dir.File("b.MP3"), MpegFrames(1));
    CliRun r = Tags(dir.File("a.MP3") + " " + dir.File("b.MP3"), dir);
    EXPECT_EQ(r.status, 2) << "a file name is no command";
    r = Tags("show " + dir.File("a.MP3") + " " + dir.File("b.MP3"), dir);
    ASSERT_EQ(r.status, 0);
    std::string first = r.out.substr(0, r.out.find('\n'));
    EXPECT_NE(first.find("\"id3v2\": {\"exists\": true, \"tag_size\": 49, \"codepage\": \"gbk\", "
                         "\"frames\": [{\"id\": "
                         "\"TIT2\", \"size\": 4, \"hex\": \"b7e2c3e6\", \"text\": \"封面\"}, "
                         "{\"id\": \"APIC\", \"size\": 14, \"hex\": "
                         "\"00696d6167652f6a7065670003"
                         "00\", \"text\": null}]}"),
              std::string::npos)
        << first;
    std::string second = r.out.substr(r.out.find('\n') + 1);
    EXPECT_NE(second.find("\"exists\": false, \"tag_size\": 0, \"frames\": []"), std::string::npos);

    // Another program's frame: its payload as it stands in the file, NULs and all.
    WriteFile(dir.File("c.MP3"),
              Id3TagStandard(Id3Frame("TIT2", Bytes("\x01") + Utf16("NoBOM", false, false))) +
                  MpegFrames(1));
    r = Tags("show " + dir.File("c.MP3"), dir);
    EXPECT_NE(r.out.find("\"size\": 11, \"hex\": \"014e006f0042004f004d00\""), std::string::npos)
        << r.out;
}

TEST(CliShow, OneUnreadableFileDoesNotStopTheOthers) {
    TempDir dir;
    WriteFile(dir.File("b.MP3"), MpegFrames(1));
    CliRun r = Tags("show " + dir.File("missing.MP3") + " " + dir.File("b.MP3"), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("b.MP3"), std::string::npos);
    EXPECT_NE(ReadFile(dir.File("stderr")).find("missing.MP3"), std::string::npos);
    EXPECT_EQ(Tags("show", dir).status, 2);
    EXPECT_EQ(Tags("frobnicate x", dir).status, 2);
}

// Names that are not UTF-8 print with U+FFFD and their bytes; a compressed frame inflates only to
// the limit, so a small file that claims megabytes stays small for show, set and strip.
TEST(CliShow, NamesByTheirBytesAndCompressedFramesWithinTheLimit) {
    TempDir dir;
    const Bytes audio = MpegFrames(1);
    const std::string gbk1 = dir.File("\xb8\xe8.mp3"), gbk2 = dir.File("\xc7\xfa.mp3"),
                      bomb = dir.File("bomb.mp3");
    WriteFile(gbk1, audio);
    WriteFile(gbk2, audio);
    const Bytes bombed =
        Id3TagOf(4, 0, Compressed24("TXXX", Bytes(8 * kMaxInflated, '\0'), 8 * kMaxInflated)) +
        audio;
    WriteFile(bomb, bombed);
    CliRun r = Tags("show " + gbk1 + " " + gbk2 + " " + bomb, dir);
    ASSERT_EQ(r.status, 0);
    auto hex = [](const std::string& bytes) {
        std::string out;
        for (unsigned char c : bytes)
            out += "0123456789abcdef"[c >> 4], out += "0123456789abcdef"[c & 15];
        return out;
    };
    for (const std::string& name : {gbk1, gbk2})
        EXPECT_NE(r.out.find("{\"file\": \"" + dir.File("\xEF\xBF\xBD\xEF\xBF\xBD.mp3") +
                             "\", \"file_bytes\": \"" + hex(name) + "\", \"id3v2\""),
                  std::string::npos)
            << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3);
    EXPECT_EQ(r.out.find("file_bytes", r.out.find("bomb.mp3")), std::string::npos);
    EXPECT_NE(r.out.find("\"read_only\": \"compressed\""), std::string::npos);
    EXPECT_LT(r.out.size(), 4 * bombed.size());
    ASSERT_EQ(Tags("set " + bomb + " TIT2 x", dir).status, 0);
    EXPECT_LT(ReadFile(bomb).size(), bombed.size() + 100);
    WriteFile(bomb, bombed);
    ASSERT_EQ(Tags("strip --id3v2 " + bomb, dir).status, 0);
    EXPECT_EQ(ReadFile(bomb), Id3TagOurs("") + Bytes(10, '\0') + audio);
}
