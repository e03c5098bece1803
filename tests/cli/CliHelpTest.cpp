#include "Builders.h"
#include "CliRun.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace {

const char* const kCommands[] = {"show", "set", "add", "delete", "strip", "embed"};

// The option terms of the "Options:" section, as listed at the start of its lines.
std::vector<std::string> OptionTerms(const std::string& help) {
    std::vector<std::string> terms;
    std::istringstream in(help.substr(help.find("\nOptions:\n") + 10));
    std::string line;
    while (std::getline(in, line) && !line.empty()) {
        if (line.rfind("  ", 0) != 0 || line[2] == ' ') continue; // a continuation line
        size_t end = line.find("  ", 2);
        terms.push_back(line.substr(2, end == std::string::npos ? end : end - 2));
    }
    return terms;
}

} // namespace

TEST(CliHelp, EveryCommandHasItsPageInTheUsualForm) {
    TempDir dir;
    CliRun overview = Tags("--help", dir);
    ASSERT_EQ(overview.status, 0);
    EXPECT_EQ(overview.out.rfind("Usage: quillon-tags COMMAND", 0), 0u) << overview.out;
    EXPECT_EQ(Tags("-h", dir).out, overview.out);
    const std::string commandList = overview.out.substr(overview.out.find("\nCommands:\n"));
    for (const char* command : kCommands) {
        SCOPED_TRACE(command);
        EXPECT_NE(commandList.find(std::string("\n  ") + command + " FILE"), std::string::npos);

        CliRun r = Tags(std::string(command) + " --help", dir);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind(std::string("Usage: quillon-tags ") + command + " FILE", 0), 0u)
            << r.out;
        EXPECT_EQ(ReadFile(dir.File("stderr")), "");
        EXPECT_NE(r.out.find("\nExit status:\n  0 "), std::string::npos);
        EXPECT_EQ(Tags(std::string(command) + " -h", dir).out, r.out);
        // Every option the command's synopsis names is explained below it.
        const std::vector<std::string> terms = OptionTerms(r.out);
        EXPECT_NE(std::find(terms.begin(), terms.end(), "-h, --help"), terms.end());
        const std::string usage = r.out.substr(0, r.out.find("\n\n"));
        for (size_t p = usage.find("--"); p != std::string::npos; p = usage.find("--", p + 2)) {
            std::string option = usage.substr(p, usage.find_first_of(" ])\n", p) - p);
            bool listed = false;
            for (const std::string& t : terms)
                listed |= t.rfind(option, 0) == 0;
            EXPECT_TRUE(listed) << option;
        }
    }
    // The options the commands share are offered by the commands that rewrite or batch.
    for (const char* command : {"set", "add", "delete", "strip", "embed"})
        EXPECT_NE(Tags(std::string(command) + " --help", dir).out.find("\n  --no-backup "),
                  std::string::npos)
            << command;
    for (const char* command : {"show", "strip"})
        EXPECT_NE(Tags(std::string(command) + " --help", dir).out.find("\n  -j N "),
                  std::string::npos)
            << command;
}

TEST(CliHelp, PagesFitAnEightyColumnTerminal) {
    TempDir dir;
    std::vector<std::string> words = {"--help"};
    for (const char* command : kCommands)
        words.push_back(std::string(command) + " --help");
    for (const std::string& w : words) {
        std::istringstream in(Tags(w, dir).out);
        std::string line;
        int n = 0;
        while (std::getline(in, line)) {
            ++n;
            EXPECT_LE(line.size(), 79u) << w << ": " << line;
            EXPECT_TRUE(line.empty() || line.back() != ' ') << w << ": trailing blank: " << line;
        }
        EXPECT_GT(n, 8) << w;
    }
}

// --help anywhere after the command only prints the help: a script that appends it to a
// command line must not find its file rewritten.
TEST(CliHelp, HelpAfterTheArgumentsTouchesNoFile) {
    TempDir dir;
    const Bytes original = Id3TagOurs(Id3Frame("TIT2", Bytes("\0abc", 4))) + MpegFrames(2) +
                           ApeTag({{"Title", "x"}}) + Id3v1Block({"t", "a", "b", "2000", "c"});
    const std::string song = dir.File("song.MP3");
    WriteFile(song, original);
    const std::vector<std::string> lines = {
        "strip " + song + " --id3v2 --id3v1 --apev2 --help",
        "delete " + song + " 0 --no-backup -h",
        "set " + song + " TIT2 new --help",
        "add " + song + " TALB --help",
        "embed " + song + " " + dir.File("missing.jpg") + " --tpic --help",
        "show " + dir.File("missing.MP3") + " --help",
    };
    for (const std::string& words : lines) {
        CliRun r = Tags(words, dir);
        EXPECT_EQ(r.status, 0) << words;
        EXPECT_EQ(r.out.rfind("Usage: quillon-tags ", 0), 0u) << words;
        EXPECT_EQ(ReadFile(dir.File("stderr")), "") << words;
    }
    EXPECT_EQ(ReadFile(song), original);
    EXPECT_FALSE(Exists(dir.File("songbak.MP3")));

    // Help for a command that does not exist is still a usage error.
    EXPECT_EQ(Tags("frobnicate --help", dir).status, 2);
    EXPECT_EQ(Tags("", dir).status, 2);
}
