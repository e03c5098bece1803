// Writing: the store as a version 2.3 tag through the rewrite, and the edits that save at once.
#include "ID3v2Tags.h"

#include "CodePage.h"
#include "ID3v2Internal.h"
#include "PlatformFile.h"
#include "utJournal.h"
#include "utPublic.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string_view>

using platform::TFileStream;
using namespace id3v2;

namespace {

TByteString BytesAt(const char* data, int size) {
    if (!data || size <= 0) return {};
    return TByteString(data, static_cast<size_t>(size));
}

// Appends the frames of one entry to `out`, building each header in `header` (10 bytes).
void AppendFrames(std::string_view id, std::string_view data, TByteString& out,
                  unsigned char* header, char encoding = 0) {
    if (id.empty()) return;
    std::memset(header, 0, 10);
    std::memcpy(header, id.data(), std::min<size_t>(4, id.size()));
    auto append = [&](std::string_view piece) {
        PutBigEndian32(header + 4, static_cast<uint32_t>(piece.size() + 1));
        out.append(reinterpret_cast<const char*>(header), 10);
        out += encoding;
        out.append(piece);
    };
    // A picture is never split: a reader must find it whole in one frame. An empty one still
    // gets its frame, so the entry survives the save.
    if (IsPictureId(id)) {
        append(data);
        return;
    }
    // Pieces end between characters: readers that decode frame by frame see whole characters.
    for (size_t at = 0; at < data.size();) {
        const size_t length = PieceLength(data.substr(at));
        append(data.substr(at, length));
        at += length;
    }
}

// Copies the bytes of the backup from `from` to its end, exactly that many: a backup that turns
// out shorter fails the rewrite instead of leaving the audio cut short.
void CopyTail(TFileStream& backup, TFileStream& target, int64_t from) {
    const int64_t size = backup.Size();
    if (from >= size) return;
    backup.Seek(from);
    platform::CopyRange(backup, target, size - from);
}

void BuildHeader(unsigned char* header, uint32_t tagSize) {
    std::memcpy(header, "ID3\x03\x00\x00", 6);
    PutSyncSafe32(header + 6, tagSize);
}

// False when the first 10 bytes of the file the writer lock holds are no longer `header`.
bool HeaderStillReads(const TWriterLock& lock, const std::string& fileName,
                      const unsigned char* header) {
    unsigned char now[10] = {};
    if (lock.Handle() < 0) platform::RaiseError("Cannot open file", fileName, EBADF);
    TFileStream file(TFileStream::TBorrowed{}, lock.Handle(), fileName);
    return file.ReadSome(now, 10) == 10 && std::memcmp(now, header, 10) == 0;
}

// The frames of an entry as an edited one is written.
void AppendEntry(std::string_view id, std::string_view payload, TByteString& out,
                 unsigned char* header, char encoding = 0) {
    if (IsCommentOrLyrics(std::string(id))) {
        AppendFrames(id, TByteString("chi", 4) + TByteString(payload), out, header, encoding);
    } else if (IsPictureId(id)) {
        // The writer puts the encoding byte in front itself; one already there is not doubled.
        // An attached picture with a UTF-16 description brings its own (01), which stays.
        if (!payload.empty() && payload[0] == '\0') {
            payload.remove_prefix(1);
        } else if (id == "APIC" && !payload.empty() && payload[0] == '\1') {
            payload.remove_prefix(1);
            encoding = 1;
        }
        AppendFrames(id, payload, out, header, encoding);
    } else {
        AppendFrames(id, payload, out, header, encoding);
    }
}

// The frame of an empty text the add command made (two NUL bytes behind the encoding byte): it
// holds nothing for a reader, and a save drops it as the writer drops every empty text.
bool IsNewEmptyText(const TFrameOrigin& origin) {
    return origin.OwnForm && !origin.Rendered && origin.PayloadAsRead().empty() &&
           origin.Frame.size() == 13 && origin.Frame.compare(10, 3, "\0\0\0", 3) == 0;
}

} // namespace

TByteString RenderFrames(const TByteString& id, const TByteString& data, char encoding) {
    TByteString out;
    unsigned char header[10];
    AppendFrames(id, data, out, header, encoding);
    return out;
}

TByteString RenderEntry(const TByteString& id, std::string_view payload, char encoding) {
    TByteString out;
    unsigned char header[10];
    AppendEntry(id, payload, out, header, encoding);
    return out;
}

int TID3v2Tag::WriteFrame(const TByteString& id, const TByteString& data, TFileStream& stream) {
    TByteString frames;
    AppendFrames(id, data, frames, FrameHeader);
    stream.WriteBuffer(frames.data(), frames.size());
    return static_cast<int>(frames.size());
}

void TID3v2Tag::SaveToFile() {
    if (!Loaded) return;
    // The tag is built whole before the file is touched: its size must fit the header.
    TByteString tag(10, '\0');
    // Room for the old tag's room: an edit in place grows the tag to it without moving a cover.
    if (Exists && TagEnd > 0 && TagEnd <= kMaxTagSize) tag.reserve(static_cast<size_t>(TagEnd));
    for (size_t i = 0; i < FrameIds.size(); ++i) {
        const TByteString& id = FrameIds[i];
        std::string_view payload = FramePayloads[i];
        if (const TFrameOrigin* origin = UnchangedOrigin(i)) {
            // What the user did not change goes back as it was read, whatever its form.
            if (origin->Rendered) {
                AppendEntry(id, payload, tag, FrameHeader);
            } else if (origin->Frame.empty()) {
                ShowMessage(kMsgFrameNotWritable + platform::Cp936ToUtf8(id));
                return;
            } else if (!IsNewEmptyText(*origin)) {
                tag += origin->Frame;
            }
        } else if (const TFrameOrigin* stored = StoredFrame(i);
                   stored && stored->Access == TFrameOrigin::TAccess::Unwritable &&
                   stored->Id == id) {
            // A version 2.2 id without a later name, given a new text: no version 2.3 frame has
            // that id.
            ShowMessage(kMsgFrameNotWritable + platform::Cp936ToUtf8(id));
            return;
        } else {
            AppendEntry(id, payload, tag, FrameHeader);
        }
        if (static_cast<int64_t>(tag.size()) > kMaxTagSize) {
            ShowMessage(kMsgTagTooLarge + FileName);
            return;
        }
    }
    // The audio is copied from where the tag ended when it was read. If another program has
    // rewritten the tag since (the window reads long before it writes), that place is wrong and
    // the copy would cut audio: the header is compared under the writer lock of the rewrite.
    TWriterLock lock(FileName);
    if (!lock.Held()) {
        lock.Refuse(); // never unchecked: a later wait that succeeds would copy from a stale end
        return;
    }
    if (Exists && !HeaderStillReads(lock, FileName, Header))
        throw platform::EPlatformError("The ID3v2 tag of '" + FileName +
                                       "' was changed by another program since it was read; "
                                       "nothing written, read the file again");
    // Built apart from Header, which keeps the header as read until the file is read again.
    BuildHeader(reinterpret_cast<unsigned char*>(tag.data()), static_cast<uint32_t>(tag.size()));

    const int64_t oldTagEnd = TagSize;
    const int64_t oldReadEnd = TagEnd;
    const bool hadTag = Exists;
    // A tag that fits the room of the old one (its padding and the 10 bytes behind a size
    // counted without the header) goes in place: its size field then names that room as standard
    // readers count it, the rest of the room stays zero, and the audio stays where it is.
    // With the backup kept, that needs a backup that costs nothing: a clone.
    const bool fits = hadTag && static_cast<int64_t>(tag.size()) + 10 <= oldReadEnd;
    if (fits && (InPlaceEdits() || (CloneBackups() && MakeCloneBackup(lock, FileName)))) {
        // The tag grown to the room in place (a cover is not copied again), cut back below when
        // the file is rewritten whole after all.
        const size_t tagSize = tag.size();
        tag.resize(static_cast<size_t>(oldReadEnd), '\0');
        BuildHeader(reinterpret_cast<unsigned char*>(tag.data()),
                    static_cast<uint32_t>(oldReadEnd - 10));
        const TInPlaceResult r = WriteHeadInPlace(lock, FileName, tag);
        if (r == TInPlaceResult::Written) ReadAgainAfterRewrite();
        if (r != TInPlaceResult::NotPossible) return;
        tag.resize(tagSize);
        BuildHeader(reinterpret_cast<unsigned char*>(tag.data()), static_cast<uint32_t>(tagSize));
    }
    const bool written = RewriteFile(FileName, [&](TFileStream& backup, TFileStream& target) {
        target.WriteBuffer(tag.data(), tag.size());
        if (oldReadEnd > oldTagEnd || !hadTag) {
            // Readers that take the size field without the header find these 10 bytes as padding
            // and the audio where it is. The old tag may have run past its size field (a last
            // frame over it, a tag that counts its size without the header, a footer): none of it
            // stays behind as junk.
            target.WriteBuffer(std::string(10, '\0').data(), 10);
            CopyTail(backup, target, oldReadEnd);
        } else {
            CopyTail(backup, target, oldTagEnd);
        }
    });
    if (written) ReadAgainAfterRewrite();
}

void TID3v2Tag::ReadAgainAfterRewrite() {
    // The rewrite is done and on disk; a read that fails now (another program holds the file) does
    // not undo it. The store is then not loaded, and ReadError says why.
    try {
        ReadFromFile(FileName);
    } catch (const platform::EPlatformError& e) {
        Loaded = false;
        ReadError = e.what();
    }
}

void TID3v2Tag::AddFrame(const TByteString& id, const char* data, int size) {
    if (!Loaded) return;
    if (id != "APIC" && IndexOfId(id) != -1) {
        ShowMessage(kMsgTagExists + platform::Cp936ToUtf8(id));
        return;
    }
    FrameIds.push_back(id);
    FramePayloads.push_back(BytesAt(data, size));
    FrameOrigins.resize(FrameIds.size());
    SaveToFile();
}

void TID3v2Tag::SetFrame(const TByteString& id, const char* data, int size) {
    if (!Loaded) return;
    const int k = IndexOfId(id);
    if (k == -1) {
        AddFrame(id, data, size);
        return;
    }
    FramePayloads[k] = BytesAt(data, size);
    SaveToFile();
}

void TID3v2Tag::ReplaceFrame(const TByteString& id, const char* data, int index, int size) {
    if (!Loaded) return;
    if (index < 0 || index >= static_cast<int>(FrameIds.size()))
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    FrameIds[index] = id;
    FramePayloads[index] = BytesAt(data, size);
    if (static_cast<size_t>(index) < FrameOrigins.size()) FrameOrigins[index].reset();
    indexed_ = 0;
    SaveToFile();
}

void TID3v2Tag::DeleteFrame(int index) {
    if (!Loaded || index < 0 || index >= static_cast<int>(FrameIds.size())) return;
    FrameIds.erase(FrameIds.begin() + index);
    FramePayloads.erase(FramePayloads.begin() + index);
    if (static_cast<size_t>(index) < FrameOrigins.size())
        FrameOrigins.erase(FrameOrigins.begin() + index);
    indexed_ = 0;
    SaveToFile();
}

void TID3v2Tag::RemoveTag() {
    if (!Loaded || !Exists) return; // no tag: nothing to strip, and no header to add
    const bool written = RewriteFile(FileName, [&](TFileStream& backup, TFileStream& target) {
        unsigned char empty[10];
        BuildHeader(empty, 10);
        target.WriteBuffer(empty, 10);
        // The old tag's end as its own header gives it; a file too short for one has no tag.
        unsigned char old[10] = {};
        const bool whole = backup.ReadSome(old, 10) == 10;
        const int64_t oldTagEnd =
            whole && std::memcmp(old, "ID3", 3) == 0 ? GetSyncSafe32(old + 6) : 0;
        // A tag read as running past its size field (a standard size, a footer) leaves none of
        // itself in front of the audio, only the 10 bytes of padding standard readers expect.
        if (whole && std::memcmp(old, Header, 10) == 0 && TagEnd > oldTagEnd) {
            target.WriteBuffer(std::string(10, '\0').data(), 10);
            CopyTail(backup, target, TagEnd);
        } else {
            CopyTail(backup, target, oldTagEnd);
        }
    });
    if (written) ReadAgainAfterRewrite();
}
