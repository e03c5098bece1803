// File operations behind every rewrite of an MP3 file, the program's messages and its start-up
// check. The tag engines copy the file to its backup name and write it anew from the backup,
// under a name of its own that then replaces the file (RewriteFile); the exceptions are the
// ID3v1 truncation and, where asked, a tag that fits its old room (utJournal.h).
#pragma once

#include "PlatformFile.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// Messages the user must see (UTF-8 text). The window shows them in a message box, the
// command-line tool prints them on stderr and the tests capture them; each installs its sink.
using TMessageSink = std::function<void(const std::string& text)>;
void SetMessageSink(TMessageSink sink);
void ShowMessage(const std::string& text);
// Notes the user should see that refuse nothing (by default shown like messages).
void SetNoticeSink(TMessageSink sink);
void ShowNotice(const std::string& text);

inline constexpr const char* kMsgCannotCreateTemp = "！不能创建临时文件：";
inline constexpr const char* kMsgFileInUse = "！文件正在被其它程序使用，不能被修改：";
inline constexpr const char* kMsgNoPerfCounter =
    "对不起,发现该计算机没有高性能计数器.\r\n请升级您的计算机和操作系统.系统退出";

// "dir/song.MP3" -> "dir/songbak.MP3"; a name without an extension just gets "bak".
std::string BackupFileName(const std::string& fileName);
// Copies `source` over `target`, deleting a read-only target first. True on success.
bool CopyFileOver(const std::string& source, const std::string& target);
// Deletes a file even if it is read-only (its permission bits are left alone). True if it is
// gone or never existed; false while another program holds it open.
bool ForceDeleteFile(const std::string& fileName);

// The start-up check: false (after showing its message) when the machine has no high-resolution
// performance counter.
bool StartupCheck();

// Runs work(0) .. work(count - 1) on `threads` threads (the calling one among them); 0: as many
// as the processors and the count repay. The first exception of `work` stops the others at their
// next item and is rethrown once all have stopped.
void ForEachOnThreads(size_t count, const std::function<void(size_t)>& work, size_t threads = 0);

// The file a name stands for: symbolic links followed to the file they lead to, so that a
// rewrite changes that file (its backup beside it) and the link stays a link.
std::string ResolveLinks(const std::string& fileName);

// One writer per file at a time, across processes: held from the read of the tags to the end of
// their rewrite, so no writer copies from a file another is rewriting. It is a write lock (an
// open-file-description fcntl lock) on the file itself, opened for writing from its folder's
// descriptor without following a link: every process sharing the file system sees it, whatever
// its namespaces, and only those who may write the file can take it. Once taken, the name is
// checked to still lead to the locked file; a rewrite moves the lock onto the file it writes.
// Taken again by the same thread it only nests. A second writer waits up to `wait` (asking
// `keepWaiting`, when given, between tries: false gives up) for the holder to finish. Held() is
// false when it did not get the lock; Refusal() then says why when the system refused it (not
// permitted, no locks on this file system), and is empty when the holder kept it past the wait.
// Released however its holder ends. Programs that do not take it are not kept out.
class TWriterLock {
  public:
    explicit TWriterLock(const std::string& fileName,
                         std::chrono::milliseconds wait = std::chrono::seconds(10),
                         const std::function<bool()>& keepWaiting = {});
    ~TWriterLock();
    TWriterLock(const TWriterLock&) = delete;
    TWriterLock& operator=(const TWriterLock&) = delete;
    bool Held() const { return held_; }
    const std::string& Refusal() const { return refusal_; }
    // Shows why the lock is not held: "in use" after a wait, else throws the system's reason.
    void Refuse() const;
    // While held: the locked file, its folder and its name there.
    int Handle() const;
    int Folder() const;
    const std::string& BaseName() const { return base_; }
    // A new open of the locked file itself (its own file offset and share lock), with `flags`
    // (O_RDONLY or O_RDWR); -1 with errno when it cannot be had.
    int Reopen(int flags) const;
    // The rewrite's new file, open for writing and locked, replaces the old one as the lock.
    void MoveTo(int fd);

  private:
    std::string given_, file_, key_, base_, refusal_;
    bool held_ = false;
};

// Whether this thread holds the writer lock of `resolved` (as ResolveLinks names it): its hot
// journal was rolled back when the lock was taken, and any journal beside it is this run's.
bool HoldsWriterLock(const std::string& resolved);
// The descriptor of that lock (the locked file, open for writing), or -1 when this thread holds
// none for `resolved`.
int HeldWriterLockHandle(const std::string& resolved);
// ResolveLinks(fileName), except for a name this thread holds a writer lock under: what it
// resolved to then, so that everything done under the lock acts on the locked file.
std::string ResolveHeld(const std::string& fileName);

// While it lives, the rewrites of the file keep the backup this run made first: a command of
// several steps leaves the original as the backup of the whole command.
class TKeepFirstBackup {
  public:
    explicit TKeepFirstBackup(const std::string& fileName);
    ~TKeepFirstBackup();
    TKeepFirstBackup(const TKeepFirstBackup&) = delete;
    TKeepFirstBackup& operator=(const TKeepFirstBackup&) = delete;

  private:
    std::string file_;
};

// Copies the file to its backup name as this run's backup, for a command whose first change is
// made in place (the ID3v1 cut) and whose later rewrite must keep the original. False (after
// showing the message) when it cannot.
bool MakeOwnBackupCopy(const std::string& fileName);

// Makes the backup of the file the writer lock holds as a clone of it (FICLONE: its data shared,
// none written, the file's later changes its own), for an edit made in place with the backup
// kept. False, with nothing left behind, where the file system cannot clone; the caller then
// rewrites the file. A command whose first backup stays needs none: true.
bool MakeCloneBackup(const TWriterLock& lock, const std::string& fileName);

// Deletes the file's backup if this run made it and it is still the file this run made; a backup
// another program put there is left alone. True if it was deleted.
bool DeleteOwnBackup(const std::string& fileName);

// Writes the new content of the file: `backup` is open for reading at offset 0, `target` is the
// new, empty file.
using TRewriteWriter =
    std::function<void(platform::TFileStream& backup, platform::TFileStream& target)>;

// The rewrite protocol shared by every engine that rewrites a file, every step from the writer
// lock's descriptor of the file and its folder's, never by following the name again:
//   1. copy the file to BackupFileName(fileName) (a hard link made from the descriptor where the
//      file system allows: the same bytes at no cost, since step 2 writes a new file), check that
//      the backup is the file checked, and flush it to disk;
//   2. create the new file under a name of its own beside it (never through a symbolic link),
//      locked at once, let `writeNew` fill it from the backup, give it the original's owner and
//      group (where allowed), permission bits and extended attributes (the ACL among them) and
//      flush it;
//   3. rename it over the file, if the file's name still leads to it and no program holds it
//      with an exclusive share lock, and flush the folder; the writer lock moves onto it.
// Other programs see the old file or the new one under the name, never a missing or partial
// file. FILE may be a symbolic link: its file is rewritten. The whole rewrite holds the writer
// lock (a second writer that cannot get it is refused; a file that cannot be locked for writing
// is refused with the system's reason, thrown). A refused step shows its message (a backup
// failure with the system's reason) and returns false with the file unchanged and no backup
// made by it left behind. A failure in step 2 or 3 (a write beyond the file size limit among
// them: the signal is ignored) removes the new file and the backup made by it and rethrows; one
// after the rename puts the backup back over the new file (it is gone afterwards), so the file
// is never left damaged. The backup stays on disk after a success, flushed like the new file;
// callers decide when it may go. Inside a TBatchFlush the flushes are left to the batch.
bool RewriteFile(const std::string& fileName, const TRewriteWriter& writeNew);

// Rewrites of many files flushed to disk in phases, not twice per file. While it lives, the
// rewrites of the files it prepared (in this process or in workers forked after it was made)
// neither flush their backup nor their new file; Finish flushes them all at once.
//   0. The constructor clears what dead runs left in the folders (ClearDeadRunNames) and gives
//      a file whose backup name is another file of the batch a backup name of its own.
//   1. The constructor gives each file a backup under a private name (a second name for its
//      data, made under its writer lock), then flushes each file system holding them once.
//   2. RewriteFile of a prepared file, under its writer lock, checks that the file and the
//      private name are still what step 1 saw, renames the private name to the backup name and
//      rewrites without flushing. A file that changed meanwhile, or that step 1 could not
//      prepare, gets the whole one-file protocol with its own flushes.
//   3. Finish flushes each file system once; only then are backups deleted (--no-backup).
// With in-place edits on, step 1 also writes each tagged file's journal, flushed by the same
// flush, and step 3 then removes the journals (rolling back the files whose worker died) and
// flushes their folders.
// At every moment each file's data is under its own name, its private name or its backup name,
// and the private name is on disk before the file goes.
class TBatchFlush {
  public:
    explicit TBatchFlush(const std::vector<std::string>& files);
    // Removes the private names of files that were not rewritten.
    ~TBatchFlush();
    TBatchFlush(const TBatchFlush&) = delete;
    TBatchFlush& operator=(const TBatchFlush&) = delete;
    // Step 3, given each file's exit status in the order of the files (`died` for a file whose
    // worker died in it). False (after showing why) when a flush failed: the backups are then
    // kept.
    bool Finish(const std::vector<int>& statuses, bool deleteBackups, int died = -1);

  private:
    // Per file as given: its resolved name and the data's device and inode; empty when it was
    // not prepared.
    std::vector<std::string> files_;
    std::vector<std::pair<unsigned long long, unsigned long long>> ids_;
    bool finished_ = false;
    // Removes the private names left; deletes the backup made here of each file whose status in
    // `deleteFor` is 0.
    void Drop(const std::vector<int>& deleteFor);
};

// The pairs (i, j) of `files` where the backup name of files[i] is files[j], another file (links
// followed, files compared by device and inode). With backups kept, such a file and its partner
// are refused before anything is written: the backup would replace a song of the same command.
// Inside a TBatchFlush the backup of files[i] goes under a name of the run's own instead.
std::vector<std::pair<size_t, size_t>> BackupNameClashes(const std::vector<std::string>& files);

// In the folders of `files`, removes the names a run that no longer lives left beside a song
// (its batch's second names, a strip's step copies, its backups under its own names, a new file
// not yet given its name), each under the song's writer lock and only once the song is under its
// own name; a second name of a song whose own name is gone takes that name again.
// Returns the songs it acted on.
std::vector<std::string> ClearDeadRunNames(const std::vector<std::string>& files);

// Test seam: RewriteFile calls the hook with the new file right after creating it, before
// `writeNew` runs; a test sets a write limit there to make the write fail part-way. An empty hook
// (the default) does nothing.
using TRewriteHook = std::function<void(platform::TFileStream& target)>;
void SetRewriteHook(TRewriteHook hook);
