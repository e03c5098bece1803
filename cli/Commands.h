// The commands of quillon-tags. Each takes the words after its name and returns the exit
// status: 0 success, 1 refused or failed (message on stderr), 2 usage error.
#pragma once

#include <functional>
#include <string>
#include <vector>

using TArgs = std::vector<std::string>;

struct TCommand {
    const char* name;
    const char* usage;
    int (*run)(const TArgs& args);
};

int CmdShow(const TArgs& args);
int CmdSet(const TArgs& args);
int CmdAdd(const TArgs& args);
int CmdDelete(const TArgs& args);
int CmdStrip(const TArgs& args);
int CmdEmbed(const TArgs& args);

// Options shared by the commands.
struct TCommonOptions {
    bool noBackup = false;
    int jobs = 0; // 0: the number of cores
};

// Removes the common options (--no-backup, -j N) from `args`. False on a malformed option. A "--"
// ends the options: it and every word after it stay in `args` as they are.
bool TakeCommonOptions(TArgs& args, TCommonOptions& options, std::string& error);

// Converts command-line text (UTF-8) to the engines' code page 936, refusing rather than
// replacing: false, with `error` naming the first character that cannot be held.
bool TextToCp936(const std::string& utf8, std::string& cp936, std::string& error);

// Reads the ID3v2 tag of `file` into ID3v2Tag for a command that writes it. False (reason on
// stderr) when the tag is damaged: the store then does not describe the whole tag and nothing may
// be written from it. Throws the platform's error for a file that cannot be read.
bool ReadTagForWriting(const std::string& file);

// Ends a command that rewrote `file`: 1 if an engine refused (its message is on stderr), else 0,
// after deleting the backup when --no-backup was given.
int FinishRewrite(const std::string& file, const TCommonOptions& options);

// Prints "quillon-tags: <text>" on stderr and returns 1.
int Failure(const std::string& text);

// The refusals shown through the message sink since the last call, as the engines report them.
bool TakeRefusal();

// Prints a usage error on stderr and returns 2.
int UsageError(const std::string& text);
