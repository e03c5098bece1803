#include "Parallel.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct TCaptured {
    int status;
    std::string out, err;
};

// Runs `body` in a child process whose stdout and stderr go to files, so the runner prints as it
// would in quillon-tags; returns body's result as the exit status, and what it printed.
TCaptured Captured(const TempDir& dir, const std::function<int()>& body) {
    const std::string out = dir.File("out"), err = dir.File("err");
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(o, 1);
        dup2(e, 2);
        int status = body();
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(status);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, ReadFile(out), ReadFile(err)};
}

std::vector<std::string> Names(int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.push_back("f");
        names.back() += std::to_string(i);
    }
    return names;
}

int Number(const std::string& name) {
    return std::stoi(name.substr(1));
}

// A job that prints a line on stdout and, for every third file, one on stderr; files taken early
// take longest, so the workers finish them out of order.
int Job(const std::string& name) {
    const int n = Number(name);
    if (n < 8) usleep(static_cast<useconds_t>((8 - n) * 3000));
    std::printf("out %s\n", name.c_str());
    if (n % 3 == 0) std::fprintf(stderr, "err %s\n", name.c_str());
    return n % 7 == 6 ? 1 : 0;
}

std::string Expected(const std::vector<std::string>& names, bool err) {
    std::string text;
    for (const std::string& name : names)
        if (!err || Number(name) % 3 == 0) text += (err ? "err " : "out ") + name + "\n";
    return text;
}

} // namespace

TEST(Parallel, OutputKeepsTheOrderOfTheFilesWhateverOrderTheyFinishIn) {
    TempDir dir;
    const auto names = Names(100);
    for (int workers : {1, 2, 5}) {
        TCaptured r = Captured(dir, [&] { return RunInOrder(names, workers, Job); });
        EXPECT_EQ(r.out, Expected(names, false)) << workers << " workers";
        EXPECT_EQ(r.err, Expected(names, true)) << workers << " workers";
        EXPECT_EQ(r.status, 1) << "the largest status of the jobs";
    }
    // All good: status 0; outputs larger than a pipe holds come through whole.
    const std::string big(300000, 'x');
    TCaptured r = Captured(dir, [&] {
        return RunInOrder(Names(6), 3, [&](const std::string& name) {
            std::printf("%s %s\n", name.c_str(), big.c_str());
            return 0;
        });
    });
    EXPECT_EQ(r.status, 0);
    std::string want;
    for (const auto& name : Names(6))
        want += name + " " + big + "\n";
    EXPECT_EQ(r.out, want);
}

TEST(Parallel, AWorkerThatDiesFailsOnlyItsFile) {
    TempDir dir;
    const auto names = Names(40);
    auto crashing = [](const std::string& name) {
        if (name == "f13") std::abort();
        if (name == "f20") throw std::runtime_error("broken");
        std::printf("out %s\n", name.c_str());
        return 0;
    };
    for (int workers : {2, 4}) {
        TCaptured r = Captured(dir, [&] { return RunInOrder(names, workers, crashing); });
        std::string want;
        for (const auto& name : names)
            if (name != "f13" && name != "f20") want += "out " + name + "\n";
        EXPECT_EQ(r.out, want) << workers << " workers";
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("f13: the worker process handling it ended abnormally"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("f20: broken"), std::string::npos) << r.err;
    }
    // Everything the parent printed before is printed once, not once per worker.
    TCaptured r = Captured(dir, [&] {
        std::printf("before\n");
        return RunInOrder(Names(4), 2, [](const std::string&) { return 0; });
    });
    EXPECT_EQ(r.out, "before\n");
}

TEST(Parallel, WorkerCountRepaysTheStartOfEachWorker) {
    TempDir dir;
    EXPECT_GE(ProcessorCount(), 1);
    const auto few = Names(static_cast<int>(kFilesPerWorker) * 2 - 1);
    EXPECT_EQ(WorkerCount(few, 8, false), 1) << "too few files for two workers";
    const auto many = Names(static_cast<int>(kFilesPerWorker) * 5);
    EXPECT_EQ(WorkerCount(many, 8, false), 5);
    EXPECT_EQ(WorkerCount(many, 3, false), 3);
    EXPECT_EQ(WorkerCount(many, 1, false), 1);
    EXPECT_EQ(WorkerCount(many, 0, false), std::min(ProcessorCount(), 5));
    // Rewrites repay a worker with far fewer files.
    EXPECT_EQ(WorkerCount(Names(static_cast<int>(kRewritesPerWorker) * 3), 8, true), 3);
    EXPECT_EQ(WorkerCount(Names(static_cast<int>(kRewritesPerWorker) * 2 - 1), 8, true), 1);
}

TEST(Parallel, OneFileNamedTwiceIsRewrittenInOneProcess) {
    TempDir dir;
    std::vector<std::string> files;
    for (size_t i = 0; i < kFilesPerWorker * 2; ++i) {
        files.push_back(dir.File(std::string("s") + std::to_string(i) + ".MP3"));
        WriteFile(files.back(), "x");
    }
    EXPECT_EQ(WorkerCount(files, 2, true), 2);
    // The same file again under another name of it: a hard link, or a path through "./".
    ASSERT_EQ(link(files[3].c_str(), dir.File("link.MP3").c_str()), 0);
    auto linked = files;
    linked.push_back(dir.File("link.MP3"));
    EXPECT_EQ(WorkerCount(linked, 2, true), 1);
    EXPECT_EQ(WorkerCount(linked, 2, false), 2) << "reading a file twice at once is harmless";
    auto dotted = files;
    dotted.push_back(dir.Path() + "/./s5.MP3");
    EXPECT_EQ(WorkerCount(dotted, 2, true), 1);
    // Missing files are compared by name.
    auto missing = files;
    missing.push_back(dir.File("gone.MP3"));
    EXPECT_EQ(WorkerCount(missing, 2, true), 2);
    missing.push_back(dir.File("gone.MP3"));
    EXPECT_EQ(WorkerCount(missing, 2, true), 1);
}

namespace {

// The threaded form of Job: what it prints goes to the buffers given; it records which workers
// ran it.
int ThreadJob(int worker, const std::string& name, std::string& out, std::string& err,
              std::vector<int>& seen) {
    const int n = Number(name);
    if (n < 8) usleep(static_cast<useconds_t>((8 - n) * 3000));
    seen[n] = worker;
    out += "out " + name + "\n";
    if (n % 3 == 0) err += "err " + name + "\n";
    if (n % 40 == 1 && !KeepWithThreadedJob("notice " + name + "\n")) err += "not kept\n";
    if (n == 50) throw std::runtime_error("broken");
    return n % 7 == 6 ? 1 : 0;
}

} // namespace

TEST(ParallelThreads, OutputKeepsTheOrderOfTheFilesAndEachWorkerUsesItsOwnIndex) {
    TempDir dir;
    const auto names = Names(300);
    for (int workers : {1, 2, 3}) {
        std::vector<int> seen(names.size(), -1);
        TCaptured r = Captured(dir, [&] {
            int status = RunInOrderThreaded(
                names, workers,
                [&](int w, const std::string& name, std::string& out, std::string& err) {
                    return ThreadJob(w, name, out, err, seen);
                });
            // The child reports which workers ran files, as a line of its own.
            std::set<int> used(seen.begin(), seen.end());
            std::printf("workers");
            for (int w : used)
                std::printf(" %d", w);
            std::printf("\n");
            return status;
        });
        // f50 threw after printing its line: the line stays, the message follows.
        const std::string want = Expected(names, false);
        EXPECT_EQ(r.out.substr(0, want.size()), want) << workers << " workers";
        std::string wantErr;
        for (const auto& name : names) {
            if (Number(name) % 3 == 0) wantErr += "err " + name + "\n";
            if (Number(name) % 40 == 1) wantErr += "notice " + name + "\n";
            if (name == "f50") wantErr += "f50: broken\n";
        }
        EXPECT_EQ(r.err, wantErr) << workers << " workers";
        EXPECT_EQ(r.status, 1);
        std::string used = r.out.substr(want.size());
        if (workers == 1) {
            EXPECT_EQ(used, "workers 0\n");
        } else {
            // Which workers get files depends on the scheduler (a busy machine may leave one
            // idle); each index used must be one of this run's.
            std::istringstream indexes(used.substr(std::string("workers").size()));
            for (int w; indexes >> w;)
                EXPECT_TRUE(w >= 0 && w < workers) << used;
        }
    }
}

TEST(ParallelThreads, MessagesStayBetweenTheLinesTheyFollow) {
    TempDir dir;
    // stdout and stderr into one file: each message must come right after its file's line.
    const std::string both = dir.File("both");
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(both.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        dup2(fd, 2);
        int status = RunInOrderThreaded(
            Names(200), 2, [](int, const std::string& name, std::string& out, std::string& err) {
                out += name + "\n";
                if (Number(name) % 10 == 0) err += "!" + name + "\n";
                return 0;
            });
        std::fflush(stdout);
        _exit(status);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    std::string want;
    for (const auto& name : Names(200)) {
        want += name + "\n";
        if (Number(name) % 10 == 0) want += "!" + name + "\n";
    }
    EXPECT_EQ(ReadFile(both), want);
}
