// quillon-tags: the editor's tag engines for scripts and batches.
#include "CodePage.h"
#include "Commands.h"
#include "Help.h"
#include "ID3v1Tags.h"
#include "ID3v2Tags.h"
#include "Parallel.h"
#include "PlatformFile.h"
#include "utJournal.h"
#include "utPublic.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <malloc.h>
#include <map>
#include <memory>

namespace {

// clang-format off
const TCommand kCommands[] = {
    {"show", "show FILE... [--codepage NAME]", CmdShow},
    {"set", "set FILE... ID TEXT [--unicode] [--codepage NAME] [--no-backup] [-j N]", CmdSet},
    {"add", "add FILE... ID [--unicode] [--codepage NAME] [--no-backup] [-j N]", CmdAdd},
    {"delete", "delete FILE... (INDEX | --id ID) [--no-backup] [-j N]", CmdDelete},
    {"strip", "strip FILE... [--id3v2] [--id3v1] [--apev2] [--no-backup] [-j N]", CmdStrip},
    {"recode", "recode FILE... [--codepage NAME] [--dry-run] [--no-backup] [-j N]", CmdRecode},
    {"name2tag", "name2tag FILE... [--pattern P] [--dry-run] [--unicode] [--no-backup] [-j N]", CmdName2Tag},
    {"tag2name", "tag2name FILE... [--pattern P] [--dry-run] [-j N]", CmdTag2Name},
    {"embed", "embed FILE... PICTURE (--tpic | --apic (INDEX | first) [--type N] [--desc TEXT]) [--fit] [--background RRGGBB] [--no-backup] [-j N]", CmdEmbed},
    {"recover", "recover FILE...|DIR...", CmdRecover},
};
// clang-format on

bool refused = false;

void PrintUsage(FILE* to) {
    std::fprintf(to, "usage: quillon-tags COMMAND ARGS...\ncommands:\n");
    for (const TCommand& c : kCommands)
        std::fprintf(to, "  quillon-tags %s\n", c.usage);
}

} // namespace

bool ParseArgs(const TArgs& args, const TOptionTable& known, TParsedArgs& parsed,
               std::string& error) {
    bool ended = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (ended || a.size() < 2 || a[0] != '-') {
            parsed.words.push_back(a);
        } else if (a == "--") {
            ended = true;
        } else if (a == "--no-backup") {
            parsed.common.noBackup = true;
        } else if (a == "-j" || a.rfind("-j", 0) == 0) {
            if (!known.jobs) {
                error = "-j is for commands on several files";
                return false;
            }
            std::string value = a.size() > 2 ? a.substr(2) : (i + 1 < args.size() ? args[++i] : "");
            char* end = nullptr;
            long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || n < 1 || n > 1024) {
                error = "-j needs a number of files to run at once";
                return false;
            }
            parsed.common.jobs = static_cast<int>(n);
        } else if (known.flags.count(a)) {
            parsed.options.emplace_back(a, std::string());
        } else if (known.valued.count(a)) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            parsed.options.emplace_back(a, args[++i]);
        } else {
            error = "unknown option " + a + " (a FILE or TEXT beginning with - goes after --)";
            return false;
        }
    }
    return true;
}

bool ForcedCodePage(const TParsedArgs& parsed, std::optional<platform::TCodePage>& forced,
                    std::string& error) {
    for (const auto& [option, value] : parsed.options) {
        if (option != "--codepage") continue;
        forced = platform::CodePageFromName(value);
        if (!forced) {
            error = "--codepage needs one of gbk, big5, shift_jis, euc-kr, windows-1251, "
                    "windows-1252, utf-8";
            return false;
        }
    }
    return true;
}

platform::TCodePage JudgeFileCodePage(const std::string& file,
                                      std::optional<platform::TCodePage> forced) {
    TID3v1Tag id3v1;
    if (!forced) {
        // The ID3v1 fields are evidence only: a block that cannot be read adds none.
        try {
            id3v1.ReadFromFile(file);
        } catch (const platform::EPlatformError&) {
        }
    }
    return JudgeCodePage(*ID3v2Tag, &id3v1, forced);
}

bool LockForWriting(const std::string& file, std::optional<TWriterLock>& lock) {
    lock.emplace(file);
    if (lock->Held()) return true;
    lock->Refuse(); // another writer kept it past the wait, or the system's reason
    return false;
}

bool TextToCp936(const std::string& utf8, std::string& cp936, std::string& error) {
    if (platform::Utf8ToCp936(utf8, cp936)) return true;
    if (!platform::IsWellFormedUtf8(utf8)) {
        error = "the text is not valid UTF-8";
        return false;
    }
    // Name the first character that has no place in code page 936.
    for (size_t i = 0; i < utf8.size();) {
        const size_t n = platform::Utf8SequenceLength(utf8, i);
        const std::string character = utf8.substr(i, n);
        std::string unused;
        if (!platform::Utf8ToCp936(character, unused)) {
            error = "the character \"" + character + "\" cannot be stored in code page 936";
            return false;
        }
        i += n;
    }
    error = "the text cannot be stored in code page 936";
    return false;
}

bool ReadTagForWriting(const std::string& file) {
    ID3v2Tag->ReadFromFile(file);
    if (ID3v2Tag->Loaded) return true;
    std::fprintf(stderr, "quillon-tags: %s: ID3v2 tag damaged, nothing written: %s\n", file.c_str(),
                 ID3v2Tag->ReadError.c_str());
    return false;
}

namespace {

// The files with each one spelled as it was first named: a.mp3 and ./a.mp3 (or dir/../a.mp3) are
// one file, which the batch must treat as one (one backup, the original). `resolvedFiles`
// receives the ResolveLinks of each first spelling.
TArgs FirstSpellings(const TArgs& given, TArgs& resolvedFiles) {
    std::map<std::string, std::string> realFolders;
    std::map<std::string, std::pair<std::string, std::string>> first; // spelling, resolved
    TArgs files;
    for (const std::string& file : given) {
        const std::string resolved = ResolveLinks(file);
        const size_t slash = resolved.find_last_of('/');
        const std::string folder = slash == std::string::npos ? "." : resolved.substr(0, slash + 1);
        auto [it, added] = realFolders.try_emplace(folder);
        if (added) {
            char* real = ::realpath(folder.c_str(), nullptr);
            it->second = real ? real : folder;
            std::free(real);
        }
        const std::string key = it->second + "/" + resolved.substr(slash + 1);
        const auto& [spelling, itsResolved] = first.try_emplace(key, file, resolved).first->second;
        files.push_back(spelling);
        resolvedFiles.push_back(itsResolved);
    }
    return files;
}

} // namespace

int RunRewrites(const TArgs& givenFiles, const TCommonOptions& options,
                const std::function<int(const std::string& file)>& job) {
    SetInPlaceEdits(options.noBackup && options.inPlace);
    SetCloneBackups(!options.noBackup && options.inPlace);
    auto one = [&](const std::string& file) {
        TakeRefusal(); // what an earlier file's engines refused is not this file's
        return job(file);
    };
    if (givenFiles.size() == 1) return one(givenFiles[0]);
    TArgs resolved;
    const TArgs files = FirstSpellings(givenFiles, resolved);
    // A backup kept under the name of another file of the command would replace that song, or be
    // edited as one: both are refused before anything is written.
    std::map<std::string, std::string> refusals;
    if (!options.noBackup) {
        for (const auto& [i, j] : BackupNameClashes(files)) {
            refusals[files[i]] =
                files[i] + ": its backup name is " + files[j] + ", which this command also edits";
            if (!refusals.count(files[j]))
                refusals[files[j]] = files[j] + ": it has the backup name of " + files[i] +
                                     ", which this command also edits";
        }
    }
    // A file named more than once keeps the backup its first rewrite made: the original.
    std::map<std::string, int> times;
    for (const std::string& file : resolved)
        ++times[file];
    std::vector<std::unique_ptr<TKeepFirstBackup>> keep;
    for (const auto& [file, n] : times)
        if (n > 1) keep.push_back(std::make_unique<TKeepFirstBackup>(file));
    auto guarded = [&](const std::string& file) {
        auto it = refusals.find(file);
        if (it == refusals.end()) return one(file);
        return Failure(it->second +
                       "; neither is written (the one may be an old backup: move the old "
                       "backups away, or use --no-backup)");
    };
    TBatchFlush batch(files);
    std::vector<int> statuses;
    int status = RunInOrder(files, WorkerCount(files, options.jobs, true), guarded, &statuses);
    if (!batch.Finish(statuses, options.noBackup, kStatusWorkerDied)) status = 1;
    return status;
}

int FinishRewrite(const std::string& file, const TCommonOptions& options) {
    if (TakeRefusal()) return 1;
    if (options.noBackup) DeleteOwnBackup(file);
    // The rewrite is on disk; only the read of the new file failed.
    if (!ID3v2Tag->Loaded)
        std::fprintf(stderr, "quillon-tags: %s: written, but reading it again failed: %s\n",
                     file.c_str(), ID3v2Tag->ReadError.c_str());
    return 0;
}

int Failure(const std::string& text) {
    std::fprintf(stderr, "quillon-tags: %s\n", text.c_str());
    return 1;
}

bool TakeRefusal() {
    bool r = refused;
    refused = false;
    return r;
}

int UsageError(const std::string& text) {
    std::fprintf(stderr, "quillon-tags: %s\n", text.c_str());
    PrintUsage(stderr);
    return 2;
}

int main(int argc, char** argv) {
    // Files come one after the other with tags of similar sizes: keep the heap grown instead of
    // giving it back to the kernel after every file and asking again for the next (each round
    // trip costs system calls and freshly zeroed pages). One heap for all threads: the heaps of
    // other threads give their top back on every large free, whatever the thresholds say.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 16 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    mallopt(M_TOP_PAD, 1 << 20);
    if (argc < 2) return UsageError("no command given");
    const std::string name = argv[1];
    if (IsHelpOption(name)) {
        std::fputs(FormatHelp(TagsOverviewHelp()).c_str(), stdout);
        return 0;
    }
    // `COMMAND ... --help` only prints the help: nothing is read or written.
    if (const THelpPage* help = FindTagsCommandHelp(name)) {
        for (int i = 2; i < argc; ++i) {
            if (!IsHelpOption(argv[i])) continue;
            std::fputs(FormatHelp(*help).c_str(), stdout);
            return 0;
        }
    }
    SetMessageSink([](const std::string& text) {
        refused = true;
        std::fprintf(stderr, "%s\n", text.c_str());
    });
    // A journal left alone is worth knowing; the command still does its work. A job on a thread
    // keeps the notice with its file's output.
    SetNoticeSink([](const std::string& text) {
        const std::string line = "quillon-tags: " + text + "\n";
        if (!KeepWithThreadedJob(line)) std::fputs(line.c_str(), stderr);
    });
    for (const TCommand& c : kCommands) {
        if (name != c.name) continue;
        TArgs args(argv + 2, argv + argc);
        CreateTagObjects();
        int status;
        try {
            status = c.run(args);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            status = 1;
        }
        std::fflush(stdout);
        FreeTagObjects();
        return status;
    }
    return UsageError("unknown command '" + name + "'");
}
