// What a rewrite carries over to its new file (extended attributes, the ACL), the names a killed
// run leaves beside a song, and the backup names a batch must not take from its own files.
#include "utFileAt.h"
#include "utPublic.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

void CopyExtendedAttributes(int from, int to, const std::string& fileName) {
    std::vector<char> names(4096);
    ssize_t n;
    while ((n = ::flistxattr(from, names.data(), names.size())) < 0 && errno == ERANGE)
        names.resize(names.size() * 4);
    if (n < 0) {
        if (errno == ENOTSUP) return; // a file system without them has none to lose
        platform::RaiseError("Cannot read the extended attributes of", fileName, errno);
    }
    std::vector<char> value(4096);
    for (ssize_t at = 0; at < n; at += static_cast<ssize_t>(std::strlen(names.data() + at)) + 1) {
        const char* name = names.data() + at;
        ssize_t size;
        while ((size = ::fgetxattr(from, name, value.data(), value.size())) < 0 && errno == ERANGE)
            value.resize(value.size() * 4);
        if (size < 0) {
            if (errno == ENODATA) continue; // removed meanwhile
            platform::RaiseError(std::string("Cannot read the extended attribute ") + name + " of",
                                 fileName, errno);
        }
        if (::fsetxattr(to, name, value.data(), static_cast<size_t>(size), 0) == 0) continue;
        // The kernel's own labels and the administrator's attributes are not ours to set; the
        // new file gets its own label. Anything else (the ACL above all) must not be lost.
        const bool system =
            std::strncmp(name, "security.", 9) == 0 || std::strncmp(name, "trusted.", 8) == 0;
        if (system && (errno == EPERM || errno == EACCES || errno == ENOTSUP)) continue;
        platform::RaiseError(std::string("Cannot keep the extended attribute ") + name + " of",
                             fileName, errno);
    }
}

void IgnoreFileSizeSignal() {
    // Beyond the file size limit (ulimit -f) a write then fails with EFBIG, and the failed
    // rewrite is undone, instead of the signal ending the program in the middle of it. A handler
    // the program installed itself is left alone.
    struct sigaction now {};
    if (::sigaction(SIGXFSZ, nullptr, &now) == 0 && now.sa_handler == SIG_DFL)
        ::signal(SIGXFSZ, SIG_IGN);
}

namespace {

// The key of a name: its file's device and inode where it exists, else the name itself.
std::string KeyOf(const std::string& resolved) {
    struct stat st {};
    if (::stat(resolved.c_str(), &st) != 0) return "name:" + resolved;
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

const char* const kPrivateMarks[] = {".quillon-batch-", ".quillon-step-", ".quillon-own-",
                                     ".quillon-new-"};

// True while a writer holds the lock of the file `name` in `folder` (a new file is locked when it
// is created).
bool HeldForWriting(int folder, const std::string& name) {
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

} // namespace

std::vector<std::string> ResolveAll(const std::vector<std::string>& files) {
    std::vector<std::string> resolved(files.size());
    ForEachOnThreads(files.size(), [&](size_t i) { resolved[i] = ResolveLinks(files[i]); });
    return resolved;
}

std::vector<std::pair<size_t, size_t>> BackupNameClashes(const std::vector<std::string>& files) {
    return BackupNameClashesOf(ResolveAll(files));
}

std::vector<std::pair<size_t, size_t>>
BackupNameClashesOf(const std::vector<std::string>& resolved) {
    std::map<std::string, std::vector<size_t>> byKey;
    std::vector<std::string> keys(resolved.size()), backupKeys(resolved.size());
    ForEachOnThreads(resolved.size(), [&](size_t i) {
        keys[i] = KeyOf(resolved[i]);
        backupKeys[i] = KeyOf(BackupFileName(resolved[i]));
    });
    for (size_t i = 0; i < resolved.size(); ++i)
        byKey[keys[i]].push_back(i);
    std::vector<std::pair<size_t, size_t>> clashes;
    for (size_t i = 0; i < resolved.size(); ++i) {
        auto it = byKey.find(backupKeys[i]);
        if (it == byKey.end()) continue;
        for (size_t j : it->second)
            if (keys[j] != keys[i]) clashes.emplace_back(i, j);
    }
    return clashes;
}

std::vector<std::string> ClearDeadRunNames(const std::vector<std::string>& files) {
    return ClearDeadRunNamesOf(ResolveAll(files));
}

std::vector<std::string> ClearDeadRunNamesOf(const std::vector<std::string>& resolved) {
    std::vector<std::string> acted;
    std::set<std::string> folders;
    for (const std::string& file : resolved)
        folders.insert(FolderOf(file));
    for (const std::string& folderName : folders) {
        const int folder = ::open(folderName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0) continue;
        const int scan = ::dup(folder);
        DIR* dir = scan >= 0 ? ::fdopendir(scan) : nullptr;
        std::vector<std::pair<std::string, std::string>> found; // (name, the song's name)
        while (dir) {
            const dirent* e = ::readdir(dir);
            if (!e) break;
            const std::string name = e->d_name;
            for (const char* mark : kPrivateMarks) {
                const size_t at = name.rfind(mark);
                if (at == std::string::npos || at == 0) continue;
                const std::string digits = name.substr(at + std::strlen(mark));
                char* end = nullptr;
                const long pid = std::strtol(digits.c_str(), &end, 10);
                if (digits.empty() || *end || pid <= 0 || pid == ::getpid()) break;
                // Only the names of a process that is gone: a live run still needs its own.
                if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) break;
                found.emplace_back(name, name.substr(0, at));
                break;
            }
        }
        if (dir) ::closedir(dir);
        for (const auto& [name, song] : found) {
            struct stat left {
            }, now{};
            if (::fstatat(folder, name.c_str(), &left, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISREG(left.st_mode))
                continue;
            const bool partial = name.find(".quillon-new-") != std::string::npos;
            if (::fstatat(folder, song.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
                // The song is not under its own name: a second name of its data puts it back; a
                // new file that was being written is no song and stays for the user to judge.
                if (errno == ENOENT && !partial &&
                    ::renameat2(folder, name.c_str(), folder, song.c_str(), RENAME_NOREPLACE) == 0)
                    acted.push_back(folderName + "/" + song);
                continue;
            }
            // The song is whole under its own name (a rewrite gives the name only to a complete
            // file): under its writer lock, the name left over can go.
            if (partial && HeldForWriting(folder, name)) continue; // a writer in another namespace
            TWriterLock lock(folderName + "/" + song, std::chrono::milliseconds(0));
            struct stat again {};
            if (lock.Held() && ::fstatat(folder, name.c_str(), &again, AT_SYMLINK_NOFOLLOW) == 0 &&
                SameInode(again, left) && ::unlinkat(folder, name.c_str(), 0) == 0 &&
                (acted.empty() || acted.back() != folderName + "/" + song))
                acted.push_back(folderName + "/" + song);
        }
        ::close(folder);
    }
    return acted;
}
