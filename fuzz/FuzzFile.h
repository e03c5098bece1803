// A scratch file on tmpfs that each fuzz input is written to, for the readers that take a file
// name. One folder per process, removed at exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

class TFuzzFile {
  public:
    explicit TFuzzFile(const std::string& name) {
        const char* shm = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        dir_ = std::string(shm) + "/quillon-fuzz-" + std::to_string(getpid());
        std::filesystem::create_directories(dir_);
        path_ = dir_ + "/" + name;
    }
    ~TFuzzFile() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::string& Path() const { return path_; }
    const std::string& Dir() const { return dir_; }

    void Write(const uint8_t* data, size_t size) const { Write(path_, data, size); }
    static void Write(const std::string& path, const uint8_t* data, size_t size) {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) std::abort();
        size_t done = 0;
        while (done < size) {
            ssize_t n = ::write(fd, data + done, size - done);
            if (n <= 0) std::abort();
            done += static_cast<size_t>(n);
        }
        ::close(fd);
    }

  private:
    std::string dir_, path_;
};

// Stops the run at a broken property, with the reason in the log next to libFuzzer's report.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);      \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
