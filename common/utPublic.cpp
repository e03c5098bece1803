#include "utPublic.h"

#include "PerfCounter.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TMessageSink& Sink() {
    static TMessageSink sink = [](const std::string& text) {
        std::fprintf(stderr, "%s\n", text.c_str());
    };
    return sink;
}

} // namespace

void SetMessageSink(TMessageSink sink) { Sink() = std::move(sink); }

void ShowMessage(const std::string& text) { Sink()(text); }

std::string BackupFileName(const std::string& fileName) {
    // The extension starts at the last dot of the last path component.
    size_t slash = fileName.find_last_of('/');
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || dot < start) return fileName + "bak";
    return fileName.substr(0, dot) + "bak" + fileName.substr(dot);
}

bool ForceDeleteFile(const std::string& fileName) {
    struct stat st{};
    if (::lstat(fileName.c_str(), &st) != 0) return true;
    platform::ResetAttributes(fileName);
    return platform::DeleteFile(fileName);
}

bool CopyFileOver(const std::string& source, const std::string& target) {
    ForceDeleteFile(target);
    return platform::CopyFile(source, target);
}

bool StartupCheck() {
    if (platform::PerformanceFrequency() > 0) return true;
    ShowMessage(kMsgNoPerfCounter);
    return false;
}

namespace {

// Puts the original back under its own name after a failed rewrite. The backup is renamed when
// it can be (instant, nothing to copy); otherwise it is copied and stays.
void RestoreFromBackup(const std::string& fileName, const std::string& backup) {
    ::unlink(fileName.c_str());
    if (::rename(backup.c_str(), fileName.c_str()) == 0) {
        try {
            platform::SyncDirectoryOf(fileName);
        } catch (const platform::EPlatformError&) {
        }
        return;
    }
    platform::CopyFile(backup, fileName);
}

void FlushBackup(const std::string& backup) {
    platform::TFileStream b(backup, platform::TOpenMode::Read, platform::TShareMode::DenyNone);
    b.Sync();
    b.Close();
    platform::SyncDirectoryOf(backup);
}

} // namespace

bool RewriteFile(const std::string& fileName, const TRewriteWriter& writeNew) {
    const std::string backup = BackupFileName(fileName);
    struct stat original{};
    bool haveOriginal = ::stat(fileName.c_str(), &original) == 0;
    if (!CopyFileOver(fileName, backup)) {
        ShowMessage(kMsgCannotCreateTemp + backup);
        return false;
    }
    try {
        FlushBackup(backup); // the original must be safe on disk before the file goes
    } catch (const platform::EPlatformError&) {
        ShowMessage(kMsgCannotCreateTemp + backup);
        return false;
    }
    if (!ForceDeleteFile(fileName)) {
        ShowMessage(kMsgFileInUse + fileName);
        return false;
    }
    try {
        platform::TFileStream in(backup, platform::TOpenMode::Read, platform::TShareMode::DenyNone);
        platform::TFileStream out(fileName, platform::TOpenMode::CreateNew,
                                  platform::TShareMode::Exclusive, 0600);
        writeNew(in, out);
        if (haveOriginal) {
            // Owner and group first, so the bits never apply to the wrong group; a chown that
            // is not permitted leaves the caller's own.
            if (::fchown(out.Handle(), original.st_uid, original.st_gid) != 0) {
            }
            ::fchmod(out.Handle(), original.st_mode & 07777);
        }
        out.Sync();
        out.Close();
        platform::SyncDirectoryOf(fileName);
    } catch (...) {
        RestoreFromBackup(fileName, backup);
        throw;
    }
    return true;
}
