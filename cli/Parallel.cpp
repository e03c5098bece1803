#include "Parallel.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <set>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

// What a worker sends back for each file it has done; `outSize` bytes of its stdout and
// `errSize` bytes of its stderr follow.
struct TRecordHead {
    uint32_t index;
    int32_t status;
    uint32_t outSize;
    uint32_t errSize;
};

// A stdio stream that collects in memory what a job prints.
class TCapture {
  public:
    TCapture() : stream_(open_memstream(&data_, &size_)) {
        if (!stream_) std::abort();
    }
    FILE* Stream() const { return stream_; }
    // The bytes printed since the last Restart().
    std::pair<const char*, size_t> Take() {
        std::fflush(stream_);
        return {data_, size_};
    }
    void Restart() { std::fseek(stream_, 0, SEEK_SET); }

  private:
    char* data_ = nullptr;
    size_t size_ = 0;
    FILE* stream_;
};

// The worker: takes the next file until none is left and sends back, per file, its status and
// what it printed. Never returns.
[[noreturn]] void Work(const std::vector<std::string>& files, std::atomic<size_t>& next,
                       int resultFd, const TFileJob& job) {
    // What the jobs print goes to memory; glibc lets a program point stdout and stderr elsewhere.
    TCapture out, err;
    stdout = out.Stream();
    stderr = err.Stream();
    for (;;) {
        const size_t index = next.fetch_add(1);
        if (index >= files.size()) break;
        out.Restart();
        err.Restart();
        int status;
        try {
            status = job(files[index]);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", files[index].c_str(), e.what());
            status = 1;
        }
        auto [outData, outSize] = out.Take();
        auto [errData, errSize] = err.Take();
        TRecordHead head{static_cast<uint32_t>(index), status, static_cast<uint32_t>(outSize),
                         static_cast<uint32_t>(errSize)};
        iovec parts[3] = {{&head, sizeof head},
                          {const_cast<char*>(outData), outSize},
                          {const_cast<char*>(errData), errSize}};
        size_t left = sizeof head + outSize + errSize;
        int first = 0;
        while (left > 0) {
            ssize_t n = ::writev(resultFd, parts + first, 3 - first);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) ::_exit(1); // the parent is gone
            left -= static_cast<size_t>(n);
            while (first < 3 && static_cast<size_t>(n) >= parts[first].iov_len) {
                n -= static_cast<ssize_t>(parts[first].iov_len);
                ++first;
            }
            if (first < 3) {
                parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + n;
                parts[first].iov_len -= static_cast<size_t>(n);
            }
        }
    }
    ::_exit(0); // no exit handlers: they belong to the parent
}

struct TResult {
    int status = 0;
    std::string out, err;
};

// The parent's end of one worker.
struct TWorker {
    pid_t pid = -1;
    int fd = -1;
    std::string pending; // bytes received that do not make a whole record yet
};

// Moves the whole records at the front of `w.pending` into `results`.
void TakeRecords(TWorker& w, std::map<size_t, TResult>& results) {
    size_t at = 0;
    for (;;) {
        TRecordHead head;
        if (w.pending.size() - at < sizeof head) break;
        std::memcpy(&head, w.pending.data() + at, sizeof head);
        const size_t whole = sizeof head + size_t(head.outSize) + head.errSize;
        if (w.pending.size() - at < whole) break;
        const char* p = w.pending.data() + at + sizeof head;
        TResult& r = results[head.index];
        r.status = head.status;
        r.out.assign(p, head.outSize);
        r.err.assign(p + head.outSize, head.errSize);
        at += whole;
    }
    w.pending.erase(0, at);
}

int RunHere(const std::vector<std::string>& files, const TFileJob& job, int* statuses) {
    int worst = 0;
    for (const std::string& file : files) {
        int status;
        try {
            status = job(file);
        } catch (const std::exception& e) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s: %s\n", file.c_str(), e.what());
            status = 1;
        }
        if (statuses) *statuses++ = status;
        if (status > worst) worst = status;
    }
    return worst;
}

} // namespace

int ProcessorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<int>(n) : 1;
}

int WorkerCount(const std::vector<std::string>& files, int jobs, bool rewrites) {
    if (jobs <= 0) jobs = ProcessorCount();
    const size_t byFiles = files.size() / (rewrites ? kRewritesPerWorker : kFilesPerWorker);
    size_t workers = std::min<size_t>(static_cast<size_t>(jobs), byFiles);
    if (workers < 2) return 1;
    if (!rewrites) return static_cast<int>(workers);
    // One file named twice (under any of its names): its jobs must run one after the other.
    std::set<std::pair<dev_t, ino_t>> seen;
    std::set<std::string> names;
    for (const std::string& file : files) {
        struct stat st {};
        if (::stat(file.c_str(), &st) == 0) {
            if (!seen.insert({st.st_dev, st.st_ino}).second) return 1;
        } else if (!names.insert(file).second) {
            return 1;
        }
    }
    return static_cast<int>(workers);
}

namespace {

// Forks up to `workers` workers that take files by `next`; fewer when a pipe or a fork fails.
std::vector<TWorker> StartWorkers(const std::vector<std::string>& files, int workers,
                                  std::atomic<size_t>& next, const TFileJob& job) {
    std::fflush(stdout); // or the workers would print the parent's pending bytes again
    std::fflush(stderr);
    std::vector<TWorker> pool;
    for (int k = 0; k < workers; ++k) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) break;
        ::fcntl(fds[0], F_SETPIPE_SZ, 1 << 20); // fewer wake-ups for large outputs
        pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            for (TWorker& w : pool)
                ::close(w.fd);
            Work(files, next, fds[1], job);
        }
        ::close(fds[1]);
        if (pid < 0) {
            ::close(fds[0]);
            break;
        }
        pool.push_back({pid, fds[0], {}});
    }
    return pool;
}

// The results that have come in, written out in the order of the files.
struct TOrderedResults {
    std::map<size_t, TResult> results;
    size_t emit = 0; // the next file whose output goes out
    int worst = 0;
    int* each = nullptr; // each file's status, where wanted

    // Writes every result whose turn has come.
    void WriteReady() {
        for (auto it = results.find(emit); it != results.end(); it = results.find(emit)) {
            TResult& r = it->second;
            std::fwrite(r.out.data(), 1, r.out.size(), stdout);
            if (!r.err.empty()) {
                std::fflush(stdout);
                std::fwrite(r.err.data(), 1, r.err.size(), stderr);
            }
            // A death counts as a failure; the batch is told apart which kind.
            const int status = r.status == kStatusWorkerDied ? 1 : r.status;
            if (status > worst) worst = status;
            if (each) each[emit] = r.status;
            results.erase(it);
            ++emit;
        }
    }
};

// Reads the workers' records until every worker has ended, writing the results whose turn has
// come. True when a worker ended abnormally or left half a record behind.
bool CollectResults(std::vector<TWorker>& pool, TOrderedResults& out) {
    bool anyDied = false;
    std::vector<char> buffer(1 << 20);
    size_t open = pool.size();
    while (open > 0) {
        std::vector<pollfd> polls;
        std::vector<size_t> which;
        for (size_t k = 0; k < pool.size(); ++k)
            if (pool[k].fd >= 0) {
                polls.push_back({pool[k].fd, POLLIN, 0});
                which.push_back(k);
            }
        if (::poll(polls.data(), polls.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (size_t p = 0; p < polls.size(); ++p) {
            if (!polls[p].revents) continue;
            TWorker& w = pool[which[p]];
            ssize_t n = ::read(w.fd, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR) continue;
            if (n > 0) {
                w.pending.append(buffer.data(), static_cast<size_t>(n));
                TakeRecords(w, out.results);
                continue;
            }
            // The worker is done (or dead): reap it.
            ::close(w.fd);
            w.fd = -1;
            --open;
            int st = 0;
            while (::waitpid(w.pid, &st, 0) < 0 && errno == EINTR) {
            }
            anyDied = anyDied || !(WIFEXITED(st) && WEXITSTATUS(st) == 0) || !w.pending.empty();
        }
        out.WriteReady();
    }
    return anyDied;
}

// Files before `taken` without a record failed when their worker died in them, or when no worker
// could be started at all.
void FailUnrecorded(const std::vector<std::string>& files, size_t taken, bool failed,
                    TOrderedResults& out) {
    for (size_t i = out.emit; i < files.size(); ++i) {
        if (out.results.count(i)) continue;
        if (i < taken && failed) {
            TResult& r = out.results[i];
            r.status = kStatusWorkerDied;
            r.err =
                "quillon-tags: " + files[i] + ": the worker process handling it ended abnormally\n";
        }
    }
}

} // namespace

int RunInOrder(const std::vector<std::string>& files, int workers, const TFileJob& job,
               std::vector<int>* statuses) {
    if (statuses) statuses->assign(files.size(), 1);
    int* each = statuses ? statuses->data() : nullptr;
    if (workers < 2 || files.size() < 2) return RunHere(files, job, each);

    // The next file to take, shared by the workers.
    void* shared = ::mmap(nullptr, sizeof(std::atomic<size_t>), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) return RunHere(files, job, each);
    auto* next = new (shared) std::atomic<size_t>(0);

    std::vector<TWorker> pool = StartWorkers(files, workers, *next, job);
    TOrderedResults out;
    out.each = each;
    const bool anyDied = CollectResults(pool, out);
    const size_t taken = std::min(next->load(), files.size());
    ::munmap(shared, sizeof(std::atomic<size_t>));
    FailUnrecorded(files, taken, anyDied || pool.empty(), out);
    out.WriteReady();
    // Whatever no worker took (none could be started) is done here.
    if (out.emit < files.size()) {
        std::vector<std::string> rest(files.begin() + static_cast<long>(out.emit), files.end());
        int status = RunHere(rest, job, out.each ? out.each + out.emit : nullptr);
        if (status > out.worst) out.worst = status;
    }
    return out.worst;
}

namespace {

// Files are handed out in runs of up to this many, so that the threads meet (and wake each other)
// once per run rather than once per file.
constexpr size_t kRunLength = 8;
// How far the threads may run ahead of the output, in runs per worker. One: every slot of output
// is fresh memory the first time it fills, and on a busy machine a longer lead only fills more
// slots while the thread that is behind waits for a processor.
constexpr size_t kAheadPerWorker = 1;

// The output of one run of files, from the workers to the writer: the lines in one piece, and
// where the messages of each file go between them.
struct TSlot {
    bool ready = false;
    int status = 0;
    std::string out;
    std::vector<std::pair<size_t, std::string>> errs; // (end of the file's lines in out, text)
};

// The error text of the threaded job running on this thread, if one is.
thread_local std::string* jobErr = nullptr;

// Runs the job for files [first, last) into `slot`.
void RunRun(const TThreadJob& job, int worker, const std::vector<std::string>& files, size_t first,
            size_t last, TSlot& slot, std::string& err) {
    slot.status = 0;
    slot.out.clear();
    slot.errs.clear();
    for (size_t i = first; i < last; ++i) {
        err.clear();
        int status;
        jobErr = &err;
        try {
            status = job(worker, files[i], slot.out, err);
        } catch (const std::exception& e) {
            err += files[i] + ": " + e.what() + "\n";
            status = 1;
        }
        jobErr = nullptr;
        slot.status = std::max(slot.status, status);
        if (!err.empty()) slot.errs.emplace_back(slot.out.size(), err);
    }
}

// Writes a run's output; stdout is flushed before each message, which then follows the lines
// printed before it, as when one process prints both.
void Emit(const TSlot& slot) {
    size_t at = 0;
    for (const auto& [end, text] : slot.errs) {
        std::fwrite(slot.out.data() + at, 1, end - at, stdout);
        at = end;
        std::fflush(stdout);
        std::fwrite(text.data(), 1, text.size(), stderr);
    }
    std::fwrite(slot.out.data() + at, 1, slot.out.size() - at, stdout);
}

// The runs of files between the threads: which run is taken next, which is written next, and
// the ring of slots in which the runs done wait for their turn.
struct TRunQueue {
    TRunQueue(const std::vector<std::string>& files, const TThreadJob& job, int workers)
        : files(files), job(job), count(files.size()),
          // Runs short enough that every worker gets several.
          runLength(std::clamp<size_t>(count / (4 * static_cast<size_t>(workers)), 1, kRunLength)),
          runs((count + runLength - 1) / runLength),
          ahead(kAheadPerWorker * static_cast<size_t>(workers)), ring(ahead) {}

    const std::vector<std::string>& files;
    const TThreadJob& job;
    const size_t count, runLength, runs, ahead;
    std::vector<TSlot> ring; // run r waits in slot r % ahead until it is written
    std::mutex lock;
    std::condition_variable deposited, written;
    size_t next = 0; // the next run to take
    size_t emit = 0; // the next run to write

    // Under `lock`: a run may be taken while it is not too far ahead of the output.
    bool MayTake() const { return next < runs && next < emit + ahead; }
    // Runs run `r` into its slot, which is the caller's until it is marked ready.
    void Do(int worker, size_t r, std::string& err) {
        RunRun(job, worker, files, r * runLength, std::min(count, (r + 1) * runLength),
               ring[r % ahead], err);
    }
};

// A worker thread: takes the next run as soon as it may, until none is left.
void WorkRuns(TRunQueue& q, int worker) {
    std::string err;
    for (;;) {
        size_t r;
        {
            std::unique_lock<std::mutex> hold(q.lock);
            q.written.wait(hold, [&] { return q.next >= q.runs || q.MayTake(); });
            if (q.next >= q.runs) return;
            r = q.next++;
        }
        q.Do(worker, r, err);
        {
            std::lock_guard<std::mutex> hold(q.lock);
            q.ring[r % q.ahead].ready = true;
        }
        q.deposited.notify_one();
    }
}

// The calling thread: writes the runs in order and, while the next one is not ready, takes runs
// of its own. Returns the largest status.
int WriteRuns(TRunQueue& q, std::string& err) {
    int worst = 0;
    std::unique_lock<std::mutex> hold(q.lock);
    while (q.emit < q.runs) {
        TSlot& slot = q.ring[q.emit % q.ahead];
        if (slot.ready) {
            hold.unlock();
            worst = std::max(worst, slot.status);
            Emit(slot);
            hold.lock();
            slot.ready = false;
            ++q.emit;
            q.written.notify_all();
        } else if (q.MayTake()) {
            const size_t r = q.next++;
            hold.unlock();
            q.Do(0, r, err);
            hold.lock();
            q.ring[r % q.ahead].ready = true;
        } else {
            q.deposited.wait(hold, [&] { return q.ring[q.emit % q.ahead].ready; });
        }
    }
    return worst;
}

} // namespace

bool KeepWithThreadedJob(const std::string& text) {
    if (!jobErr) return false;
    *jobErr += text;
    return true;
}

int RunInOrderThreaded(const std::vector<std::string>& files, int workers, const TThreadJob& job) {
    const size_t count = files.size();
    std::string err; // reused from file to file
    if (workers < 2 || count < 2) {
        TSlot slot;
        int worst = 0;
        for (size_t i = 0; i < count; ++i) {
            RunRun(job, 0, files, i, i + 1, slot, err);
            worst = std::max(worst, slot.status);
            Emit(slot);
        }
        return worst;
    }

    TRunQueue queue(files, job, workers);
    std::vector<std::thread> threads;
    for (int w = 1; w < workers; ++w) {
        try {
            threads.emplace_back(WorkRuns, std::ref(queue), w);
        } catch (const std::system_error&) {
            break; // fewer threads, same result
        }
    }
    const int worst = WriteRuns(queue, err);
    for (std::thread& t : threads)
        t.join();
    return worst;
}
