// The writer lock of a file: a write lock on the file itself, from its folder's descriptor.
#include "utFileAt.h"
#include "utJournal.h"
#include "utPublic.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

std::string FolderOf(const std::string& resolved) {
    const size_t slash = resolved.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : resolved.substr(0, slash);
}

std::string BaseOf(const std::string& resolved) {
    const size_t slash = resolved.find_last_of('/');
    return slash == std::string::npos ? resolved : resolved.substr(slash + 1);
}

bool SameInode(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int ReopenFile(int fd, int folder, const std::string& base, int flags) {
    flags |= O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    int again = ::open(self.c_str(), flags & ~O_NOFOLLOW);
    if (again < 0 && errno == ENOENT) again = ::openat(folder, base.c_str(), flags);
    struct stat a {
    }, b{};
    if (again >= 0 && (::fstat(fd, &a) != 0 || ::fstat(again, &b) != 0 || !SameInode(a, b))) {
        ::close(again);
        errno = ESTALE;
        return -1;
    }
    return again;
}

namespace {

struct THeldLock {
    std::thread::id owner;
    int depth = 0;
    int fd = -1;     // the locked file, open for writing
    int folder = -1; // its folder
};

std::mutex& LocksMutex() {
    static std::mutex m;
    return m;
}

std::map<std::string, THeldLock>& HeldLocks() {
    static std::map<std::string, THeldLock> held;
    return held;
}

// The files whose locks this thread holds, by the name it took them under: how many times, and
// the lock's key.
struct THeldHere {
    int count = 0;
    std::string key;
};
thread_local std::map<std::string, THeldHere> heldHere;
// The same by the names as given, with what they were resolved to: the reads of a job find the
// lock it holds without following the name's links again.
thread_local std::map<std::string, std::pair<int, std::string>> heldAs;

void RememberHeldHere(const std::string& given, const std::string& file, const std::string& key) {
    ++heldHere[file].count;
    heldHere[file].key = key;
    ++heldAs[given].first;
    heldAs[given].second = file;
}

void ForgetHeldHere(const std::string& given, const std::string& file) {
    auto it = heldHere.find(file);
    if (it != heldHere.end() && --it->second.count == 0) heldHere.erase(it);
    auto as = heldAs.find(given);
    if (as != heldAs.end() && --as->second.first == 0) heldAs.erase(as);
}

// The lock's key in this process: the folder (by device and inode, whatever path names it) and
// the file's name in it, so every spelling of one path meets the same lock.
std::string WriterLockKey(int folder, const std::string& base) {
    struct stat st {};
    ::fstat(folder, &st);
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + "/" + base;
}

// Opens `base` in `folder` for writing, never through a link. A read-only file of one's own is
// writable for a moment while it is opened: its owner may edit it. -1 with errno on failure.
int OpenForWriting(int folder, const std::string& base) {
    const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = ::openat(folder, base.c_str(), flags);
    if (fd >= 0 || errno != EACCES) return fd;
    const int ro = ::openat(folder, base.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (ro < 0 || ::fstat(ro, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & S_IWUSR) ||
        ::fchmod(ro, (st.st_mode & 07777) | S_IWUSR) != 0) {
        if (ro >= 0) ::close(ro);
        errno = EACCES;
        return -1;
    }
    fd = ::openat(folder, base.c_str(), flags);
    int err = fd < 0 ? errno : 0;
    ::fchmod(ro, st.st_mode & 07777);
    struct stat now {};
    if (fd >= 0 && (::fstat(fd, &now) != 0 || !SameInode(now, st))) { // swapped meanwhile
        ::close(fd);
        fd = -1;
        err = EAGAIN;
    }
    ::close(ro);
    errno = err;
    return fd;
}

// One try at the lock of `base` in `folder`: the locked descriptor; -1 while another writer holds
// it (or a rewrite has the name between its files); -2 with `refusal` set when it cannot be had;
// -3 while a reader holds a lock on the file.
int TryWriterLock(int folder, const std::string& base, const std::string& file,
                  std::string& refusal) {
    struct stat st {};
    if (::fstatat(folder, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode) &&
        !S_ISLNK(st.st_mode)) {
        try {
            platform::RaiseNotRegular(file, st);
        } catch (const platform::EPlatformError& e) {
            refusal = e.what();
        }
        return -2;
    }
    const int fd = OpenForWriting(folder, base);
    if (fd < 0) {
        const int err = errno;
        // A rewrite between deleting the name and writing it anew: its backup was just made.
        struct stat b {};
        if (err == ENOENT &&
            ::fstatat(folder, BackupFileName(base).c_str(), &b, AT_SYMLINK_NOFOLLOW) == 0 &&
            ::time(nullptr) - b.st_ctime < 30) {
            refusal = "Cannot open file for writing '" + file + "': " + std::strerror(err);
            return -1; // waited for; the reason stands if it stays so
        }
        if (err == EAGAIN) return -1;
        refusal = "Cannot open file for writing '" + file + "': " + std::strerror(err);
        return -2;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        const int err = errno;
        // Only writers take write locks; a read lock is a reader's, which may hold the file as
        // long as it likes: in use, and no reason to wait.
        const bool reader = (err == EAGAIN || err == EACCES) &&
                            ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type == F_RDLCK;
        ::close(fd);
        if (reader) return -3;
        if (err == EAGAIN || err == EACCES) return -1;
        refusal = "Cannot lock file for writing '" + file + "': " + std::strerror(err);
        return -2;
    }
    // The name may have been given to a new file while we waited: that one is the file now.
    struct stat locked {
    }, named{};
    if (::fstat(fd, &locked) != 0 ||
        ::fstatat(folder, base.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !SameInode(locked, named)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

TWriterLock::TWriterLock(const std::string& fileName, std::chrono::milliseconds wait,
                         const std::function<bool()>& keepWaiting)
    : given_(fileName), file_(ResolveHeld(fileName)), base_(BaseOf(file_)) {
    // Taken again under the name this thread holds it by: the same lock, whatever the folder's
    // path names by now, so that it goes on acting on the file it locked.
    if (auto here = heldHere.find(file_); here != heldHere.end()) {
        std::lock_guard<std::mutex> guard(LocksMutex());
        auto it = HeldLocks().find(here->second.key);
        if (it != HeldLocks().end() && it->second.owner == std::this_thread::get_id()) {
            ++it->second.depth;
            key_ = here->second.key;
            RememberHeldHere(given_, file_, key_);
            held_ = true;
            return;
        }
    }
    const int folder = ::open(FolderOf(file_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        refusal_ = "Cannot open folder '" + FolderOf(file_) + "': " + std::strerror(errno);
        return;
    }
    key_ = WriterLockKey(folder, base_);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(LocksMutex());
            auto it = HeldLocks().find(key_);
            if (it != HeldLocks().end() && it->second.owner == std::this_thread::get_id()) {
                ++it->second.depth; // a command's lock covers the rewrites inside it
                ::close(folder);
                held_ = true;
                RememberHeldHere(given_, file_, key_);
                return;
            }
            if (it == HeldLocks().end()) {
                refusal_.clear();
                const int fd = TryWriterLock(folder, base_, file_, refusal_);
                if (fd >= 0) {
                    HeldLocks()[key_] = {std::this_thread::get_id(), 1, fd, folder};
                    held_ = true;
                }
                if (fd == -2 || fd == -3) break;
            }
        }
        if (held_) break;
        if (std::chrono::steady_clock::now() >= deadline || (keepWaiting && !keepWaiting())) break;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
    if (!held_) {
        ::close(folder);
        return;
    }
    RememberHeldHere(given_, file_, key_);
    // Before anything of the song is read: an in-place edit that a dead run left unfinished is
    // rolled back. A song that cannot be rolled back is not handed out.
    try {
        RollBackHotJournal(folder, base_, Handle(), file_);
    } catch (const platform::EPlatformError& e) {
        refusal_ = e.what();
        std::lock_guard<std::mutex> guard(LocksMutex());
        auto it = HeldLocks().find(key_);
        if (it != HeldLocks().end()) {
            ::close(it->second.fd);
            ::close(it->second.folder);
            HeldLocks().erase(it);
        }
        held_ = false;
        ForgetHeldHere(given_, file_);
    }
}

TWriterLock::~TWriterLock() {
    if (!held_) return;
    ForgetHeldHere(given_, file_);
    std::lock_guard<std::mutex> guard(LocksMutex());
    auto it = HeldLocks().find(key_);
    if (it == HeldLocks().end() || --it->second.depth > 0) return;
    ::close(it->second.fd);
    ::close(it->second.folder);
    HeldLocks().erase(it);
}

std::string ResolveHeld(const std::string& fileName) {
    auto as = heldAs.find(fileName);
    return as != heldAs.end() ? as->second.second : ResolveLinks(fileName);
}

bool HoldsWriterLock(const std::string& resolved) {
    return heldHere.count(resolved) != 0;
}

int HeldWriterLockHandle(const std::string& resolved) {
    auto here = heldHere.find(resolved);
    if (here == heldHere.end()) return -1;
    std::lock_guard<std::mutex> guard(LocksMutex());
    auto it = HeldLocks().find(here->second.key);
    return it != HeldLocks().end() ? it->second.fd : -1;
}

void TWriterLock::Refuse() const {
    if (!refusal_.empty()) throw platform::EPlatformError(refusal_);
    ShowMessage(kMsgFileInUse + file_);
}

int TWriterLock::Handle() const {
    std::lock_guard<std::mutex> guard(LocksMutex());
    auto it = HeldLocks().find(key_);
    return held_ && it != HeldLocks().end() ? it->second.fd : -1;
}

int TWriterLock::Folder() const {
    std::lock_guard<std::mutex> guard(LocksMutex());
    auto it = HeldLocks().find(key_);
    return held_ && it != HeldLocks().end() ? it->second.folder : -1;
}

int TWriterLock::Reopen(int flags) const {
    const int fd = Handle();
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    return ReopenFile(fd, Folder(), base_, flags);
}

void TWriterLock::MoveTo(int fd) {
    std::lock_guard<std::mutex> guard(LocksMutex());
    auto it = HeldLocks().find(key_);
    if (!held_ || it == HeldLocks().end()) {
        ::close(fd);
        return;
    }
    ::close(it->second.fd);
    it->second.fd = fd;
}
