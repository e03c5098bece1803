// The commands of quillon-tags. Each takes the words after its name and returns the exit
// status: 0 success, 1 refused or failed (message on stderr), 2 usage error.
#pragma once

#include <string>
#include <vector>

using TArgs = std::vector<std::string>;

struct TCommand {
    const char* name;
    const char* usage;
    int (*run)(const TArgs& args);
};

int CmdShow(const TArgs& args);
int CmdStrip(const TArgs& args);
int CmdEmbed(const TArgs& args);

// Options shared by the commands.
struct TCommonOptions {
    bool noBackup = false;
    int jobs = 0; // 0: the number of cores
};

// Removes the common options (--no-backup, -j N) from `args`. False on a malformed option.
bool TakeCommonOptions(TArgs& args, TCommonOptions& options, std::string& error);

// The refusals shown through the message sink since the last call, as the engines report them.
bool TakeRefusal();

// Prints a usage error on stderr and returns 2.
int UsageError(const std::string& text);
