#include "ID3v2Tags.h"

#include "CodePage.h"
#include "ID3v1Tags.h"
#include "ID3v2Text.h"
#include "PlatformFile.h"
#include "uAPEv2Tag.h"
#include "utPublic.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <zlib.h>

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

bool IsPictureId(std::string_view id) {
    return id == "APIC" || id == "TPIC";
}

namespace {

bool IsAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

std::string AsciiUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// Version 2.2's three-letter ids and their version 2.3 names.
const char* Version23Id(std::string_view id) {
    static const std::unordered_map<std::string_view, const char*> map = {
        {"BUF", "RBUF"}, {"CNT", "PCNT"}, {"COM", "COMM"}, {"CRA", "AENC"}, {"ETC", "ETCO"},
        {"EQU", "EQUA"}, {"GEO", "GEOB"}, {"IPL", "IPLS"}, {"LNK", "LINK"}, {"MCI", "MCDI"},
        {"MLL", "MLLT"}, {"PIC", "APIC"}, {"POP", "POPM"}, {"REV", "RVRB"}, {"RVA", "RVAD"},
        {"SLT", "SYLT"}, {"STC", "SYTC"}, {"TAL", "TALB"}, {"TBP", "TBPM"}, {"TCM", "TCOM"},
        {"TCO", "TCON"}, {"TCR", "TCOP"}, {"TDA", "TDAT"}, {"TDY", "TDLY"}, {"TEN", "TENC"},
        {"TFT", "TFLT"}, {"TIM", "TIME"}, {"TKE", "TKEY"}, {"TLA", "TLAN"}, {"TLE", "TLEN"},
        {"TMT", "TMED"}, {"TOA", "TOPE"}, {"TOF", "TOFN"}, {"TOL", "TOLY"}, {"TOR", "TORY"},
        {"TOT", "TOAL"}, {"TP1", "TPE1"}, {"TP2", "TPE2"}, {"TP3", "TPE3"}, {"TP4", "TPE4"},
        {"TPA", "TPOS"}, {"TPB", "TPUB"}, {"TRC", "TSRC"}, {"TRD", "TRDA"}, {"TRK", "TRCK"},
        {"TSI", "TSIZ"}, {"TSS", "TSSE"}, {"TT1", "TIT1"}, {"TT2", "TIT2"}, {"TT3", "TIT3"},
        {"TXT", "TEXT"}, {"TXX", "TXXX"}, {"TYE", "TYER"}, {"UFI", "UFID"}, {"ULT", "USLT"},
        {"WAF", "WOAF"}, {"WAR", "WOAR"}, {"WAS", "WOAS"}, {"WCM", "WCOM"}, {"WCP", "WCOP"},
        {"WPB", "WPUB"}, {"WXX", "WXXX"}, {"TCP", "TCMP"}, {"TST", "TSOT"}, {"TSP", "TSOP"},
        {"TSA", "TSOA"}, {"TS2", "TSO2"}, {"TSC", "TSOC"},
    };
    const auto it = map.find(id);
    return it == map.end() ? nullptr : it->second;
}

// A version 2.2 picture (encoding, three-letter image format, type, description, data) as an
// APIC payload: the image format becomes a MIME type.
std::string PictureFromVersion22(std::string_view data) {
    if (data.size() < 5) return std::string(data);
    std::string format =
        AsciiUpper(UpToNul(reinterpret_cast<const unsigned char*>(data.data()) + 1, 3));
    std::string mime = format == "JPG" ? "image/jpeg" : format == "-->" ? "-->" : "image/";
    if (mime == "image/")
        for (char c : format)
            mime += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    std::string out(1, data[0]);
    out += mime;
    out += '\0';
    out.append(data.substr(4));
    return out;
}

bool IsTextId(std::string_view id) {
    return (!id.empty() && (id[0] == 'T' || id[0] == 'W') && id != "TPIC") || id == "COMM" ||
           id == "USLT";
}

// The encoding byte of a frame whose layout carries one, or -1.
int EncodingOf(std::string_view id, std::string_view data) {
    const bool carries = (!id.empty() && id[0] == 'T' && id != "TPIC") || id == "WXXX" ||
                         id == "COMM" || id == "USLT" || id == "APIC";
    if (!carries || data.empty()) return -1;
    const unsigned char e = data[0];
    return e <= 3 ? e : -1;
}

// Offset behind the description's terminator of a frame laid out as encoding, `head` bytes,
// description; sets `text` to the decoded description.
size_t Description(int encoding, std::string_view data, size_t head, std::string& text) {
    if (data.size() <= head) return data.size();
    size_t next;
    const size_t end = id3text::StringEnd(encoding, data, head, next);
    text = id3text::Decode(encoding, data.substr(head, end - head));
    return next;
}

std::string Labelled(const std::string& label, const std::string& text) {
    return label.empty() ? text : "[" + label + "] " + text;
}

// The frame's text by its layout, as UTF-8.
std::string TextOf(std::string_view id, int encoding, std::string_view data) {
    std::string label;
    if (id == "COMM" || id == "USLT") {
        const size_t at = Description(encoding, data, 4, label);
        size_t next;
        const size_t from = std::min(at, data.size());
        const size_t end = id3text::StringEnd(encoding, data, from, next);
        return Labelled(label, id3text::Decode(encoding, data.substr(from, end - from)));
    }
    if (id == "TXXX" || id == "WXXX") {
        const size_t at = std::min(Description(encoding, data, 1, label), data.size());
        const std::string value =
            id == "TXXX"
                ? id3text::DecodeAll(encoding, data.substr(at))
                : platform::Cp936ToUtf8(UpToNul(
                      reinterpret_cast<const unsigned char*>(data.data()) + at, data.size() - at));
        return Labelled(label, value);
    }
    if (id == "APIC") {
        const size_t mimeEnd = data.find('\0', 1);
        if (mimeEnd == std::string_view::npos) return {};
        Description(encoding, data, mimeEnd + 2, label);
        return label;
    }
    if (encoding < 0) // a URL: one string in the single-byte encoding
        return platform::Cp936ToUtf8(
            UpToNul(reinterpret_cast<const unsigned char*>(data.data()), data.size()));
    return id3text::DecodeAll(encoding, data.substr(1));
}

// A UTF-8 frame as version 2.3 has it: UTF-16 instead. The fields that are not text (language,
// MIME type, picture type, URL, picture) stay as they are.
std::string Utf8ToUtf16Frame(std::string_view id, std::string_view data) {
    std::string out(1, '\1');
    auto descriptionAndRest = [&](size_t head, bool restIsText) {
        const size_t nul = data.find('\0', head);
        if (restIsText || nul == std::string_view::npos) {
            out += id3text::Utf8ToUtf16(data.substr(head));
        } else {
            out += id3text::Utf8ToUtf16(data.substr(head, nul + 1 - head));
            out.append(data.substr(nul + 1));
        }
    };
    if (id == "COMM" || id == "USLT") {
        if (data.size() < 4) return std::string(data);
        out.append(data.substr(1, 3));
        descriptionAndRest(4, true);
    } else if (id == "WXXX") {
        descriptionAndRest(1, false);
    } else if (id == "APIC") {
        const size_t mimeEnd = data.find('\0', 1);
        if (mimeEnd == std::string_view::npos || mimeEnd + 2 > data.size())
            return std::string(data);
        out.append(data.substr(1, mimeEnd + 1));
        descriptionAndRest(mimeEnd + 2, false);
    } else {
        descriptionAndRest(1, true);
    }
    return out;
}

// The data of a compressed frame: at most `length` bytes (the frame's data length indicator), no
// more than a tag can hold. False when the stream is not whole or not of that length.
bool Inflate(std::string_view packed, uint32_t length, std::string& out) {
    // Deflate shrinks by 1032 to 1 at the most: a larger claim is false, and no buffer of it is
    // made.
    if (length > kMaxTagSize || length > packed.size() * 1032 + 64) return false;
    out.resize(length);
    uLongf size = length;
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                   reinterpret_cast<const Bytef*>(packed.data()), packed.size()) != Z_OK ||
        size != length)
        return false;
    return true;
}

std::string Frame23(std::string_view id, std::string_view data, unsigned char flags0 = 0,
                    unsigned char flags1 = 0) {
    std::string out(10, '\0');
    std::memcpy(out.data(), id.data(), std::min<size_t>(4, id.size()));
    PutBigEndian32(reinterpret_cast<unsigned char*>(out.data()) + 4,
                   static_cast<uint32_t>(data.size()));
    out[8] = static_cast<char>(flags0);
    out[9] = static_cast<char>(flags1);
    out.append(data);
    return out;
}

// A piece as the writer makes it: the encoding byte 0 and text without NUL bytes.
bool IsOwnPiece(std::string_view data) {
    return !data.empty() && data[0] == '\0' && data.find('\0', 1) == std::string_view::npos;
}

// Whether the writer, given this id and payload, writes this frame data back (its first piece).
bool IsOwnForm(std::string_view id, std::string_view data, std::string_view payload) {
    if (data.empty() || data[0] != '\0') return false;
    if (IsPictureId(id)) return true;
    // An empty text is dropped by the next save, as nothing of it reaches a reader either.
    if (payload.empty()) return !IsCommentOrLyrics(std::string(id)) || data.size() <= 5;
    if (data.size() > kPieceSize + 1) return false;
    if (IsCommentOrLyrics(std::string(id)))
        return data.size() >= 5 && data.substr(0, 5) == std::string_view("\0chi\0", 5) &&
               data.substr(5) == payload;
    return data.substr(1) == payload;
}

} // namespace

struct TID3v2Tag::TFrameIn {
    std::string Id;
    int Version = 3;     // 2, 3 or 4: the layout of the frame
    unsigned Status = 0; // the two flag bytes of a 10-byte frame header
    unsigned Format = 0;
    bool TagUnsync = false; // version 2.4: the tag header says every frame is unsynchronised
    std::string_view Data;
    std::string_view Whole; // header and data, as they lie in the tag
};

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
    TagEnd = 0;
    FrameIds.clear();
    FramePayloads.clear();
    FrameOrigins.clear();
    index_.clear();
    indexed_ = 0;
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
        TagEnd = TagSize;
        const int version = Header[3];
        const int flags = Header[5];
        // Version 2.3 without unsynchronisation or an extended header may be the program's own
        // form, whose size counts the header: it is walked as before. Every other tag counts its
        // size without the header and is read to its real end.
        if (TagSize > 10 && (version == 2 || version == 4 || (version == 3 && (flags & 0xC0)))) {
            // A file cut inside the tag is damaged: what is missing cannot be written back.
            if (int64_t(TagSize) + 10 > fileSize)
                ReadError =
                    "the tag's size runs past the end of the file at " + std::to_string(fileSize);
            const int64_t end = std::min<int64_t>(int64_t(TagSize) + 10, fileSize);
            const unsigned char* raw = tag.Take(10, end - 10);
            const std::string_view region(reinterpret_cast<const char*>(raw), end - 10);
            if (version != 4 && (flags & 0x80)) {
                const std::string body = id3text::Deunsynchronise(region);
                ReadFrames(body, version, flags);
            } else {
                ReadFrames(region, version, flags);
            }
            TagEnd = end;
            if (version == 4 && (flags & 0x10)) TagEnd = std::min<int64_t>(end + 10, fileSize);
        } else {
            tag.Reserve(TagSize);
            int64_t pos = 10;
            int64_t framesEnd = 10; // padding passed over 10 bytes at a time does not count
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
                if (FrameHeader[0] != 0) framesEnd = pos;
                TFrameIn in;
                in.Id = UpToNul(FrameHeader, 4);
                in.Status = FrameHeader[8];
                in.Format = FrameHeader[9];
                in.Data = std::string_view(reinterpret_cast<const char*>(data), size);
                in.Whole = std::string_view(reinterpret_cast<const char*>(data) - 10, size + 10);
                TakeFrame(in);
            }
            TagEnd = std::max<int64_t>(TagSize, framesEnd);
        }
    }
    Loaded = ReadError.empty();
}

void TID3v2Tag::ReadFrames(std::string_view body, int version, int flags) {
    size_t pos = 0;
    if (flags & 0x40) {
        if (version == 2) {
            ReadError = "the version 2.2 tag is compressed";
            return;
        }
        const auto* b = reinterpret_cast<const unsigned char*>(body.data());
        const uint64_t size = body.size() < 4 ? UINT64_MAX
                              : version == 3  ? 4 + uint64_t(GetBigEndian32(b))
                                              : GetSyncSafe32(b);
        if (size > body.size()) {
            ReadError = "the extended header runs past the end of the tag";
            return;
        }
        pos = static_cast<size_t>(size);
    }
    const size_t headerSize = version == 2 ? 6 : 10;
    while (pos + headerSize <= body.size() && body[pos] != '\0') { // a NUL id starts the padding
        const auto* h = reinterpret_cast<const unsigned char*>(body.data()) + pos;
        TFrameIn in;
        in.Id = UpToNul(h, version == 2 ? 3 : 4);
        in.Version = version;
        uint32_t size;
        if (version == 2) {
            size = (uint32_t(h[3]) << 16) | (uint32_t(h[4]) << 8) | h[5];
        } else {
            std::memcpy(FrameHeader, h, 10);
            in.Status = h[8];
            in.Format = h[9];
            // Some writers put plain sizes into version 2.4 frames; a sync-safe size has no top
            // bits.
            const bool plain = version == 3 || ((h[4] | h[5] | h[6] | h[7]) & 0x80);
            size = plain ? GetBigEndian32(h + 4) : static_cast<uint32_t>(GetSyncSafe32(h + 4));
            in.TagUnsync = version == 4 && (flags & 0x80);
        }
        if (size > body.size() - pos - headerSize) {
            ReadError = "the frame at offset " + std::to_string(pos + 10) + " claims " +
                        std::to_string(size) + " bytes, more than the tag holds";
            return;
        }
        in.Data = body.substr(pos + headerSize, size);
        in.Whole = body.substr(pos, headerSize + size);
        TakeFrame(in);
        pos += headerSize + size;
    }
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

void TID3v2Tag::TakeFrame(const TFrameIn& in) {
    std::string id = in.Id;
    if (id.empty()) return; // zero padding and empty ids store nothing
    std::string_view data = in.Data;
    std::string undone; // the data with the frame's format undone, when that changes it
    auto origin = std::make_unique<TFrameOrigin>();
    using TAccess = TFrameOrigin::TAccess;

    if (in.Version == 2) {
        const char* id23 = Version23Id(id);
        if (!id23) {
            origin->Access = TAccess::Unwritable;
            Push(id, IsPictureId(id) ? TByteString(data) : StripNulls(TByteString(data)),
                 std::move(origin));
            return;
        }
        id = id23;
        if (id == "APIC") data = undone = PictureFromVersion22(data);
    } else if (in.Version == 4) {
        if ((in.Format & 0x02) || in.TagUnsync) data = undone = id3text::Deunsynchronise(data);
        const bool grouped = in.Format & 0x40, compressed = in.Format & 0x08,
                   encrypted = in.Format & 0x04, lengthGiven = in.Format & 0x01;
        // A compressed frame is inflated, so that it is read and written as any other frame
        // (version 2.3 readers such as ffmpeg's skip compressed frames).
        std::string inflated;
        if (compressed && !grouped && !encrypted && lengthGiven && data.size() >= 4 &&
            Inflate(data.substr(4),
                    GetSyncSafe32(reinterpret_cast<const unsigned char*>(data.data())), inflated)) {
            undone = std::move(inflated);
            data = undone;
        } else if (grouped || compressed || encrypted) {
            origin->Access = TAccess::Compressed;
            // Version 2.3 has compression too: its length field is plain, not sync-safe.
            if (compressed && !grouped && !encrypted && lengthGiven && data.size() >= 4) {
                unsigned char length[4];
                PutBigEndian32(length,
                               GetSyncSafe32(reinterpret_cast<const unsigned char*>(data.data())));
                origin->Frame = Frame23(id,
                                        std::string(reinterpret_cast<char*>(length), 4) +
                                            std::string(data.substr(4)),
                                        0, 0x80);
            }
            Push(id, IsPictureId(id) ? TByteString(data) : StripNulls(TByteString(data)),
                 std::move(origin));
            return;
        } else if (lengthGiven)
            data.remove_prefix(std::min<size_t>(4, data.size()));
    } else if (in.Format & 0xE0) { // version 2.3 compression, encryption or grouping
        origin->Access = TAccess::Compressed;
        origin->Frame = TByteString(in.Whole);
        Push(id, IsPictureId(id) ? TByteString(data) : StripNulls(TByteString(data)),
             std::move(origin));
        return;
    }

    const bool picture = IsPictureId(id);
    const int k = id == "APIC" ? -1 : IndexOfId(id);
    if (k != -1 && id == "TPIC") { // the rules join TPIC frames whole
        FramePayloads[k].append(data);
        return;
    }
    // The further pieces of a long text the writer split join their entry again; every other
    // repeated frame (TXXX, COMM with its own description, PRIV, ...) is an entry of its own.
    if (k != -1 && !OriginOf(k) && IsOwnPiece(data)) {
        AppendWithoutNulls(FramePayloads[k], data.data(), data.size());
        return;
    }

    const int encoding = EncodingOf(id, data);
    TByteString payload;
    if (picture) {
        payload.assign(data);
    } else if (id == "COMM" || id == "USLT") {
        // By its layout: encoding byte, three language bytes whatever they hold, description, text.
        AppendWithoutNulls(payload, data.data() + std::min<size_t>(4, data.size()),
                           data.size() - std::min<size_t>(4, data.size()));
    } else {
        payload.reserve(data.size());
        AppendWithoutNulls(payload, data.data(), data.size());
        if (IsCommentOrLyrics(id)) payload.erase(0, std::min<size_t>(3, payload.size()));
    }

    const std::string converted = encoding == 3 ? Utf8ToUtf16Frame(id, data) : std::string();
    const std::string_view data23 = encoding == 3 ? std::string_view(converted) : data;
    const bool sameHeader = in.Version == 3 && in.Status == 0 && in.Format == 0;
    if (IsOwnForm(id, data23, payload) && (sameHeader || in.Version != 3)) {
        Push(id, std::move(payload), nullptr);
        return;
    }
    // A version 2.3 frame goes back as it was, status flags included.
    origin->Frame = in.Version == 3 && encoding != 3 && undone.empty() ? TByteString(in.Whole)
                                                                       : Frame23(id, data23);
    origin->Encoding = encoding;
    if (encoding >= 0 || (IsTextId(id) && id[0] == 'W')) {
        origin->HasText = true;
        origin->Text = TextOf(id, encoding, data);
    } else if (!IsTextId(id) && !picture) {
        origin->Access = TAccess::Binary;
    }
    Push(id, std::move(payload), std::move(origin));
}

namespace {

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
    if (IsPictureId(id)) {
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

// False when the first 10 bytes of the file the writer lock holds are no longer `header`.
bool HeaderStillReads(const TWriterLock& lock, const std::string& fileName,
                      const unsigned char* header) {
    unsigned char now[10] = {};
    const int fd = lock.Reopen(O_RDONLY);
    if (fd < 0) platform::RaiseError("Cannot open file", fileName, errno);
    TFileStream file(fd, fileName, platform::TOpenMode::Read, platform::TShareMode::DenyNone);
    return file.ReadSome(now, 10) == 10 && std::memcmp(now, header, 10) == 0;
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
        if (const TFrameOrigin* origin = UnchangedOrigin(i)) {
            // What the user did not change goes back as it was, in its own encoding.
            if (origin->Frame.empty()) {
                ShowMessage(kMsgFrameNotWritable + platform::Cp936ToUtf8(id));
                return;
            }
            tag += origin->Frame;
        } else if (IsCommentOrLyrics(id)) {
            AppendFrames(id, TByteString("chi", 4) + FramePayloads[i], tag, FrameHeader);
        } else if (IsPictureId(id)) {
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
    const bool written = RewriteFile(FileName, [&](TFileStream& backup, TFileStream& target) {
        target.WriteBuffer(tag.data(), tag.size());
        if (oldReadEnd > oldTagEnd) {
            // The old tag ran past its size field (a last frame over it, a tag that counts its
            // size without the header, a footer): none of it may stay behind as junk. Readers
            // that take the new size without the header find these 10 bytes as padding.
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
