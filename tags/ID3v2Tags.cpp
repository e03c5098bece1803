#include "ID3v2Tags.h"

#include "CodePage.h"
#include "ID3v1Tags.h"
#include "PlatformFile.h"
#include "uAPEv2Tag.h"

#include <cstring>

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

TByteString StripNulls(const TByteString& text) {
    TByteString out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\0') out += c;
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
    while (n < count && bytes[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(bytes), n);
}

bool IsCommentOrLyrics(const std::string& id) {
    return id == "COMM" || id == "SYLT" || id == "USLT";
}

// Reads the tag region in one go and hands out frames from memory: one read for the whole tag
// instead of two per frame (zero padding alone is a frame every 10 bytes). A frame that starts
// inside the region but ends past it makes the window grow, never past the end of the file.
class TTagWindow {
  public:
    TTagWindow(TFileStream& file, int64_t fileSize, int64_t regionEnd)
        : file_(file), fileSize_(fileSize) {
        Fill(std::min(regionEnd, fileSize));
    }
    // Bytes [pos, pos + count), or nullptr when the file ends before them.
    const unsigned char* Take(int64_t pos, int64_t count) {
        if (count > fileSize_ - pos) return nullptr;
        if (pos + count > static_cast<int64_t>(bytes_.size())) Fill(pos + count);
        return reinterpret_cast<const unsigned char*>(bytes_.data()) + pos;
    }

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
    Loaded = false;
    FileName = fileName;
    Exists = false;
    TagSize = 0;
    FrameIds.clear();
    FramePayloads.clear();
    ReadError.clear();
    std::memset(Header, 0, sizeof Header);
    std::memset(FrameHeader, 0, sizeof FrameHeader);

    TFileStream file(fileName, platform::TOpenMode::Read, platform::TShareMode::DenyNone);
    const int64_t fileSize = file.Size();
    // A file too short for a whole header has no tag; it is not a damaged one.
    if (fileSize < 10) {
        Loaded = true;
        return;
    }
    file.ReadBuffer(Header, 10);
    Exists = UpToNul(Header, 3) == "ID3";
    if (Exists) {
        TagSize = GetSyncSafe32(Header + 6);
        TTagWindow tag(file, fileSize, TagSize);
        int64_t pos = 10;
        while (TagSize > pos) {
            const unsigned char* header = tag.Take(pos, 10);
            if (!header) {
                ReadError = "the file ends inside the frame header at offset " +
                            std::to_string(pos);
                break;
            }
            std::memcpy(FrameHeader, header, 10);
            const uint32_t size = GetBigEndian32(FrameHeader + 4);
            const unsigned char* data =
                size < 0x80000000u ? tag.Take(pos + 10, size) : nullptr;
            if (!data) {
                ReadError = "the frame at offset " + std::to_string(pos) + " claims " +
                            std::to_string(size) + " bytes, more than the file holds";
                break;
            }
            pos += 10 + static_cast<int64_t>(size);

            const std::string id = UpToNul(FrameHeader, 4);
            TByteString payload(reinterpret_cast<const char*>(data), size);
            if (id != "TPIC" && id != "APIC") payload = StripNulls(payload);
            if (id.empty()) continue; // zero padding and empty ids store nothing

            const int k = IndexOfId(id);
            if (k == -1) {
                if (IsCommentOrLyrics(id)) payload.erase(0, std::min<size_t>(3, payload.size()));
                FrameIds.push_back(id);
                FramePayloads.push_back(std::move(payload));
            } else if (id == "APIC") {
                FrameIds.push_back(id);
                FramePayloads.push_back(std::move(payload));
            } else {
                FramePayloads[k] += payload; // the pieces of a long text join again
            }
        }
    }
    file.Close();
    Loaded = ReadError.empty();
}

// The writing side comes with the rewrite of the file.
void TID3v2Tag::SaveToFile() {}
int TID3v2Tag::WriteFrame(const TByteString&, const TByteString&, platform::TFileStream&) {
    return 0;
}
void TID3v2Tag::AddFrame(const TByteString&, const char*, int) {}
void TID3v2Tag::SetFrame(const TByteString&, const char*, int) {}
void TID3v2Tag::ReplaceFrame(const TByteString&, const char*, int, int) {}
void TID3v2Tag::DeleteFrame(int) {}
void TID3v2Tag::RemoveTag() {}
