// quillon-tags set, add and delete: the editor's frame commands on the ID3v2 tag of each file.
#include "CodePage.h"
#include "Commands.h"
#include "ID3v2Tags.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

// The common options and at least `count` words; a FILE or TEXT beginning with a dash follows
// "--". `table` adds the command's own options.
bool TakeWords(const TArgs& args, size_t count, TParsedArgs& parsed, std::string& error,
               const TOptionTable& table = {}) {
    if (!ParseArgs(args, table, parsed, error)) return false;
    return parsed.words.size() >= count;
}

std::string UpperAscii(std::string id) {
    for (char& c : id)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return id;
}

// Holds the file's writer lock and reads its tag for the edit that follows.
bool OpenForEdit(const std::string& file, std::optional<TWriterLock>& lock) {
    return LockForWriting(file, lock) && ReadTagForWriting(file);
}

} // namespace

namespace {

const TOptionTable kTextOptions{{"--unicode"}, {"--codepage"}, true};

bool WantsUnicode(const TParsedArgs& parsed) {
    for (const auto& [option, value] : parsed.options)
        if (option == "--unicode") return true;
    return false;
}

} // namespace

int CmdSet(const TArgs& args) {
    TParsedArgs parsed;
    std::string error;
    if (!TakeWords(args, 3, parsed, error, kTextOptions))
        return UsageError(error.empty() ? "set needs FILE... ID TEXT" : error);
    std::optional<platform::TCodePage> forced;
    if (!ForcedCodePage(parsed, forced, error)) return UsageError("set: " + error);
    const bool unicode = WantsUnicode(parsed);
    TArgs files = parsed.words;
    const std::string text = files.back();
    files.pop_back();
    const std::string typedId = files.back();
    files.pop_back();
    std::string id;
    if (!TextToCp936(typedId, id, error) || !IsFrameIdText(UpperAscii(id)))
        return UsageError("set needs a frame ID of 3 or 4 characters A-Z and 0-9");
    id = UpperAscii(id);
    const std::string names = files.size() == 1 ? files[0] : "set";
    if (IsPictureId(id))
        return Failure(names + ": " + id + " holds a picture: use embed; nothing written");
    // Every character can be written (as UTF-16 where the tag's code page has no room for it).
    if (!platform::IsWellFormedUtf8(text))
        return Failure(names + ": the text is not valid UTF-8; nothing written");

    return RunRewrites(files, parsed.common, [&](const std::string& file) {
        std::optional<TWriterLock> lock;
        if (!OpenForEdit(file, lock)) return 1;
        JudgeFileCodePage(file, forced);
        // A frame that is not there yet is added by the add command's rule.
        if (ID3v2Tag->IndexOfId(id) == -1 && !PrepareNewFrame(id)) return 1;
        ID3v2Tag->SetFrameText(id, text, unicode);
        return FinishRewrite(file, parsed.common);
    });
}

int CmdAdd(const TArgs& args) {
    TParsedArgs parsed;
    std::string error;
    if (!TakeWords(args, 2, parsed, error, kTextOptions))
        return UsageError(error.empty() ? "add needs FILE... ID" : error);
    std::optional<platform::TCodePage> forced;
    if (!ForcedCodePage(parsed, forced, error)) return UsageError("add: " + error);
    const bool unicode = WantsUnicode(parsed);
    TArgs files = parsed.words;
    const std::string typedId = files.back();
    files.pop_back();
    std::string typed;
    if (!TextToCp936(typedId, typed, error))
        return Failure((files.size() == 1 ? files[0] : "add") + ": ID: " + error);
    const std::optional<TNewFrame> frame = PrepareNewFrame(typed);
    if (!frame) return 1; // the rule's own message is on stderr

    return RunRewrites(files, parsed.common, [&](const std::string& file) {
        std::optional<TWriterLock> lock;
        if (!OpenForEdit(file, lock)) return 1;
        // The new empty text by set's writing rule: UTF-16 where asked, or where the tag's code
        // page (judged, or forced) is not one to write in; a picture and a frame already there
        // go by the add rule.
        JudgeFileCodePage(file, forced);
        std::string unused;
        if (!IsPictureId(frame->Id) && ID3v2Tag->IndexOfId(frame->Id) == -1 &&
            !ID3v2Tag->FitsCodePage(std::string(), unused, unicode))
            ID3v2Tag->SetFrameText(frame->Id, std::string(), true);
        else
            ID3v2Tag->AddFrame(frame->Id, frame->Payload.data(),
                               static_cast<int>(frame->Payload.size()));
        return FinishRewrite(file, parsed.common);
    });
}

int CmdDelete(const TArgs& args) {
    TParsedArgs parsed;
    std::string error;
    if (!TakeWords(args, 1, parsed, error, {{}, {"--id"}, true}))
        return UsageError(error.empty() ? "delete needs FILE... INDEX or FILE... --id ID" : error);
    TArgs files = parsed.words;
    std::optional<std::string> byId;
    for (const auto& [option, value] : parsed.options) {
        std::string id;
        if (!TextToCp936(value, id, error) || id.empty())
            return UsageError("--id needs a frame ID");
        byId = UpperAscii(id);
    }
    long index = -1;
    if (!byId) {
        char* end = nullptr;
        errno = 0;
        const std::string last = files.back();
        index = std::strtol(last.c_str(), &end, 10);
        if (files.size() < 2 || last.empty() || *end || errno || index < 0 || index > INT_MAX)
            return UsageError("delete needs a frame INDEX from 0, or --id ID");
        files.pop_back();
    }

    return RunRewrites(files, parsed.common, [&](const std::string& file) {
        std::optional<TWriterLock> lock;
        if (!OpenForEdit(file, lock)) return 1;
        const size_t count = ID3v2Tag->FrameIds.size();
        int at = static_cast<int>(index);
        if (byId) {
            at = ID3v2Tag->IndexOfId(*byId);
            // A file of the album without the frame is no failure, but a script must hear it.
            if (at == -1) {
                std::fprintf(stderr, "quillon-tags: %s: no %s frame; nothing deleted\n",
                             file.c_str(), platform::Cp936ToUtf8(*byId).c_str());
                return 0;
            }
        }
        // The engine ignores an index past the store; a script must hear that nothing was deleted.
        if (static_cast<size_t>(at) >= count)
            return Failure(file + ": there is no frame " + std::to_string(at) + " (" +
                           std::to_string(count) + " frames); nothing written");
        ID3v2Tag->DeleteFrame(at);
        return FinishRewrite(file, parsed.common);
    });
}
