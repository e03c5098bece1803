#include "Builders.h"
#include "CliRun.h"
#include "TestFiles.h"
#include "utPublic.h"

#include <gtest/gtest.h>

namespace {

Bytes Trailer(const Bytes& title) {
    Id3v1Fields f;
    f.title = title;
    f.year = "2001";
    f.track = 3;
    f.genre = 13;
    return Id3v1Block(f);
}

std::string Stderr(const TempDir& dir) {
    return ReadFile(dir.File("stderr"));
}

} // namespace

TEST(CliShow, Id3v1AndApev2Sections) {
    TempDir dir;
    const Bytes audio = MpegFrames(2);
    const Bytes ape = ApeTag({{"Title", "\xe4\xb8\xad\xe6\x96\x87"}, // 中文
                              {"title", "x\"y"},
                              {"Year", "caf\xc3\xa9 \xf0\x9f\x98\x80"},
                              {"Comment", "\xd6\xd0"}});
    WriteFile(dir.File("a.MP3"), audio + ape + Trailer("\xb7\xe2\xc3\xe6 ")); // 封面
    WriteFile(dir.File("b.MP3"), audio);
    CliRun r = Tags("show " + dir.File("a.MP3") + " " + dir.File("b.MP3"), dir);
    ASSERT_EQ(r.status, 0) << Stderr(dir);
    const std::string first = r.out.substr(0, r.out.find('\n'));
    EXPECT_NE(first.find("\"id3v1\": {\"exists\": true, \"codepage\": \"gbk\", \"fields\": "
                         "[[\"Title\", \"封面\"], "
                         "[\"Artist\", \"\"], [\"Album\", \"\"], [\"Year\", \"2001\"], "
                         "[\"Comment\", \"\"], [\"Track\", \"3\"], [\"fGenre\", \"Pop\"]]}"),
              std::string::npos)
        << first;
    // Values are shown as they stand in the file, every character kept; a value that is not
    // UTF-8 is empty.
    EXPECT_NE(
        first.find("\"apev2\": {\"exists\": true, \"offset\": " + std::to_string(audio.size()) +
                   ", \"size\": " + std::to_string(ape.size()) +
                   ", \"items\": [[\"Title\", \"中文\"], [\"title\", \"x\\\"y\"], "
                   "[\"Year\", \"café 😀\"], [\"Comment\", \"\"]]}}"),
        std::string::npos)
        << first;
    const std::string second = r.out.substr(r.out.find('\n') + 1);
    EXPECT_NE(second.find("\"id3v1\": {\"exists\": false, \"fields\": []}, \"apev2\": "
                          "{\"exists\": false, \"offset\": null, \"size\": 0, \"items\": []}}"),
              std::string::npos)
        << second;

    // A file another program holds without sharing: it is not shown, the next file still is.
    {
        ForeignLock owner(dir.File("a.MP3"), true);
        r = Tags("show " + dir.File("a.MP3") + " " + dir.File("b.MP3"), dir);
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("a.MP3"), std::string::npos);
    EXPECT_NE(r.out.find("b.MP3"), std::string::npos);
    EXPECT_NE(Stderr(dir).find("a.MP3"), std::string::npos);
}

TEST(CliStrip, Id3v1AndApev2ByteForByte) {
    TempDir dir;
    const Bytes audio = MpegFrames(3);
    const Bytes ape = ApeTag({{"Title", "t"}});
    const std::string a = dir.File("a.MP3"), b = dir.File("b.MP3"), c = dir.File("c.MP3");
    // APEv2 before an ID3v1 block, and a second ID3v1 block in front of the last one.
    WriteFile(a, audio + Trailer("one") + ape + Trailer("two"));
    // APEv2 at the start.
    WriteFile(b, ape + audio + Trailer("v1"));
    CliRun r = Tags("strip " + a + " " + b + " --apev2 --id3v1", dir);
    ASSERT_EQ(r.status, 0) << Stderr(dir);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFile(a), audio + Trailer("one"));
    EXPECT_EQ(ReadFile(b), audio);
    EXPECT_EQ(ReadFile(BackupFileName(b)), ape + audio + Trailer("v1"))
        << "the backup of the whole command is the original";

    // Only what is asked for goes.
    WriteFile(c, audio + ape + Trailer("v1"));
    ASSERT_EQ(Tags("strip --apev2 " + c, dir).status, 0);
    EXPECT_EQ(ReadFile(c), audio + Trailer("v1"));
    ASSERT_EQ(Tags("strip --id3v1 " + c, dir).status, 0);
    EXPECT_EQ(ReadFile(c), audio);
    ASSERT_EQ(Tags("strip --id3v1 --apev2 " + c, dir).status, 0) << "nothing left to strip";
    EXPECT_EQ(ReadFile(c), audio);
}

TEST(CliStrip, BackupsRefusalsAndUsage) {
    TempDir dir;
    const Bytes audio = MpegFrames(2);
    const Bytes ape = ApeTag({{"Title", "t"}});
    const std::string a = dir.File("a.MP3"), b = dir.File("b.MP3");

    // --no-backup drops the backup of a strip that rewrote the file, and only that one.
    WriteFile(a, audio + ape);
    ASSERT_EQ(Tags("strip --apev2 --no-backup " + a, dir).status, 0);
    EXPECT_EQ(ReadFile(a), audio);
    EXPECT_FALSE(Exists(BackupFileName(a)));
    WriteFile(BackupFileName(a), "somebody's file");
    ASSERT_EQ(Tags("strip --apev2 --no-backup " + a, dir).status, 0);
    EXPECT_EQ(ReadFile(BackupFileName(a)), "somebody's file");

    // A file held by another program keeps its tag and says so; the next file goes on.
    WriteFile(a, audio + ape);
    WriteFile(b, audio + ape);
    {
        ForeignLock reader(a, false);
        CliRun r = Tags("strip --apev2 " + a + " " + b, dir);
        EXPECT_EQ(r.status, 1);
    }
    EXPECT_EQ(ReadFile(a), audio + ape);
    EXPECT_EQ(ReadFile(b), audio);

    // A header claiming more than the file holds is an error, and nothing is cut.
    const Bytes liar = ApeTagClaiming(ApeItem("Title", "t"), 1u << 20, 1) + audio;
    WriteFile(a, liar);
    CliRun r = Tags("strip --apev2 " + a, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(Stderr(dir).find("a.MP3"), std::string::npos);
    EXPECT_EQ(ReadFile(a), liar);

    EXPECT_EQ(Tags("strip " + a, dir).status, 2) << "no tag named";
    EXPECT_EQ(Tags("strip --apev2", dir).status, 2) << "no file";
    EXPECT_EQ(Tags("strip --ape " + a, dir).status, 2);
    EXPECT_EQ(Tags("strip --apev2 " + dir.File("missing.MP3"), dir).status, 1);
}

// The APEv2 tag behind an ID3v2 tag moves when that tag is stripped; it is found again where it
// now lies.
TEST(CliStrip, AllThreeRereadTheApev2TagAfterTheId3v2Strip) {
    TempDir dir;
    const std::string a = dir.File("a.MP3");
    const Bytes audio = MpegFrames(2);
    WriteFile(a, Id3TagOurs(Id3Frame("TIT2", Bytes("\0Song", 5))) + ApeTag({{"Title", "t"}}) +
                     audio + Trailer("v1"));
    ASSERT_EQ(Tags("strip --apev2 --id3v1 --id3v2 " + a, dir).status, 0) << Stderr(dir);
    EXPECT_EQ(ReadFile(a), Id3Header(10) + audio);
}
