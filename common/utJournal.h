// Edits of a song's head written in place, under a rollback journal beside the song: the bytes
// about to change and the song's identity go to "<song>.quillon-journal" and are flushed before
// the first byte of the song changes; the new head is written and flushed; deleting the journal
// is the commit. A journal found by the next program that takes the song's writer lock, while
// the run that wrote it is gone, is hot: the old bytes go back before anything else is read.
// A journal that does not match its song (another inode or size, a bad checksum) is left alone
// with a message and never applied.
#pragma once

#include "utPublic.h"

#include <memory>
#include <string>
#include <vector>

// Whether writers may edit in place (the command line's --no-backup); off by default, so the
// window keeps its backup-and-rewrite protocol.
void SetInPlaceEdits(bool on);
bool InPlaceEdits();
// Whether an edit that keeps its backup may make it a clone (where the file system can) and then
// edit in place (the command line without --no-backup); off by default, as for the window.
void SetCloneBackups(bool on);
bool CloneBackups();

std::string JournalName(const std::string& resolvedFile);

enum class TInPlaceResult {
    Written,    // the new head is in the file (on disk, or left to the batch's flush)
    Refused,    // a message was shown; the file is unchanged
    NotPossible // nothing done: the caller rewrites the whole file instead
};

// Writes `head` over the first head.size() bytes of the file the caller's writer lock holds,
// under a journal. A failure after the first byte puts the old bytes back and rethrows; a
// journal that could not be removed after that is left hot, named in the error.
TInPlaceResult WriteHeadInPlace(const TWriterLock& lock, const std::string& fileName,
                                const std::string& head);

// What was found beside a locked song.
struct TJournalOutcome {
    enum class TWhat { None, RolledBack, LeftAlone, InFlight } what = TWhat::None;
    std::string reason;
};

// Rolls back the hot journal of the song open at `fd` (`base` in `folder`), under its writer
// lock. Shows a notice for a journal left alone (once per journal and process).
TJournalOutcome RollBackHotJournal(int folder, const std::string& base, int fd,
                                   const std::string& fileName);
// What the last writer lock taken by this thread found (for `recover`).
TJournalOutcome LastJournalOutcome();

// Called by every read of a song before it reads anything: a journal beside it is rolled back
// under the song's writer lock (taken only when there is one).
void RecoverBeforeReading(const std::string& fileName);
// Opens `fileName` for a read of its tags, with the share lock of a reader: through the
// descriptor of this thread's writer lock when it holds the file's (what is read is then the
// file the writer will write, without a second open), else by name after RecoverBeforeReading.
std::unique_ptr<platform::TFileStream> OpenForReading(const std::string& fileName);

// A batch's journals, flushed in phases: Prepare writes the journal of each file with an ID3v2
// tag (its room as the header declares it; the records of one folder's files in one journal
// file, which each file's journal name links) without flushing, the caller flushes the file
// systems once; the in-place edits then find their journal on disk and do not flush; Commit,
// after the caller flushed the edits, removes the journals of the files whose status is 0 or
// that failed cleanly, rolls back those whose worker died (`died`), and flushes their folders.
// `file` is the resolved name the lock was taken under, `song` its stat.
void PrepareBatchJournal(const TWriterLock& lock, const std::string& file,
                         const struct stat& song) noexcept;
// After the last PrepareBatchJournal of a batch, before the flush.
void EndBatchJournals();
// False (after showing why) when a folder could not be flushed: the journals removed then may
// come back, rolling those edits back.
bool CommitBatchJournals(const std::vector<std::string>& files, const std::vector<int>& statuses,
                         int died);
// Before a full rewrite of the file open at `fd`: a journal this run made for it goes, after what
// an in-place edit of this run wrote there is on disk (the rewrite then starts from it).
void DropOwnJournal(int folder, const std::string& base, int fd, const std::string& fileName);
