// quillon-tags strip: the editor's strip commands for the ID3v2 tag, the ID3v1 block and the
// APEv2 tag, in that order.
#include "Commands.h"
#include "ID3v1Tags.h"
#include "ID3v2Tags.h"
#include "Parallel.h"
#include "PlatformFile.h"
#include "uAPEv2Tag.h"
#include "utPublic.h"

#include <cstdio>
#include <exception>

namespace {

struct TStripOptions {
    bool id3v2 = false, id3v1 = false, apev2 = false;
};

int Fail(const std::string& path, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), text.c_str());
    return 1;
}

// Strips one file; a refusal or failure stops this file's remaining steps.
int StripFile(const std::string& path, const TStripOptions& o, bool noBackup) {
    const std::string backup = BackupFileName(path);
    TakeRefusal();
    if (o.id3v2) {
        ID3v2Tag->ReadFromFile(path);
        // A damaged tag is never rewritten (nothing would happen): say so rather than succeed.
        if (!ID3v2Tag->Loaded)
            return Fail(path, "ID3v2 tag damaged, not stripped: " + ID3v2Tag->ReadError);
        ID3v2Tag->RemoveTag();
        if (TakeRefusal()) return 1;
        if (noBackup) ForceDeleteFile(backup);
    }
    if (o.id3v1) {
        ID3v1Tag->ReadFromFile(path);
        if (ID3v1Tag->Exists) ID3v1Tag->RemoveFromFile(path);
    }
    if (o.apev2) {
        // Read just before the cut: an ID3v2 strip above has moved every byte behind its tag.
        APEv2Tag->ReadFromFile(path);
        if (APEv2Tag->Exists) {
            APEv2Tag->RemoveFromFile(path);
            if (TakeRefusal()) return 1;
            if (noBackup) ForceDeleteFile(backup);
        }
    }
    return 0;
}

} // namespace

int CmdStrip(const TArgs& argsIn) {
    TArgs args = argsIn;
    TCommonOptions common;
    std::string error;
    if (!TakeCommonOptions(args, common, error)) return UsageError(error);
    TStripOptions o;
    TArgs files;
    for (const std::string& a : args) {
        if (a == "--id3v2")
            o.id3v2 = true;
        else if (a == "--id3v1")
            o.id3v1 = true;
        else if (a == "--apev2")
            o.apev2 = true;
        else if (a.size() > 1 && a[0] == '-')
            return UsageError("strip: unknown option " + a);
        else
            files.push_back(a);
    }
    if (files.empty()) return UsageError("strip needs at least one FILE");
    if (!o.id3v2 && !o.id3v1 && !o.apev2)
        return UsageError("strip needs at least one of --id3v2, --id3v1, --apev2");

    // Each file in a worker process of its own, where the engines' objects and refusals are the
    // worker's alone.
    auto strip = [&](const std::string& path) {
        try {
            return StripFile(path, o, common.noBackup) != 0 ? 1 : 0;
        } catch (const std::exception& e) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    };
    return RunInOrder(files, WorkerCount(files, common.jobs, true), strip);
}
