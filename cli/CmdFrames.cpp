// quillon-tags set, add and delete: the editor's frame commands on one file's ID3v2 tag.
#include "CodePage.h"
#include "Commands.h"
#include "ID3v2Tags.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

// The common options and exactly `count` words; a FILE or TEXT beginning with a dash follows "--".
bool TakeWords(const TArgs& args, size_t count, TCommonOptions& options, TArgs& words,
               std::string& error) {
    TParsedArgs parsed;
    if (!ParseArgs(args, {{}, {}, false}, parsed, error)) return false;
    options = parsed.common;
    words = std::move(parsed.words);
    return words.size() == count;
}

std::string UpperAscii(std::string id) {
    for (char& c : id)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return id;
}

} // namespace

int CmdSet(const TArgs& args) {
    TCommonOptions options;
    TArgs w;
    std::string error;
    if (!TakeWords(args, 3, options, w, error))
        return UsageError(error.empty() ? "set needs FILE ID TEXT" : error);
    const std::string& file = w[0];
    std::string id, text;
    if (!TextToCp936(w[1], id, error) || !IsFrameIdText(UpperAscii(id)))
        return UsageError("set needs a frame ID of 3 or 4 characters A-Z and 0-9");
    id = UpperAscii(id);
    if (id == "APIC" || id == "TPIC")
        return Failure(file + ": " + id + " holds a picture: use embed; nothing written");
    if (!TextToCp936(w[2], text, error)) return Failure(file + ": " + error + "; nothing written");

    std::optional<TWriterLock> lock;
    if (!LockForWriting(file, lock) || !ReadTagForWriting(file)) return 1;
    // A frame that is not there yet is added by the add command's rule.
    if (ID3v2Tag->IndexOfId(id) == -1 && !PrepareNewFrame(id)) return 1;
    ID3v2Tag->SetFrame(id, text.data(), static_cast<int>(text.size()));
    return FinishRewrite(file, options);
}

int CmdAdd(const TArgs& args) {
    TCommonOptions options;
    TArgs w;
    std::string error;
    if (!TakeWords(args, 2, options, w, error))
        return UsageError(error.empty() ? "add needs FILE ID" : error);
    const std::string& file = w[0];
    std::string typed;
    if (!TextToCp936(w[1], typed, error)) return Failure(file + ": ID: " + error);
    const std::optional<TNewFrame> frame = PrepareNewFrame(typed);
    if (!frame) return 1; // the rule's own message is on stderr

    std::optional<TWriterLock> lock;
    if (!LockForWriting(file, lock) || !ReadTagForWriting(file)) return 1;
    ID3v2Tag->AddFrame(frame->Id, frame->Payload.data(), static_cast<int>(frame->Payload.size()));
    return FinishRewrite(file, options);
}

int CmdDelete(const TArgs& args) {
    TCommonOptions options;
    TArgs w;
    std::string error;
    if (!TakeWords(args, 2, options, w, error))
        return UsageError(error.empty() ? "delete needs FILE INDEX" : error);
    const std::string& file = w[0];
    char* end = nullptr;
    errno = 0;
    const long index = std::strtol(w[1].c_str(), &end, 10);
    if (w[1].empty() || *end || errno || index < 0 || index > INT_MAX)
        return UsageError("delete needs a frame INDEX from 0");

    std::optional<TWriterLock> lock;
    if (!LockForWriting(file, lock) || !ReadTagForWriting(file)) return 1;
    // The engine ignores an index past the store; a script must hear that nothing was deleted.
    const size_t count = ID3v2Tag->FrameIds.size();
    if (static_cast<size_t>(index) >= count)
        return Failure(file + ": there is no frame " + std::to_string(index) + " (" +
                       std::to_string(count) + " frames); nothing written");
    ID3v2Tag->DeleteFrame(static_cast<int>(index));
    return FinishRewrite(file, options);
}
