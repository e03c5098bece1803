#include "Builders.h"
#include "CliRun.h"
#include "TestFiles.h"

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
              Id3TagStandard(Id3Frame("TIT2", "\x01" + Utf16("NoBOM", false, false))) +
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
