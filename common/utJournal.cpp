#include "utJournal.h"

#include "utFileAt.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace {

constexpr char kMagic[8] = {'Q', 'L', 'J', 'R', 'N', 'L', '0', '1'};
constexpr const char* kSuffix = ".quillon-journal";
// A journal holds an ID3v2 tag's room at most (256 MiB and its header and footer).
constexpr uint64_t kMaxRegion = (uint64_t(1) << 28) + 20;

// The run that wrote a journal: its process and when it started, on which boot. A journal of a
// run still alive belongs to an edit in flight; the workers of a batch share the run of the
// process that forked them.
struct TRunId {
    uint64_t pid = 0, start = 0, boot = 0;
    bool operator==(const TRunId& o) const {
        return pid == o.pid && start == o.start && boot == o.boot;
    }
};

// Four independent lanes over 8-byte words: a journal holds a whole tag (covers of megabytes),
// and a byte-at-a-time hash of it cost more than the edit itself. It guards against a torn or
// damaged journal, not against a forger.
uint64_t Checksum(const char* data, size_t size) {
    constexpr uint64_t kPrime1 = 0x9e3779b185ebca87ull, kPrime2 = 0xc2b2ae3d27d4eb4full;
    auto mix = [](uint64_t lane, uint64_t word) {
        lane += word * kPrime2;
        lane = (lane << 31) | (lane >> 33);
        return lane * kPrime1;
    };
    uint64_t lanes[4] = {kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1};
    size_t at = 0;
    for (; at + 32 <= size; at += 32)
        for (int k = 0; k < 4; ++k) {
            uint64_t word;
            std::memcpy(&word, data + at + 8 * k, 8);
            lanes[k] = mix(lanes[k], word);
        }
    uint64_t h = uint64_t(size) * kPrime1;
    for (uint64_t lane : lanes)
        h = mix(h ^ lane, lane);
    for (; at < size; ++at)
        h = (h ^ static_cast<unsigned char>(data[at])) * 1099511628211ull;
    h ^= h >> 33;
    h *= kPrime2;
    return h ^ (h >> 29);
}

uint64_t StartOf(uint64_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Field 22, counted after the command name, which may hold spaces and parentheses.
    const size_t paren = all.rfind(')');
    if (paren == std::string::npos) return 0;
    size_t at = paren + 2;
    for (int field = 3; field < 22 && at < all.size(); ++field)
        at = all.find(' ', at) + 1;
    return std::strtoull(all.c_str() + at, nullptr, 10);
}

uint64_t BootId() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return Checksum(id.data(), id.size());
}

// Taken when the program starts, before any batch forks its workers.
const TRunId kThisRun = [] {
    TRunId r;
    r.pid = static_cast<uint64_t>(::getpid());
    r.start = StartOf(r.pid);
    r.boot = BootId();
    return r;
}();

bool Alive(const TRunId& r) {
    if (r.boot != kThisRun.boot) return false;
    if (::kill(static_cast<pid_t>(r.pid), 0) != 0 && errno == ESRCH) return false;
    const uint64_t start = StartOf(r.pid);
    return start == 0 || start == r.start; // without /proc a live process counts as the writer
}

struct THeader {
    char magic[8];
    uint64_t dev, ino, size, offset, length, sum, pid, start, boot, headerSum;
};
static_assert(sizeof(THeader) == 88);

uint64_t HeaderSum(const THeader& h) {
    return Checksum(reinterpret_cast<const char*>(&h), offsetof(THeader, headerSum));
}

struct TJournal {
    THeader header{};
    std::string region;
};

enum class TRead { Absent, Valid, Damaged };

// pread and pwrite may move fewer bytes than asked; a short count of 0 is the device's error.
template <typename TBuffer, typename TCall>
bool MoveAll(int fd, TBuffer data, size_t size, off_t at, TCall call) {
    while (size > 0) {
        const ssize_t n = call(fd, data, size, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

bool WriteAll(int fd, const char* data, size_t size, off_t at) {
    return MoveAll(fd, data, size, at, ::pwrite);
}

bool ReadAll(int fd, char* data, size_t size, off_t at) {
    return MoveAll(fd, data, size, at, ::pread);
}

// A journal file holds one record (header and old bytes) per song it was written for: a batch
// writes the records of a folder's songs into one file, which every song's journal name links.
// Unlinking a name is then cheap, and only the last one frees the blocks (on a disk mounted with
// discard, freeing a file's blocks costs milliseconds).
//
// Finds the record of `song` (any song when null) in the journal open at `fd`, of `fileSize`
// bytes, trying the offset `hint` (not 0) first. Without a record of the song, the first one
// tells whose journal it is. False, with `why`, for a damaged journal.
bool FindRecord(int fd, uint64_t fileSize, const struct stat* song, uint64_t hint, THeader& h,
                uint64_t& at, std::string& why) {
    auto headerAt = [&](uint64_t from) {
        if (from + sizeof(THeader) > fileSize ||
            !ReadAll(fd, reinterpret_cast<char*>(&h), sizeof(THeader), static_cast<off_t>(from)) ||
            std::memcmp(h.magic, kMagic, 8) != 0 || HeaderSum(h) != h.headerSum) {
            why = "its header is damaged";
            return false;
        }
        if (h.length > kMaxRegion || h.offset > kMaxRegion ||
            from + sizeof(THeader) + h.length > fileSize) {
            why = "it is cut short or too long for the bytes it names";
            return false;
        }
        return true;
    };
    auto names = [&] {
        return !song || (h.dev == uint64_t(song->st_dev) && h.ino == uint64_t(song->st_ino));
    };
    if (hint != 0 && headerAt(hint) && names()) {
        at = hint;
        return true;
    }
    // Record by record: the records tile the file.
    THeader first{};
    for (uint64_t next = 0; next == 0 || next < fileSize; next += sizeof(THeader) + h.length) {
        if (!headerAt(next)) return false;
        if (next == 0) first = h;
        if (names()) {
            at = next;
            return true;
        }
    }
    h = first;
    at = 0;
    return true;
}

// Reads the journal `jbase` in `folder`: the record of `song` as FindRecord finds it. `why` says
// what is wrong with a damaged one.
TRead ReadJournal(int folder, const std::string& jbase, TJournal& j, std::string& why,
                  bool headerOnly = false, const struct stat* song = nullptr, uint64_t hint = 0) {
    struct stat named {};
    if (::fstatat(folder, jbase.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT)
        return TRead::Absent;
    const int fd = ::openat(folder, jbase.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return TRead::Absent;
        why = std::strerror(errno);
        return TRead::Damaged;
    }
    struct stat st {};
    TRead result = TRead::Damaged;
    uint64_t at = 0;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "not a regular file";
    } else if (!FindRecord(fd, uint64_t(st.st_size), song, hint, j.header, at, why)) {
        // why says it
    } else if (headerOnly) {
        result = TRead::Valid; // its bytes unread: enough to tell whose it is
    } else {
        j.region.resize(j.header.length);
        if (!ReadAll(fd, j.region.data(), j.region.size(),
                     static_cast<off_t>(at + sizeof(THeader))))
            why = std::strerror(errno);
        else if (Checksum(j.region.data(), j.region.size()) != j.header.sum)
            why = "the checksum of the bytes it holds does not match";
        else
            result = TRead::Valid;
    }
    ::close(fd);
    return result;
}

TRunId RunOf(const THeader& h) {
    return {h.pid, h.start, h.boot};
}

// Empty when the journal belongs to the song `song`, else why not.
std::string Mismatch(const THeader& h, const struct stat& song) {
    if (h.dev != uint64_t(song.st_dev) || h.ino != uint64_t(song.st_ino))
        return "it was written for another file (device " + std::to_string(h.dev) + ", inode " +
               std::to_string(h.ino) + ")";
    if (h.size != uint64_t(song.st_size))
        return "it was written for a file of " + std::to_string(h.size) + " bytes, this one has " +
               std::to_string(song.st_size);
    return {};
}

void FlushFolder(int folder, const std::string& fileName) {
    if (::fsync(folder) != 0 && errno != EINVAL)
        platform::RaiseError("Cannot flush folder", FolderOf(fileName), errno);
}

// Puts the journal's bytes back into the song and removes the journal; throws on failure (the
// journal then stays, still hot).
void Apply(const TJournal& j, int fd, int folder, const std::string& jbase,
           const std::string& fileName) {
    // Never the bytes of another song: a batch's journal file holds many.
    struct stat song {};
    if (::fstat(fd, &song) != 0 || !Mismatch(j.header, song).empty())
        throw platform::EPlatformError("The journal of '" + fileName + "' does not match it (" +
                                       Mismatch(j.header, song) + "); it is not applied");
    if (!WriteAll(fd, j.region.data(), j.region.size(), static_cast<off_t>(j.header.offset)) ||
        ::fsync(fd) != 0)
        platform::RaiseError("Cannot roll back the unfinished edit of", fileName, errno);
    if (::unlinkat(folder, jbase.c_str(), 0) != 0)
        platform::RaiseError("Cannot remove the journal of", fileName, errno);
    FlushFolder(folder, fileName);
}

std::mutex& StateMutex() {
    static std::mutex m;
    return m;
}

// Journals left alone that were already reported, by journal device and inode.
// (A batch's journal file serves many songs: each is reported.)
std::set<std::tuple<dev_t, ino_t, std::string>>& Reported() {
    static std::set<std::tuple<dev_t, ino_t, std::string>> reported;
    return reported;
}

// Files (resolved) whose journal a batch of this run prepared and flushed, and files this run
// has edited in place since (a file named twice finds its journal holding the original).
struct TPreparedJournal {
    uint64_t sum; // of the bytes journaled
    uint64_t at;  // where the song's record starts in the journal file
};
std::map<std::string, TPreparedJournal>& Prepared() {
    static std::map<std::string, TPreparedJournal> prepared;
    return prepared;
}
std::set<std::string>& EditedHere() {
    static std::set<std::string> edited;
    return edited;
}

bool& InPlaceFlag() {
    static bool on = false;
    return on;
}

bool& CloneFlag() {
    static bool on = false;
    return on;
}

thread_local TJournalOutcome lastOutcome;

bool HeldByAnother(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return true;
    ::flock(fd, LOCK_UN);
    return false;
}

// The record of `region`, the bytes of the song `song` from `offset`: header and bytes.
// Fills in the header in front of the region `record` holds after sizeof(THeader) bytes.
void SealRecord(std::string& record, const struct stat& song, uint64_t offset) {
    const std::string_view region = std::string_view(record).substr(sizeof(THeader));
    THeader h{};
    std::memcpy(h.magic, kMagic, 8);
    h.offset = offset;
    h.dev = song.st_dev;
    h.ino = song.st_ino;
    h.size = static_cast<uint64_t>(song.st_size);
    h.length = region.size();
    h.sum = Checksum(region.data(), region.size());
    h.pid = kThisRun.pid;
    h.start = kThisRun.start;
    h.boot = kThisRun.boot;
    h.headerSum = HeaderSum(h);
    std::memcpy(record.data(), &h, sizeof h);
}

std::string Record(std::string_view region, const struct stat& song, uint64_t offset) {
    std::string record(sizeof(THeader), '\0');
    record += region;
    SealRecord(record, song, offset);
    return record;
}

uint64_t SumOf(const std::string& record) {
    THeader h;
    std::memcpy(&h, record.data(), sizeof h);
    return h.sum;
}

// Creates the journal `jbase` of the song `fileName` holding the record `all` alone, flushed or
// not.
void CreateJournal(int folder, const std::string& jbase, const std::string& all,
                   const std::string& fileName, bool flush) {
    const int jfd =
        ::openat(folder, jbase.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (jfd < 0) platform::RaiseError("Cannot create the journal of", fileName, errno);
    if (!WriteAll(jfd, all.data(), all.size(), 0)) {
        const int err = errno;
        ::close(jfd);
        ::unlinkat(folder, jbase.c_str(), 0);
        platform::RaiseError("Cannot write the journal of", fileName, err);
    }
    // On disk, and its name in the folder, before the first byte of the song changes.
    if (flush && (::fsync(jfd) != 0 || (::fsync(folder) != 0 && errno != EINVAL))) {
        const int err = errno;
        ::close(jfd);
        ::unlinkat(folder, jbase.c_str(), 0);
        platform::RaiseError("Cannot flush the journal of", fileName, err);
    }
    ::close(jfd);
}

// The journal file a batch is filling in each folder (no name of its own: it lives by the names
// of its songs' journals), and how many bytes of records it holds.
struct TSharedJournal {
    int fd = -1;
    uint64_t size = 0;
};
std::map<std::string, TSharedJournal>& SharedJournals() {
    static std::map<std::string, TSharedJournal> shared;
    return shared;
}

// Appends `record` to the batch's journal file of `folderName` and links it as `jbase`; `at` is
// where the record starts. False when that cannot be done (the caller writes a journal of the
// song's own); a record whose name could not be made is overwritten by the next one.
bool AppendToSharedJournal(int folder, const std::string& folderName, const std::string& jbase,
                           const std::string& record, uint64_t& at) {
    TSharedJournal& shared = SharedJournals()[folderName];
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (shared.fd < 0) {
            shared.fd = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
            shared.size = 0;
            if (shared.fd < 0) return false;
        }
        if (!WriteAll(shared.fd, record.data(), record.size(), static_cast<off_t>(shared.size))) {
            ::close(shared.fd);
            shared.fd = -1;
            return false;
        }
        const std::string self = "/proc/self/fd/" + std::to_string(shared.fd);
        if (::linkat(AT_FDCWD, self.c_str(), folder, jbase.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            at = shared.size;
            shared.size += record.size();
            return true;
        }
        if (errno != EMLINK) return false;
        // As many names as the file system gives one file: the next songs get another.
        ::close(shared.fd);
        shared.fd = -1;
    }
    return false;
}

} // namespace

void SetInPlaceEdits(bool on) {
    InPlaceFlag() = on;
}

bool InPlaceEdits() {
    return InPlaceFlag();
}

void SetCloneBackups(bool on) {
    CloneFlag() = on;
}

bool CloneBackups() {
    return CloneFlag();
}

std::string JournalName(const std::string& resolvedFile) {
    return resolvedFile + kSuffix;
}

TJournalOutcome LastJournalOutcome() {
    return lastOutcome;
}

TJournalOutcome RollBackHotJournal(int folder, const std::string& base, int fd,
                                   const std::string& fileName) {
    lastOutcome = {};
    {
        // The journal a batch of this run prepared for the song is its edit in flight.
        std::lock_guard<std::mutex> guard(StateMutex());
        if (Prepared().count(fileName)) {
            lastOutcome.what = TJournalOutcome::TWhat::InFlight;
            return lastOutcome;
        }
    }
    const std::string jbase = base + kSuffix;
    struct stat js {};
    if (::fstatat(folder, jbase.c_str(), &js, AT_SYMLINK_NOFOLLOW) != 0) return lastOutcome;
    TJournal j;
    std::string why;
    // A journal of this run or of one still alive is an edit in flight: its header says so.
    if (ReadJournal(folder, jbase, j, why, true) == TRead::Valid &&
        (RunOf(j.header) == kThisRun || Alive(RunOf(j.header)))) {
        lastOutcome.what = TJournalOutcome::TWhat::InFlight;
        return lastOutcome;
    }
    struct stat song {};
    const bool stated = ::fstat(fd, &song) == 0;
    const TRead read = ReadJournal(folder, jbase, j, why, false, stated ? &song : nullptr);
    if (read == TRead::Absent) return lastOutcome;
    if (read == TRead::Valid && stated) why = Mismatch(j.header, song);
    if (read == TRead::Valid && why.empty()) {
        const TRunId run = RunOf(j.header);
        if (run == kThisRun || Alive(run)) {
            lastOutcome.what = TJournalOutcome::TWhat::InFlight;
            return lastOutcome;
        }
        Apply(j, fd, folder, jbase, fileName);
        lastOutcome.what = TJournalOutcome::TWhat::RolledBack;
        return lastOutcome;
    }
    // Ours, for a file a full rewrite has since replaced: the run still alive removes it.
    if (read == TRead::Valid && RunOf(j.header) == kThisRun) {
        lastOutcome.what = TJournalOutcome::TWhat::InFlight;
        return lastOutcome;
    }
    lastOutcome.what = TJournalOutcome::TWhat::LeftAlone;
    lastOutcome.reason = "The journal '" + FolderOf(fileName) + "/" + jbase + "' does not match '" +
                         fileName + "' (" + why +
                         "); it is left alone and never applied: remove it once the song is "
                         "known to be whole";
    bool first;
    {
        std::lock_guard<std::mutex> guard(StateMutex());
        first = Reported().insert({js.st_dev, js.st_ino, fileName}).second;
    }
    if (first) ShowNotice(lastOutcome.reason);
    return lastOutcome;
}

namespace {

// RecoverBeforeReading for `file` as ResolveLinks names it.
void RecoverResolved(const std::string& file) {
    struct stat st {};
    if (HoldsWriterLock(file) || ::lstat(JournalName(file).c_str(), &st) != 0) return;
    // Taking the lock rolls a hot journal back; a file that cannot be locked is read as it is.
    TWriterLock lock(file);
    if (!lock.Held() && !lock.Refusal().empty())
        ShowNotice("The journal beside '" + file + "' cannot be rolled back: " + lock.Refusal());
}

} // namespace

void RecoverBeforeReading(const std::string& fileName) {
    RecoverResolved(ResolveLinks(fileName));
}

std::unique_ptr<platform::TFileStream> OpenForReading(const std::string& fileName) {
    const std::string file = ResolveHeld(fileName);
    const int held = HeldWriterLockHandle(file);
    if (held >= 0)
        return std::make_unique<platform::TFileStream>(platform::TFileStream::TBorrowed{}, held,
                                                       fileName);
    RecoverResolved(file);
    return std::make_unique<platform::TFileStream>(fileName, platform::TOpenMode::Read,
                                                   platform::TShareMode::DenyNone);
}

TInPlaceResult WriteHeadInPlace(const TWriterLock& lock, const std::string& fileName,
                                const std::string& head) {
    const std::string file = ResolveHeld(fileName);
    const int fd = lock.Handle(), folder = lock.Folder();
    const std::string jbase = lock.BaseName() + kSuffix;
    struct stat song {};
    if (fd < 0 || ::fstat(fd, &song) != 0 || uint64_t(song.st_size) < head.size())
        return TInPlaceResult::NotPossible;
    if (HeldByAnother(fd)) {
        ShowMessage(kMsgFileInUse + fileName);
        return TInPlaceResult::Refused;
    }
    // A few bytes more than the head: a batch's journal holds the room as its header counts it,
    // which a standard tag's 10 bytes of header lie outside of.
    std::string old(std::min<uint64_t>(head.size() + 10, uint64_t(song.st_size)), '\0');
    if (!ReadAll(fd, old.data(), old.size(), 0))
        platform::RaiseError("Cannot read file", fileName, errno);
    // Only the bytes that change are journaled and written: a text frame before the cover, the
    // same length as before, costs a few bytes, not the cover.
    size_t lo = 0, hi = head.size();
    while (lo < hi && head[lo] == old[lo])
        ++lo;
    while (hi > lo && head[hi - 1] == old[hi - 1])
        --hi;
    if (lo == hi) return TInPlaceResult::Written;
    const off_t at = static_cast<off_t>(lo);
    const std::string_view oldPart = std::string_view(old).substr(lo, hi - lo),
                           newPart = std::string_view(head).substr(lo, hi - lo);
    bool batch, edited;
    uint64_t preparedSum = 0, preparedAt = 0;
    {
        std::lock_guard<std::mutex> guard(StateMutex());
        auto it = Prepared().find(file);
        batch = it != Prepared().end();
        if (batch) {
            preparedSum = it->second.sum;
            preparedAt = it->second.at;
        }
        edited = EditedHere().count(file) != 0;
    }
    TJournal j;
    std::string why;
    // The batch's journal was written by this run from the bytes it still remembers the sum of:
    // its header tells whether it is still that one, without reading the cover in it again.
    const TRead read = ReadJournal(folder, jbase, j, why, batch, &song, preparedAt);
    bool created = false;
    if (read != TRead::Absent) {
        // The batch's own journal of this file is the only one that can be at its name: one
        // that cannot be read is written again.
        const bool ours = (read == TRead::Valid && RunOf(j.header) == kThisRun) ||
                          (read == TRead::Damaged && batch && !edited);
        if (!ours) return TInPlaceResult::NotPossible; // another run's, or left alone
        const bool covers = j.header.offset <= lo && j.header.offset + j.header.length >= hi;
        // Whether the song still holds the journaled bytes (a valid header names bytes of the
        // song: its size matched); mostly they lie in the head just read.
        auto holdsJournaled = [&] {
            const uint64_t from = j.header.offset, length = j.header.length;
            std::string copy;
            std::string_view now;
            if (from + length <= old.size()) {
                now = std::string_view(old).substr(from, length);
            } else {
                copy.resize(length);
                if (!ReadAll(fd, copy.data(), copy.size(), static_cast<off_t>(from))) return false;
                now = copy;
            }
            return batch ? j.header.sum == preparedSum &&
                               Checksum(now.data(), now.size()) == preparedSum
                         : now == j.region;
        };
        const bool current = read == TRead::Valid && Mismatch(j.header, song).empty() && covers &&
                             j.header.offset + j.header.length <= uint64_t(song.st_size) &&
                             holdsJournaled();
        // The original of a file this run edited before stays the one to go back to.
        if (!current && edited) {
            if (!Mismatch(j.header, song).empty() || !covers) return TInPlaceResult::NotPossible;
        } else if (!current) {
            if (::unlinkat(folder, jbase.c_str(), 0) != 0)
                platform::RaiseError("Cannot remove the journal of", fileName, errno);
        }
        created = !current && !edited;
    } else {
        created = true;
    }
    if (created) {
        CreateJournal(folder, jbase, Record(oldPart, song, lo), fileName, true);
    }
    // Puts the old bytes back after a failure and removes the journal; rethrows what broke.
    auto undo = [&](const std::string& what, int err) {
        const std::string reason = what + " '" + fileName + "': " + std::strerror(err);
        if (!WriteAll(fd, oldPart.data(), oldPart.size(), at) || ::fsync(fd) != 0)
            throw platform::EPlatformError(reason + "; the old tag is kept in the journal '" +
                                           FolderOf(file) + "/" + jbase +
                                           "', which the next run rolls back");
        if (!edited) ::unlinkat(folder, jbase.c_str(), 0);
        ::fsync(folder);
        throw platform::EPlatformError(reason);
    };
    if (!WriteAll(fd, newPart.data(), newPart.size(), at)) undo("Cannot write file", errno);
    if (batch) {
        // The batch flushes every song at once, then removes the journals.
        std::lock_guard<std::mutex> guard(StateMutex());
        EditedHere().insert(file);
        return TInPlaceResult::Written;
    }
    if (::fsync(fd) != 0) undo("Cannot flush", errno);
    // The commit: once the journal is gone from the folder on disk, the edit stands.
    if (::unlinkat(folder, jbase.c_str(), 0) != 0) {
        const int err = errno;
        if (!WriteAll(fd, oldPart.data(), oldPart.size(), at) || ::fsync(fd) != 0 ||
            ::unlinkat(folder, jbase.c_str(), 0) != 0)
            throw platform::EPlatformError("Cannot remove the journal of '" + fileName +
                                           "': " + std::strerror(err) +
                                           "; the next run rolls the edit back");
        ::fsync(folder);
        throw platform::EPlatformError("Cannot remove the journal of '" + fileName +
                                       "': " + std::strerror(err) + "; the old tag is back");
    }
    if (::fsync(folder) != 0 && errno != EINVAL) {
        // The journal may come back after a crash: the old tag then is the one to stand now too.
        const int err = errno;
        if (WriteAll(fd, oldPart.data(), oldPart.size(), at)) ::fsync(fd);
        platform::RaiseError("Cannot flush folder", FolderOf(file), err);
    }
    return TInPlaceResult::Written;
}

void PrepareBatchJournal(const TWriterLock& lock, const std::string& file,
                         const struct stat& song) noexcept {
    try {
        const int fd = lock.Handle(), folder = lock.Folder();
        // Read straight behind the record's header. Most tags are read whole by the first read;
        // the header's size says what is left.
        constexpr uint64_t kFirstRead = 64 << 10, kHead = sizeof(THeader);
        std::string record(kHead + std::min<uint64_t>(kFirstRead, uint64_t(song.st_size)), '\0');
        char* region = record.data() + kHead;
        if (fd < 0 || record.size() < kHead + 10 ||
            !ReadAll(fd, region, record.size() - kHead, 0) || std::memcmp(region, "ID3", 3) != 0)
            return;
        const auto* header = reinterpret_cast<const unsigned char*>(region);
        // The room of the tag however its size is counted, its footer among it.
        const uint64_t field = (uint64_t(header[6] & 0x7f) << 21) |
                               (uint64_t(header[7] & 0x7f) << 14) |
                               (uint64_t(header[8] & 0x7f) << 7) | uint64_t(header[9] & 0x7f);
        const uint64_t length = std::min<uint64_t>(field + 20, uint64_t(song.st_size));
        const size_t had = record.size() - kHead;
        record.resize(kHead + length);
        if (length > had &&
            !ReadAll(fd, record.data() + kHead + had, length - had, static_cast<off_t>(had)))
            return;
        SealRecord(record, song, 0);
        const std::string jbase = lock.BaseName() + kSuffix;
        uint64_t at = 0;
        std::lock_guard<std::mutex> guard(StateMutex());
        if (!AppendToSharedJournal(folder, FolderOf(file), jbase, record, at))
            CreateJournal(folder, jbase, record, file, false);
        Prepared()[file] = {SumOf(record), at};
    } catch (const std::exception&) {
        // The edit journals itself, or rewrites the file.
    }
}

void EndBatchJournals() {
    std::lock_guard<std::mutex> guard(StateMutex());
    for (auto& [folder, shared] : SharedJournals())
        if (shared.fd >= 0) ::close(shared.fd);
    SharedJournals().clear();
}

void DropOwnJournal(int folder, const std::string& base, int fd, const std::string& fileName) {
    const std::string jbase = base + kSuffix;
    struct stat st {};
    if (::fstatat(folder, jbase.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
    TJournal j;
    std::string why;
    if (ReadJournal(folder, jbase, j, why, true) != TRead::Valid || !(RunOf(j.header) == kThisRun))
        return;
    bool edited;
    {
        std::lock_guard<std::mutex> guard(StateMutex());
        edited = EditedHere().erase(fileName) != 0;
    }
    // Untouched, the file needs no journal; edited, it first goes to disk as it stands.
    if (edited && ::fsync(fd) != 0) platform::RaiseError("Cannot flush", fileName, errno);
    if (::unlinkat(folder, jbase.c_str(), 0) == 0 && edited) FlushFolder(folder, fileName);
}

bool CommitBatchJournals(const std::vector<std::string>& files, const std::vector<int>& statuses,
                         int died) {
    std::map<std::string, TPreparedJournal> prepared;
    {
        std::lock_guard<std::mutex> guard(StateMutex());
        prepared.swap(Prepared());
        EditedHere().clear();
    }
    std::map<std::string, int> folders;
    std::string failure;
    struct TCommit {
        int folder = -1;
        std::string jbase, file;
        uint64_t at = 0;
        bool workerDied = false;
        enum class TDo { Nothing, Removed, Unreadable, RollBack } what = TDo::Nothing;
        std::string why;
        int err = 0;
    };
    std::vector<TCommit> commits;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string& file = files[i];
        const auto p = file.empty() ? prepared.end() : prepared.find(file);
        if (p == prepared.end()) continue;
        const std::string folderName = FolderOf(file);
        auto [it, added] = folders.try_emplace(folderName, -1);
        if (added) it->second = ::open(folderName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (it->second < 0) {
            if (added)
                failure = "Cannot open folder '" + folderName + "': " + std::strerror(errno) +
                          "; the next program that touches its songs rolls their edits back";
            continue;
        }
        TCommit& c = commits.emplace_back();
        c.folder = it->second;
        c.jbase = BaseOf(file) + kSuffix;
        c.file = file;
        c.at = p->second.at;
        c.workerDied = i < statuses.size() && statuses[i] == died;
    }
    // Removing a file whose blocks are on disk waits for the file system (on a disk mounted with
    // discard, milliseconds each); side by side the waits overlap, so more threads than cores.
    const size_t threads = std::min<size_t>(8, std::max<size_t>(1, commits.size()));
    ForEachOnThreads(
        commits.size(),
        [&](size_t k) {
            TCommit& c = commits[k];
            TJournal j;
            // The header of the record this run wrote is enough here: a rollback reads the whole
            // record again under the song's lock.
            const TRead read = ReadJournal(c.folder, c.jbase, j, c.why, true, nullptr, c.at);
            // Another run's journal only once ours is gone; one that cannot be read is ours.
            if (read == TRead::Absent || (read == TRead::Valid && !(RunOf(j.header) == kThisRun)))
                return;
            if (c.workerDied) {
                // Its worker may have died inside the write: the old tag goes back (below).
                c.what = read == TRead::Valid ? TCommit::TDo::RollBack : TCommit::TDo::Unreadable;
                return;
            }
            c.what = TCommit::TDo::Removed;
            if (::unlinkat(c.folder, c.jbase.c_str(), 0) != 0 && errno != ENOENT) c.err = errno;
        },
        threads);
    for (const TCommit& c : commits) {
        if (c.what == TCommit::TDo::Unreadable) {
            failure = "Cannot read the journal of '" + c.file + "': " + c.why +
                      "; the next program that touches it rolls its edit back";
        } else if (c.what == TCommit::TDo::RollBack) {
            TWriterLock lock(c.file);
            TJournal j;
            std::string why;
            struct stat song {};
            try {
                if (!lock.Held()) continue; // the next program that takes it rolls it back
                if (::fstat(lock.Handle(), &song) != 0)
                    platform::RaiseError("Cannot stat", c.file, errno);
                const TRead read = ReadJournal(lock.Folder(), c.jbase, j, why, false, &song, c.at);
                if (read == TRead::Absent) continue;
                if (read != TRead::Valid)
                    throw platform::EPlatformError(
                        "Cannot read the journal of '" + c.file + "': " + why +
                        "; the next program that touches it rolls its edit back");
                if (Mismatch(j.header, song).empty())
                    Apply(j, lock.Handle(), lock.Folder(), c.jbase, c.file);
                else
                    ::unlinkat(c.folder, c.jbase.c_str(), 0); // rewritten whole: not its file now
            } catch (const platform::EPlatformError& e) {
                failure = e.what();
            }
        }
    }
    for (const TCommit& c : commits) {
        if (c.err == 0) continue;
        // Not committed: the old tag goes back now, as it would at the next touch.
        failure = "Cannot remove the journal of '" + c.file + "': " + std::strerror(c.err);
        TWriterLock lock(c.file);
        TJournal j;
        std::string why;
        struct stat song {};
        try {
            if (!lock.Held()) throw platform::EPlatformError(lock.Refusal());
            if (::fstat(lock.Handle(), &song) != 0 ||
                ReadJournal(lock.Folder(), c.jbase, j, why, false, &song, c.at) != TRead::Valid)
                throw platform::EPlatformError(why);
            Apply(j, lock.Handle(), lock.Folder(), c.jbase, c.file);
            failure += "; its old tag is back";
        } catch (const platform::EPlatformError&) {
            failure += "; the next program that touches it rolls its edit back";
        }
    }
    for (const auto& [name, folder] : folders) {
        if (folder < 0) continue;
        if (::fsync(folder) != 0 && errno != EINVAL && failure.empty())
            failure = "Cannot flush folder '" + name + "': " + std::strerror(errno);
        ::close(folder);
    }
    if (!failure.empty()) ShowMessage(failure);
    return failure.empty();
}
