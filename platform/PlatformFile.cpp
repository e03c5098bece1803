#include "PlatformFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <linux/fs.h>
#include <optional>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

constexpr size_t kCopyBlock = 1 << 20; // bounded block for the fallback copy

int OpenFlags(TOpenMode mode) {
    switch (mode) {
    case TOpenMode::Read:
        return O_RDONLY;
    case TOpenMode::ReadWrite:
        return O_RDWR;
    case TOpenMode::Create:
        return O_RDWR | O_CREAT | O_NOFOLLOW;
    case TOpenMode::CreateNew:
        return O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
    }
    return O_RDONLY;
}

std::string DirectoryOf(const std::string& fileName) {
    auto slash = fileName.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return fileName.substr(0, slash);
}

} // namespace

void RaiseError(const std::string& what, const std::string& fileName, int err) {
    throw EPlatformError(what + " '" + fileName + "': " + std::strerror(err));
}

void RaiseNotRegular(const std::string& fileName, const struct stat& st) {
    if (S_ISDIR(st.st_mode)) RaiseError("Cannot open file", fileName, EISDIR);
    const char* kind = S_ISFIFO(st.st_mode)                         ? "a FIFO"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                       : S_ISSOCK(st.st_mode)                       ? "a socket"
                                                                    : "not a regular file";
    throw EPlatformError("Cannot open file '" + fileName + "': " + kind + ", not a regular file");
}

TFileStream::TFileStream(const std::string& fileName, TOpenMode openMode, TShareMode share,
                         unsigned mode)
    : fileName_(fileName) {
    // Only regular files are tag files. A FIFO, device or folder is refused before it is opened
    // where possible (opening some devices does something), and the open itself never waits: a
    // FIFO without a writer would block it for ever.
    struct stat before {};
    if (::stat(fileName.c_str(), &before) == 0 && !S_ISREG(before.st_mode))
        RaiseNotRegular(fileName, before);
    fd_ = ::open(fileName.c_str(), OpenFlags(openMode) | O_CLOEXEC | O_NONBLOCK, mode);
    if (fd_ < 0) RaiseError("Cannot open file", fileName, errno);
    Adopt(openMode, share);
    // Truncate only once the lock is ours, so a file held by another program is left alone.
    if (openMode == TOpenMode::Create && ::ftruncate(fd_, 0) != 0) {
        int err = errno;
        ::close(fd_);
        fd_ = -1;
        RaiseError("Cannot open file", fileName, err);
    }
}

TFileStream::TFileStream(int fd, const std::string& fileName, TOpenMode openMode, TShareMode share)
    : fileName_(fileName), fd_(fd) {
    ::fcntl(fd_, F_SETFL, O_NONBLOCK);
    Adopt(openMode, share);
}

TFileStream::TFileStream(TBorrowed, int fd, const std::string& fileName)
    : fileName_(fileName), fd_(fd), borrowed_(true) {
    struct stat st {};
    if (::flock(fd_, LOCK_SH | LOCK_NB) != 0) {
        fd_ = -1;
        RaiseError("Cannot open file", fileName, errno == EWOULDBLOCK ? EBUSY : errno);
    }
    if (::fstat(fd_, &st) != 0) {
        const int err = errno;
        Close();
        RaiseError("Cannot open file", fileName, err);
    }
    readOnlySize_ = st.st_size;
}

void TFileStream::Adopt(TOpenMode openMode, TShareMode share) {
    const std::string& fileName = fileName_;
    int lock = (share == TShareMode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    if (::flock(fd_, lock) != 0) {
        int err = errno == EWOULDBLOCK ? EBUSY : errno;
        // A file this open has just created must not stay behind empty: a rewrite that fails
        // here puts the original back under the name, which an empty file would block.
        struct stat mine {
        }, here{};
        if (openMode == TOpenMode::CreateNew && ::fstat(fd_, &mine) == 0 &&
            ::lstat(fileName.c_str(), &here) == 0 && here.st_dev == mine.st_dev &&
            here.st_ino == mine.st_ino)
            ::unlink(fileName.c_str());
        ::close(fd_);
        fd_ = -1;
        RaiseError("Cannot open file", fileName, err);
    }
    // Looked at once the lock is ours: a writer that held the file until just now has finished.
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && !S_ISREG(st.st_mode)) { // put there since the look above
        ::close(fd_);
        fd_ = -1;
        RaiseNotRegular(fileName, st);
    }
    ::fcntl(fd_, F_SETFL, 0); // blocking again; the other status flags were never set
    if (openMode == TOpenMode::Read) readOnlySize_ = st.st_size;
}

TFileStream::~TFileStream() {
    if (fd_ >= 0 && borrowed_)
        ::flock(fd_, LOCK_UN);
    else if (fd_ >= 0)
        ::close(fd_);
}

void TFileStream::Close() {
    if (fd_ < 0) return;
    int fd = fd_;
    fd_ = -1;
    if (borrowed_)
        ::flock(fd, LOCK_UN);
    else if (::close(fd) != 0)
        RaiseError("Cannot close file", fileName_, errno);
}

int TFileStream::Release() {
    const int fd = fd_;
    fd_ = -1;
    if (fd >= 0) ::flock(fd, LOCK_UN);
    return borrowed_ ? -1 : fd; // a borrowed descriptor stays its owner's
}

void TFileStream::Fail(const std::string& what) const {
    RaiseError(what, fileName_, errno);
}

int64_t TFileStream::Size() const {
    if (readOnlySize_ >= 0) return readOnlySize_;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) Fail("Cannot get the size of");
    return st.st_size;
}

void TFileStream::Seek(int64_t position) {
    if (position < 0) {
        errno = EINVAL;
        Fail("Cannot seek in");
    }
    pos_ = position;
}

bool TFileStream::ReadCached(void* buffer, size_t count, size_t& got) {
    if (readOnlySize_ < 0 || count > kReadWindow) return false;
    const int64_t available = std::max<int64_t>(0, std::min<int64_t>(count, readOnlySize_ - pos_));
    TReadWindow* window = nullptr;
    for (TReadWindow& w : windows_)
        if (w.start >= 0 && pos_ >= w.start &&
            pos_ + available <= w.start + static_cast<int64_t>(w.bytes.size()))
            window = &w;
    if (!window && available > 0) {
        // Read the window around the request: from it on, or, near the end of the file, the
        // file's last bytes, where the trailing tags and the headers in front of them lie.
        window = &windows_[nextWindow_];
        nextWindow_ = (nextWindow_ + 1) % std::size(windows_);
        const int64_t start = pos_ + int64_t(kReadWindow) > readOnlySize_
                                  ? std::max<int64_t>(0, readOnlySize_ - int64_t(kReadWindow))
                                  : pos_;
        const size_t length =
            static_cast<size_t>(std::min<int64_t>(kReadWindow, readOnlySize_ - start));
        window->start = -1;
        window->bytes.resize(length);
        size_t done = 0;
        while (done < length) {
            ssize_t n =
                ::pread(fd_, window->bytes.data() + done, length - done, start + int64_t(done));
            if (n < 0) {
                if (errno == EINTR) continue;
                Fail("Read error in");
            }
            if (n == 0) break; // the file shrank: what is there is all there is
            done += static_cast<size_t>(n);
        }
        window->bytes.resize(done);
        window->start = start;
    }
    got = 0;
    if (window && pos_ >= window->start) {
        const int64_t inWindow = window->start + int64_t(window->bytes.size()) - pos_;
        got = static_cast<size_t>(std::max<int64_t>(0, std::min(available, inWindow)));
        std::memcpy(buffer, window->bytes.data() + (pos_ - window->start), got);
    }
    pos_ += int64_t(got);
    return true;
}

size_t TFileStream::ReadSome(void* buffer, size_t count) {
    size_t got;
    if (ReadCached(buffer, count, got)) return got;
    size_t done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < count) {
        ssize_t n = ::pread(fd_, p + done, count - done, pos_);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail("Read error in");
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
        pos_ += n;
    }
    return done;
}

void TFileStream::ReadBuffer(void* buffer, size_t count) {
    int64_t at = pos_;
    size_t got = ReadSome(buffer, count);
    if (got != count)
        throw EPlatformError("Stream read error in '" + fileName_ + "': " + std::to_string(count) +
                             " bytes wanted at offset " + std::to_string(at) + ", " +
                             std::to_string(got) + " found");
}

void TFileStream::WriteBuffer(const void* buffer, size_t count) {
    size_t done = 0;
    auto* p = static_cast<const char*>(buffer);
    const size_t allowed = static_cast<size_t>(std::min<int64_t>(WriteRoom(), count));
    while (done < allowed) {
        ssize_t n = ::pwrite(fd_, p + done, allowed - done, pos_);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail("Write error in");
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
        pos_ += n;
    }
    if (done < count) {
        errno = ENOSPC;
        Fail("Write error in");
    }
}

int64_t TFileStream::WriteRoom() const {
    if (writeLimit_ < 0) return INT64_MAX;
    return std::max<int64_t>(0, writeLimit_ - pos_);
}

void TFileStream::ExtendToPosition() {
    if (Size() >= pos_) return;
    if (writeLimit_ >= 0 && pos_ > writeLimit_) {
        errno = ENOSPC;
        Fail("Write error in");
    }
    if (::ftruncate(fd_, pos_) != 0) Fail("Write error in");
}

void TFileStream::Truncate(int64_t size) {
    if (::ftruncate(fd_, size) != 0) Fail("Cannot truncate");
    if (pos_ > size) pos_ = size;
}

void TFileStream::Sync() {
    if (::fsync(fd_) != 0) Fail("Cannot flush");
}

bool FileExists(const std::string& fileName) {
    struct stat st {};
    return ::stat(fileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int64_t FileSize(const std::string& fileName) {
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0) RaiseError("Cannot get the size of", fileName, errno);
    return st.st_size;
}

bool ResetAttributes(const std::string& fileName) {
    struct stat st {};
    if (::lstat(fileName.c_str(), &st) != 0) return false;
    if (S_ISLNK(st.st_mode)) return true; // a link has no attributes of its own
    return (st.st_mode & S_IWUSR) || ::chmod(fileName.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool DeleteFile(const std::string& fileName) {
    return DeleteFileAt(AT_FDCWD, fileName);
}

bool DeleteFileAt(int dirFd, const std::string& base) {
    int fd = ::openat(dirFd, base.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        // A symbolic link (or a file we may not read) is removed as a name, without a lock.
        return ::unlinkat(dirFd, base.c_str(), 0) == 0;
    }
    bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlinkat(dirFd, base.c_str(), 0) == 0;
    ::close(fd);
    return ok;
}

namespace {

// The offset of the first data at or after `pos` in the file, `end` when only a hole is left
// before `end`. A file system that cannot tell holes says the whole file is data.
int64_t NextData(int fd, int64_t pos, int64_t end) {
    off_t at = ::lseek(fd, pos, SEEK_DATA);
    if (at < 0) return errno == ENXIO ? end : pos;
    return std::min<int64_t>(at, end);
}

// The end of the data run that starts at `pos`, at most `end`.
int64_t NextHole(int fd, int64_t pos, int64_t end) {
    off_t at = ::lseek(fd, pos, SEEK_HOLE);
    if (at <= pos) return end;
    return std::min<int64_t>(at, end);
}

} // namespace

int64_t CopyRange(TFileStream& in, TFileStream& out, int64_t count) {
    const int64_t start = in.Position();
    const int64_t available = std::max<int64_t>(0, in.Size() - start);
    const int64_t end = start + (count < 0 ? available : std::min(count, available));
    bool kernelCopy = true;
    std::vector<char> block;
    while (in.Position() < end) {
        // A hole is not read: the output skips it too and is grown over it at the end.
        const int64_t data = NextData(in.Handle(), in.Position(), end);
        if (data > in.Position()) {
            out.Seek(out.Position() + (data - in.Position()));
            in.Seek(data);
            continue;
        }
        const int64_t run = NextHole(in.Handle(), data, end) - data;
        size_t want = static_cast<size_t>(std::min<int64_t>(run, kCopyBlock));
        const int64_t room = out.WriteRoom();
        if (room == 0) RaiseError("Write error in", out.FileName(), ENOSPC);
        want = static_cast<size_t>(std::min<int64_t>(want, room));
        const int64_t at = out.Position();
        ssize_t n = -1;
        if (kernelCopy) {
            loff_t inPos = in.Position(), outPos = out.Position();
            n = ::copy_file_range(in.Handle(), &inPos, out.Handle(), &outPos, want, 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP ||
                          errno == EINVAL || errno == EBADF)) {
                kernelCopy = false; // not offered here: fall back to read and write
            } else if (n < 0) {
                RaiseError("Cannot copy from", in.FileName(), errno);
            } else {
                in.Seek(in.Position() + n);
                out.Seek(out.Position() + n);
            }
        }
        if (!kernelCopy) {
            if (block.empty()) block.resize(kCopyBlock);
            n = static_cast<ssize_t>(in.ReadSome(block.data(), want));
            out.WriteBuffer(block.data(), static_cast<size_t>(n));
        }
        if (n == 0) break; // the file was cut short meanwhile
        // Start writing the block to disk now, so a flush at the end finds little left to do.
        ::sync_file_range(out.Handle(), at, n, SYNC_FILE_RANGE_WRITE);
    }
    // A hole at the end of the range was skipped, not written: the output is grown over it.
    out.ExtendToPosition();
    const int64_t copied = in.Position() - start;
    if (count >= 0 && copied < count)
        throw EPlatformError("Stream read error in '" + in.FileName() +
                             "': " + std::to_string(count) + " bytes wanted, " +
                             std::to_string(copied) + " found");
    return copied;
}

bool CopyFile(const std::string& source, const std::string& target, std::string* reason) {
    try {
        TFileStream in(source, TOpenMode::Read, TShareMode::DenyNone);
        return CopyFileAt(in, AT_FDCWD, target, target, reason);
    } catch (const EPlatformError& e) {
        if (reason) *reason = e.what();
        return false;
    }
}

bool CopyFileAt(TFileStream& in, int dirFd, const std::string& base, const std::string& target,
                std::string* reason) {
    try {
        struct stat st {};
        if (::fstat(in.Handle(), &st) != 0) RaiseError("Cannot open file", in.FileName(), errno);
        const int fd =
            ::openat(dirFd, base.c_str(),
                     O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
        if (fd < 0) RaiseError("Cannot open file", target, errno);
        auto drop = [&] { ::unlinkat(dirFd, base.c_str(), 0); };
        std::optional<TFileStream> out;
        try {
            out.emplace(fd, target, TOpenMode::CreateNew, TShareMode::Exclusive);
        } catch (...) {
            drop();
            throw;
        }
        try {
            in.Seek(0);
            if (::ioctl(out->Handle(), FICLONE, in.Handle()) != 0) CopyRange(in, *out, -1);
            if (::fchmod(out->Handle(), st.st_mode & 07777) != 0) { /* keep the private 0600 */
            }
            out->Close();
        } catch (...) {
            drop();
            throw;
        }
        return true;
    } catch (const EPlatformError& e) {
        if (reason) *reason = e.what();
        return false;
    }
}

void SyncDirectoryOf(const std::string& fileName) {
    std::string dir = DirectoryOf(fileName);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) RaiseError("Cannot open folder", dir, errno);
    int rc = ::fsync(fd);
    int err = errno;
    ::close(fd);
    if (rc != 0 && err != EINVAL) RaiseError("Cannot flush folder", dir, err);
}

} // namespace platform
