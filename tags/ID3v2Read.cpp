// Reading: the tag header, the frames of every version and their forms, into the frame store.
#include "ID3v2Tags.h"

#include "CodePage.h"
#include "ID3v2Internal.h"
#include "ID3v2Text.h"
#include "PlatformFile.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <zlib.h>

using platform::TFileStream;
using namespace id3v2;

namespace {

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

// The data of a compressed frame: exactly `length` bytes (the frame's data length indicator),
// and no more than `budget`, what is left of the read's inflate limit. False when the stream is
// not whole, not of that length or over the budget: no buffer larger than the budget is made, so
// a small frame that claims megabytes (a decompression bomb) stays compressed.
bool Inflate(std::string_view packed, uint32_t length, int64_t& budget, std::string& out) {
    // Deflate shrinks by 1032 to 1 at the most: a larger claim is false.
    if (length > budget || length > packed.size() * 1032 + 64) return false;
    out.resize(length);
    uLongf size = length;
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                   reinterpret_cast<const Bytef*>(packed.data()), packed.size()) != Z_OK ||
        size != length) {
        out = std::string();
        return false;
    }
    budget -= length;
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
    inflateLeft_ = InflateLimit;
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
                    GetSyncSafe32(reinterpret_cast<const unsigned char*>(data.data())),
                    inflateLeft_, inflated)) {
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
                // The entry holds the frame's data as it is written back, so that a save and a
                // new read give the same entry.
                data = std::string_view(origin->Frame).substr(10);
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
