/* A fault injector loaded with LD_PRELOAD into the program under test. It counts the file system
 * calls that touch one folder (by path, or by a descriptor opened there) and makes one of them
 * go wrong, so that a test can break a rewrite at every step in turn:
 *   QUILLON_FAULT_DIR   the folder whose files count (absolute path)
 *   QUILLON_FAULT_AT    the number of the call that goes wrong, from 1; 0 or unset: none
 *   QUILLON_FAULT_MODE  fail  - the call does nothing and fails (ENOSPC for writes and copies,
 *                               EIO otherwise)
 *                       short - a write or copy does part of its work and says so (no error)
 *                       kill  - the process is killed by SIGKILL before the call
 *   QUILLON_FAULT_LOG   a file to which every counted call is appended as "N name path"
 *                       (an open that may create the file is logged as "open+create") */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#define MAX_FDS 1024

static char watched_dir[4096];
static size_t watched_len;
static long fault_at;
static int mode; /* 0 fail, 1 short, 2 kill */
static int log_fd = -1;
static long counter;
static char fd_paths[MAX_FDS][256];
static int ready;

#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

static void setup(void) {
    if (ready) return;
    ready = 1;
    const char* dir = getenv("QUILLON_FAULT_DIR");
    if (dir) {
        snprintf(watched_dir, sizeof watched_dir, "%s", dir);
        watched_len = strlen(watched_dir);
    }
    const char* at = getenv("QUILLON_FAULT_AT");
    fault_at = at ? atol(at) : 0;
    const char* m = getenv("QUILLON_FAULT_MODE");
    mode = m && strcmp(m, "short") == 0 ? 1 : m && strcmp(m, "kill") == 0 ? 2 : 0;
    const char* log = getenv("QUILLON_FAULT_LOG");
    if (log) log_fd = REAL(open)(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

static int watched_path(const char* path) {
    return watched_len > 0 && path && strncmp(path, watched_dir, watched_len) == 0 &&
           (path[watched_len] == '/' || path[watched_len] == '\0');
}

static const char* watched_fd(int fd) {
    return fd >= 0 && fd < MAX_FDS && fd_paths[fd][0] ? fd_paths[fd] : NULL;
}

/* Counts a call on a watched file; returns 1 when this is the call to break (kill mode kills). */
static int hit(const char* name, const char* path) {
    setup();
    ++counter;
    if (log_fd >= 0) {
        char line[512];
        int n = snprintf(line, sizeof line, "%ld %s %s\n", counter, name, path);
        if (n > 0) REAL(write)(log_fd, line, (size_t)n < sizeof line ? (size_t)n : sizeof line - 1);
    }
    if (counter != fault_at) return 0;
    if (mode == 2) raise(SIGKILL);
    return 1;
}

static void remember(int fd, const char* path) {
    if (fd >= 0 && fd < MAX_FDS) {
        if (watched_path(path) && strlen(path) < sizeof fd_paths[fd])
            memcpy(fd_paths[fd], path, strlen(path) + 1);
        else
            fd_paths[fd][0] = '\0';
    }
}

/* The path a call relative to a folder's descriptor names, when that folder is watched. */
static const char* at_path(int dirfd, const char* path, char* buf, size_t size) {
    if (!path || path[0] == '/' || dirfd == AT_FDCWD || !watched_fd(dirfd)) return path;
    const int n = snprintf(buf, size, "%s/%s", watched_fd(dirfd), path);
    return n > 0 && (size_t)n < size ? buf : path;
}

static int open_common(const char* name, int dirfd, const char* given, int flags, mode_t m) {
    setup();
    char full[512];
    const char* path = at_path(dirfd, given, full, sizeof full);
    char logged[32];
    snprintf(logged, sizeof logged, "%s%s", name, (flags & O_CREAT) ? "+create" : "");
    if (watched_path(path) && hit(logged, path) && mode == 0) {
        errno = (flags & O_CREAT) ? ENOSPC : EIO;
        return -1;
    }
    int fd = dirfd == AT_FDCWD && strcmp(name, "open") == 0 ? REAL(open)(given, flags, m)
                                                            : REAL(openat)(dirfd, given, flags, m);
    remember(fd, path);
    return fd;
}

int open(const char* path, int flags, ...) {
    mode_t m = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        m = va_arg(ap, mode_t);
        va_end(ap);
    }
    return open_common("open", AT_FDCWD, path, flags, m);
}
int open64(const char* path, int flags, ...) __attribute__((alias("open")));

int openat(int dirfd, const char* path, int flags, ...) {
    mode_t m = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        m = va_arg(ap, mode_t);
        va_end(ap);
    }
    return open_common("openat", dirfd, path, flags, m);
}
int openat64(int dirfd, const char* path, int flags, ...) __attribute__((alias("openat")));

int close(int fd) {
    const char* p = watched_fd(fd);
    if (p) {
        int broken = hit("close", p);
        fd_paths[fd][0] = '\0';
        if (broken && mode == 0) {
            REAL(close)(fd); /* the descriptor is gone either way, as with a real failed close */
            errno = EIO;
            return -1;
        }
    }
    return REAL(close)(fd);
}

/* Reads and writes: fail, or do half of the work. */
#define DATA_CALL(name, fd, count, err, call)                                                      \
    do {                                                                                           \
        const char* p = watched_fd(fd);                                                            \
        if (p && hit(#name, p)) {                                                                  \
            if (mode == 0) {                                                                       \
                errno = err;                                                                       \
                return -1;                                                                         \
            }                                                                                      \
            if (mode == 1 && count > 1) count /= 2;                                                \
        }                                                                                          \
        return call;                                                                               \
    } while (0)

ssize_t read(int fd, void* buf, size_t count) {
    DATA_CALL(read, fd, count, EIO, REAL(read)(fd, buf, count));
}
ssize_t pread(int fd, void* buf, size_t count, off_t off) {
    DATA_CALL(pread, fd, count, EIO, REAL(pread)(fd, buf, count, off));
}
ssize_t pread64(int fd, void* buf, size_t count, off_t off) __attribute__((alias("pread")));
ssize_t write(int fd, const void* buf, size_t count) {
    DATA_CALL(write, fd, count, ENOSPC, REAL(write)(fd, buf, count));
}
ssize_t pwrite(int fd, const void* buf, size_t count, off_t off) {
    DATA_CALL(pwrite, fd, count, ENOSPC, REAL(pwrite)(fd, buf, count, off));
}
ssize_t pwrite64(int fd, const void* buf, size_t count, off_t off) __attribute__((alias("pwrite")));

ssize_t copy_file_range(int in, loff_t* off_in, int out, loff_t* off_out, size_t len,
                        unsigned flags) {
    const char* p = watched_fd(out) ? watched_fd(out) : watched_fd(in);
    if (p && hit("copy_file_range", p)) {
        if (mode == 0) {
            errno = ENOSPC;
            return -1;
        }
        if (mode == 1 && len > 1) len /= 2;
    }
    return REAL(copy_file_range)(in, off_in, out, off_out, len, flags);
}

ssize_t sendfile(int out, int in, off_t* offset, size_t count) {
    const char* p = watched_fd(out) ? watched_fd(out) : watched_fd(in);
    if (p && hit("sendfile", p)) {
        if (mode == 0) {
            errno = ENOSPC;
            return -1;
        }
        if (mode == 1 && count > 1) count /= 2;
    }
    return REAL(sendfile)(out, in, offset, count);
}
ssize_t sendfile64(int out, int in, off_t* offset, size_t count) __attribute__((alias("sendfile")));

int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    const char* p = watched_fd(fd);
    if (p && hit("ioctl", p) && mode == 0) {
        errno = EIO;
        return -1;
    }
    return REAL(ioctl)(fd, request, arg);
}

#define FD_CALL(name, fd, err, call)                                                               \
    do {                                                                                           \
        const char* p = watched_fd(fd);                                                            \
        if (p && hit(#name, p) && mode == 0) {                                                     \
            errno = err;                                                                           \
            return -1;                                                                             \
        }                                                                                          \
        return call;                                                                               \
    } while (0)

int ftruncate(int fd, off_t length) {
    FD_CALL(ftruncate, fd, ENOSPC, REAL(ftruncate)(fd, length));
}
int ftruncate64(int fd, off_t length) __attribute__((alias("ftruncate")));
int fsync(int fd) {
    FD_CALL(fsync, fd, EIO, REAL(fsync)(fd));
}
int syncfs(int fd) {
    FD_CALL(syncfs, fd, EIO, REAL(syncfs)(fd));
}
int fdatasync(int fd) {
    FD_CALL(fdatasync, fd, EIO, REAL(fdatasync)(fd));
}
int fchmod(int fd, mode_t m) {
    FD_CALL(fchmod, fd, EIO, REAL(fchmod)(fd, m));
}
int fchown(int fd, uid_t u, gid_t g) {
    FD_CALL(fchown, fd, EIO, REAL(fchown)(fd, u, g));
}
int flock(int fd, int op) {
    FD_CALL(flock, fd, EIO, REAL(flock)(fd, op));
}
int fallocate(int fd, int m, off_t off, off_t len) {
    FD_CALL(fallocate, fd, ENOSPC, REAL(fallocate)(fd, m, off, len));
}
int fallocate64(int fd, int m, off_t off, off_t len) __attribute__((alias("fallocate")));
ssize_t flistxattr(int fd, char* list, size_t size) {
    FD_CALL(flistxattr, fd, EIO, REAL(flistxattr)(fd, list, size));
}
ssize_t fgetxattr(int fd, const char* name, void* value, size_t size) {
    FD_CALL(fgetxattr, fd, EIO, REAL(fgetxattr)(fd, name, value, size));
}
int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
    FD_CALL(fsetxattr, fd, ENOSPC, REAL(fsetxattr)(fd, name, value, size, flags));
}

#define PATH_CALL(name, path, err, call)                                                           \
    do {                                                                                           \
        setup();                                                                                   \
        if (watched_path(path) && hit(#name, path) && mode == 0) {                                 \
            errno = err;                                                                           \
            return -1;                                                                             \
        }                                                                                          \
        return call;                                                                               \
    } while (0)

int unlink(const char* path) {
    PATH_CALL(unlink, path, EIO, REAL(unlink)(path));
}
int unlinkat(int dirfd, const char* path, int flags) {
    char full[4096];
    PATH_CALL(unlinkat, at_path(dirfd, path, full, sizeof full), EIO,
              REAL(unlinkat)(dirfd, path, flags));
}
int rename(const char* from, const char* to) {
    PATH_CALL(rename, to, EIO, REAL(rename)(from, to));
}
int renameat(int fromfd, const char* from, int tofd, const char* to) {
    char full[4096];
    PATH_CALL(renameat, at_path(tofd, to, full, sizeof full), EIO,
              REAL(renameat)(fromfd, from, tofd, to));
}
int renameat2(int fromfd, const char* from, int tofd, const char* to, unsigned flags) {
    char full[4096];
    PATH_CALL(renameat2, at_path(tofd, to, full, sizeof full), EIO,
              REAL(renameat2)(fromfd, from, tofd, to, flags));
}
int link(const char* from, const char* to) {
    PATH_CALL(link, to, EIO, REAL(link)(from, to));
}
int linkat(int fromfd, const char* from, int tofd, const char* to, int flags) {
    char full[4096];
    PATH_CALL(linkat, at_path(tofd, to, full, sizeof full), EIO,
              REAL(linkat)(fromfd, from, tofd, to, flags));
}
int chmod(const char* path, mode_t m) {
    PATH_CALL(chmod, path, EIO, REAL(chmod)(path, m));
}
int truncate(const char* path, off_t length) {
    PATH_CALL(truncate, path, ENOSPC, REAL(truncate)(path, length));
}
