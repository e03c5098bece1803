#include "Builders.h"
#include "CliRun.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace {

Bytes Song(int i) {
    Id3v1Fields v1;
    v1.title = "v1 " + std::to_string(i);
    Bytes content = MpegFrames(1 + i % 4);
    if (i % 2 == 0) content += ApeTag({{"Title", "ape " + std::to_string(i)}});
    if (i % 3 != 2) content += Id3v1Block(v1);
    return content;
}

} // namespace

// `strip -j N` rewrites the files on N workers: every file, its backup, the output and the
// status must be what one worker makes of them.
TEST(CliStripJobs, WorkersLeaveTheFilesAsOneWorkerDoes) {
    TempDir dir;
    const int count = 13;
    auto makeFiles = [&](const std::string& prefix) {
        std::string words;
        for (int i = 0; i < count; ++i) {
            const std::string name = dir.File(prefix + std::to_string(i) + ".MP3");
            if (i != 7) WriteFile(name, Song(i)); // 7 is missing
            words += " " + name;
        }
        return words;
    };
    const std::string one = makeFiles("one");
    const CliRun r1 = Tags("strip --apev2 --id3v1 -j1" + one, dir);
    const std::string err1 = ReadFile(dir.File("stderr"));
    EXPECT_EQ(r1.status, 1) << "one file is missing";
    EXPECT_NE(err1.find("one7.MP3"), std::string::npos) << err1;

    const std::string many = makeFiles("many");
    const CliRun r3 = Tags("strip --apev2 --id3v1 -j3" + many, dir);
    std::string err3 = ReadFile(dir.File("stderr"));
    EXPECT_EQ(r3.status, 1);
    EXPECT_EQ(r3.out, r1.out);
    for (size_t at; (at = err3.find("many")) != std::string::npos;)
        err3.replace(at, 4, "one");
    EXPECT_EQ(err3, err1) << "the same messages, in the order of the files";
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        EXPECT_EQ(Exists(dir.File("many" + n + ".MP3")), Exists(dir.File("one" + n + ".MP3")));
        if (i == 7) continue;
        EXPECT_EQ(ReadFile(dir.File("many" + n + ".MP3")), ReadFile(dir.File("one" + n + ".MP3")))
            << i;
        EXPECT_EQ(Exists(dir.File("many" + n + "bak.MP3")), Exists(dir.File("one" + n + "bak.MP3")))
            << i;
    }
}

TEST(CliStripJobs, OneFileNamedTwiceIsStrippedTwiceInTurn) {
    TempDir dir;
    // An ID3v1 block in front of the last one: the second strip of the same file takes it too.
    Id3v1Fields a, b;
    a.title = "first";
    b.title = "second";
    const Bytes audio = MpegFrames(2);
    const std::string song = dir.File("song.MP3");
    WriteFile(song, audio + Id3v1Block(a) + Id3v1Block(b));
    std::string words = " " + song;
    for (int i = 0; i < 5; ++i) {
        const std::string other = dir.File(std::string("o") + std::to_string(i) + ".MP3");
        WriteFile(other, audio);
        words += " " + other;
    }
    const CliRun r = Tags("strip --id3v1 -j4" + words + " " + dir.Path() + "/./song.MP3", dir);
    EXPECT_EQ(r.status, 0) << ReadFile(dir.File("stderr"));
    EXPECT_EQ(ReadFile(song), audio);
}
