// quillon-tags recover: what killed runs left unfinished beside the songs, put right. A hot
// journal is rolled back by taking the song's writer lock (as every program does before it reads
// the song); the private names of dead runs are cleared by ClearDeadRunNames.
#include "Commands.h"
#include "Json.h"
#include "utJournal.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>

namespace {

constexpr std::string_view kJournal = ".quillon-journal";

void PrintLine(const std::string& file, const std::string& journal, const std::string& reason) {
    std::string line = "{\"file\": ";
    AppendJsonString(line, file);
    if (!journal.empty()) {
        line += ", \"journal\": ";
        AppendJsonString(line, journal);
    } else {
        line += ", \"names\": \"cleared\"";
    }
    if (!reason.empty()) {
        line += ", \"reason\": ";
        AppendJsonString(line, reason);
    }
    line += "}\n";
    std::fputs(line.c_str(), stdout);
    // Left alone is a failure: its reason goes on stderr too.
    if (!reason.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "quillon-tags: %s: journal left alone: %s\n", file.c_str(),
                     reason.c_str());
    }
}

// The songs of a folder that have a journal beside them.
std::vector<std::string> SongsWithJournals(const std::string& folder) {
    std::vector<std::string> songs;
    DIR* dir = ::opendir(folder.c_str());
    while (dir) {
        const dirent* e = ::readdir(dir);
        if (!e) break;
        const std::string_view name = e->d_name;
        if (name.size() > kJournal.size() && name.substr(name.size() - kJournal.size()) == kJournal)
            songs.push_back(folder + "/" +
                            std::string(name.substr(0, name.size() - kJournal.size())));
    }
    if (dir) ::closedir(dir);
    return songs;
}

// 0 when the song's journal is gone or never was, 1 when it is left (the reason printed).
int RecoverJournal(const std::string& song) {
    const std::string file = ResolveLinks(song);
    struct stat st {};
    if (::lstat(JournalName(file).c_str(), &st) != 0) return 0;
    if (::lstat(file.c_str(), &st) != 0) {
        PrintLine(song, "left alone", "the song it belongs to is not there");
        return 1;
    }
    TWriterLock lock(file);
    if (!lock.Held()) {
        PrintLine(song, "left alone",
                  lock.Refusal().empty() ? "another program holds the song" : lock.Refusal());
        return 1;
    }
    const TJournalOutcome o = LastJournalOutcome();
    switch (o.what) {
    case TJournalOutcome::TWhat::RolledBack:
        PrintLine(song, "rolled back", "");
        return 0;
    case TJournalOutcome::TWhat::InFlight:
        PrintLine(song, "left alone", "a running program is editing the song");
        return 1;
    case TJournalOutcome::TWhat::LeftAlone:
        PrintLine(song, "left alone", o.reason);
        return 1;
    case TJournalOutcome::TWhat::None:
        break;
    }
    return 0; // removed meanwhile by the program that wrote it
}

} // namespace

int CmdRecover(const TArgs& args) {
    TParsedArgs parsed;
    std::string error;
    if (!ParseArgs(args, {{}, {}, false}, parsed, error)) return UsageError("recover: " + error);
    if (parsed.words.empty()) return UsageError("recover needs at least one FILE or DIR");
    // A journal left alone is reported once, with its JSON line.
    SetNoticeSink([](const std::string&) {});
    // First every song back under its own name (the private names of dead runs), then the
    // journals rolled back.
    std::vector<std::string> songs, named;
    for (const std::string& word : parsed.words) {
        struct stat st {};
        if (::stat(word.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            std::string folder = word;
            while (folder.size() > 1 && folder.back() == '/')
                folder.pop_back();
            for (const std::string& song : ClearDeadRunNames({folder + "/."}))
                PrintLine(song, "", "");
            for (const std::string& song : SongsWithJournals(folder))
                songs.push_back(song);
        } else {
            named.push_back(word);
            songs.push_back(word);
        }
    }
    if (!named.empty())
        for (const std::string& song : ClearDeadRunNames(named))
            PrintLine(song, "", "");
    int status = 0;
    for (const std::string& song : songs)
        status = std::max(status, RecoverJournal(song));
    return status;
}
