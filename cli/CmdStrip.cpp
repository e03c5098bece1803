// quillon-tags strip: the editor's strip commands for the ID3v2 tag, the ID3v1 block and the
// APEv2 tag, in that order.
#include "Commands.h"
#include "ID3v1Tags.h"
#include "ID3v2Tags.h"
#include "PlatformFile.h"
#include "uAPEv2Tag.h"
#include "utPublic.h"

#include <cstdio>
#include <exception>
#include <functional>
#include <iterator>
#include <optional>

namespace {

struct TStripOptions {
    bool id3v2 = false, id3v1 = false, apev2 = false;
};

// Strips one file. Every tag asked for is read first, under the writer lock, so a tag that cannot
// be read refuses the whole command with the file as it was; a step that fails after others
// changed the file says what was done and what was not.
int StripFile(const std::string& path, const TStripOptions& o, bool noBackup) {
    TakeRefusal();
    std::optional<TWriterLock> lock;
    if (!LockForWriting(path, lock)) return 1;
    bool id3v2 = false, id3v1 = false, apev2 = false; // the steps that change the file
    try {
        if (o.id3v2) {
            // A strip needs no frame's content: compressed frames are not inflated.
            ID3v2Tag->InflateLimit = 0;
            ID3v2Tag->ReadFromFile(path);
            // A damaged tag is never rewritten (nothing would happen): say so rather than succeed.
            if (!ID3v2Tag->Loaded) {
                std::fprintf(stderr, "%s: ID3v2 tag damaged, nothing stripped: %s\n", path.c_str(),
                             ID3v2Tag->ReadError.c_str());
                return 1;
            }
            id3v2 = ID3v2Tag->Exists;
        }
        if (o.id3v1) {
            ID3v1Tag->ReadFromFile(path);
            id3v1 = ID3v1Tag->Exists;
        }
        if (o.apev2) {
            APEv2Tag->ReadFromFile(path);
            apev2 = APEv2Tag->Exists;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s; nothing stripped\n", e.what());
        return 1;
    }
    // The backup of the whole command is the original: later rewrites keep the first backup, and
    // an ID3v1 cut in place that comes first gets a copy made before it.
    TKeepFirstBackup keep(path);
    const bool copyFirst = !id3v2 && id3v1 && apev2;
    if (copyFirst && !MakeOwnBackupCopy(path)) return 1;

    const std::array<TTagStep, 3> steps = RewriteThenStrip(
        path, id3v2, [] { ID3v2Tag->RemoveTag(); }, id3v1, apev2, false);
    std::string done;
    for (size_t k = 0; k < std::size(steps); ++k) {
        if (!steps[k].wanted) continue;
        std::string why;
        try {
            steps[k].run();
        } catch (const std::exception& e) {
            why = e.what();
        }
        if (why.empty() && !TakeRefusal()) {
            done += std::string(done.empty() ? "" : ", ") + steps[k].tag;
            continue;
        }
        if (done.empty() && copyFirst) DeleteOwnBackup(path); // a refusal leaves nothing
        if (done.empty()) {
            if (!why.empty()) std::fprintf(stderr, "%s\n", why.c_str());
            return 1;
        }
        // What the earlier steps did stays done: say exactly what the file now is.
        std::string notDone = steps[k].tag;
        for (size_t later = k + 1; later < std::size(steps); ++later)
            if (steps[later].wanted) notDone += std::string(", ") + steps[later].tag;
        std::fprintf(stderr, "%s: %s stripped; %s not stripped%s%s\n", path.c_str(), done.c_str(),
                     notDone.c_str(), why.empty() ? "" : ": ", why.c_str());
        return 1;
    }
    if (noBackup) DeleteOwnBackup(path);
    return 0;
}

} // namespace

int CmdStrip(const TArgs& argsIn) {
    TParsedArgs parsed;
    std::string error;
    if (!ParseArgs(argsIn, {{"--id3v2", "--id3v1", "--apev2"}, {}, true}, parsed, error))
        return UsageError("strip: " + error);
    parsed.common.inPlace = false;
    const TCommonOptions& common = parsed.common;
    TStripOptions o;
    for (const auto& [option, value] : parsed.options) {
        o.id3v2 |= option == "--id3v2";
        o.id3v1 |= option == "--id3v1";
        o.apev2 |= option == "--apev2";
    }
    const TArgs& files = parsed.words;
    if (files.empty()) return UsageError("strip needs at least one FILE");
    if (!o.id3v2 && !o.id3v1 && !o.apev2)
        return UsageError("strip needs at least one of --id3v2, --id3v1, --apev2");

    // Each file in a worker process of its own, where the engines' objects and refusals are the
    // worker's alone; several files flush to disk in phases, as the other rewrites do.
    auto strip = [&](const std::string& path) {
        try {
            return StripFile(path, o, common.noBackup) != 0 ? 1 : 0;
        } catch (const std::exception& e) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    };
    return RunRewrites(files, common, strip);
}
