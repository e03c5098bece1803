// The cost of rewriting an MP3 file's ID3v2 tag, as a ratio to two plain `cp` of the same file in
// the same run (a rewrite copies the file twice: to the backup, then back behind the new tag),
// and the peak memory of the rewriting process, which must not grow with the file. Plain `cp`
// leaves its copy in the page cache while the rewrite flushes its new file to disk, so the same
// copies followed by `sync` of them are shown as a second reference.
//
// The file starts with a tag from another writer with 1 KiB of padding; each rewrite sets a
// 4000-byte comment, so the new tag never fits the old one's room. The rewrite is the real
// command, `quillon-tags set`, run as a child process like the copies.
//
//   rewrite_bench [--size MB] [--small MB] [--rounds N] [--dir DIR] [--smoke]
//
// --smoke: one small round that only checks the rewritten file, for the test suite.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct TRun {
    double seconds;
    long maxRssKiB;
};

// Runs a program and waits for it; its time and peak resident memory.
TRun Spawn(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "rewrite_bench: %s failed\n", argv[0].c_str());
        std::exit(1);
    }
    return {seconds, usage.ru_maxrss};
}

std::string SyncSafe(uint32_t v) {
    return {char((v >> 21) & 0x7F), char((v >> 14) & 0x7F), char((v >> 7) & 0x7F), char(v & 0x7F)};
}

std::string BigEndian(uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

// A tag as other writers make it (size without the header, 1 KiB of padding), then `bytes` of
// audio-like data written in 1 MiB blocks.
void MakeSong(const std::string& path, long long bytes) {
    const std::string payload = std::string(1, '\0') + "A title";
    const std::string frame =
        "TIT2" + BigEndian(uint32_t(payload.size())) + std::string(2, '\0') + payload;
    const std::string tag = std::string("ID3\x03\x00\x00", 6) +
                            SyncSafe(uint32_t(frame.size() + 1024)) + frame +
                            std::string(1024, '\0');
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fwrite(tag.data(), 1, tag.size(), f);
    std::vector<char> block(1 << 20);
    uint32_t x = 2463534242u;
    for (long long done = 0; done < bytes;) {
        for (char& c : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = char(x);
        }
        const size_t n = size_t(std::min<long long>(block.size(), bytes - done));
        std::fwrite(block.data(), 1, n, f);
        done += n;
    }
    std::fclose(f);
}

long long SizeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct TResult {
    double ratio, rewrite, copies, durableCopies;
    long rewriteRss, copyRss;
};

TResult Measure(const std::string& dir, long long bytes, int rounds) {
    const std::string song = dir + "/bench.MP3", backup = dir + "/benchbak.MP3";
    const std::string copy1 = dir + "/copy1.MP3", copy2 = dir + "/copy2.MP3";
    MakeSong(song, bytes);
    const std::string comment(4000, 'c');
    std::vector<double> rewrites, copies, durable;
    TResult r{};
    for (int i = 0; i < rounds; ++i) {
        const TRun a = Spawn({"cp", song, copy1});
        const TRun b = Spawn({"cp", song, copy2});
        copies.push_back(a.seconds + b.seconds);
        r.copyRss = std::max({r.copyRss, a.maxRssKiB, b.maxRssKiB});
        unlink(copy1.c_str());
        unlink(copy2.c_str());
        // The same copies made durable (what the rewrite must do: its new file is flushed).
        const TRun c = Spawn({"cp", song, copy1});
        const TRun d = Spawn({"cp", song, copy2});
        const TRun e = Spawn({"sync", copy1, copy2});
        durable.push_back(c.seconds + d.seconds + e.seconds);
        unlink(copy1.c_str());
        unlink(copy2.c_str());
        // Alternate the text so every round changes the file.
        const TRun w = Spawn({QUILLON_TAGS, "set", song, "COMM", comment + char('0' + i % 10)});
        rewrites.push_back(w.seconds);
        r.rewriteRss = std::max(r.rewriteRss, w.maxRssKiB);
        unlink(backup.c_str());
    }
    unlink(song.c_str());
    r.rewrite = Median(rewrites);
    r.copies = Median(copies);
    r.durableCopies = Median(durable);
    r.ratio = r.rewrite / r.copies;
    return r;
}

} // namespace

int main(int argc, char** argv) {
    long long sizeMb = 200, smallMb = 20;
    int rounds = 5;
    bool smoke = false;
    std::string dir = ".";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (a == "--size")
            sizeMb = std::atoll(next().c_str());
        else if (a == "--small")
            smallMb = std::atoll(next().c_str());
        else if (a == "--rounds")
            rounds = std::atoi(next().c_str());
        else if (a == "--dir")
            dir = next();
        else if (a == "--smoke")
            smoke = true;
        else {
            std::fprintf(stderr, "usage: rewrite_bench [--size MB] [--small MB] [--rounds N] "
                                 "[--dir DIR] [--smoke]\n");
            return 2;
        }
    }
    if (smoke) {
        // The rewritten file must hold the old audio behind a tag that grew past its padding.
        const std::string song = dir + "/smoke.MP3";
        MakeSong(song, 1 << 20);
        const long long before = SizeOf(song);
        Spawn({QUILLON_TAGS, "set", song, "COMM", std::string(4000, 'c'), "--no-backup"});
        const long long after = SizeOf(song);
        unlink(song.c_str());
        // The old tag ends, as its size field is read, at 18 + 1024 (the TIT2 frame and the
        // padding). The new one: header, TIT2 and the COMM text "chi", 0 and 4000 bytes in
        // pieces of 999 (4 x 1010 + 1 x 19 bytes of frames).
        const long long expected = before - (18 + 1024) + (10 + 18 + 4 * 1010 + 19);
        std::printf("smoke: %lld -> %lld bytes (expected %lld)\n", before, after, expected);
        return after == expected ? 0 : 1;
    }
    std::printf("rewrite of one file vs two plain cp of it, median of %d rounds, in %s\n", rounds,
                dir.c_str());
    for (long long mb : {sizeMb, smallMb}) {
        const TResult r = Measure(dir, mb << 20, rounds);
        std::printf("%5lld MB: rewrite %.3f s, 2 x cp %.3f s, ratio %.2f (goal <= 1.25); "
                    "2 x cp + sync %.3f s, ratio %.2f; peak memory: rewrite %ld KiB, cp %ld KiB "
                    "(goal <= 16 MiB)\n",
                    mb, r.rewrite, r.copies, r.ratio, r.durableCopies, r.rewrite / r.durableCopies,
                    r.rewriteRss, r.copyRss);
    }
    return 0;
}
