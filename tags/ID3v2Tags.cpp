#include "ID3v2Tags.h"

#include "CodePage.h"
#include "ID3v1Tags.h"
#include "PlatformFile.h"
#include "uAPEv2Tag.h"
#include "utPublic.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string_view>

using platform::TFileStream;

TID3v2Tag* ID3v2Tag = nullptr;
TAPEv2Tag* APEv2Tag = nullptr;
TID3v1Tag* ID3v1Tag = nullptr;

void CreateTagObjects() {
    ID3v2Tag = new TID3v2Tag;
    APEv2Tag = new TAPEv2Tag;
    ID3v1Tag = new TID3v1Tag;
}

void FreeTagObjects() {
    delete ID3v2Tag;
    ID3v2Tag = nullptr;
    delete APEv2Tag;
    APEv2Tag = nullptr;
    delete ID3v1Tag;
    ID3v1Tag = nullptr;
}

namespace {

// StripNulls of bytes not yet in a string: the runs between NUL bytes are copied whole.
void AppendWithoutNulls(TByteString& out, const char* text, size_t size) {
    const char* end = text + size;
    while (text < end) {
        const char* nul = static_cast<const char*>(std::memchr(text, 0, end - text));
        const char* stop = nul ? nul : end;
        out.append(text, stop - text);
        text = nul ? nul + 1 : end;
    }
}

} // namespace

TByteString StripNulls(const TByteString& text) {
    TByteString out;
    out.reserve(text.size());
    AppendWithoutNulls(out, text.data(), text.size());
    return out;
}

void PutBigEndian32(unsigned char* buffer, uint32_t value) {
    buffer[0] = static_cast<unsigned char>(value >> 24);
    buffer[1] = static_cast<unsigned char>(value >> 16);
    buffer[2] = static_cast<unsigned char>(value >> 8);
    buffer[3] = static_cast<unsigned char>(value);
}

void PutSyncSafe32(unsigned char* buffer, uint32_t value) {
    buffer[0] = (value >> 21) & 0x7F;
    buffer[1] = (value >> 14) & 0x7F;
    buffer[2] = (value >> 7) & 0x7F;
    buffer[3] = value & 0x7F;
}

int32_t GetSyncSafe32(const unsigned char* b) {
    return ((b[0] & 0x7F) << 21) | ((b[1] & 0x7F) << 14) | ((b[2] & 0x7F) << 7) | (b[3] & 0x7F);
}

namespace {

uint32_t GetBigEndian32(const unsigned char* b) {
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

// Bytes up to the first NUL among the first `count`.
std::string UpToNul(const unsigned char* bytes, size_t count) {
    size_t n = 0;
    while (n < count && bytes[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(bytes), n);
}

bool IsCommentOrLyrics(const std::string& id) {
    return id == "COMM" || id == "SYLT" || id == "USLT";
}

// Reads the tag in one go and hands out the header and the frames from memory: one read for the
// whole tag instead of two per frame (zero padding alone is a frame every 10 bytes). The first
// read takes the head of the file up to kFirstRead bytes, which holds the header and, unless a
// picture makes it larger, the whole tag; a larger tag costs one more read. A frame that starts
// inside the region but ends past it makes the window grow, never past the end of the file.
class TTagWindow {
  public:
    static constexpr int64_t kFirstRead = 4096; // one page

    TTagWindow(TFileStream& file, int64_t fileSize) : file_(file), fileSize_(fileSize) {
        Fill(std::min(fileSize, kFirstRead));
    }
    // Bytes [pos, pos + count), or nullptr when the file ends before them.
    const unsigned char* Take(int64_t pos, int64_t count) {
        if (count > fileSize_ - pos) return nullptr;
        if (pos + count > static_cast<int64_t>(bytes_.size())) Fill(pos + count);
        return reinterpret_cast<const unsigned char*>(bytes_.data()) + pos;
    }
    // Reads ahead up to `end` (bounded by the file), so that the frames below it come from memory.
    void Reserve(int64_t end) { Fill(std::min(end, fileSize_)); }

  private:
    void Fill(int64_t end) {
        size_t have = bytes_.size();
        if (end <= static_cast<int64_t>(have)) return;
        bytes_.resize(static_cast<size_t>(end));
        file_.Seek(static_cast<int64_t>(have));
        file_.ReadBuffer(bytes_.data() + have, bytes_.size() - have);
    }

    TFileStream& file_;
    int64_t fileSize_;
    std::string bytes_;
};

} // namespace

TID3v2Tag::TID3v2Tag() = default;
TID3v2Tag::~TID3v2Tag() = default;

int TID3v2Tag::IndexOfId(const TByteString& id) const {
    for (size_t i = 0; i < FrameIds.size(); ++i)
        if (platform::SameText(FrameIds[i], id)) return static_cast<int>(i);
    return -1;
}

void TID3v2Tag::ReadFromFile(const std::string& fileName) {
    Reset(fileName);
    TFileStream file(fileName, platform::TOpenMode::Read, platform::TShareMode::DenyNone);
    ReadTag(file);
    file.Close();
}

void TID3v2Tag::ReadFromOpenFile(TFileStream& file) {
    Reset(file.FileName());
    ReadTag(file);
}

void TID3v2Tag::Reset(const std::string& fileName) {
    Loaded = false;
    FileName = fileName;
    Exists = false;
    TagSize = 0;
    FrameIds.clear();
    FramePayloads.clear();
    ReadError.clear();
    std::memset(Header, 0, sizeof Header);
    std::memset(FrameHeader, 0, sizeof FrameHeader);
}

void TID3v2Tag::ReadTag(TFileStream& file) {
    const int64_t fileSize = file.Size();
    // A file too short for a whole header has no tag; it is not a damaged one.
    if (fileSize < 10) {
        Loaded = true;
        return;
    }
    TTagWindow tag(file, fileSize);
    std::memcpy(Header, tag.Take(0, 10), 10);
    Exists = UpToNul(Header, 3) == "ID3";
    if (Exists) {
        TagSize = GetSyncSafe32(Header + 6);
        tag.Reserve(TagSize);
        int64_t pos = 10;
        while (TagSize > pos) {
            const unsigned char* header = tag.Take(pos, 10);
            if (!header) {
                ReadError =
                    "the file ends inside the frame header at offset " + std::to_string(pos);
                break;
            }
            std::memcpy(FrameHeader, header, 10);
            const uint32_t size = GetBigEndian32(FrameHeader + 4);
            const unsigned char* data = size < 0x80000000u ? tag.Take(pos + 10, size) : nullptr;
            if (!data) {
                ReadError = "the frame at offset " + std::to_string(pos) + " claims " +
                            std::to_string(size) + " bytes, more than the file holds";
                break;
            }
            pos += 10 + static_cast<int64_t>(size);

            const std::string id = UpToNul(FrameHeader, 4);
            if (id.empty()) continue; // zero padding and empty ids store nothing
            const char* bytes = reinterpret_cast<const char*>(data);
            const bool picture = id == "TPIC" || id == "APIC";

            const int k = IndexOfId(id);
            if (k == -1 || id == "APIC") {
                TByteString payload;
                if (picture) {
                    payload.assign(bytes, size);
                } else {
                    payload.reserve(size);
                    AppendWithoutNulls(payload, bytes, size);
                    if (IsCommentOrLyrics(id))
                        payload.erase(0, std::min<size_t>(3, payload.size()));
                }
                FrameIds.push_back(id);
                FramePayloads.push_back(std::move(payload));
            } else if (picture) { // a repeated id: the pieces of a long text join again
                FramePayloads[k].append(bytes, size);
            } else {
                AppendWithoutNulls(FramePayloads[k], bytes, size);
            }
        }
    }
    Loaded = ReadError.empty();
}

namespace {

bool IsPicture(std::string_view id) {
    return id == "APIC" || id == "TPIC";
}

TByteString BytesAt(const char* data, int size) {
    if (!data || size <= 0) return {};
    return TByteString(data, static_cast<size_t>(size));
}

// Appends the frames of one entry to `out`, building each header in `header` (10 bytes).
void AppendFrames(std::string_view id, std::string_view data, TByteString& out,
                  unsigned char* header) {
    if (id.empty()) return;
    std::memset(header, 0, 10);
    std::memcpy(header, id.data(), std::min<size_t>(4, id.size()));
    auto append = [&](std::string_view piece) {
        PutBigEndian32(header + 4, static_cast<uint32_t>(piece.size() + 1));
        out.append(reinterpret_cast<const char*>(header), 10);
        out += '\0';
        out.append(piece);
    };
    // A picture is never split: a reader must find it whole in one frame. An empty one still
    // gets its frame, so the entry survives the save.
    if (IsPicture(id)) {
        append(data);
        return;
    }
    for (size_t at = 0; at < data.size(); at += kPieceSize)
        append(data.substr(at, kPieceSize));
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

// False when the file's first 10 bytes are no longer `header`. A file that cannot be opened now
// is left to the rewrite, which refuses it with its own message.
bool HeaderStillReads(const std::string& fileName, const unsigned char* header) {
    unsigned char now[10] = {};
    try {
        TFileStream file(fileName, platform::TOpenMode::Read, platform::TShareMode::DenyNone);
        return file.ReadSome(now, 10) == 10 && std::memcmp(now, header, 10) == 0;
    } catch (const platform::EPlatformError&) {
        return true;
    }
}

} // namespace

TByteString RenderFrames(const TByteString& id, const TByteString& data) {
    TByteString out;
    unsigned char header[10];
    AppendFrames(id, data, out, header);
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
    for (size_t i = 0; i < FrameIds.size(); ++i) {
        const TByteString& id = FrameIds[i];
        std::string_view payload = FramePayloads[i];
        if (IsCommentOrLyrics(id)) {
            AppendFrames(id, TByteString("chi", 4) + FramePayloads[i], tag, FrameHeader);
        } else if (IsPicture(id)) {
            // The writer puts the encoding byte in front itself; one already there is not doubled.
            if (!payload.empty() && payload[0] == '\0') payload.remove_prefix(1);
            AppendFrames(id, payload, tag, FrameHeader);
        } else {
            AppendFrames(id, payload, tag, FrameHeader);
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
    if (lock.Held() && Exists && !HeaderStillReads(FileName, Header))
        throw platform::EPlatformError("The ID3v2 tag of '" + FileName +
                                       "' was changed by another program since it was read; "
                                       "nothing written, read the file again");
    // Built apart from Header, which keeps the header as read until the file is read again.
    BuildHeader(reinterpret_cast<unsigned char*>(tag.data()), static_cast<uint32_t>(tag.size()));

    const int64_t oldTagEnd = TagSize;
    const bool written = RewriteFile(FileName, [&](TFileStream& backup, TFileStream& target) {
        target.WriteBuffer(tag.data(), tag.size());
        CopyTail(backup, target, oldTagEnd);
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
    SaveToFile();
}

void TID3v2Tag::DeleteFrame(int index) {
    if (!Loaded || index < 0 || index >= static_cast<int>(FrameIds.size())) return;
    FrameIds.erase(FrameIds.begin() + index);
    FramePayloads.erase(FramePayloads.begin() + index);
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
        CopyTail(backup, target, oldTagEnd);
    });
    if (written) ReadAgainAfterRewrite();
}

bool IsFrameIdText(const TByteString& id) {
    if (id.size() != 3 && id.size() != 4) return false;
    for (char c : id)
        if (!(c >= 'A' && c <= 'Z') && !(c >= '0' && c <= '9')) return false;
    return true;
}

std::optional<TNewFrame> PrepareNewFrame(const TByteString& typedId) {
    TByteString id = typedId;
    for (size_t i = 0; i < id.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(id[i]);
        if (c >= 0x81 && c <= 0xFE && i + 1 < id.size()) {
            ++i; // a double-byte character: its trail byte may look like a letter
            continue;
        }
        if (c >= 'a' && c <= 'z') id[i] = static_cast<char>(c - 'a' + 'A');
    }
    // Other programs skip or stop at an id of any other bytes.
    if (id.size() != 4 || !IsFrameIdText(id)) {
        ShowMessage(kMsgNewTagNeedsFourChars + platform::Cp936ToUtf8(id));
        return std::nullopt;
    }
    // APIC: MIME type, its terminator, picture type 3 (front cover), the terminator of an empty
    // description, and no picture yet.
    TNewFrame frame;
    frame.Id = id;
    frame.Payload = id == "APIC" ? TByteString("image/jpeg\0\x03\0", 13) : TByteString(2, '\0');
    return frame;
}
