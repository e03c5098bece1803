// Runs the built quillon-tags for the command-line tests.
#pragma once

#include "TestFiles.h"

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

struct CliRun {
    int status;
    std::string out;
};

// Runs quillon-tags with the words given (shell syntax); stderr goes to dir/stderr. `env` is put
// in front of the command (variable assignments).
inline CliRun Tags(const std::string& words, const TempDir& dir, const std::string& env = "") {
    std::string cmd =
        env + " " + std::string(QUILLON_TAGS) + " " + words + " 2>" + dir.File("stderr");
    FILE* p = popen(cmd.c_str(), "r");
    CliRun r{-1, ""};
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
        r.out.append(buf.data(), n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}
