// Preloaded into quillon-tags by the command-line tests: logs in order every fsync (with the path
// behind the descriptor) and every unlink to the file named by QUILLON_SYNC_TRACE, so a test can
// check that the new file is on disk before its backup is deleted.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static void Log(const char* what, const char* path) {
    const char* log = getenv("QUILLON_SYNC_TRACE");
    if (!log) return;
    int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    dprintf(fd, "%s %s\n", what, path);
    close(fd);
}

int fsync(int fd) {
    int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    path[n > 0 ? n : 0] = '\0';
    int rc = real(fd);
    Log("fsync", path);
    return rc;
}

int unlink(const char* name) {
    int (*real)(const char*) = (int (*)(const char*))dlsym(RTLD_NEXT, "unlink");
    Log("unlink", name);
    return real(name);
}

int unlinkat(int dirfd, const char* name, int flags) {
    int (*real)(int, const char*, int) =
        (int (*)(int, const char*, int))dlsym(RTLD_NEXT, "unlinkat");
    char link[64], path[4096] = "";
    if (dirfd != AT_FDCWD && name[0] != '/') {
        snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
        ssize_t n = readlink(link, path, sizeof path - 2);
        path[n > 0 ? n : 0] = '\0';
        if (n > 0) strcat(path, "/");
    }
    strncat(path, name, sizeof path - strlen(path) - 1);
    Log("unlink", path);
    return real(dirfd, name, flags);
}
