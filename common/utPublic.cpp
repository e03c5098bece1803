#include "utPublic.h"

#include "PerfCounter.h"
#include "utFileAt.h"
#include "utJournal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/vfs.h>
#include <thread>
#include <unistd.h>

namespace {

TMessageSink& Sink() {
    static TMessageSink sink = [](const std::string& text) {
        std::fprintf(stderr, "%s\n", text.c_str());
    };
    return sink;
}

} // namespace

void SetMessageSink(TMessageSink sink) {
    Sink() = std::move(sink);
}

void ShowMessage(const std::string& text) {
    Sink()(text);
}

namespace {

TMessageSink& NoticeSink() {
    static TMessageSink sink;
    return sink;
}

} // namespace

void SetNoticeSink(TMessageSink sink) {
    NoticeSink() = std::move(sink);
}

void ShowNotice(const std::string& text) {
    if (NoticeSink())
        NoticeSink()(text);
    else
        ShowMessage(text);
}

std::string BackupFileName(const std::string& fileName) {
    // The extension starts at the last dot of the last path component.
    size_t slash = fileName.find_last_of('/');
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || dot < start) return fileName + "bak";
    return fileName.substr(0, dot) + "bak" + fileName.substr(dot);
}

bool ForceDeleteFile(const std::string& fileName) {
    struct stat st {};
    if (::lstat(fileName.c_str(), &st) != 0) return true;
    // Read-only needs no attribute reset here: deleting a name depends on its folder, not on the
    // file's own bits. So the bits stay untouched, also for another name of the same data (the
    // backup may be one) and when the delete is refused.
    return platform::DeleteFile(fileName);
}

bool CopyFileOver(const std::string& source, const std::string& target) {
    ForceDeleteFile(target);
    return platform::CopyFile(source, target);
}

void ForEachOnThreads(size_t count, const std::function<void(size_t)>& work, size_t threads) {
    constexpr size_t kPerThread = 32; // fewer than this do not repay starting a thread
    if (threads == 0)
        threads = std::min<size_t>({std::max(1u, std::thread::hardware_concurrency()), 8,
                                    std::max<size_t>(1, count / kPerThread)});
    std::atomic<size_t> next{0};
    std::mutex mutex;
    std::exception_ptr failure;
    auto run = [&] {
        try {
            for (size_t k; (k = next++) < count;)
                work(k);
        } catch (...) {
            next = count; // the others stop after the item they are at
            std::lock_guard<std::mutex> guard(mutex);
            if (!failure) failure = std::current_exception();
        }
    };
    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; ++t)
        pool.emplace_back(run);
    run();
    for (std::thread& t : pool)
        t.join();
    if (failure) std::rethrow_exception(failure);
}

std::string ResolveLinks(const std::string& fileName) {
    std::string path = fileName;
    for (int hops = 0; hops < 40; ++hops) { // the kernel's own limit on links in a row
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
        if (n <= 0 || n >= static_cast<ssize_t>(sizeof target)) return path;
        const std::string to(target, static_cast<size_t>(n));
        const size_t slash = path.find_last_of('/');
        path = to[0] == '/' || slash == std::string::npos ? to : path.substr(0, slash + 1) + to;
    }
    return path;
}

namespace {

struct TIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
};

// What this run did to each file (by its resolved name): the backup it made, and whether its
// rewrites keep that backup.
struct TRunBackups {
    std::mutex mutex;
    std::map<std::string, TIdentity> made;
    std::multiset<std::string> keeping; // one entry per TKeepFirstBackup alive
    // Files of a batch whose backup name is another file of it: their backups go under a name of
    // this run's own, so that no backup ever replaces a song of the batch.
    std::map<std::string, std::string> ownNames;
};

TRunBackups& RunBackups() {
    static TRunBackups backups;
    return backups;
}

// The name of the file's backup in this run; RunBackups().mutex held.
std::string BackupNameLocked(const std::string& file) {
    auto it = RunBackups().ownNames.find(file);
    return it == RunBackups().ownNames.end() ? BackupFileName(file) : it->second;
}

std::string RunBackupName(const std::string& file) {
    std::lock_guard<std::mutex> guard(RunBackups().mutex);
    return BackupNameLocked(file);
}

bool SameFile(const std::string& name, const TIdentity& id) {
    struct stat st {};
    return ::lstat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == id.dev &&
           st.st_ino == id.ino;
}

void RecordBackup(const std::string& file, const std::string& backup) {
    struct stat st {};
    if (::lstat(backup.c_str(), &st) != 0) return;
    std::lock_guard<std::mutex> guard(RunBackups().mutex);
    RunBackups().made[file] = {st.st_dev, st.st_ino};
}

// True when this run made the file's backup and it is still there, untouched by anybody else.
bool OwnBackupPresent(const std::string& file) {
    std::lock_guard<std::mutex> guard(RunBackups().mutex);
    auto it = RunBackups().made.find(file);
    return it != RunBackups().made.end() && SameFile(BackupNameLocked(file), it->second);
}

// A file prepared by a TBatchFlush: its private second name, on disk, and the file both name.
struct TPrepared {
    std::string privateName;
    TIdentity file;
};

struct TBatchState {
    std::mutex mutex;
    std::map<std::string, TPrepared> prepared; // by resolved name; taken by its rewrite
    std::set<std::string> unflushed;           // rewritten, waiting for the batch's flush
};

TBatchState& Batch() {
    static TBatchState state;
    return state;
}

// The prepared second name of the file becomes its backup, if the file (`file` its stat) is
// still the one it names; true then. Otherwise the name is removed and false returned.
bool TakePreparedBackup(const std::string& fileName, const struct stat& file,
                        const std::string& backup);

bool Unflushed(const std::string& file) {
    std::lock_guard<std::mutex> guard(Batch().mutex);
    return Batch().unflushed.count(file) != 0;
}

} // namespace

TKeepFirstBackup::TKeepFirstBackup(const std::string& fileName) : file_(ResolveLinks(fileName)) {
    std::lock_guard<std::mutex> guard(RunBackups().mutex);
    RunBackups().keeping.insert(file_);
}

TKeepFirstBackup::~TKeepFirstBackup() {
    std::lock_guard<std::mutex> guard(RunBackups().mutex);
    auto it = RunBackups().keeping.find(file_);
    if (it != RunBackups().keeping.end()) RunBackups().keeping.erase(it);
}

bool MakeOwnBackupCopy(const std::string& fileName) {
    const std::string file = ResolveLinks(fileName);
    const std::string backup = RunBackupName(file);
    IgnoreFileSizeSignal();
    ForceDeleteFile(backup);
    std::string reason;
    if (!platform::CopyFile(file, backup, &reason)) {
        ShowMessage(kMsgCannotCreateTemp + backup + "\n" + reason);
        return false;
    }
    RecordBackup(file, backup);
    return true;
}

bool DeleteOwnBackup(const std::string& fileName) {
    const std::string file = ResolveHeld(fileName);
    const std::string backup = RunBackupName(file);
    if (Unflushed(file)) return false; // the new file is not on disk yet: the batch deletes it
    std::lock_guard<std::mutex> guard(RunBackups().mutex);
    auto it = RunBackups().made.find(file);
    if (it == RunBackups().made.end()) return false;
    const bool ours = SameFile(backup, it->second);
    RunBackups().made.erase(it);
    return ours && ForceDeleteFile(backup);
}

bool StartupCheck() {
    if (platform::PerformanceFrequency() > 0) return true;
    ShowMessage(kMsgNoPerfCounter);
    return false;
}

namespace {

TRewriteHook& Hook() {
    static TRewriteHook hook;
    return hook;
}

// Gives the file at `fd` the owner, group and permission bits of `original`. Owner and group
// first, so the bits never apply to the wrong group; a chown that is not permitted leaves the
// caller's own.
void KeepOwnerAndMode(int fd, const struct stat& original) {
    if (::fchown(fd, original.st_uid, original.st_gid) != 0) {
    }
    if (::fchmod(fd, original.st_mode & 07777) != 0) {
    }
}

// Puts the original back under its own name after a rewrite whose new file `created` already has
// it: the backup is renamed over the new file (one step, needs no space on a full disk), copied
// where a rename is not possible. A name taken meanwhile by somebody else's file is not replaced.
// Throws, naming the backup, when the original could not be put back.
void RestoreFromBackup(int folder, const std::string& fileName, const std::string& backup,
                       const struct stat& created, const struct stat& original,
                       const std::string& reason) {
    const std::string base = BaseOf(fileName), backupBase = BaseOf(backup);
    struct stat st {};
    const bool ours =
        ::fstatat(folder, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && SameInode(st, created);
    bool restored =
        ours ? ::renameat(folder, backupBase.c_str(), folder, base.c_str()) == 0
             : ::renameat2(folder, backupBase.c_str(), folder, base.c_str(), RENAME_NOREPLACE) == 0;
    if (!restored && errno != EEXIST) {
        if (ours) ::unlinkat(folder, base.c_str(), 0);
        const int fd =
            ::openat(folder, backupBase.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        try {
            if (fd < 0) platform::RaiseError("Cannot open file", backup, errno);
            platform::TFileStream in(fd, backup, platform::TOpenMode::Read,
                                     platform::TShareMode::DenyNone);
            restored = platform::CopyFileAt(in, folder, base, fileName);
        } catch (const platform::EPlatformError&) {
        }
    }
    if (!restored)
        throw platform::EPlatformError(reason + "; the original of '" + fileName +
                                       "' is kept in '" + backup + "'");
    int fd = ::openat(folder, base.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        KeepOwnerAndMode(fd, original);
        ::fsync(fd);
        ::close(fd);
    }
    ::fsync(folder);
}

// The text of the exception being handled.
std::string CurrentReason() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown failure";
    }
}

// The name `base` in `folder` still leads to the file `id`, not to a link or file put there.
bool NameIs(int folder, const std::string& base, const struct stat& id) {
    struct stat st {};
    return ::fstatat(folder, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
           SameInode(st, id);
}

// Flushes the file `id` at `base` in `folder` and the folder to disk.
void FlushAt(int folder, const std::string& base, const struct stat& id, const std::string& name) {
    const int fd = ::openat(folder, base.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !SameInode(st, id)) {
        const int err = fd < 0 ? errno : ESTALE;
        if (fd >= 0) ::close(fd);
        platform::RaiseError("Cannot flush", name, err);
    }
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0) platform::RaiseError("Cannot flush", name, err);
    if (::fsync(folder) != 0 && errno != EINVAL)
        platform::RaiseError("Cannot flush folder", FolderOf(name), errno);
}

// True while another open holds a share lock on the locked file `fd`, as a program using it would.
bool HeldByAnother(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return true;
    ::flock(fd, LOCK_UN);
    return false;
}

// Makes the backup `backupBase` in `folder` of the locked file `fd` (`original` its stat): a
// second name for its data, linked from the descriptor, where the file system allows it
// (instant; the new file is written to a new inode, so these bytes are never changed), else a
// copy read from the descriptor. A file that another program holds gets a copy, since that
// program may still change it in place and the backup must keep the bytes of now. `made`
// receives what the backup's name leads to: the checked file, or the copy. Empty on success,
// else the reason.
std::string MakeBackup(int fd, const struct stat& original, int folder, const std::string& base,
                       const std::string& backupBase, const std::string& backup,
                       struct stat& made) {
    struct stat there {};
    if (::fstatat(folder, backupBase.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0)
        platform::DeleteFileAt(folder, backupBase);
    if (!HeldByAnother(fd)) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        if (::linkat(AT_FDCWD, self.c_str(), folder, backupBase.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            if (NameIs(folder, backupBase, original)) {
                made = original;
                return {};
            }
            return std::strerror(ESTALE); // replaced the moment it was made: not ours to delete
        }
        if (errno == EEXIST) return std::strerror(EEXIST);
    }
    std::string reason;
    try {
        const int again = ReopenFile(fd, folder, base, O_RDONLY);
        if (again < 0) platform::RaiseError("Cannot open file", backup, errno);
        platform::TFileStream in(again, backup, platform::TOpenMode::Read,
                                 platform::TShareMode::DenyNone);
        if (!platform::CopyFileAt(in, folder, backupBase, backup, &reason)) return reason;
    } catch (const platform::EPlatformError& e) {
        return e.what();
    }
    // The copy is a new file of our own with one name; anything else was put there meanwhile.
    if (::fstatat(folder, backupBase.c_str(), &made, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(made.st_mode) || made.st_uid != ::geteuid() || made.st_nlink != 1)
        return std::strerror(ESTALE);
    return {};
}

// Gives the complete new file `tmpBase` in `folder` the name `base` in one rename, over the song
// `original` (open at `fd`): under an exclusive share lock on the song, so that a program holding
// it that way keeps it, and only while the name still leads to the song checked. 1 done; 0 the
// song is in use or its name leads elsewhere; -1 with errno when the rename failed.
int ReplaceSong(int folder, const std::string& tmpBase, const std::string& base, int fd,
                const struct stat& original) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return 0;
    int result = 0;
    if (NameIs(folder, base, original))
        result = ::renameat(folder, tmpBase.c_str(), folder, base.c_str()) == 0 ? 1 : -1;
    const int err = errno;
    ::flock(fd, LOCK_UN);
    errno = err;
    return result;
}

} // namespace

bool MakeCloneBackup(const TWriterLock& lock, const std::string& fileName) {
    const std::string file = ResolveLinks(fileName);
    {
        std::lock_guard<std::mutex> guard(RunBackups().mutex);
        if (RunBackups().keeping.count(file) != 0 && RunBackups().made.count(file) != 0 &&
            SameFile(BackupNameLocked(file), RunBackups().made[file]))
            return true;
    }
    const std::string backup = RunBackupName(file), backupBase = BaseOf(backup);
    const int fd = lock.Handle(), folder = lock.Folder();
    struct stat original {};
    if (fd < 0 || ::fstat(fd, &original) != 0) return false;
    // Only file systems that clone are asked (no file made elsewhere), each once per run.
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0 || (fs.f_type != XFS_SUPER_MAGIC && fs.f_type != BTRFS_SUPER_MAGIC))
        return false;
    static std::mutex noCloneMutex;
    static std::set<dev_t> noClone;
    {
        std::lock_guard<std::mutex> guard(noCloneMutex);
        if (noClone.count(original.st_dev)) return false;
    }
    const std::string clone = backupBase + ".quillon-new-" + std::to_string(::getpid());
    const int bfd =
        ::openat(folder, clone.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (bfd < 0) return false;
    // Under a name of its own until complete and on disk: an old backup stays until replaced.
    const bool cloned = ::ioctl(bfd, FICLONE, fd) == 0;
    if (!cloned && (errno == EOPNOTSUPP || errno == ENOTTY || errno == EINVAL || errno == EXDEV)) {
        std::lock_guard<std::mutex> guard(noCloneMutex);
        noClone.insert(original.st_dev);
    }
    const bool made = cloned && (KeepOwnerAndMode(bfd, original), true) && ::fsync(bfd) == 0 &&
                      ::renameat(folder, clone.c_str(), folder, backupBase.c_str()) == 0;
    ::close(bfd);
    if (!made) {
        ::unlinkat(folder, clone.c_str(), 0);
        return false;
    }
    if (::fsync(folder) != 0 && errno != EINVAL) return false;
    RecordBackup(file, backup);
    return true;
}

void SetRewriteHook(TRewriteHook hook) {
    Hook() = std::move(hook);
}

bool RewriteFile(const std::string& givenName, const TRewriteWriter& writeNew) {
    const std::string fileName = ResolveLinks(givenName); // a link stays a link: its file changes
    IgnoreFileSizeSignal();
    // Every step works from the locked descriptor and its folder's: a name swapped for a link
    // or another file meanwhile is never followed, copied or written.
    TWriterLock lock(fileName);
    if (!lock.Held()) {
        lock.Refuse();
        return false;
    }
    const int folder = lock.Folder(), fd = lock.Handle();
    const std::string base = lock.BaseName();
    struct stat original {};
    if (::fstat(fd, &original) != 0) {
        ShowMessage(kMsgCannotCreateTemp + BackupFileName(fileName) + "\n" + std::strerror(errno));
        return false;
    }
    // Asked before the backup is touched, so that this refusal leaves everything as it was.
    if (HeldByAnother(fd)) {
        ShowMessage(kMsgFileInUse + fileName);
        return false;
    }
    try {
        DropOwnJournal(folder, base, fd, fileName);
    } catch (const platform::EPlatformError& e) {
        ShowMessage(kMsgCannotCreateTemp + BackupFileName(fileName) + "\n" + e.what());
        return false;
    }
    // A later step of a command that keeps its first backup goes through a private name, so
    // the backup stays the original of the whole command.
    bool keeping;
    {
        std::lock_guard<std::mutex> guard(RunBackups().mutex);
        keeping = RunBackups().keeping.count(fileName) != 0;
    }
    keeping = keeping && OwnBackupPresent(fileName);
    const std::string backup = keeping ? fileName + ".quillon-step-" + std::to_string(::getpid())
                                       : RunBackupName(fileName);
    const std::string backupBase = BaseOf(backup);
    // In a batch the file may have a second name made and flushed before: if the file is still
    // the one it names, that name becomes the backup and nothing here needs a flush. A later
    // step of a command whose backup came so needs none either: the original is on disk.
    const bool laterStep = keeping && Unflushed(fileName);
    const bool prepared = !keeping && TakePreparedBackup(fileName, original, backup);
    const bool deferred = laterStep || prepared;
    struct stat made {};
    if (prepared && !NameIs(folder, backupBase, original)) {
        ShowMessage(kMsgCannotCreateTemp + backup + "\n" + std::strerror(ESTALE));
        return false;
    }
    if (prepared) made = original;
    if (!prepared) {
        // Rewritten earlier in this batch (named twice): the backup about to be replaced holds
        // the only copy on disk until the file written then is on disk too.
        if (!deferred && Unflushed(fileName)) {
            try {
                FlushAt(folder, base, original, fileName);
            } catch (const platform::EPlatformError& e) {
                ShowMessage(kMsgCannotCreateTemp + backup + "\n" + e.what());
                return false;
            }
        }
        const std::string reason = MakeBackup(fd, original, folder, base, backupBase, backup, made);
        if (!reason.empty()) {
            ShowMessage(kMsgCannotCreateTemp + backup + "\n" + reason);
            return false;
        }
    }
    auto dropBackup = [&] { // only the file this rewrite made, never one put there meanwhile
        if (NameIs(folder, backupBase, made)) ::unlinkat(folder, backupBase.c_str(), 0);
    };
    try {
        // The original must be on disk before the file goes.
        if (!deferred) FlushAt(folder, backupBase, made, backup);
    } catch (const platform::EPlatformError& e) {
        dropBackup();
        ShowMessage(kMsgCannotCreateTemp + backup + "\n" + e.what());
        return false;
    }
    // The new file is written under a name of its own beside the song, locked before anybody can
    // see it, and takes the song's name in one rename when complete: other programs see the old
    // song or the new one, never a missing or half-written file.
    const std::string tmpBase = base + ".quillon-new-" + std::to_string(::getpid());
    struct stat created {};
    bool placed = false;
    std::optional<platform::TFileStream> out;
    try {
        const int ofd =
            ::openat(folder, tmpBase.c_str(),
                     O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        if (ofd < 0) platform::RaiseError("Cannot open file", fileName, errno);
        struct flock writing {};
        writing.l_type = F_WRLCK;
        writing.l_whence = SEEK_SET;
        if (::fstat(ofd, &created) != 0 || ::fcntl(ofd, F_OFD_SETLK, &writing) != 0) {
            const int err = errno;
            ::close(ofd);
            ::unlinkat(folder, tmpBase.c_str(), 0);
            platform::RaiseError("Cannot lock file for writing", fileName, err);
        }
        try {
            out.emplace(ofd, fileName, platform::TOpenMode::CreateNew,
                        platform::TShareMode::Exclusive);
        } catch (...) {
            ::unlinkat(folder, tmpBase.c_str(), 0);
            throw;
        }
        {
            const int ifd = ::openat(folder, backupBase.c_str(),
                                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            struct stat seen {};
            if (ifd >= 0 && (::fstat(ifd, &seen) != 0 || !SameInode(seen, made))) {
                ::close(ifd);
                platform::RaiseError("Cannot open file", backup, ESTALE);
            }
            if (ifd < 0) platform::RaiseError("Cannot open file", backup, errno);
            // Closed before the rename: its share lock would hold the song, its second name.
            platform::TFileStream in(ifd, backup, platform::TOpenMode::Read,
                                     platform::TShareMode::DenyNone);
            if (Hook()) Hook()(*out);
            writeNew(in, *out);
        }
        // Owner and bits first: the ACL, copied with the other attributes, then stands as it was.
        KeepOwnerAndMode(out->Handle(), original);
        CopyExtendedAttributes(fd, out->Handle(), fileName);
        if (!deferred) out->Sync();
        const int replaced = ReplaceSong(folder, tmpBase, base, fd, original);
        if (replaced < 0) platform::RaiseError("Cannot create file", fileName, errno);
        if (replaced == 0) {
            out.reset();
            if (NameIs(folder, tmpBase, created)) ::unlinkat(folder, tmpBase.c_str(), 0);
            dropBackup();
            ShowMessage(kMsgFileInUse + fileName);
            return false;
        }
        placed = true;
        if (!deferred && ::fsync(folder) != 0 && errno != EINVAL)
            platform::RaiseError("Cannot flush folder", FolderOf(fileName), errno);
    } catch (...) {
        out.reset();
        if (placed) {
            RestoreFromBackup(folder, fileName, backup, created, original, CurrentReason());
        } else {
            // The song never left its name: only what this rewrite made goes.
            if (NameIs(folder, tmpBase, created)) ::unlinkat(folder, tmpBase.c_str(), 0);
            dropBackup();
        }
        throw;
    }
    // The lock follows the file: a writer waiting on the old one finds the name moved on.
    lock.MoveTo(out->Release());
    if (keeping)
        ::unlink(backup.c_str()); // the step's own copy; the command's backup stays
    else
        RecordBackup(fileName, backup);
    {
        // A file rewritten with its own flushes is on disk, whatever an earlier step left.
        std::lock_guard<std::mutex> guard(Batch().mutex);
        if (deferred)
            Batch().unflushed.insert(fileName);
        else
            Batch().unflushed.erase(fileName);
    }
    return true;
}

namespace {

// One flush of every file system holding one of the files (their folders). Empty on success,
// else the reason.
std::string SyncFileSystems(const std::vector<std::string>& files) {
    std::set<std::string> folders;
    std::set<dev_t> synced;
    for (const std::string& file : files) {
        if (file.empty() || !folders.insert(FolderOf(file)).second) continue;
        const std::string folder = FolderOf(file);
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return "Cannot open folder '" + folder + "': " + std::strerror(errno);
        struct stat st {};
        std::string reason;
        if (::fstat(fd, &st) != 0 || (synced.insert(st.st_dev).second && ::syncfs(fd) != 0))
            reason = "Cannot flush the file system of '" + folder + "': " + std::strerror(errno);
        ::close(fd);
        if (!reason.empty()) return reason;
    }
    return {};
}

bool TakePreparedBackup(const std::string& fileName, const struct stat& file,
                        const std::string& backup) {
    std::optional<TPrepared> p;
    {
        std::lock_guard<std::mutex> guard(Batch().mutex);
        auto it = Batch().prepared.find(fileName);
        if (it == Batch().prepared.end()) return false;
        p = it->second;
        Batch().prepared.erase(it);
    }
    const char* name = p->privateName.c_str();
    // Another writer may have rewritten the file since: then the private name holds an older
    // version and the whole protocol runs instead.
    const bool current = file.st_dev == p->file.dev && file.st_ino == p->file.ino &&
                         SameFile(p->privateName, p->file);
    if (current && ::rename(name, backup.c_str()) == 0) {
        // Renaming one of two names of a file over the other does nothing.
        if (SameFile(p->privateName, p->file)) ::unlink(name);
        return true;
    }
    if (SameFile(p->privateName, p->file)) ::unlink(name);
    return false;
}

} // namespace

TBatchFlush::TBatchFlush(const std::vector<std::string>& files)
    : files_(files.size()), ids_(files.size()) {
    // Each name's links are followed once, for every step below.
    std::vector<std::string> once = ResolveAll(files);
    ClearDeadRunNamesOf(once);
    std::set<std::string> seen;
    std::map<std::string, TPrepared> prepared;
    const std::string suffix = ".quillon-batch-" + std::to_string(::getpid());
    for (const auto& [i, other] : BackupNameClashesOf(once)) {
        std::lock_guard<std::mutex> guard(RunBackups().mutex);
        RunBackups().ownNames[once[i]] = once[i] + ".quillon-own-" + std::to_string(::getpid());
    }
    // Each file once; a file named twice is flushed by its later rewrite itself.
    for (std::string& file : once)
        if (!seen.insert(file).second) file.clear();
    std::vector<std::optional<TPrepared>> made(files.size());
    // Side by side: each file costs a few dozen system calls, which the cores share.
    ForEachOnThreads(files.size(), [&](size_t i) {
        const std::string& file = once[i];
        if (file.empty()) return;
        // The lock is held only while the name is made: a batch of thousands of files never
        // holds thousands of locks. The rewrite checks again that the file is still this one.
        // The short wait is for a second name of the same song on another thread.
        TWriterLock lock(file, std::chrono::milliseconds(20));
        struct stat st {};
        // A file another program holds is refused by its rewrite, which then drops the name.
        if (!lock.Held() || ::fstat(lock.Handle(), &st) != 0 || !S_ISREG(st.st_mode))
            return; // the rewrite takes its own steps and reports what stops it
        const std::string name = file + suffix;
        const std::string self = "/proc/self/fd/" + std::to_string(lock.Handle());
        if (::linkat(AT_FDCWD, self.c_str(), lock.Folder(), BaseOf(name).c_str(),
                     AT_SYMLINK_FOLLOW) != 0 ||
            !NameIs(lock.Folder(), BaseOf(name), st))
            return;
        if (InPlaceEdits()) PrepareBatchJournal(lock, file, st);
        made[i] = TPrepared{name, {st.st_dev, st.st_ino}};
        files_[i] = file;
        ids_[i] = {st.st_dev, st.st_ino};
    });
    for (size_t i = 0; i < files.size(); ++i)
        if (made[i]) prepared[files_[i]] = *made[i];
    EndBatchJournals();
    if (!SyncFileSystems(files_).empty()) {
        CommitBatchJournals(files_, {}, -1); // not on disk: every edit journals itself
        Drop({});                            // not on disk: every file flushes its own backup
        files_.assign(files.size(), std::string());
        return;
    }
    std::lock_guard<std::mutex> guard(Batch().mutex);
    Batch().prepared.insert(prepared.begin(), prepared.end());
}

TBatchFlush::~TBatchFlush() {
    if (!finished_) Drop({});
}

bool TBatchFlush::Finish(const std::vector<int>& statuses, bool deleteBackups, int died) {
    finished_ = true;
    const std::string reason = SyncFileSystems(files_);
    if (!reason.empty())
        ShowMessage(reason + "; the new files may not be on disk, their backups are kept");
    Drop(reason.empty() && deleteBackups ? statuses : std::vector<int>());
    // The edits made in place are on disk: removing their journals commits them. Unflushed, the
    // journals stay, and the next program to touch a song rolls its edit back.
    if (!reason.empty()) return false;
    return CommitBatchJournals(files_, statuses, died);
}

void TBatchFlush::Drop(const std::vector<int>& deleteFor) {
    const std::string suffix = ".quillon-batch-" + std::to_string(::getpid());
    {
        std::lock_guard<std::mutex> guard(Batch().mutex);
        Batch().prepared.clear();
        Batch().unflushed.clear();
    }
    ForEachOnThreads(files_.size(), [&](size_t i) {
        const std::string& file = files_[i];
        if (file.empty()) return;
        const TIdentity id{static_cast<dev_t>(ids_[i].first), static_cast<ino_t>(ids_[i].second)};
        // A private name still there: the file was not rewritten, the name is no longer needed.
        const std::string name = file + suffix;
        if (SameFile(name, id)) {
            ::unlink(name.c_str());
            return;
        }
        if (i >= deleteFor.size() || deleteFor[i] != 0) return;
        // The backup of a file rewritten and now on disk, if it is still the data of before.
        TWriterLock lock(file);
        struct stat now {};
        const std::string backup = RunBackupName(file);
        if (lock.Held() && SameFile(backup, id) && ::stat(file.c_str(), &now) == 0 &&
            S_ISREG(now.st_mode) && now.st_ino != id.ino)
            ForceDeleteFile(backup);
    });
}
