#include "TestFiles.h"

#include "utPublic.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

TempDir::TempDir() : TempDir(std::filesystem::temp_directory_path().string()) {}

TempDir::TempDir(const std::string& base) {
    std::string tmpl = (std::filesystem::path(base) / "quillon-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed in " + base);
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

ShellResult Shell(const std::string& command) {
    ShellResult r{-1, ""};
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

MessageCapture::MessageCapture() {
    SetMessageSink([this](const std::string& text) { messages_.push_back(text); });
}

MessageCapture::~MessageCapture() {
    SetMessageSink([](const std::string& text) { fprintf(stderr, "%s\n", text.c_str()); });
}

ForeignLock::ForeignLock(const std::string& path, bool exclusive) {
    int ready[2];
    if (pipe(ready) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
        int fd = open(path.c_str(), O_RDONLY);
        char ok = fd >= 0 && flock(fd, exclusive ? LOCK_EX : LOCK_SH) == 0 ? 1 : 0;
        (void)!write(ready[1], &ok, 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char ok = 0;
    (void)!read(ready[0], &ok, 1);
    close(ready[0]);
    if (!ok) throw std::runtime_error("the other process could not lock " + path);
}

ForeignLock::~ForeignLock() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

WriteFault::WriteFault(int64_t limit) {
    SetRewriteHook([limit](platform::TFileStream& target) { target.SetWriteLimit(limit); });
}

WriteFault::~WriteFault() {
    SetRewriteHook(nullptr);
}

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}
