// File access with Windows-like sharing, for the tag engines.
//
// Linux has no share modes, so they are emulated with advisory flock() locks. Every program that
// uses this layer sees the same rules a Windows program would:
//   - a "deny none" open takes a shared lock: it fails only while another open holds the file
//     without sharing;
//   - an exclusive ("without sharing") open takes an exclusive lock without waiting, and fails
//     with the file-open error while any other open (in this or another process) holds a lock;
//   - DeleteFile() takes the exclusive lock before it unlinks, so a file that somebody else holds
//     open through this layer cannot be deleted.
// Programs that do not take flock() locks are not kept out; that is the limit of advisory locks.
//
// Failures of the platform (cannot open, short read, write error) throw EPlatformError, whose text
// names the file and the reason. Offsets are 64-bit throughout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <sys/stat.h>

namespace platform {

class EPlatformError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class TShareMode { DenyNone, Exclusive };

enum class TOpenMode {
    Read,      // existing file, read only
    ReadWrite, // existing file, read and write
    Create,    // create or truncate (after the lock is taken), write; never follows a symlink
    CreateNew, // create a file that must not exist yet, write; never follows a symlink
};

class TFileStream {
  public:
    // `mode` gives the new file's permission bits for the create modes (before the umask).
    TFileStream(const std::string& fileName, TOpenMode openMode, TShareMode share,
                unsigned mode = 0666);
    // Takes over `fd`, a descriptor the caller opened (openat from a folder's descriptor, with
    // O_NOFOLLOW) as `openMode` says; `fileName` names it in errors. Takes the share lock as the
    // named open does, and closes `fd` when it throws. The create modes do not truncate.
    TFileStream(int fd, const std::string& fileName, TOpenMode openMode, TShareMode share);
    // Reads through `fd`, a descriptor another object owns and keeps open (a writer's lock on
    // the file), under a "deny none" share lock of its own; gives up that share lock when it is
    // done and never closes `fd`.
    struct TBorrowed {};
    TFileStream(TBorrowed, int fd, const std::string& fileName);
    ~TFileStream();
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    const std::string& FileName() const { return fileName_; }
    int Handle() const { return fd_; }

    // The size; for a read-only stream, the size when it was opened: one read of the tags works
    // on one view of the file.
    int64_t Size() const;
    int64_t Position() const { return pos_; }
    void Seek(int64_t position);

    // Reads up to `count` bytes; fewer only at the end of the file.
    size_t ReadSome(void* buffer, size_t count);
    // Reads exactly `count` bytes or throws the stream-read error.
    void ReadBuffer(void* buffer, size_t count);
    // Writes all `count` bytes or throws.
    void WriteBuffer(const void* buffer, size_t count);
    void Truncate(int64_t size);
    // Flushes data and metadata to the disk (fsync).
    void Sync();
    // Closes now and reports a failed close; the destructor closes silently.
    void Close();
    // Gives up the share lock and hands the descriptor to the caller, who closes it.
    int Release();

    // Test seam: writes that would reach past offset `end` fail as on a full disk (ENOSPC);
    // -1, the default, lifts the limit. Lets a test break a rewrite part-way.
    void SetWriteLimit(int64_t end) { writeLimit_ = end; }
    // Bytes that may still be written at the current position under that limit.
    int64_t WriteRoom() const;
    // Grows the file with a hole up to the current position (after a skipped hole).
    void ExtendToPosition();

  private:
    // The share lock and the checks every open makes once it has its descriptor.
    void Adopt(TOpenMode openMode, TShareMode share);
    [[noreturn]] void Fail(const std::string& what) const;
    // Small reads of a read-only stream come from two windows of the file kept in memory: the
    // tag engines probe the head and the tail of a file with many reads of a few bytes each, and
    // each read of the file is a system call. False when the read is not for the windows.
    bool ReadCached(void* buffer, size_t count, size_t& got);

    static constexpr size_t kReadWindow = 4096;
    struct TReadWindow {
        int64_t start = -1; // -1: empty
        std::string bytes;
    };

    std::string fileName_;
    int fd_ = -1;
    int64_t pos_ = 0;
    int64_t writeLimit_ = -1;
    int64_t readOnlySize_ = -1; // a read-only stream's size, taken once under its lock
    bool borrowed_ = false;
    TReadWindow windows_[2];
    size_t nextWindow_ = 0;
};

// The text of a platform failure: "<what> '<file>': <reason>".
[[noreturn]] void RaiseError(const std::string& what, const std::string& fileName, int err);
// The open error of a name that is a folder, FIFO, device or socket rather than a regular file.
[[noreturn]] void RaiseNotRegular(const std::string& fileName, const struct stat& st);

bool FileExists(const std::string& fileName);
int64_t FileSize(const std::string& fileName);
// Makes the file writable by its owner (the "normal" attributes); false on failure.
bool ResetAttributes(const std::string& fileName);
// Deletes a file unless another open holds a lock on it; true if it was deleted.
bool DeleteFile(const std::string& fileName);
// The same for the name `base` in the folder open at `dirFd`.
bool DeleteFileAt(int dirFd, const std::string& base);
// Copies `source` to a new file `target` (which must not exist), keeping the permission bits.
// Uses a reflink clone where the file system offers one, else the kernel's copy. False on failure,
// with nothing left at `target`.
// `reason`, when given, receives the text of a failure.
bool CopyFile(const std::string& source, const std::string& target, std::string* reason = nullptr);
// The same from the open `source` to the new name `base` in the folder open at `dirFd`
// (`target` names it in errors).
bool CopyFileAt(TFileStream& source, int dirFd, const std::string& base, const std::string& target,
                std::string* reason = nullptr);
// Flushes the directory entry of `fileName` (fsync of its folder).
void SyncDirectoryOf(const std::string& fileName);

// Copies `count` bytes (or up to the end when count < 0) from the current position of `in` to the
// current position of `out` in bounded blocks, with the kernel's copy where it can. Holes of a
// sparse `in` stay holes in `out`. Throws the stream-read error if `in` ends before `count`
// bytes. Returns the bytes copied. Offsets are 64-bit: files past 2 GiB are copied whole.
int64_t CopyRange(TFileStream& in, TFileStream& out, int64_t count);

} // namespace platform
