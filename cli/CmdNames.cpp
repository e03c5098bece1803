// quillon-tags name2tag and tag2name: the tags from the file names, and the file names from the
// tags, by a pattern such as "%artist% - %title%".
#include "CodePage.h"
#include "Commands.h"
#include "ID3v1Tags.h"
#include "ID3v2Tags.h"
#include "Json.h"
#include "Parallel.h"
#include "PlatformFile.h"
#include "uNamePattern.h"
#include "utPublic.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TNameOptions {
    std::string pattern = kDefaultNamePattern;
    bool dryRun = false;
    bool unicode = false;
};

TNameOptions NameOptions(const TParsedArgs& parsed) {
    TNameOptions o;
    for (const auto& [option, value] : parsed.options) {
        if (option == "--pattern") o.pattern = value;
        o.dryRun = o.dryRun || option == "--dry-run";
        o.unicode = o.unicode || option == "--unicode";
    }
    return o;
}

std::string FolderPart(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

int CmdName2Tag(const TArgs& args) {
    TParsedArgs parsed;
    std::string error;
    if (!ParseArgs(args, {{"--dry-run", "--unicode"}, {"--pattern"}, true}, parsed, error))
        return UsageError("name2tag: " + error);
    if (parsed.words.empty()) return UsageError("name2tag needs at least one FILE");
    const TNameOptions o = NameOptions(parsed);
    const auto pattern = ParseNamePattern(o.pattern, TNamePatternUse::FromName, error);
    if (!pattern) return UsageError("name2tag: " + error);

    auto job = [&](const std::string& file) {
        const auto fields = MatchName(*pattern, NameText(SplitExtension(BaseName(file)).first));
        if (!fields)
            return Failure(file + ": the name does not match \"" + o.pattern + "\"; left alone");
        std::optional<TWriterLock> lock;
        if (!o.dryRun && !LockForWriting(file, lock)) return 1;
        // A dry run refuses what the real one would: a tag that cannot be written.
        if (!ReadTagForWriting(file)) return 1;
        if (!o.dryRun) {
            JudgeFileCodePage(file, std::nullopt);
            // Set's rules, every field in one rewrite.
            ID3v2Tag->SetFrameTexts(*fields, o.unicode);
            if (const int status = FinishRewrite(file, parsed.common)) return status;
        }
        std::string line = "{";
        AppendJsonPath(line, "file", file);
        line += ", \"new\": {";
        for (size_t i = 0; i < fields->size(); ++i) {
            if (i) line += ", ";
            AppendJsonString(line, (*fields)[i].first);
            line += ": ";
            AppendJsonString(line, (*fields)[i].second);
        }
        line += "}}\n";
        std::fputs(line.c_str(), stdout);
        return 0;
    };
    // A dry run goes round the batch: its backups and flushes are changes too.
    if (o.dryRun)
        return RunInOrder(parsed.words, WorkerCount(parsed.words, parsed.common.jobs, false), job);
    return RunRewrites(parsed.words, parsed.common, job);
}

namespace {

// What tag2name does with one file, decided before anything is renamed.
struct TRenamePlan {
    std::string name;   // the new base name; empty when the file is left alone
    std::string target; // the new path as the file was given, its folder kept
    struct stat seen {};
    bool keeps = false; // already named so
    std::string err;    // what stderr gets for the file
    int status = 0;
};

void Refuse(TRenamePlan& plan, const std::string& text) {
    plan.err += "quillon-tags: " + text + "\n";
    plan.status = 1;
    plan.name.clear();
}

struct TTagPair {
    TID3v2Tag id3v2;
    TID3v1Tag id3v1;
};

// The new name of `file` from its tag, read into `tags`.
void PlanRename(const std::string& file, const TNamePattern& pattern, TID3v2Tag& id3v2,
                TID3v1Tag& id3v1, TRenamePlan& plan) {
    platform::TFileStream stream(file, platform::TOpenMode::Read, platform::TShareMode::DenyNone);
    id3v2.ReadFromOpenFile(stream);
    // The code page matters only for texts that are not ASCII; ID3v1 is evidence then.
    TID3v1Tag* v1 = nullptr;
    if (id3v2.HasLegacyText()) {
        try {
            id3v1.ReadFromOpenFile(stream);
            v1 = &id3v1;
        } catch (const platform::EPlatformError&) {
        }
    }
    JudgeCodePage(id3v2, v1);
    if (::fstat(stream.Handle(), &plan.seen) != 0)
        throw platform::EPlatformError(file + ": " + std::strerror(errno));
    stream.Close();
    std::vector<std::string> texts(std::size(kNameFields));
    for (const TNamePart& part : pattern) {
        if (part.Field < 0 || !texts[static_cast<size_t>(part.Field)].empty()) continue;
        texts[static_cast<size_t>(part.Field)] = NameFieldText(id3v2, part.Field);
        if (texts[static_cast<size_t>(part.Field)].empty())
            return Refuse(plan, file + ": the tag has no " + kNameFields[part.Field].Id + " for " +
                                    kNameFields[part.Field].Placeholder + "; not renamed");
    }
    const std::string_view base = BaseName(file);
    plan.name = FillName(pattern, texts, SplitExtension(base).second);
    if (plan.name.empty()) return Refuse(plan, file + ": no file name is left; not renamed");
    plan.target = FolderPart(file) + plan.name;
    plan.keeps = plan.name == base;
}

// The folders of the files, each looked at and opened once: a batch is mostly one folder.
class TFolders {
  public:
    ~TFolders() {
        for (const auto& [folder, fd] : open_)
            if (fd.first >= 0) ::close(fd.first);
    }
    // The folder of `path` by device and inode, so that two spellings of one folder meet.
    const std::string& Key(const std::string& path) {
        const std::string folder = FolderPart(path);
        auto [it, added] = keys_.emplace(folder, folder);
        struct stat st {};
        if (added && ::stat(folder.empty() ? "." : folder.c_str(), &st) == 0)
            it->second = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
        return it->second;
    }
    // The folder of `path` open for renaming in it and flushing it; -1 with errno.
    int Open(const std::string& path) {
        const std::string folder = FolderPart(path);
        auto [it, added] = open_.emplace(folder, std::pair(-1, 0));
        if (added) {
            it->second.first =
                ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            it->second.second = errno;
        }
        errno = it->second.second;
        return it->second.first;
    }
    // Flushes the folders opened, so that the new names are on disk. False after a failure.
    bool Flush() {
        bool ok = true;
        for (const auto& [folder, fd] : open_)
            if (fd.first >= 0 && ::fsync(fd.first) != 0) {
                ok = false;
                Failure("renamed, but the folder " + (folder.empty() ? "." : folder) +
                        " could not be flushed to disk: " + std::strerror(errno));
            }
        return ok;
    }

  private:
    std::map<std::string, std::string> keys_;
    std::map<std::string, std::pair<int, int>> open_; // folder -> descriptor, errno of the open
};

// Not the change time: the writer lock itself may touch the permission bits of a read-only file.
bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Renames the file as planned, under its writer lock, never over another file.
void Rename(const std::string& file, TRenamePlan& plan, TFolders& folders) {
    std::optional<TWriterLock> lock;
    lock.emplace(file);
    if (!lock->Held()) {
        if (lock->Refusal().empty()) {
            plan.err += std::string(kMsgFileInUse) + file + "\n";
            plan.status = 1;
            plan.name.clear();
        } else {
            Refuse(plan, file + ": " + lock->Refusal() + "; not renamed");
        }
        return;
    }
    // The tag read is the file's still: no writer came between.
    struct stat now {};
    if (::stat(file.c_str(), &now) != 0 || !SameFile(now, plan.seen)) {
        Refuse(plan, file + ": it changed while the names were made; not renamed");
        return;
    }
    const int dir = folders.Open(file);
    const std::string base(BaseName(file));
    if (dir < 0 || ::renameat2(dir, base.c_str(), dir, plan.name.c_str(), RENAME_NOREPLACE) != 0) {
        const int e = errno;
        Refuse(plan,
               file + ": " +
                   (e == EEXIST   ? plan.target + " already exists"
                    : e == EINVAL ? std::string("the file system cannot rename without replacing")
                                  : std::string(std::strerror(e))) +
                   "; not renamed");
    }
}

} // namespace

int CmdTag2Name(const TArgs& args) {
    TParsedArgs parsed;
    std::string error;
    if (!ParseArgs(args, {{"--dry-run"}, {"--pattern"}, true}, parsed, error))
        return UsageError("tag2name: " + error);
    if (parsed.common.noBackup) return UsageError("tag2name: a rename makes no backup");
    const TArgs& files = parsed.words;
    if (files.empty()) return UsageError("tag2name needs at least one FILE");
    const TNameOptions o = NameOptions(parsed);
    const auto pattern = ParseNamePattern(o.pattern, TNamePatternUse::ToName, error);
    if (!pattern) return UsageError("tag2name: " + error);

    // 1. Every file's new name from its tag, read on threads with tag objects of their own. The
    // runner is handed the files' numbers, so that each result has its place.
    std::vector<TRenamePlan> plans(files.size());
    TArgs numbers;
    for (size_t i = 0; i < files.size(); ++i)
        numbers.push_back(std::to_string(i));
    const int workers = WorkerCount(files, parsed.common.jobs, false);
    std::vector<std::unique_ptr<TTagPair>> own;
    for (int w = 1; w < workers; ++w)
        own.push_back(std::make_unique<TTagPair>());
    RunInOrderThreaded(numbers, workers,
                       [&](int worker, const std::string& number, std::string&, std::string&) {
                           const size_t i = std::stoul(number);
                           TID3v2Tag& v2 = worker ? own[worker - 1]->id3v2 : *ID3v2Tag;
                           TID3v1Tag& v1 = worker ? own[worker - 1]->id3v1 : *ID3v1Tag;
                           try {
                               PlanRename(files[i], *pattern, v2, v1, plans[i]);
                           } catch (const std::exception& e) {
                               Refuse(plans[i], files[i] + ": " + e.what());
                           }
                           return 0;
                       });

    // 2. Names the batch would give twice, and names taken already: refused before any rename.
    TFolders folders;
    std::map<std::string, std::vector<size_t>> byTarget;
    for (size_t i = 0; i < files.size(); ++i)
        if (!plans[i].name.empty() && !plans[i].keeps)
            byTarget[folders.Key(files[i]) + "/" + plans[i].name].push_back(i);
    for (const auto& [key, which] : byTarget) {
        for (size_t i : which) {
            if (which.size() > 1) {
                const size_t other = which[which[0] == i ? 1 : 0];
                Refuse(plans[i], files[i] + ": " + files[other] + " would get the same name " +
                                     plans[i].target + "; neither is renamed");
                continue;
            }
            struct stat st {};
            if (::lstat(plans[i].target.c_str(), &st) == 0)
                Refuse(plans[i],
                       files[i] + ": " + plans[i].target + " already exists; not renamed");
        }
    }

    // 3. The renames, in the order of the files; then each folder flushed once, so that the new
    // names are on disk when the command reports success.
    int worst = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        TRenamePlan& plan = plans[i];
        if (!o.dryRun && !plan.name.empty() && !plan.keeps) Rename(files[i], plan, folders);
        if (!plan.name.empty()) {
            std::string line = "{";
            AppendJsonPath(line, "file", files[i]);
            line += ", ";
            AppendJsonPath(line, "new", plan.target);
            line += "}\n";
            std::fputs(line.c_str(), stdout);
        }
        if (!plan.err.empty()) {
            std::fflush(stdout);
            std::fputs(plan.err.c_str(), stderr);
        }
        worst = std::max(worst, plan.status);
    }
    if (!folders.Flush()) worst = 1;
    return worst;
}
