// quillon-tags among other programs: two writers at one file, refusals, strips of several steps.
#include "Builders.h"
#include "CliRun.h"
#include "ID3v2Tags.h"
#include "JpegBuilders.h"
#include "TestFiles.h"

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

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
        s += (i ? " " : "") + t.FrameIds[i] +
             (t.FrameIds[i] == "TPIC" ? "" : "=" + t.FramePayloads[i]);
    return s;
}

} // namespace

// `set` and a second writer started a random moment later (or slowed down by strace where the
// two used to meet; the second in a network namespace of its own): both succeed, the file holds one
// after the other with its music whole, and so does the backup. QUILLON_STRESS_PAIRS sets the pairs
// of each kind.
TEST(CliConcurrency, TwoWritersAtOneFileLoseNothing) {
    TempDir dir;
    const std::string f = dir.File("c.MP3"), jpg = dir.File("p.jpg");
    WriteFile(jpg, JpegOf({64, 48}));
    WriteFile(f, kSong);
    const bool canEmbed = Tags("embed " + f + " " + jpg + " --tpic", dir).status == 0;
    // LeakSanitizer cannot work under ptrace: a sanitized build checks no leaks under strace.
    const std::string strace =
        "env ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -o /dev/null ";
    const std::string slowFirst =
                          strace + "-e trace=fsync -e inject=fsync:delay_enter=300000:when=2 ",
                      slowSecond = strace + "-e trace=linkat -e inject=linkat:delay_enter=400000 ";
    const bool haveStrace = Shell("command -v strace >/dev/null").status == 0;
    const char* env = std::getenv("QUILLON_STRESS_PAIRS");
    const int pairs = env ? std::atoi(env) : 50;
    // clang-format off
    const std::vector<std::pair<std::string, std::set<std::string>>> kinds = {
        {"set " + f + " TIT2 BBBB", {"TIT2=AAAA TPE1=Band", "TIT2=BBBB TPE1=Band"}},
        {"delete " + f + " 0", {"TPE1=Band", "TPE1=Band TIT2=AAAA"}},
        {"strip --id3v2 " + f, {"", "TIT2=AAAA"}},
        {"embed " + f + " " + jpg + " --tpic", {"TIT2=AAAA TPE1=Band TPIC"}}};
    // clang-format on
    // The last two: set/set with the second writer in a network namespace of its own.
    const bool haveNamespaces = Shell("unshare -n true 2>/dev/null").status == 0;
    std::mt19937 random(18);
    for (int k = 0; k < 8; ++k) {
        const bool slowed = k == 4 || k == 5 || k == 7; // slowed-down set/set, set/delete
        const bool apart = k >= 6;
        const auto& [kind, outcomes] = kinds[apart ? 0 : k % 4];
        const std::string second = (apart ? "unshare -n " : "") + kind;
        if ((k == 3 && !canEmbed) || (slowed && !haveStrace) || (apart && !haveNamespaces))
            continue;
        for (int i = 0; i < (slowed ? 1 : pairs); ++i) {
            WriteFile(f, kSong);
            const int ms = std::uniform_int_distribution<int>(0, 12)(random); // apart
            const ShellResult r = Shell(
                "cd " + dir.Path() + "; " + (slowed ? slowFirst : "") + kTags + " set " + f +
                " TIT2 AAAA 2>e1 & p=$!; sleep " + (slowed ? "0.1" : std::to_string(ms / 1000.0)) +
                "; " + (apart ? "unshare -n " : "") + (slowed ? slowSecond : "") + kTags + " " +
                kind + " >/dev/null 2>e2; s=$?; wait $p; echo $? $s");
            ASSERT_EQ(r.out, "0 0\n")
                << second << ReadFile(dir.File("e1")) << ReadFile(dir.File("e2"));
            ASSERT_TRUE(outcomes.count(Frames(f))) << second << ": " << Frames(f);
            ASSERT_TRUE(ReadFile(dir.File("cbak.MP3")).ends_with(kAudio)) << second;
        }
    }
    std::printf("%d pairs of each kind, nothing lost\n", pairs);
}

// Every refusal leaves the folder as it found it, without a backup or a partial file; files
// that are no regular files are refused at once, and opening them never waits.
TEST(CliSafety, RefusalsLeaveNothingBehind) {
    TempDir dir;
    const std::string f = dir.File("c.MP3"), fifo = dir.File("f.MP3"), folder = dir.File("d");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::string device = dir.File("n.MP3"); // a null device of our own, if we may
    const bool haveDevice = mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    const Bytes withApe = kSong + ApeTag({{"Title", "t"}}) + Id3v1Block({});
    // In front: "!" held by another program, "r" read-locked by one (fcntl), "~" run by another
    // user on our file in a folder both may write, "i"/"a" the file immutable/append-only, "n"
    // no lock to be had, "u" beyond the file size limit, "b" a song named like another's backup;
    // each says why (the system's words where it is the system's reason).
    const std::map<char, std::string> why = {{'!', ""},
                                             {'r', "文件正在被其它程序使用"},
                                             {'~', "Permission denied"},
                                             {'i', "Operation not permitted"},
                                             {'a', "Operation not permitted"},
                                             {'n', "No locks available"},
                                             {'u', "File too large"},
                                             {'b', "move the old backups away"}};
    const bool root = ::geteuid() == 0;
    // clang-format off
    std::vector<std::pair<std::string, int>> rows = {
        {"rset " + f + " TIT2 x", 1}, {"~set " + f + " TIT2 x", 1}, {"~strip --apev2 " + f, 1},
        {"~strip --id3v1 " + f, 1}, {"iset " + f + " TIT2 x", 1}, {"astrip --apev2 " + f, 1}, {"nset " + f + " TIT2 x", 1},
        {"uset " + f + " TIT2 x", 1}, {"bset " + f + " " + dir.File("cbak.MP3") + " TIT2 x", 1}, {"bset -j 2 " + dir.File("cbak.MP3") + " " + f + " TIT2 x", 1},
        {"!set " + f + " TIT2 x", 1}, {"!delete " + f + " 0", 1}, {"!strip --apev2 " + f, 1},
        {"!strip --id3v2 --apev2 " + f, 1}, {"!strip --id3v1 --apev2 " + f, 1}, {"set " + f + " APIC x", 1}, {"set " + f + " tpic x", 1},
        {"set " + f + " TIT x", 1}, {"set " + f + " 'T\"\\X' x", 2}, {"show -x " + f, 2},
        {"set -j 0 " + f + " TIT2 x", 2}, {"strip --id3v2 --bogus " + f, 2},
        {"embed " + f + " " + fifo + " --tpic", 1}, {"embed " + f + " " + folder + " --tpic", 1}};
    for (const std::string& special : {fifo, folder, haveDevice ? device : fifo})
        for (const std::string command : {"show -- @", "set @ TIT2 x", "delete @ 0", "strip --apev2 --id3v2 -- @"})
            rows.push_back({command.substr(0, command.find('@')) + special + command.substr(command.find('@') + 1), 1});
    // clang-format on
    for (const auto& [row, status] : rows) {
        WriteFile(f, withApe);
        WriteFile(dir.File("stderr"), "");
        if (row[0] == 'b') WriteFile(dir.File("cbak.MP3"), kSong); // an old backup, or a song
        const std::string before = Shell("ls -A " + dir.Path()).out;
        const char kind = why.count(row[0]) ? row[0] : ' ';
        const std::string words = row.substr(kind != ' ');
        std::optional<ForeignLock> lock;
        if (kind == '!') lock.emplace(f, false);
        std::string as;
        if (kind == '~') {
            if (!root) continue; // needs a second user
            chmod(dir.Path().c_str(), 0777);
            as = "setpriv --reuid=4242 --regid=4242 --clear-groups ";
        }
        if (kind == 'n') { // no lock to be had (as under a seccomp filter): never unlocked
            if (Shell("command -v strace >/dev/null").status != 0) continue;
            as = "env ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -o /dev/null -e "
                 "trace=fcntl -e inject=fcntl:error=ENOLCK ";
        }
        if ((kind == 'i' || kind == 'a') &&
            (!root || Shell("chattr +" + std::string(1, kind) + " " + f).status != 0))
            continue; // not on this file system
        const int reader = kind == 'r' ? ::open(f.c_str(), O_RDONLY) : -1;
        struct flock shared {};
        shared.l_type = F_RDLCK;
        if (reader >= 0) ::fcntl(reader, F_OFD_SETLK, &shared);
        EXPECT_EQ(Shell((kind == 'u' ? "ulimit -f 8; timeout 10 " : "timeout 10 ") + as + kTags +
                        " " + words + " >/dev/null 2>" + dir.File("stderr"))
                      .status,
                  status)
            << row;
        lock.reset();
        if (reader >= 0) ::close(reader);
        Shell("chattr -ia " + f + " 2>/dev/null");
        chmod(dir.Path().c_str(), 0700);
        if (kind != ' ') {
            EXPECT_NE(ReadFile(dir.File("stderr")).find(why.at(kind)), std::string::npos)
                << row << ": " << ReadFile(dir.File("stderr"));
        }
        EXPECT_EQ(ReadFile(f), withApe) << row;
        if (kind == 'b') {
            EXPECT_EQ(ReadFile(dir.File("cbak.MP3")), kSong) << row;
        }
        EXPECT_EQ(Shell("ls -A " + dir.Path()).out, before) << row;
        std::filesystem::remove(dir.File("cbak.MP3"));
    }

    // A symbolic link is followed: the file it leads to changes, the backup goes beside it.
    std::filesystem::create_symlink("c.MP3", dir.File("l.MP3"));
    ASSERT_EQ(Tags("set " + dir.File("l.MP3") + " TIT2 Linked", dir).status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("l.MP3")));
    EXPECT_EQ(ReadFile(dir.File("cbak.MP3")), withApe);
    EXPECT_FALSE(Exists(dir.File("lbak.MP3")));
}

// In a folder another user may write, that user swaps the song for a link to a file only root
// may read while root's rewrite is held up at its backup (by strace), and a read-only song of
// their own stays theirs to edit: no rewrite follows the link, nothing of the secret lands in a
// file of the folder, and nothing is lost.
TEST(CliSafety, ANameSwappedForALinkIsNeverFollowed) {
    if (::geteuid() != 0 || Shell("command -v strace setpriv >/dev/null").status != 0)
        GTEST_SKIP() << "needs root, strace and setpriv for a second user";
    TempDir dir, hidden;
    const std::string f = dir.File("c.MP3"), secret = hidden.File("secret");
    const Bytes secretBytes(6000, 'S');
    WriteFile(secret, secretBytes);
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    WriteFile(f, kSong);
    const std::string other = "setpriv --reuid=4242 --regid=4242 --clear-groups ";
    ASSERT_EQ(chown(dir.Path().c_str(), 4242, 4242), 0);
    ASSERT_EQ(chown(f.c_str(), 4242, 4242), 0);
    const ShellResult r = Shell(
        "cd " + dir.Path() + "; env ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -o " +
        "/dev/null -e trace=linkat -e inject=linkat:delay_enter=500000 " + kTags + " set " + f +
        " TIT2 Root 2>e & sleep 0.25; " + other + "sh -c 'mv c.MP3 moved.MP3 && ln -s " + secret +
        " c.MP3'; wait");
    EXPECT_EQ(ReadFile(secret), secretBytes);
    bool kept = false;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
        if (e.is_symlink() || !e.is_regular_file()) continue;
        const Bytes bytes = ReadFile(e.path().string());
        EXPECT_EQ(bytes.find(secretBytes.substr(0, 100)), std::string::npos) << e.path();
        kept = kept || bytes == kSong || Frames(e.path().string()) == "TIT2=Root TPE1=Band";
    }
    EXPECT_TRUE(kept) << Shell("ls -l " + dir.Path()).out;

    // The other user's own read-only song: theirs to edit, and still theirs and read-only.
    std::filesystem::remove(f);
    WriteFile(f, kSong);
    ASSERT_EQ(chown(f.c_str(), 4242, 4242), 0);
    ASSERT_EQ(chmod(f.c_str(), 0444), 0);
    EXPECT_EQ(Shell(other + kTags + " set " + f + " TIT2 Own 2>&1").out, "");
    EXPECT_EQ(Frames(f), "TIT2=Own TPE1=Band");
    struct stat st {};
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4242u);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
}

// strip's steps: only what is there changes the file, and the backup of the whole command is
// the original, also when the first change is the ID3v1 cut in place.
TEST(CliSafety, StripStepsKeepTheOriginalAsTheBackup) {
    TempDir dir;
    const std::string f = dir.File("c.MP3"), b = dir.File("cbak.MP3");
    const Bytes v1 = Id3v1Block({}), ape = ApeTag({{"Title", "t"}}),
                tag = Id3TagOurs(Id3FrameWritten("TIT2", "S"));
    // clang-format off
    const std::vector<std::tuple<Bytes, std::string, Bytes>> rows = {  // file, flags, stripped
        {kAudio, "--id3v2", kAudio},
        {kAudio + ape, "--id3v2 --apev2", kAudio},
        {tag + kAudio + ape + v1, "--id3v2 --id3v1 --apev2", Bytes("ID3\3\0\0\0\0\0\x0a", 10) + kAudio},
        {kAudio + ape + v1, "--id3v1 --apev2", kAudio},
        {kAudio + v1, "--id3v1 --apev2", kAudio}};  // a cut in place only: no backup
    // clang-format on
    for (const auto& [file, flags, after] : rows) {
        std::filesystem::remove(b);
        WriteFile(f, file);
        ASSERT_EQ(Tags("strip " + flags + " " + f, dir).status, 0) << flags;
        EXPECT_EQ(ReadFile(f), after) << flags;
        const bool rewritten = file != after && flags.find("--apev2") != std::string::npos &&
                               file.find("APETAGEX") != Bytes::npos;
        EXPECT_EQ(Exists(b) ? ReadFile(b) : "none", rewritten ? file : "none") << flags;
    }
}

// A batch keeps every song: a FILE named like another's backup (with --no-backup both are
// edited, nothing replaced), a file named twice (its backup is the original), the names a killed
// run left (cleared once their song is under its own name, or given back that name); and a reader
// polling a song during rewrites finds it whole each time, old or new.
TEST(CliSafety, ABatchKeepsEverySong) {
    TempDir dir, side;
    const std::string a = dir.File("a.MP3"), b = dir.File("abak.MP3");
    const Bytes other = Id3TagOurs(Id3FrameWritten("TIT2", "Other")) + kAudio;
    auto listing = [&] { return Shell("ls -A " + dir.Path() + " | tr '\\n' ' '").out; };
    WriteFile(a, kSong);
    WriteFile(b, other);
    EXPECT_EQ(Tags("set --no-backup -j 2 " + a + " " + b + " TALB X", side).status, 0);
    EXPECT_EQ(Frames(a) + "|" + Frames(b), "TIT2=Song TPE1=Band TALB=X|TIT2=Other TALB=X");
    EXPECT_EQ(listing(), "a.MP3 abak.MP3 ");

    std::filesystem::remove(b);
    WriteFile(a, kSong);
    EXPECT_EQ(Tags("set " + a + " " + a + " TALB Y", side).status, 0);
    EXPECT_EQ(ReadFile(b), kSong);
    // Spelled two ways, it is still one file.
    WriteFile(a, kSong);
    EXPECT_EQ(Tags("set " + a + " " + dir.Path() + "/./a.MP3 TALB Y", side).status, 0);
    EXPECT_EQ(ReadFile(b), kSong);

    // A process that has ended: its number names no live run.
    std::string dead = Shell("sh -c 'echo $$'").out;
    dead.pop_back();
    std::filesystem::remove(b);
    WriteFile(a, kSong);
    std::filesystem::create_hard_link(a, a + ".quillon-batch-" + dead);
    WriteFile(a + ".quillon-new-" + dead, "half");
    WriteFile(dir.File("c.MP3.quillon-step-" + dead), other); // c.MP3 itself is gone
    WriteFile(dir.File("d.MP3"), kSong);
    EXPECT_EQ(Tags("set --no-backup " + a + " " + dir.File("d.MP3") + " TALB Z", side).status, 0);
    EXPECT_EQ(listing(), "a.MP3 c.MP3 d.MP3 ");
    EXPECT_EQ(ReadFile(dir.File("c.MP3")), other);

    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, torn{0};
    std::thread reader([&] {
        while (!done) {
            ++reads;
            Bytes bytes; // one read: the name may lead to the new file the next moment
            try {
                bytes = ReadFile(a);
            } catch (const std::exception&) { // missing
            }
            if (!bytes.starts_with("ID3") || !bytes.ends_with(kAudio)) ++torn;
        }
    });
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(Tags("set --no-backup " + a + " TALB " + std::to_string(i), side).status, 0);
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
}

// With --no-backup a tag that fits the old room is written over it: the inode, its other links
// and its attributes stay, the audio is not touched and nothing is left beside it. One that does
// not fit, or any change with backups kept, is a full rewrite.
TEST(CliSafety, ATagThatFitsIsWrittenInPlace) {
    TempDir dir, side;
    const std::string a = dir.File("a.MP3"), link = dir.File("link.MP3");
    const Bytes padded = Id3TagStandard(Id3Frame("TIT2", Bytes("\0Song", 5)), 512) + kAudio;
    auto inode = [](const std::string& p) {
        struct stat st {};
        stat(p.c_str(), &st);
        return st.st_ino;
    };
    const struct {
        std::string words;
        bool inPlace;
    } rows[] = {{"set --no-backup FILE TALB X", true},
                {"delete --no-backup FILE 0", true},
                {"set FILE TALB X", false},
                {"set --no-backup FILE COMM " + std::string(600, 'x'), false}};
    for (const auto& row : rows) {
        for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
            std::filesystem::remove(e.path());
        WriteFile(a, padded);
        std::filesystem::create_hard_link(a, link);
        setxattr(a.c_str(), "user.note", "kept", 4, 0);
        const ino_t before = inode(a);
        std::string words = row.words;
        words.replace(words.find("FILE"), 4, a);
        ASSERT_EQ(Tags(words, side).status, 0) << row.words;
        EXPECT_EQ(inode(a) == before, row.inPlace) << row.words;
        EXPECT_EQ(ReadFile(link) == ReadFile(a), row.inPlace) << row.words;
        if (!row.inPlace) continue;
        const Bytes now = ReadFile(a);
        EXPECT_EQ(now.size(), padded.size()) << row.words;
        EXPECT_TRUE(now.ends_with(kAudio)) << row.words;
        char note[8] = {};
        EXPECT_EQ(getxattr(a.c_str(), "user.note", note, sizeof note), 4) << row.words;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                                std::filesystem::directory_iterator()),
                  2)
            << row.words;
    }
}
