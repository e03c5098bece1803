// Runs a command's work on several files, some at once. The tag objects exist once per process,
// so each file that runs beside others gets a child process of its own; what it prints is held
// back and passed on in the order of the arguments.
#include "Commands.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct TChild {
    pid_t pid = -1;
    int out = -1, err = -1; // what the child printed
    bool started = false, done = false, ok = false;
};

bool RunHere(const std::string& file, const TFileHandler& handle) {
    try {
        return handle(file);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", e.what());
        return false;
    }
}

void PassOn(int from, int to) {
    char buffer[65536];
    ::lseek(from, 0, SEEK_SET);
    ssize_t n;
    while ((n = ::read(from, buffer, sizeof buffer)) > 0) {
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(to, buffer + done, static_cast<size_t>(n - done));
            if (w <= 0) return;
            done += w;
        }
    }
}

// Starts the child for `file`; false when no child could be made (the file then runs here).
bool Start(TChild& child, const std::string& file, const TFileHandler& handle) {
    child.started = true;
    child.out = ::memfd_create("quillon-out", MFD_CLOEXEC);
    child.err = ::memfd_create("quillon-err", MFD_CLOEXEC);
    if (child.out >= 0 && child.err >= 0) child.pid = ::fork();
    if (child.pid == 0) {
        ::dup2(child.out, STDOUT_FILENO);
        ::dup2(child.err, STDERR_FILENO);
        const bool ok = RunHere(file, handle);
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(ok ? 0 : 1); // no exit handlers: they belong to the parent
    }
    if (child.pid > 0) return true;
    if (child.out >= 0) ::close(child.out);
    if (child.err >= 0) ::close(child.err);
    child.out = child.err = -1;
    return false;
}

} // namespace

int ForEachFile(const TArgs& files, int jobs, const TFileHandler& handle) {
    if (jobs <= 0) jobs = static_cast<int>(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN)));
    int status = 0;
    if (jobs == 1 || files.size() <= 1) {
        for (const std::string& file : files)
            if (!RunHere(file, handle)) status = 1;
        return status;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    std::vector<TChild> children(files.size());
    size_t next = 0, printed = 0;
    int running = 0;
    while (printed < files.size()) {
        for (; running < jobs && next < files.size(); ++next)
            if (Start(children[next], files[next], handle)) ++running;
        TChild& first = children[printed];
        if (first.started && first.pid < 0) { // no child could be made: run it here, in turn
            if (!RunHere(files[printed], handle)) status = 1;
            std::fflush(stdout);
            std::fflush(stderr);
            ++printed;
            continue;
        }
        if (first.done) {
            PassOn(first.out, STDOUT_FILENO);
            PassOn(first.err, STDERR_FILENO);
            ::close(first.out);
            ::close(first.err);
            if (!first.ok) status = 1;
            ++printed;
            continue;
        }
        int wstatus = 0;
        const pid_t pid = ::waitpid(-1, &wstatus, 0);
        if (pid < 0) {
            if (errno == EINTR) continue;
            return 1; // no child left to wait for: cannot happen while one runs
        }
        for (TChild& c : children) {
            if (c.pid != pid) continue;
            c.done = true;
            c.ok = WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0;
            if (WIFSIGNALED(wstatus))
                ::dprintf(c.err, "quillon-tags: %s: ended by signal %d\n",
                          files[&c - children.data()].c_str(), WTERMSIG(wstatus));
            --running;
        }
    }
    return status;
}
