// A rewrite must never lose the original: broken at any step it leaves the original at its name
// and says so; killed at any moment it leaves the original in the file or in its backup; on a
// full disk it gives a clear error and the original back. quillon-tags runs the engines in a
// process of its own, with a preloaded fault injector that breaks one file system call at a time.
#include "Builders.h"
#include "ID3v2Tags.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

struct Outcome {
    int status; // exit status; 128 + 9 when killed
    std::string err;
};

struct Step {
    std::string op, path;
};

// Starts a program directly (no shell: every exec costs), with `env` added to the environment
// and stderr going to `errFile`.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
            const std::string& errFile = "/dev/null") {
    std::vector<char*> args, envp;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    for (char** e = environ; *e; ++e)
        envp.push_back(*e);
    envp.push_back(nullptr);
    pid_t pid;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

// Exit status of a whole run; 128 + the signal when it was killed.
int RunToEnd(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
             const std::string& errFile = "/dev/null") {
    int status = 0;
    waitpid(Spawn(argv, env, errFile), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Starts quillon-tags and kills it after `delay`; false when it had ended by then.
bool KillAfter(const std::vector<std::string>& argv, std::chrono::microseconds delay) {
    const pid_t pid = Spawn(argv);
    std::this_thread::sleep_for(delay);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status);
}

// One file in a folder of its own, so that the injector counts only the calls on it and on its
// backup (and on the folder).
struct Scene {
    // The hundreds of small rewrites go to tmpfs where there is one (they flush nothing to a
    // disk there); a large file goes to the disk, where a rewrite takes its real time.
    explicit Scene(bool onDisk = false)
        : dir(onDisk || access("/dev/shm", W_OK) != 0 ? TempDir() : TempDir("/dev/shm")) {}
    TempDir dir;
    TempDir side;
    std::string song = dir.File("song.MP3");
    std::string backup = dir.File("songbak.MP3");

    void Reset(const Bytes& original) const {
        for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
            std::filesystem::remove(e.path());
        WriteFile(song, original);
    }
    // Runs quillon-tags with the words given, FILE standing for the song.
    Outcome Run(std::vector<std::string> words, long at, const std::string& mode,
                bool log = false) const {
        for (std::string& w : words)
            if (w == "FILE") w = song;
        words.insert(words.begin(), QUILLON_TAGS);
        const char* asan = std::getenv("ASAN_OPTIONS");
        std::vector<std::string> env = {
            std::string("LD_PRELOAD=") + FAULT_SHIM, "QUILLON_FAULT_DIR=" + dir.Path(),
            "QUILLON_FAULT_AT=" + std::to_string(at), "QUILLON_FAULT_MODE=" + mode,
            // A sanitizer build wants its runtime first; the injector is plain C.
            std::string("ASAN_OPTIONS=") + (asan ? asan : "") +
                ":verify_asan_link_order=0:detect_leaks=0"};
        if (log) env.push_back("QUILLON_FAULT_LOG=" + side.File("log"));
        const int status = RunToEnd(words, env, side.File("err"));
        return {status, ReadFile(side.File("err"))};
    }
    std::vector<Step> Trace() const {
        std::vector<Step> steps;
        std::istringstream in(ReadFile(side.File("log")));
        long n;
        Step s;
        while (in >> n >> s.op >> s.path)
            steps.push_back(s);
        return steps;
    }
    std::string Now() const { return Exists(song) ? ReadFile(song) : "<no file>"; }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// What the next program finds after a run broken in an in-place edit: `recover` rolls a
// journal left hot back (the injector is not loaded for it).
void Recover(const std::string& target) {
    RunToEnd({QUILLON_TAGS, "recover", target});
}

bool WritesInPlace(const std::vector<std::string>& words) {
    return std::find(words.begin(), words.end(), "--no-backup") != words.end();
}

// The extended attributes of a file as "name=value;...".
std::string Attributes(const std::string& path) {
    char names[4096];
    const ssize_t n = listxattr(path.c_str(), names, sizeof names);
    std::string all;
    for (ssize_t at = 0; at < n; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        char value[4096];
        const ssize_t size = getxattr(path.c_str(), names + at, value, sizeof value);
        all += std::string(names + at) + "=" + std::string(value, size > 0 ? size : 0) + ";";
    }
    return all;
}

// A step of the rewrite itself: anything done to the backup or the folder, the delete of the
// file, its creation and everything written to it. A failure there must leave the original.
bool IsRewriteStep(const Step& s, const Scene& scene) {
    if (s.path == scene.backup || s.path == scene.dir.Path()) return true;
    if (s.path != scene.song) return false;
    return s.op == "open+create" || s.op == "openat+create" || s.op == "unlink" ||
           s.op == "unlinkat" || s.op == "write" || s.op == "pwrite" || s.op == "copy_file_range" ||
           s.op == "sendfile" || s.op == "ftruncate" || s.op == "fallocate" || s.op == "fsync" ||
           s.op == "fdatasync";
}

bool IsDataCall(const Step& s) {
    return s.op == "read" || s.op == "pread" || s.op == "write" || s.op == "pwrite" ||
           s.op == "copy_file_range" || s.op == "sendfile";
}

struct Tally {
    int steps = 0, failed = 0, tolerated = 0, shortened = 0, killed = 0;
    std::string toleratedSteps;
};
std::map<std::string, Tally> tallies;

// Breaks every counted call of one command in turn, in each of the three ways.
// `inPlace`: the command changes the file in place (the ID3v1 cut), without a backup; a failure
// after the cut (its flush) leaves the file cut, which is no damage.
// `dress` gives the song what it carries besides its bytes (extended attributes) after each reset.
void BreakEveryStep(const std::string& name, const Bytes& original,
                    const std::vector<std::string>& words, bool inPlace = false,
                    const std::function<void(const std::string&)>& dress = {}) {
    Scene scene;
    const auto reset = [&] {
        scene.Reset(original);
        if (dress) dress(scene.song);
    };
    reset();
    const std::string attributes = Attributes(scene.song);
    const Outcome dry = scene.Run(words, 0, "fail", true);
    ASSERT_EQ(dry.status, 0) << name << ": " << dry.err;
    const Bytes expected = scene.Now();
    EXPECT_EQ(Attributes(scene.song), attributes) << name << ": the new file must keep them";
    ASSERT_NE(expected, original) << name;
    const std::vector<Step> steps = scene.Trace();
    ASSERT_GE(steps.size(), 6u) << name << ": the injector saw too few calls";
    Tally& tally = tallies[name];
    tally.steps = static_cast<int>(steps.size());

    for (size_t k = 1; k <= steps.size(); ++k) {
        const Step& step = steps[k - 1];
        const std::string what = name + ", call " + std::to_string(k) + " " + step.op + " " +
                                 std::filesystem::path(step.path).filename().string();
        {
            reset();
            const Outcome o = scene.Run(words, static_cast<long>(k), "fail");
            if (WritesInPlace(words)) Recover(scene.song);
            const Bytes now = scene.Now();
            ASSERT_TRUE(o.status == 0 || o.status == 1) << what << " (status " << o.status << ")";
            if (o.status == 0) {
                EXPECT_TRUE(now == expected) << what << ": success reported, the file must be new";
                ++tally.tolerated;
                tally.toleratedSteps += " " + step.op;
            } else {
                EXPECT_FALSE(o.err.empty()) << what << ": a failure must be explained";
                if (IsRewriteStep(step, scene) && !inPlace)
                    EXPECT_TRUE(now == original) << what << ": the original must be back";
                else
                    EXPECT_TRUE(now == original || now == expected) << what;
                ++tally.failed;
            }
            // Nothing but the file and an intact backup is left behind.
            for (const std::string& f : scene.Files())
                EXPECT_TRUE(f == "song.MP3" ||
                            (f == "songbak.MP3" && ReadFile(scene.backup) == original))
                    << what << ": left " << f;
        }
        if (IsDataCall(step)) {
            // A read, write or copy that does only part of its work is no failure.
            reset();
            const Outcome o = scene.Run(words, static_cast<long>(k), "short");
            EXPECT_EQ(o.status, 0) << what << " (short): " << o.err;
            if (WritesInPlace(words)) {
                EXPECT_FALSE(Exists(scene.song + ".quillon-journal")) << what;
            }
            EXPECT_TRUE(scene.Now() == expected) << what << " (short)";
            ++tally.shortened;
        }
        {
            reset();
            const Outcome o = scene.Run(words, static_cast<long>(k), "kill");
            EXPECT_EQ(o.status, 128 + SIGKILL) << what << " (kill)";
            // Killed in place: once recovered, the old tag or the new one, never a mix.
            if (WritesInPlace(words)) Recover(scene.song);
            const Bytes now = scene.Now();
            const bool safe = now == original || now == expected ||
                              (!WritesInPlace(words) && Exists(scene.backup) &&
                               ReadFile(scene.backup) == original);
            EXPECT_TRUE(safe) << what
                              << " (kill): the original is neither in the file nor in "
                                 "the backup";
            ++tally.killed;
        }
    }
}

Bytes Audio(int frames) {
    return MpegFrames(frames);
}

Bytes OurTag() {
    return Id3TagOurs(Id3Frame("TIT2", Bytes("\0Old title", 10)) +
                      Id3Frame("TPE1", Bytes("\0Artist", 7)) +
                      Id3Frame("COMM", Bytes("\0chi\0note", 9)));
}

// A tag with room to spare, as mutagen leaves it.
Bytes PaddedTag() {
    return Id3TagStandard(
        Id3Frame("TIT2", Bytes("\0Old title", 10)) + Id3Frame("TPE1", Bytes("\0Artist", 7)), 1024);
}

} // namespace

TEST(FaultEveryStep, SetDeleteAndStripSurviveEveryBrokenCall) {
    BreakEveryStep("set on our tag", OurTag() + Audio(40), {"set", "FILE", "TIT2", "New"});
    BreakEveryStep("set on a file without a tag", Audio(40), {"set", "FILE", "TIT2", "New"});
    BreakEveryStep("set on a padded standard tag",
                   Id3TagStandard(Id3Frame("TIT2", Bytes("\0Old", 4)), 512) + Audio(40),
                   {"set", "FILE", "TALB", "Album"});
    BreakEveryStep("a long text in several frames", OurTag() + Audio(10),
                   {"set", "FILE", "COMM", std::string(2500, 'x')});
    BreakEveryStep("delete", OurTag() + Audio(40), {"delete", "FILE", "1"});
    // Written in place under a journal: every step of the journal broken or killed in turn.
    BreakEveryStep("set in place", PaddedTag() + Audio(40),
                   {"set", "FILE", "TALB", "Album", "--no-backup"});
    BreakEveryStep("delete in place", PaddedTag() + Audio(40),
                   {"delete", "FILE", "0", "--no-backup"});
    BreakEveryStep("strip ID3v2", OurTag() + Audio(40), {"strip", "FILE", "--id3v2"});
    const Bytes others = ApeTag({{"Title", "Song"}, {"Artist", "Artist"}}) +
                         Id3v1Block({.title = "Song", .track = 1, .genre = 17});
    BreakEveryStep("strip APEv2", OurTag() + Audio(40) + others, {"strip", "FILE", "--apev2"});
    // Its attributes and ACL are copied to the new file: every step of that broken in turn too.
    BreakEveryStep(
        "set on a song with attributes and an ACL", OurTag() + Audio(40),
        {"set", "FILE", "TIT2", "New"}, false, [](const std::string& song) {
            // user::rw- user:1234:rw- group::--- mask::rw- other::---
            Bytes acl = LE32(2);
            for (const auto& [tag, perm, id] :
                 {std::tuple{1, 6, ~0u}, {2, 6, 1234u}, {4, 0, ~0u}, {16, 6, ~0u}, {32, 0, ~0u}})
                acl += Bytes{char(tag), 0, char(perm), 0} + LE32(id);
            setxattr(song.c_str(), "user.note", "kept", 4, 0);
            setxattr(song.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0);
        });
    // The ID3v1 block is cut in place: a failure or a kill leaves it whole or gone, the rest of
    // the file untouched.
    BreakEveryStep("strip ID3v1", OurTag() + Audio(40) + others, {"strip", "FILE", "--id3v1"},
                   true);
    for (const auto& [name, t] : tallies)
        std::printf("%s: %d calls; broken: %d failed cleanly, %d tolerated; %d shortened; %d "
                    "killed; tolerated:%s\n",
                    name.c_str(), t.steps, t.failed, t.tolerated, t.shortened, t.killed,
                    t.toleratedSteps.c_str());
}

namespace {

// `command` on three files with --no-backup; `phases` the order of its links, renames and
// flushes.
void BreakEveryStepOfABatch(const std::vector<std::string>& command, const Bytes& original,
                            const std::string& phases, bool inPlace) {
    Scene scene;
    const std::vector<std::string> names = {"song.MP3", "two.MP3", "three.MP3"};
    std::vector<std::string> words = {command[0], "-j", "1", "--no-backup"};
    for (const std::string& n : names)
        words.push_back(scene.dir.File(n));
    words.insert(words.end(), command.begin() + 1, command.end());
    auto reset = [&] {
        scene.Reset(original);
        for (const std::string& n : names)
            WriteFile(scene.dir.File(n), original);
    };
    reset();
    ASSERT_EQ(scene.Run(words, 0, "fail", true).status, 0);
    const Bytes expected = scene.Now();
    ASSERT_NE(expected, original);
    const std::vector<Step> steps = scene.Trace();
    std::string seen;
    for (const Step& s : steps)
        if (s.op == "syncfs" || s.op == "fsync" || s.op == "linkat" || s.op == "rename")
            seen += s.op == "syncfs" ? "S" : s.op == "fsync" ? "F" : s.op == "linkat" ? "L" : "R";
    EXPECT_EQ(seen, phases) << command[0];

    for (size_t k = 1; k <= steps.size(); ++k) {
        const std::string what = command[0] + ", call " + std::to_string(k) + " " +
                                 steps[k - 1].op + " " +
                                 std::filesystem::path(steps[k - 1].path).filename().string();
        for (const std::string mode : {"fail", "kill"}) {
            reset();
            const Outcome o = scene.Run(words, static_cast<long>(k), mode);
            if (mode == "kill") {
                ASSERT_EQ(o.status, 128 + SIGKILL) << what;
            }
            if (inPlace) Recover(scene.dir.Path());
            for (const std::string& n : names) {
                const std::string file = scene.dir.File(n);
                const Bytes now = Exists(file) ? ReadFile(file) : "";
                bool kept = now == original || now == expected;
                for (const std::string& f : scene.Files())
                    if (f.rfind(n.substr(0, n.size() - 4), 0) == 0 && f != n)
                        kept = kept || ReadFile(scene.dir.File(f)) == original;
                EXPECT_TRUE(kept) << what << " (" << mode << "): " << n << " lost";
                if (o.status == 0) {
                    EXPECT_TRUE(now == expected) << what << ": success, " << n;
                }
            }
            if (mode == "fail") {
                EXPECT_TRUE(o.status == 0 || !o.err.empty()) << what << ": unexplained failure";
                // Nothing but the files and their intact backups (and a temporary name whose
                // own delete was the call broken).
                const bool tempUnlink = steps[k - 1].op == "unlink" &&
                                        steps[k - 1].path.find(".quillon-") != std::string::npos;
                for (const std::string& f : scene.Files())
                    EXPECT_TRUE(std::find(names.begin(), names.end(), f) != names.end() ||
                                (f.find("bak.MP3") != std::string::npos &&
                                 ReadFile(scene.dir.File(f)) == original) ||
                                (tempUnlink && f.find(".quillon-") != std::string::npos))
                        << what << ": left " << f;
            }
        }
    }
}

} // namespace

// A batch of three files, with the phases of its flushes: every call broken or killed in turn
// leaves each file's original in the file, its backup or its second name, and a failure leaves
// nothing else behind.
TEST(FaultEveryStep, ABatchSurvivesEveryBrokenCall) {
    const Bytes others = ApeTag({{"Title", "Song"}}) + Id3v1Block({.title = "Song"});
    // The phases: second names made (L), one flush (S), the files rewritten (R; a later strip
    // step through a name of its own, L) without a flush each (F), one flush, backups deleted.
    // In place: second names and journals (L, each song's journal a name of the folder's one
    // journal file), one flush, the tags written, one flush, the journals removed and their
    // folder flushed (F); a tag that does not fit is rewritten whole instead.
    const struct {
        std::vector<std::string> command;
        std::string phases;
        bool inPlace;
    } rows[] = {{{"set", "TIT2", "New"}, "LLLLLLSRRRSF", false},
                {{"strip", "--id3v2", "--apev2"}, "LLLSRLRLRLS", false},
                {{"set", "TALB", "Album"}, "LLLLLLSSF", true}};
    for (const auto& row : rows)
        BreakEveryStepOfABatch(row.command,
                               (row.inPlace ? PaddedTag() : OurTag()) + Audio(20) + others,
                               row.phases, row.inPlace);
}

// A journal left hot by a kill just before the song's first in-place byte, the song then torn by
// hand: it is rolled back only onto the file it was written for, by show as by recover.
TEST(FaultJournal, RolledBackOnlyOntoItsOwnFile) {
    Scene scene;
    const Bytes original = PaddedTag() + Audio(40);
    const std::vector<std::string> words = {"set", "FILE", "TALB", "Album", "--no-backup"};
    scene.Reset(original);
    ASSERT_EQ(scene.Run(words, 0, "fail", true).status, 0);
    const std::vector<Step> steps = scene.Trace();
    long at = 0;
    for (size_t k = 0; k < steps.size() && !at; ++k)
        if (steps[k].op == "pwrite" && steps[k].path == scene.song) at = static_cast<long>(k + 1);
    ASSERT_GT(at, 0);
    const std::string journal = scene.song + ".quillon-journal";
    const struct {
        const char* name;
        std::function<void()> change; // what happened to the song or journal since
        bool applies;
    } rows[] = {
        {"its own file", [] {}, true},
        {"another inode",
         [&] {
             WriteFile(scene.dir.File("copy"), ReadFile(scene.song));
             std::filesystem::rename(scene.dir.File("copy"), scene.song);
         },
         false},
        {"another size", [&] { WriteFile(scene.song, ReadFile(scene.song) + "x"); }, false},
        {"a bad checksum",
         [&] {
             Bytes j = ReadFile(journal);
             j.back() ^= 1;
             WriteFile(journal, j);
         },
         false},
    };
    for (const auto& row : rows) {
        for (const char* reader : {"show", "recover"}) {
            scene.Reset(original);
            ASSERT_EQ(scene.Run(words, at, "kill").status, 128 + SIGKILL) << row.name;
            ASSERT_TRUE(Exists(journal)) << row.name;
            // Torn where the edit was writing: the region the journal names (offset, length).
            const Bytes header = ReadFile(journal).substr(0, 48);
            uint64_t offset = 0, length = 0;
            std::memcpy(&offset, header.data() + 32, 8);
            std::memcpy(&length, header.data() + 40, 8);
            const Bytes torn(std::min<uint64_t>(length, 40), 'T');
            const int fd = open(scene.song.c_str(), O_WRONLY);
            ASSERT_EQ(pwrite(fd, torn.data(), torn.size(), static_cast<off_t>(offset)),
                      static_cast<ssize_t>(torn.size()));
            close(fd);
            row.change();
            const Bytes before = ReadFile(scene.song);
            const int status =
                RunToEnd({QUILLON_TAGS, reader, scene.song}, {}, scene.side.File("err"));
            const std::string what = std::string(row.name) + ", " + reader;
            if (row.applies) {
                EXPECT_EQ(ReadFile(scene.song), original) << what;
                EXPECT_FALSE(Exists(journal)) << what;
            } else {
                EXPECT_EQ(ReadFile(scene.song), before) << what << ": never applied";
                EXPECT_TRUE(Exists(journal)) << what << ": left alone";
                EXPECT_NE(ReadFile(scene.side.File("err")).find("left alone"), std::string::npos)
                    << what;
                if (std::string(reader) == "recover") {
                    EXPECT_EQ(status, 1) << what;
                }
            }
        }
    }
}

namespace {

int Rounds() {
    const char* r = std::getenv("QUILLON_KILL_ROUNDS");
    return r ? std::max(1, std::atoi(r)) : 3;
}

} // namespace

TEST(FaultKill, RandomMomentsOfALargeRewrite) {
    // About 128 MB of audio behind a small tag.
    const Bytes original = OurTag() + Audio(128 * 1024 * 1024 / 417);
    Scene scene(true);
    scene.Reset(original);
    const std::vector<std::string> argv = {QUILLON_TAGS, "set", scene.song, "TIT2", "New"};

    // One whole run gives the new content and the span in which to strike.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunToEnd(argv), 0);
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    const Bytes expected = scene.Now();
    ASSERT_NE(expected, original);

    std::mt19937_64 random(std::random_device{}());
    int killedMidway = 0;
    for (int round = 0; round < Rounds(); ++round) {
        scene.Reset(original);
        const auto delay = std::chrono::microseconds(
            std::uniform_int_distribution<int64_t>(0, span.count())(random));
        const bool killed = KillAfter(argv, delay);
        const Bytes now = scene.Now();
        const bool backupWhole = Exists(scene.backup) && ReadFile(scene.backup) == original;
        EXPECT_TRUE(now == original || now == expected || backupWhole)
            << "killed after " << delay.count() << " us of " << span.count();
        if (killed && now != original && now != expected) ++killedMidway;
    }
    std::printf("%d rounds, %d killed while the new file was incomplete\n", Rounds(), killedMidway);
}

namespace {

// A tmpfs of `size` mounted on a folder of its own for the life of the object; Mounted() is
// false (with the reason) where the test may not mount.
class SmallDisk {
  public:
    explicit SmallDisk(const std::string& size) : path_(dir_.File("disk")) {
        std::filesystem::create_directory(path_);
        if (geteuid() != 0) {
            reason_ = "needs root to mount a small tmpfs";
        } else if (::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                           ("size=" + size).c_str()) != 0) {
            reason_ = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
        } else {
            mounted_ = true;
        }
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    const std::string& Reason() const { return reason_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    void Clear() const {
        for (const auto& e : std::filesystem::directory_iterator(path_))
            std::filesystem::remove(e.path());
    }

  private:
    TempDir dir_;
    std::string path_;
    std::string reason_;
    bool mounted_ = false;
};

} // namespace

TEST(FaultDiskFull, AClearErrorAndTheOriginalBack) {
    SmallDisk disk("512k");
    if (!disk.Mounted()) GTEST_SKIP() << disk.Reason();
    TempDir side;
    const std::string song = disk.File("song.MP3"), backup = disk.File("songbak.MP3");
    int failed = 0, succeeded = 0;
    std::string example;
    // 300 KB: the original and its new version never both fit in 512 KB; 150 KB: they do until
    // the filler takes the room.
    for (const Bytes& original : {OurTag() + Audio(720), OurTag() + Audio(360)}) {
        // A filler takes more and more of the disk, so that the space runs out at every stage:
        // at the tag, inside the audio copy, at the flush, or not at all.
        for (size_t filler = 0; filler <= 512 * 1024; filler += 16 * 1024) {
            disk.Clear();
            WriteFile(song, original);
            if (filler > 0) {
                try {
                    WriteFile(disk.File("filler"), Bytes(filler, 'f'));
                } catch (const std::exception&) {
                    break; // no room left even for the filler
                }
            }
            const int status =
                RunToEnd({QUILLON_TAGS, "set", song, "TIT2", "New title"}, {}, side.File("err"));
            const std::string err = ReadFile(side.File("err"));
            const std::string what = std::to_string(original.size() / 1024) + " KB, filler " +
                                     std::to_string(filler / 1024) + " KB";
            ASSERT_TRUE(status == 0 || status == 1) << what << ": status " << status;
            if (status == 1) {
                ++failed;
                example = err;
                EXPECT_TRUE(ReadFile(song) == original) << what << ": the original must be back";
                EXPECT_NE(err.find("No space left on device"), std::string::npos)
                    << what << ": the error must say why: " << err;
                if (Exists(backup)) {
                    EXPECT_TRUE(ReadFile(backup) == original) << what;
                }
            } else {
                ++succeeded;
                TID3v2Tag tag;
                tag.ReadFromFile(song);
                ASSERT_TRUE(tag.Loaded) << what;
                EXPECT_EQ(tag.FramePayloads[tag.IndexOfId("TIT2")], "New title") << what;
            }
        }
    }
    EXPECT_GT(succeeded, 0) << "no rewrite had room";
    EXPECT_GT(failed, 0) << "the disk never ran full";
    std::printf("full disk: %d rewrites failed cleanly, %d succeeded; the error reads: %s", failed,
                succeeded, example.c_str());
}

// Where the file system clones (XFS on a loop device here, as root), a change that keeps its
// backup makes it a clone, sharing the data, and edits the song in place.
TEST(FaultClone, TheBackupIsACloneAndTheSongKeepsItsInode) {
    TempDir dir;
    const std::string image = dir.File("xfs.img"), mnt = dir.File("mnt");
    std::filesystem::create_directory(mnt);
    if (std::system(("truncate -s 300M " + image + " && mkfs.xfs -q " + image +
                     " 2>/dev/null && mount -o loop " + image + " " + mnt + " 2>/dev/null")
                        .c_str()) != 0)
        GTEST_SKIP() << "no loop-mounted XFS here (mkfs.xfs from xfsprogs, root, loop devices)";
    const std::string song = mnt + "/song.MP3", backup = mnt + "/songbak.MP3";
    const Bytes original = PaddedTag() + Audio(6000); // about 2.5 MB
    WriteFile(song, original);
    sync();
    struct stat before {
    }, after{};
    struct statvfs fs0 {
    }, fs1{};
    stat(song.c_str(), &before);
    statvfs(mnt.c_str(), &fs0);
    const int status = RunToEnd({QUILLON_TAGS, "set", song, "TALB", "Album"});
    sync();
    stat(song.c_str(), &after);
    statvfs(mnt.c_str(), &fs1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(ReadFile(backup), original);
    EXPECT_NE(ReadFile(song), original);
    EXPECT_LT((fs0.f_bfree - fs1.f_bfree) * fs0.f_frsize, 512u * 1024) << "the data is shared";
    EXPECT_EQ(std::system(("umount " + mnt).c_str()), 0);
}
