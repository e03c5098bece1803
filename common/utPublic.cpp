#include "utPublic.h"

#include "PerfCounter.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
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
bool MakeBackup(const std::string& fileName, const std::string& backup) {
    ForceDeleteFile(backup);
    if (!HeldByAnother(fileName)) {
        if (::linkat(AT_FDCWD, fileName.c_str(), AT_FDCWD, backup.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno == EEXIST) return false;
    }
    return platform::CopyFile(fileName, backup);
}

} // namespace

void SetRewriteHook(TRewriteHook hook) {
    Hook() = std::move(hook);
}

bool RewriteFile(const std::string& fileName, const TRewriteWriter& writeNew) {
    const std::string backup = BackupFileName(fileName);
    struct stat original {};
    const bool haveOriginal = ::stat(fileName.c_str(), &original) == 0;
    if (!haveOriginal || !MakeBackup(fileName, backup)) {
        ShowMessage(kMsgCannotCreateTemp + backup);
        return false;
    }
    try {
        FlushBackup(backup); // the original must be safe on disk before the file goes
    } catch (const platform::EPlatformError&) {
        ShowMessage(kMsgCannotCreateTemp + backup);
        return false;
    }
    if (!ForceDeleteFile(fileName)) {
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
        out.Sync();
        out.Close();
        platform::SyncDirectoryOf(fileName);
    } catch (...) {
        RestoreFromBackup(fileName, backup, haveCreated ? &created : nullptr, original,
                          CurrentReason());
        throw;
    }
    return true;
}
