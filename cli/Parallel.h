// Runs one command over many files on several processes at once, keeping the output in the order
// of the files.
//
// The tag engines keep their state in the program's global tag objects, so the work is spread
// over forked worker processes rather than threads: each worker has the objects to itself. A
// worker takes the next file as soon as it is free; what a file's job prints through stdio's
// stdout and stderr is captured in the worker and replayed by the parent in file order, so the
// output is the same as one process handling the files one after the other.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// The job for one file: prints through stdout/stderr and returns its exit status.
using TFileJob = std::function<int(const std::string& file)>;

// Starting a worker (fork, its page faults, the relay of its output) costs about as much as
// showing a few dozen files; with fewer files than this per worker one process is faster.
inline constexpr size_t kFilesPerWorker = 32;

// The number of processors this process may run on (at least 1).
int ProcessorCount();

// How many workers to start for `files` with `jobs` requested (0: ProcessorCount()). Fewer than
// asked when there are not enough files to repay starting a worker; 1 means no workers, run here.
// For jobs that rewrite their file, also 1 when one file is named twice (under any of its names),
// so that two rewrites of one file never overlap.
int WorkerCount(const std::vector<std::string>& files, int jobs, bool rewrites);

// Runs `job` for every file, on `workers` processes when it is 2 or more, otherwise here, one
// after the other. Returns the largest status of the jobs. A job whose worker dies (a crash)
// counts as failed with status 1 and a message naming the file; the other files go on.
int RunInOrder(const std::vector<std::string>& files, int workers, const TFileJob& job);
