// The commands of quillon-tags. Each takes the words after its name and returns the exit
// status: 0 success, 1 refused or failed (message on stderr), 2 usage error.
#pragma once

#include "CodePage.h"
#include "utPublic.h"

#include <functional>
#include <optional>
#include <set>
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
int CmdRecode(const TArgs& args);
int CmdRecover(const TArgs& args);
int CmdName2Tag(const TArgs& args);
int CmdTag2Name(const TArgs& args);

// Options shared by the commands.
struct TCommonOptions {
    bool noBackup = false;
    int jobs = 0; // 0: the number of cores
    // With --no-backup, a tag that fits its old room is written in place (every command that
    // writes the ID3v2 tag; strip cuts tags and rewrites).
    bool inPlace = true;
};

// How a command's words are split, the same for every command: the common options (--no-backup,
// and -j N where `jobs` allows it) and the command's own options (`flags` alone, `valued` with
// the next word as value) anywhere before a "--"; every other word is positional, as is every
// word after "--". A word before "--" that begins with "-" and is no option is a usage error.
struct TOptionTable {
    std::set<std::string> flags, valued;
    bool jobs = true;
};
struct TParsedArgs {
    TCommonOptions common;
    std::vector<std::pair<std::string, std::string>> options; // in the order given
    TArgs words;
};
// False, with the usage error in `error`, on an unknown or malformed option.
bool ParseArgs(const TArgs& args, const TOptionTable& known, TParsedArgs& parsed,
               std::string& error);

// The code page `--codepage NAME` forces among `parsed.options`, if any. False, with the usage
// error in `error`, for a name that is none of the code pages.
bool ForcedCodePage(const TParsedArgs& parsed, std::optional<platform::TCodePage>& forced,
                    std::string& error);

// Decides the code page of the file whose ID3v2 tag ID3v2Tag holds, from its legacy texts and
// those of its ID3v1 block (read here), or takes `forced`.
platform::TCodePage JudgeFileCodePage(const std::string& file,
                                      std::optional<platform::TCodePage> forced);

// Holds the file's writer lock for a command's read and rewrite; prints the refusal and returns
// false when another writer keeps it too long.
bool LockForWriting(const std::string& file, std::optional<TWriterLock>& lock);

// Converts command-line text (UTF-8) to the engines' code page 936, refusing rather than
// replacing: false, with `error` naming the first character that cannot be held.
bool TextToCp936(const std::string& utf8, std::string& cp936, std::string& error);

// Reads the ID3v2 tag of `file` into ID3v2Tag for a command that writes it. False (reason on
// stderr) when the tag is damaged: the store then does not describe the whole tag and nothing may
// be written from it. Throws the platform's error for a file that cannot be read.
bool ReadTagForWriting(const std::string& file);

// Runs `job` (exit status of one file) for every file, -j workers at once, output in the order of
// the files; one failure does not stop the others. Several files are rewritten as one batch
// flushed to disk in phases (TBatchFlush). Returns the largest status.
int RunRewrites(const TArgs& files, const TCommonOptions& options,
                const std::function<int(const std::string& file)>& job);

// Ends a command that rewrote `file`: 1 if an engine refused (its message is on stderr), else 0,
// after deleting the backup when --no-backup was given.
int FinishRewrite(const std::string& file, const TCommonOptions& options);

// Prints "quillon-tags: <text>" on stderr and returns 1.
int Failure(const std::string& text);

// The refusals shown through the message sink since the last call, as the engines report them.
bool TakeRefusal();

// Prints a usage error on stderr and returns 2.
int UsageError(const std::string& text);
