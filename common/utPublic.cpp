#include "utPublic.h"

#include "PerfCounter.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdio.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
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

struct THeldLock {
    std::thread::id owner;
    int depth = 0;
    int socket = -1;
};

std::mutex& LocksMutex() {
    static std::mutex m;
    return m;
}

std::map<std::string, THeldLock>& HeldLocks() {
    static std::map<std::string, THeldLock> held;
    return held;
}

// The lock's name: the folder (by device and inode, whatever path names it) and the file's name
// in it, so every spelling of one path meets the same lock.
std::string WriterLockName(const std::string& resolved) {
    const size_t slash = resolved.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : resolved.substr(0, slash);
    const std::string base = slash == std::string::npos ? resolved : resolved.substr(slash + 1);
    struct stat st {};
    uint64_t hash = 14695981039346656037ull; // FNV-1a of the name, or of the path if no folder
    for (unsigned char c : ::stat(dir.c_str(), &st) == 0 ? base : resolved)
        hash = (hash ^ c) * 1099511628211ull;
    char name[96];
    std::snprintf(name, sizeof name, "quillon-writer/%llx/%llx/%llx",
                  static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino),
                  static_cast<unsigned long long>(hash));
    return name;
}

// Binds the abstract socket `name`: only one socket in the system can hold a name, and the
// kernel releases it when its holder ends, however it ends. -1 while somebody else holds it; -2
// where no socket can be had at all (a sandbox without them), so that writing goes on as it did
// before there was a lock rather than never again.
int BindLockName(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -2;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data(), name.size()); // sun_path[0] = 0: abstract
    const socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), length) == 0) return fd;
    const int err = errno;
    ::close(fd);
    return err == EADDRINUSE ? -1 : -2;
}

} // namespace

TWriterLock::TWriterLock(const std::string& fileName, std::chrono::milliseconds wait)
    : name_(WriterLockName(ResolveLinks(fileName))) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(LocksMutex());
            auto it = HeldLocks().find(name_);
            if (it != HeldLocks().end() && it->second.owner == std::this_thread::get_id()) {
                ++it->second.depth; // a command's lock covers the rewrites inside it
                held_ = true;
                return;
            }
            if (it == HeldLocks().end()) {
                const int fd = BindLockName(name_);
                if (fd != -1) {
                    HeldLocks()[name_] = {std::this_thread::get_id(), 1, fd};
                    held_ = true;
                    return;
                }
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

TWriterLock::~TWriterLock() {
    if (!held_) return;
    std::lock_guard<std::mutex> guard(LocksMutex());
    auto it = HeldLocks().find(name_);
    if (it == HeldLocks().end() || --it->second.depth > 0) return;
    if (it->second.socket >= 0) ::close(it->second.socket);
    HeldLocks().erase(it);
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
    std::set<std::string> keeping;
};

TRunBackups& RunBackups() {
    static TRunBackups backups;
    return backups;
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
    return it != RunBackups().made.end() && SameFile(BackupFileName(file), it->second);
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
    RunBackups().keeping.erase(file_);
}

bool MakeOwnBackupCopy(const std::string& fileName) {
    const std::string file = ResolveLinks(fileName);
    const std::string backup = BackupFileName(file);
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
    const std::string file = ResolveLinks(fileName);
    const std::string backup = BackupFileName(file);
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

// Puts the original back under its own name after a failed rewrite: removes the partial file
// (only if it is the one this rewrite created) and renames the backup over the free name
// (instant, needs no space on a full disk), copying it where a rename is not possible. A name
// taken meanwhile by somebody else's file is not replaced. Throws, naming the backup, when the
// original could not be put back.
void RestoreFromBackup(const std::string& fileName, const std::string& backup,
                       const struct stat* created, const struct stat& original,
                       const std::string& reason) {
    struct stat st {};
    if (created && ::lstat(fileName.c_str(), &st) == 0 && st.st_dev == created->st_dev &&
        st.st_ino == created->st_ino)
        ::unlink(fileName.c_str());
    bool restored =
        ::renameat2(AT_FDCWD, backup.c_str(), AT_FDCWD, fileName.c_str(), RENAME_NOREPLACE) == 0;
    if (!restored && errno != EEXIST) restored = platform::CopyFile(backup, fileName);
    if (!restored)
        throw platform::EPlatformError(reason + "; the original of '" + fileName +
                                       "' is kept in '" + backup + "'");
    int fd = ::open(fileName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        KeepOwnerAndMode(fd, original);
        ::fsync(fd);
        ::close(fd);
    }
    try {
        platform::SyncDirectoryOf(fileName);
    } catch (const platform::EPlatformError&) {
    }
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

void FlushBackup(const std::string& backup) {
    platform::TFileStream b(backup, platform::TOpenMode::Read, platform::TShareMode::DenyNone);
    b.Sync();
    b.Close();
    platform::SyncDirectoryOf(backup);
}

// True while another open holds a lock on the file, as a program using it would.
bool HeldByAnother(const std::string& fileName) {
    int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

// Makes the backup: a second name for the original's data where the file system allows it
// (instant; the new file is written to a new inode, so these bytes are never changed), else a
// copy. A file that another program holds gets a copy, since that program may still change it in
// place and the backup must keep the bytes of now. False when the backup's name cannot be
// replaced or the copy fails.
// Empty on success, else the reason.
std::string MakeBackup(const std::string& fileName, const std::string& backup) {
    ForceDeleteFile(backup);
    if (!HeldByAnother(fileName)) {
        if (::linkat(AT_FDCWD, fileName.c_str(), AT_FDCWD, backup.c_str(), 0) == 0) return {};
        if (errno == EEXIST) return std::strerror(EEXIST);
    }
    std::string reason;
    if (!platform::CopyFile(fileName, backup, &reason)) return reason;
    return {};
}

} // namespace

void SetRewriteHook(TRewriteHook hook) {
    Hook() = std::move(hook);
}

bool RewriteFile(const std::string& givenName, const TRewriteWriter& writeNew) {
    const std::string fileName = ResolveLinks(givenName); // a link stays a link: its file changes
    TWriterLock lock(fileName);
    if (!lock.Held()) {
        ShowMessage(kMsgFileInUse + fileName);
        return false;
    }
    struct stat original {};
    if (::stat(fileName.c_str(), &original) != 0) {
        ShowMessage(kMsgCannotCreateTemp + BackupFileName(fileName) + "\n" + std::strerror(errno));
        return false;
    }
    if (!S_ISREG(original.st_mode)) platform::RaiseNotRegular(fileName, original);
    // Asked before the backup is touched, so that this refusal leaves everything as it was.
    if (HeldByAnother(fileName)) {
        ShowMessage(kMsgFileInUse + fileName);
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
                                       : BackupFileName(fileName);
    // In a batch the file may have a second name made and flushed before: if the file is still
    // the one it names, that name becomes the backup and nothing here needs a flush. A later
    // step of a command whose backup came so needs none either: the original is on disk.
    const bool laterStep = keeping && Unflushed(fileName);
    const bool prepared = !keeping && TakePreparedBackup(fileName, original, backup);
    const bool deferred = laterStep || prepared;
    if (!prepared) {
        // Rewritten earlier in this batch (named twice): the backup about to be replaced holds
        // the only copy on disk until the file written then is on disk too.
        if (!deferred && Unflushed(fileName)) {
            try {
                FlushBackup(fileName);
            } catch (const platform::EPlatformError& e) {
                ShowMessage(kMsgCannotCreateTemp + backup + "\n" + e.what());
                return false;
            }
        }
        const std::string reason = MakeBackup(fileName, backup);
        if (!reason.empty()) {
            ShowMessage(kMsgCannotCreateTemp + backup + "\n" + reason);
            return false;
        }
    }
    struct stat made {};
    ::lstat(backup.c_str(), &made);
    auto dropBackup = [&] { // only the file this rewrite made, never one put there meanwhile
        if (SameFile(backup, {made.st_dev, made.st_ino})) ::unlink(backup.c_str());
    };
    try {
        if (!deferred) FlushBackup(backup); // the original must be on disk before the file goes
    } catch (const platform::EPlatformError& e) {
        dropBackup();
        ShowMessage(kMsgCannotCreateTemp + backup + "\n" + e.what());
        return false;
    }
    if (!ForceDeleteFile(fileName)) {
        dropBackup();
        ShowMessage(kMsgFileInUse + fileName);
        return false;
    }
    struct stat created {};
    bool haveCreated = false;
    try {
        platform::TFileStream in(backup, platform::TOpenMode::Read, platform::TShareMode::DenyNone);
        platform::TFileStream out(fileName, platform::TOpenMode::CreateNew,
                                  platform::TShareMode::Exclusive, 0600);
        haveCreated = ::fstat(out.Handle(), &created) == 0;
        if (Hook()) Hook()(out);
        writeNew(in, out);
        KeepOwnerAndMode(out.Handle(), original);
        if (!deferred) out.Sync();
        out.Close();
        if (!deferred) platform::SyncDirectoryOf(fileName);
    } catch (...) {
        RestoreFromBackup(fileName, backup, haveCreated ? &created : nullptr, original,
                          CurrentReason());
        throw;
    }
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

std::string FolderOf(const std::string& resolved) {
    const size_t slash = resolved.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : resolved.substr(0, slash);
}

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
    std::set<std::string> seen;
    std::map<std::string, TPrepared> prepared;
    const std::string suffix = ".quillon-batch-" + std::to_string(::getpid());
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string file = ResolveLinks(files[i]);
        if (!seen.insert(file).second) continue; // named twice: the later rewrite flushes itself
        // The lock is held only while the name is made: a batch of thousands of files never
        // holds thousands of locks. The rewrite checks again that the file is still this one.
        TWriterLock lock(file, std::chrono::milliseconds(0));
        struct stat st {};
        // A file another program holds is refused by its rewrite, which then drops the name.
        if (!lock.Held() || ::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue; // the rewrite takes its own steps and reports what stops it
        const std::string name = file + suffix;
        if (::linkat(AT_FDCWD, file.c_str(), AT_FDCWD, name.c_str(), 0) != 0) continue;
        prepared[file] = {name, {st.st_dev, st.st_ino}};
        files_[i] = file;
        ids_[i] = {st.st_dev, st.st_ino};
    }
    if (!SyncFileSystems(files_).empty()) {
        Drop({}); // not on disk: every file flushes its own backup
        files_.assign(files.size(), std::string());
        return;
    }
    std::lock_guard<std::mutex> guard(Batch().mutex);
    Batch().prepared.insert(prepared.begin(), prepared.end());
}

TBatchFlush::~TBatchFlush() {
    if (!finished_) Drop({});
}

bool TBatchFlush::Finish(const std::vector<int>& statuses, bool deleteBackups) {
    finished_ = true;
    const std::string reason = SyncFileSystems(files_);
    if (!reason.empty())
        ShowMessage(reason + "; the new files may not be on disk, their backups are kept");
    Drop(reason.empty() && deleteBackups ? statuses : std::vector<int>());
    return reason.empty();
}

void TBatchFlush::Drop(const std::vector<int>& deleteFor) {
    const std::string suffix = ".quillon-batch-" + std::to_string(::getpid());
    {
        std::lock_guard<std::mutex> guard(Batch().mutex);
        Batch().prepared.clear();
        Batch().unflushed.clear();
    }
    for (size_t i = 0; i < files_.size(); ++i) {
        const std::string& file = files_[i];
        if (file.empty()) continue;
        const TIdentity id{static_cast<dev_t>(ids_[i].first), static_cast<ino_t>(ids_[i].second)};
        // A private name still there: the file was not rewritten, the name is no longer needed.
        const std::string name = file + suffix;
        if (SameFile(name, id)) {
            ::unlink(name.c_str());
            continue;
        }
        if (i >= deleteFor.size() || deleteFor[i] != 0) continue;
        // The backup of a file rewritten and now on disk, if it is still the data of before.
        TWriterLock lock(file);
        struct stat now {};
        const std::string backup = BackupFileName(file);
        if (lock.Held() && SameFile(backup, id) && ::stat(file.c_str(), &now) == 0 &&
            S_ISREG(now.st_mode) && now.st_ino != id.ino)
            ForceDeleteFile(backup);
    }
}
