#include "ID3v2Tags.h"

#include "CodePage.h"
#include "ID3v1Tags.h"
#include "ID3v2Internal.h"
#include "uAPEv2Tag.h"
#include "utPublic.h"

#include <cstring>
#include <string_view>

using namespace id3v2;

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

bool IsPictureId(std::string_view id) {
    return id == "APIC" || id == "TPIC";
}

TID3v2Tag::TID3v2Tag() = default;
TID3v2Tag::~TID3v2Tag() = default;

int TID3v2Tag::IndexOfId(const TByteString& id) const {
    if (!IsAscii(id)) {
        for (size_t i = 0; i < FrameIds.size(); ++i)
            if (platform::SameText(FrameIds[i], id)) return static_cast<int>(i);
        return -1;
    }
    // A list that was replaced or shrunk is indexed afresh; appended entries are added.
    if (indexed_ > FrameIds.size() || indexedList_ != FrameIds.data()) {
        index_.clear();
        indexed_ = 0;
        indexedList_ = FrameIds.data();
    }
    // An ASCII id matches only ASCII ids, so only those are indexed.
    for (; indexed_ < FrameIds.size(); ++indexed_)
        if (IsAscii(FrameIds[indexed_]))
            index_.emplace(AsciiUpper(FrameIds[indexed_]), static_cast<int>(indexed_));
    const auto it = index_.find(AsciiUpper(id));
    if (it == index_.end()) return -1;
    if (platform::SameText(FrameIds[it->second], id)) return it->second;
    // An entry renamed in place: look the slow way and index afresh next time.
    indexed_ = FrameIds.size() + 1;
    for (size_t i = 0; i < FrameIds.size(); ++i)
        if (platform::SameText(FrameIds[i], id)) return static_cast<int>(i);
    return -1;
}

const TFrameOrigin* TID3v2Tag::OriginOf(size_t index) const {
    return UnchangedOrigin(index);
}

std::string TID3v2Tag::DisplayText(size_t index) const {
    const TFrameOrigin* origin = UnchangedOrigin(index);
    if (origin && origin->HasText) return origin->Text;
    return index < FramePayloads.size() ? platform::Cp936ToUtf8(FramePayloads[index])
                                        : std::string();
}

const TFrameOrigin* TID3v2Tag::UnchangedOrigin(size_t index) const {
    const TFrameOrigin* origin = index < FrameOrigins.size() ? FrameOrigins[index].get() : nullptr;
    if (!origin || index >= FrameIds.size() || FrameIds[index] != origin->Id ||
        FramePayloads[index] != origin->PayloadAsRead())
        return nullptr;
    return origin;
}

void TID3v2Tag::Push(TByteString id, TByteString payload, std::unique_ptr<TFrameOrigin> origin) {
    if (origin) {
        origin->Id = id;
        if (origin->Frame.size() >= 10 && std::string_view(origin->Frame).substr(10) == payload)
            origin->PayloadInFrame = true;
        else
            origin->Payload = payload;
        if (FrameOrigins.size() < FrameIds.size()) FrameOrigins.resize(FrameIds.size());
        FrameOrigins.resize(FrameIds.size() + 1);
        FrameOrigins.back() = std::move(origin);
    }
    FrameIds.push_back(std::move(id));
    FramePayloads.push_back(std::move(payload));
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

std::array<TTagStep, 3> RewriteThenStrip(const std::string& path, bool id3v2,
                                         std::function<void()> rewriteId3v2, bool id3v1, bool apev2,
                                         bool readAgain) {
    return {{{id3v2, "ID3v2", std::move(rewriteId3v2)},
             {id3v1, "ID3v1",
              [path, readAgain] {
                  ID3v1Tag->RemoveFromFile(path);
                  if (readAgain) ID3v1Tag->ReadFromFile(path);
              }},
             {apev2, "APEv2", [path, readAgain] {
                  APEv2Tag->ReadFromFile(path);
                  APEv2Tag->RemoveFromFile(path);
                  if (readAgain) APEv2Tag->ReadFromFile(path);
              }}}};
}
