// Preloaded into quillon-tags by the command-line tests: logs in order every fsync and syncfs
// (with the path behind the descriptor), every unlink and the target of every rename and link to
// the file named by QUILLON_SYNC_TRACE, so a test can check that the new file is on disk before
// its backup is deleted, and in which phases a batch flushes.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static void Log(const char* what, const char* path) {
    const char* log = getenv("QUILLON_SYNC_TRACE");
    if (!log) return;
    int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    dprintf(fd, "%s %s\n", what, path);
    close(fd);
}

static int SyncCall(const char* name, int fd) {
    int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, name);
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    path[n > 0 ? n : 0] = '\0';
    int rc = real(fd);
    Log(name, path);
    return rc;
}

int fsync(int fd) {
    return SyncCall("fsync", fd);
}

int syncfs(int fd) {
    return SyncCall("syncfs", fd);
}

int linkat(int fromfd, const char* from, int tofd, const char* to, int flags) {
    int (*real)(int, const char*, int, const char*, int) =
        (int (*)(int, const char*, int, const char*, int))dlsym(RTLD_NEXT, "linkat");
    Log("link", to);
    return real(fromfd, from, tofd, to, flags);
}

int rename(const char* from, const char* to) {
    int (*real)(const char*, const char*) =
        (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
    Log("rename", to);
    return real(from, to);
}

int unlink(const char* name) {
    int (*real)(const char*) = (int (*)(const char*))dlsym(RTLD_NEXT, "unlink");
    Log("unlink", name);
    return real(name);
}
