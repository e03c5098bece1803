// quillon-tags among other programs: two writers at one file, files that are no regular files,
// refusals, and strips of several steps.
#include "Builders.h"
#include "CliRun.h"
#include "ID3v2Tags.h"
#include "JpegBuilders.h"
#include "TestFiles.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <set>
#include <sys/stat.h>

namespace {

const Bytes kAudio = MpegFrames(40);
const Bytes kSong =
    Id3TagOurs(Id3FrameWritten("TIT2", "Song") + Id3FrameWritten("TPE1", "Band")) + kAudio;
const std::string kTags = QUILLON_TAGS;

// The frames of a file as "ID=text ...", pictures by id alone; "!" when the audio is not whole
// right behind the tag.
std::string Frames(const std::string& path) {
    TID3v2Tag t;
    t.ReadFromFile(path);
    const Bytes bytes = ReadFile(path);
    if (bytes.size() != size_t(t.TagSize) + kAudio.size() || !bytes.ends_with(kAudio)) return "!";
    std::string s;
    for (size_t i = 0; i < t.FrameIds.size(); ++i)
        s += (s.empty() ? "" : " ") + t.FrameIds[i] +
             (t.FrameIds[i] == "TPIC" ? "" : "=" + t.FramePayloads[i]);
    return s;
}

std::set<std::string> Names(const TempDir& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        names.insert(e.path().filename().string());
    return names;
}

} // namespace

// Two writers started a moment apart, in every order the moment allows: both succeed, the file
// holds the result of one after the other, its music is whole, and so is the backup's.
// QUILLON_STRESS_PAIRS sets the number of pairs of each kind.
TEST(CliConcurrency, TwoWritersAtOneFileLoseNothing) {
    TempDir dir;
    const std::string f = dir.File("c.MP3"), b = dir.File("cbak.MP3"), jpg = dir.File("p.jpg");
    WriteFile(jpg, JpegOf({64, 48}));
    WriteFile(f, kSong);
    const bool canEmbed = Tags("embed " + f + " " + jpg + " --tpic", dir).status == 0;
    struct Kind {
        std::string second;
        std::set<std::string> outcomes; // set first, or the other first
    };
    const std::vector<Kind> kinds = {
        {"set " + f + " TIT2 BBBB", {"TIT2=AAAA TPE1=Band", "TIT2=BBBB TPE1=Band"}},
        {"delete " + f + " 0", {"TPE1=Band", "TPE1=Band TIT2=AAAA"}},
        {"strip --id3v2 " + f, {"", "TIT2=AAAA"}},
        {"embed " + f + " " + jpg + " --tpic", {"TIT2=AAAA TPE1=Band TPIC"}},
    };
    const char* env = std::getenv("QUILLON_STRESS_PAIRS");
    const int pairs = env ? std::atoi(env) : 50;
    std::mt19937 random(18);
    int run = 0;
    for (const Kind& kind : kinds) {
        if (kind.second.starts_with("embed") && !canEmbed) continue; // no picture module here
        for (int i = 0; i < pairs; ++i, ++run) {
            WriteFile(f, kSong);
            const int delay = std::uniform_int_distribution<int>(0, 12)(random);
            const ShellResult r = Shell("cd " + dir.Path() + "; " + kTags + " set " + f +
                                        " TIT2 AAAA 2>e1 & p=$!; sleep 0.0" +
                                        (delay < 10 ? "0" : "") + std::to_string(delay) + "; " +
                                        kTags + " " + kind.second + " >/dev/null 2>e2; s=$?; " +
                                        "wait $p; echo $? $s");
            ASSERT_EQ(r.out, "0 0\n") << kind.second << ReadFile(dir.File("e1"))
                                      << ReadFile(dir.File("e2"));
            ASSERT_TRUE(kind.outcomes.count(Frames(f))) << kind.second << ": " << Frames(f);
            ASSERT_TRUE(ReadFile(b).ends_with(kAudio)) << kind.second;
        }
    }
    std::printf("%d pairs, nothing lost\n", run);

    // The steps slowed down where two writers used to meet: the first between its backup and
    // the new file, the second at its backup.
    if (!Shell("command -v strace >/dev/null").status) {
        for (const std::string& second : {"set " + f + " TIT2 BBBB", "delete " + f + " 0"}) {
            WriteFile(f, kSong);
            const ShellResult r = Shell(
                "cd " + dir.Path() + "; strace -f -o /dev/null -e trace=fsync -e " +
                "inject=fsync:delay_enter=300000:when=2 " + kTags + " set " + f +
                " TIT2 AAAA 2>e1 & p=$!; sleep 0.1; strace -f -o /dev/null -e trace=linkat -e " +
                "inject=linkat:delay_enter=400000 " + kTags + " " + second +
                " 2>e2; s=$?; wait $p; echo $? $s");
            EXPECT_EQ(r.out, "0 0\n") << second;
            EXPECT_NE(Frames(f), "!") << second;
            EXPECT_TRUE(ReadFile(b).ends_with(kAudio)) << second;
        }
    }
}

// A FIFO, a device or a folder as FILE or PICTURE: refused at once, nothing made beside it.
TEST(CliSafety, SpecialFilesAreRefusedAtOnce) {
    TempDir dir;
    const std::string fifo = dir.File("f.MP3"), folder = dir.File("d.MP3");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    WriteFile(dir.File("s.MP3"), kSong);
    const std::set<std::string> before = Names(dir);
    for (const std::string& file : {fifo, folder, std::string("/dev/null")}) {
        for (const std::string& words :
             {"show " + file, "set " + file + " TIT2 x", "delete " + file + " 0",
              "strip --id3v2 --id3v1 --apev2 " + file,
              "embed " + dir.File("s.MP3") + " " + file + " --tpic"}) {
            EXPECT_EQ(Shell("timeout 10 " + kTags + " " + words + " >/dev/null 2>&1").status, 1)
                << words;
            EXPECT_EQ(Names(dir), before) << words;
        }
    }
    EXPECT_FALSE(Exists("/dev/nullbak"));
    EXPECT_EQ(ReadFile(dir.File("s.MP3")), kSong);

    // A symbolic link is followed: the file it leads to changes, the backup goes beside it.
    const std::string link = dir.File("l.MP3");
    std::filesystem::create_symlink("s.MP3", link);
    ASSERT_EQ(Tags("set " + link + " TIT2 Linked", dir).status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(Frames(dir.File("s.MP3")), "TIT2=Linked TPE1=Band");
    EXPECT_EQ(ReadFile(dir.File("sbak.MP3")), kSong);
    EXPECT_FALSE(Exists(dir.File("lbak.MP3")));
}

// Every refusal leaves the folder as it found it: no backup, no partial file.
TEST(CliSafety, RefusalsLeaveNothingBehind) {
    TempDir dir;
    const std::string f = dir.File("c.MP3");
    const Bytes withApe = kSong + ApeTag({{"Title", "t"}});
    WriteFile(dir.File("stderr"), ""); // where Tags puts the messages
    struct Row {
        std::string words;
        int status;
        bool held; // another program holds the file
    };
    const std::vector<Row> rows = {
        {"set " + f + " TIT2 x", 1, true},
        {"delete " + f + " 0", 1, true},
        {"strip --apev2 " + f, 1, true},
        {"strip --id3v2 --apev2 " + f, 1, true},
        {"set " + f + " APIC x", 1, false},
        {"set " + f + " tpic x", 1, false},
        {"set " + f + " TIT x", 1, false},
        {"set " + f + " 'T\"\\X' x", 2, false},
        {"show -x " + f, 2, false},
        {"set -j 2 " + f + " TIT2 x", 2, false},
        {"strip --id3v2 --bogus " + f, 2, false},
    };
    for (const Row& row : rows) {
        WriteFile(f, withApe);
        const std::set<std::string> before = Names(dir);
        std::optional<ForeignLock> lock;
        if (row.held) lock.emplace(f, false);
        EXPECT_EQ(Tags(row.words, dir).status, row.status) << row.words;
        lock.reset();
        EXPECT_EQ(ReadFile(f), withApe) << row.words;
        EXPECT_EQ(Names(dir), before) << row.words;
    }
}

// strip's steps: only what is there changes the file, and the backup of the whole command is
// the original, also when the first change is the ID3v1 cut in place.
TEST(CliSafety, StripStepsKeepTheOriginalAsTheBackup) {
    TempDir dir;
    const std::string f = dir.File("c.MP3"), b = dir.File("cbak.MP3");
    Id3v1Fields v1;
    v1.title = "v1";
    const Bytes ape = ApeTag({{"Title", "t"}}), tag = Id3TagOurs(Id3FrameWritten("TIT2", "S"));
    struct Row {
        Bytes file;
        std::string flags;
        Bytes after;
        bool backup;
    };
    const std::vector<Row> rows = {
        {kAudio, "--id3v2", kAudio, false},
        {kAudio + ape, "--id3v2 --apev2", kAudio, true},
        {tag + kAudio + ape + Id3v1Block(v1), "--id3v2 --id3v1 --apev2",
         Bytes("ID3\3\0\0\0\0\0\x0a", 10) + kAudio, true},
        {kAudio + ape + Id3v1Block(v1), "--id3v1 --apev2", kAudio, true},
        {kAudio + Id3v1Block(v1), "--id3v1 --apev2", kAudio, false},
    };
    for (const Row& row : rows) {
        std::filesystem::remove(b);
        WriteFile(f, row.file);
        ASSERT_EQ(Tags("strip " + row.flags + " " + f, dir).status, 0) << row.flags;
        EXPECT_EQ(ReadFile(f), row.after) << row.flags;
        EXPECT_EQ(Exists(b), row.backup) << row.flags;
        if (row.backup) EXPECT_EQ(ReadFile(b), row.file) << row.flags;
    }
}
