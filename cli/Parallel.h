// Runs one command over many files on every core, keeping the output in the order of the files:
// the output is the same as one process handling the files one after the other.
//
// Two runners, for two kinds of work:
//   - RunInOrder: jobs that use the program's global tag objects and print through stdio, like
//     the rewrites of `strip`. Each worker is a forked process with the objects to itself; what
//     a file's job prints is captured in the worker and replayed by the parent in file order.
//     A crash in one file costs only that file.
//   - RunInOrderThreaded: jobs that only read, with tag objects of their own per worker and
//     their output handed back as text, like `show`. Threads cost far less to start than
//     processes and nothing is copied between them, which matters when a file takes only tens
//     of microseconds.
// In both, a worker takes the next file as soon as it is free.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// The number of processors this process may run on (at least 1).
int ProcessorCount();

// Starting a worker costs about as much as reading a few dozen files; with fewer files than this
// per worker one worker is faster. A rewrite (two copies of the file, flushed to disk) repays a
// worker at once.
inline constexpr size_t kFilesPerWorker = 32;
inline constexpr size_t kRewritesPerWorker = 2;

// How many workers to use for `files` with `jobs` requested (0: ProcessorCount()). Fewer than
// asked when there are not enough files to repay starting a worker; 1 means run here, one file
// after the other. For jobs that rewrite their file, also 1 when one file is named twice (under
// any of its names), so that two rewrites of one file never overlap.
int WorkerCount(const std::vector<std::string>& files, int jobs, bool rewrites);

// The job for one file: prints through stdout/stderr and returns its exit status.
using TFileJob = std::function<int(const std::string& file)>;

// Runs `job` for every file, on `workers` forked processes when it is 2 or more, otherwise here.
// Returns the largest status of the jobs, and each file's in `statuses` where given. A job whose
// worker dies counts as failed with status 1 and a message naming the file; the other files go on.
// In `statuses`, the status of a file whose worker died in it (counted as 1 otherwise).
inline constexpr int kStatusWorkerDied = 125;
int RunInOrder(const std::vector<std::string>& files, int workers, const TFileJob& job,
               std::vector<int>* statuses = nullptr);

// The job for one file on a thread: `worker` (0 .. workers - 1) tells which worker's own objects
// to use; worker 0 is the calling thread. Appends what it prints to `out` and `err` and returns
// its exit status.
using TThreadJob =
    std::function<int(int worker, const std::string& file, std::string& out, std::string& err)>;

// Runs `job` for every file on `workers` threads (the calling thread among them), writing each
// file's output to stdout and stderr in file order. Returns the largest status of the jobs; an
// exception from a job fails that file with its message.
int RunInOrderThreaded(const std::vector<std::string>& files, int workers, const TThreadJob& job);

// Appends `text` to the error output of the threaded job running on this thread, so that it is
// written in file order with the rest of that file's output; false when no such job runs here.
bool KeepWithThreadedJob(const std::string& text);
