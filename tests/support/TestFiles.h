// Temporary folders and files for the tests, and a capture of the messages the engines show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TempDir {
  public:
    TempDir();
    // A folder inside `base` instead of the system's temporary folder (e.g. /dev/shm, where
    // flushing to the disk costs nothing).
    explicit TempDir(const std::string& base);
    ~TempDir();
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);

// Runs a shell command line; gives its exit status (-1 when it did not exit normally) and
// everything it wrote on stdout.
struct ShellResult {
    int status;
    std::string out;
};
ShellResult Shell(const std::string& command);

// Collects ShowMessage texts while alive; restores a stderr sink afterwards.
class MessageCapture {
  public:
    MessageCapture();
    ~MessageCapture();
    const std::vector<std::string>& Messages() const { return messages_; }

  private:
    std::vector<std::string> messages_;
};

// Holds a lock on a file from another process (a child), the way another program would.
class ForeignLock {
  public:
    ForeignLock(const std::string& path, bool exclusive);
    ~ForeignLock();

  private:
    int pid_ = -1;
};

// While alive, every rewrite fails as on a full disk once its new file reaches `limit` bytes:
// the write breaks off part-way, the way a real disk-full or I/O error would.
class WriteFault {
  public:
    explicit WriteFault(int64_t limit);
    ~WriteFault();
};

// The permission bits of a file (07777).
unsigned ModeOf(const std::string& path);
