// Reading: the tag header, the frames of every version and their forms, into the frame store.
#include "ID3v2Tags.h"

#include "CodePage.h"
#include "ID3v2Internal.h"
#include "ID3v2Text.h"
#include "PlatformFile.h"
#include "utJournal.h"

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
        {"TSA", "TSOA"}, {"TS2", "TSO2"}, {"TSC", "TSOC"}, {"GP1", "GRP1"}, {"MVN", "MVNM"},
        {"MVI", "MVIN"}, {"PCS", "PCST"}, {"TCT", "TCAT"}, {"TDS", "TDES"}, {"TID", "TGID"},
        {"TKW", "TKWD"}, {"WFD", "WFED"},
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
    if (format.empty()) {
        // No format given: the picture's own first bytes tell it, or the type stays unknown.
        size_t at;
        id3text::StringEnd(static_cast<unsigned char>(data[0]), data, 5, at);
        const std::string_view picture = data.substr(at);
        mime = picture.substr(0, 3) == "\xFF\xD8\xFF" ? "image/jpeg"
               : picture.substr(0, 4) == "\x89PNG"    ? "image/png"
               : picture.substr(0, 3) == "GIF"        ? "image/gif"
               : picture.substr(0, 2) == "BM"         ? "image/bmp"
                                                      : "";
    } else if (mime == "image/") {
        for (char c : format)
            mime += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
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
size_t Description(int encoding, std::string_view data, size_t head, std::string& text,
                   platform::TCodePage cp) {
    if (data.size() <= head) return data.size();
    size_t next;
    const size_t end = id3text::StringEnd(encoding, data, head, next);
    text = id3text::Decode(encoding, data.substr(head, end - head), cp);
    return next;
}

std::string Labelled(const std::string& label, const std::string& text) {
    return label.empty() ? text : "[" + label + "] " + text;
}

// The frame's text by its layout, as UTF-8; encoding 0 and URLs read in `cp`.
std::string TextOf(std::string_view id, int encoding, std::string_view data,
                   platform::TCodePage cp = platform::TCodePage::Gbk) {
    std::string label;
    if (id == "COMM" || id == "USLT") {
        const size_t at = Description(encoding, data, 4, label, cp);
        size_t next;
        const size_t from = std::min(at, data.size());
        const size_t end = id3text::StringEnd(encoding, data, from, next);
        return Labelled(label, id3text::Decode(encoding, data.substr(from, end - from), cp));
    }
    if (id == "TXXX" || id == "WXXX") {
        const size_t at = std::min(Description(encoding, data, 1, label, cp), data.size());
        const std::string value =
            id == "TXXX" ? id3text::DecodeAll(encoding, data.substr(at), cp)
                         : platform::LegacyToUtf8(
                               cp, UpToNul(reinterpret_cast<const unsigned char*>(data.data()) + at,
                                           data.size() - at));
        return Labelled(label, value);
    }
    if (id == "APIC") {
        const size_t mimeEnd = data.find('\0', 1);
        if (mimeEnd == std::string_view::npos) return {};
        Description(encoding, data, mimeEnd + 2, label, cp);
        return label;
    }
    if (encoding < 0) // a URL: one string in the single-byte encoding
        return platform::LegacyToUtf8(
            cp, UpToNul(reinterpret_cast<const unsigned char*>(data.data()), data.size()));
    return id3text::DecodeAll(encoding, data.substr(1), cp);
}

// A UTF-8 frame (encoding 3) or a legacy one (encoding 0, in `cp`) as version 2.3 has it in
// Unicode: UTF-16 instead. The fields that are not text (language, MIME type, picture type, URL,
// picture) stay as they are. A UTF-8 frame whose text is not well-formed stays as it is:
// converted, its bytes would be lost. With `asciiAsIs`, a UTF-8 frame whose texts are all ASCII
// only changes its encoding byte: the same bytes mean the same in the single-byte encoding, and
// the frame keeps its length, so an edit of another frame does not move the ones behind it.
std::string ToUtf16Frame(std::string_view id, std::string_view data, int encoding,
                         platform::TCodePage cp, bool asciiAsIs = false) {
    std::string out(1, '\1');
    bool wellFormed = true, ascii = true;
    auto convert = [&](std::string_view text) {
        if (encoding == 3) {
            wellFormed = wellFormed && platform::IsWellFormedUtf8(text);
            ascii = ascii && std::all_of(text.begin(), text.end(), [](char c) {
                        return static_cast<unsigned char>(c) < 0x80;
                    });
            out += id3text::Utf8ToUtf16(text);
        } else {
            out += id3text::Utf8ToUtf16(platform::LegacyToUtf8(cp, text));
        }
    };
    auto descriptionAndRest = [&](size_t head, bool restIsText) {
        const size_t nul = data.find('\0', head);
        if (restIsText || nul == std::string_view::npos) {
            convert(data.substr(head));
        } else {
            convert(data.substr(head, nul + 1 - head));
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
    // A description without its terminator would read as a text of the program's own form in the
    // single-byte encoding, not as a description: such a frame goes to UTF-16.
    const bool unterminated =
        (id == "TXXX" || id == "WXXX") && data.find('\0', 1) == std::string_view::npos;
    if (asciiAsIs && encoding == 3 && ascii && !unterminated)
        return std::string(1, '\0') + std::string(data.substr(1));
    return wellFormed ? out : std::string(data);
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
    // An empty text; frames that are not text (a count of 0, a rating of 0) are data.
    if (payload.empty())
        return IsCommentOrLyrics(std::string(id)) ? data.size() <= 5 : IsTextId(id);
    if (data.size() > kPieceSize + 1) return false;
    if (IsCommentOrLyrics(std::string(id)))
        return data.size() >= 5 && data.substr(0, 5) == std::string_view("\0chi\0", 5) &&
               data.substr(5) == payload;
    return data.substr(1) == payload;
}

// Whether a frame whose data ends at `at` is followed by what may follow a frame: the tag's end,
// another frame's header, or padding (zero bytes up to the tag's end).
bool FitsNext(std::string_view body, size_t at) {
    if (at == body.size()) return true;
    if (at > body.size()) return false;
    if (body[at] == '\0')
        return std::all_of(body.begin() + at, body.end(), [](char c) { return c == '\0'; });
    return at + 10 <= body.size() && IsFrameIdText(TByteString(body.substr(at, 4)));
}

// The size of the version 2.4 frame at `pos`. Sync-safe as the standard says; but some writers
// (older iTunes) put plain big-endian sizes there, as readers that cope know: when the sync-safe
// reading runs into garbage and the plain one lands on a frame, the padding or the tag's end, the
// plain one holds, and is tried first for the frames after it.
uint32_t Version24Size(std::string_view body, size_t pos, bool& plainSizes) {
    const auto* h = reinterpret_cast<const unsigned char*>(body.data()) + pos + 4;
    const uint32_t plain = GetBigEndian32(h);
    if ((h[0] | h[1] | h[2] | h[3]) & 0x80) return plain; // no sync-safe size has a top bit
    const uint32_t syncSafe = static_cast<uint32_t>(GetSyncSafe32(h));
    if (plain == syncSafe) return plain;
    const uint32_t first = plainSizes ? plain : syncSafe, second = plainSizes ? syncSafe : plain;
    for (uint32_t size : {first, second})
        if (size <= body.size() - pos - 10 && FitsNext(body, pos + 10 + size)) {
            plainSizes = size == plain;
            return size;
        }
    return syncSafe;
}

} // namespace

std::string FrameText(std::string_view id, int encoding, std::string_view data,
                      platform::TCodePage cp) {
    return TextOf(id, encoding, data, cp);
}

std::string Utf16FrameData(std::string_view id, std::string_view data, int encoding,
                           platform::TCodePage cp) {
    return ToUtf16Frame(id, data, encoding, cp);
}

TByteString PlainFrame23(std::string_view id, std::string_view data, unsigned char status,
                         unsigned char format) {
    return Frame23(id, data, status, format);
}

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
    const std::unique_ptr<TFileStream> file = OpenForReading(fileName);
    ReadTag(*file);
    file->Close();
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
    CodePage = platform::TCodePage::Gbk;
    joinable_ = -1;
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
            // The footer flag counts only over a footer: bytes behind the tag without one are
            // the audio.
            const unsigned char* footer =
                version == 4 && (flags & 0x10) ? tag.Take(end, 10) : nullptr;
            if (footer && std::memcmp(footer, "3DI", 3) == 0) TagEnd = end + 10;
        } else {
            tag.Reserve(TagSize);
            int64_t pos = 10;
            int64_t framesEnd = 10; // padding passed over 10 bytes at a time does not count
            while (TagSize > pos) {
                // Padding whose length is not a multiple of 10 leaves less than a frame header
                // before the tag's end: those zero bytes end the tag, and the audio behind them
                // is not read as the size of one more padding frame.
                if (TagSize - pos < 10) {
                    const unsigned char* tail = tag.Take(pos, TagSize - pos);
                    if (tail && std::all_of(tail, tail + (TagSize - pos),
                                            [](unsigned char b) { return b == 0; }))
                        break;
                }
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
            // Zero bytes up to the size field's end without the header are the tag's padding: a
            // standard tag, or the padding this program writes behind its frames.
            const int64_t standardEnd = int64_t(TagSize) + 10;
            const unsigned char* rest =
                TagEnd < standardEnd ? tag.Take(TagEnd, standardEnd - TagEnd) : nullptr;
            if (rest && std::all_of(rest, rest + (standardEnd - TagEnd),
                                    [](unsigned char b) { return b == 0; }))
                TagEnd = standardEnd;
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
        // Some writers set the flag without writing an extended header: the frames begin at once.
        if (body.size() >= 10 && IsFrameIdText(TByteString(body.substr(0, 4)))) {
        } else if (size > body.size()) {
            ReadError = "the extended header runs past the end of the tag";
            return;
        } else if (size < 6) { // its own size and flags at the least: no frame can be found
            ReadError = "the extended header is too small (" + std::to_string(size) + " bytes)";
            return;
        } else {
            pos = static_cast<size_t>(size);
        }
    }
    const size_t headerSize = version == 2 ? 6 : 10;
    bool plainSizes = false; // a version 2.4 tag whose writer put plain sizes in its frames
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
            size = version == 3 ? GetBigEndian32(h + 4) : Version24Size(body, pos, plainSizes);
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

void TID3v2Tag::NoteFullPiece(int entry, std::string_view piece) {
    if (IsFullPiece(piece, {})) {
        joinable_ = entry;
        joinNeedsLead_ = false;
    } else if (IsFullPiece(piece, "\x81")) {
        joinable_ = entry;
        joinNeedsLead_ = true;
    }
}

void TID3v2Tag::TakeFrame(const TFrameIn& in) {
    // Only the frame right after a full piece of the writer's may join that piece's entry.
    const int joinable = joinable_;
    const bool joinNeedsLead = joinNeedsLead_;
    joinable_ = -1;
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
            origin->Data.assign(data);
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
            origin->Data.assign(data);
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
    int k = id == "APIC" ? -1 : IndexOfId(id);
    // A frame joined to an entry keeps its bytes in the entry's record.
    auto join = [&](std::string_view payload) {
        if (in.Version == 3 && undone.empty())
            Join(k, payload, in.Whole);
        else
            Join(k, payload, Frame23(id, data));
    };
    if (k != -1 && id == "TPIC") { // the rules join TPIC frames whole
        join(data);
        return;
    }
    // The further pieces of a long text the writer split join their entry again; every other
    // repeated frame (TXXX, COMM with its own description, PRIV, ...) is an entry of its own.
    if (joinable != -1 && platform::SameText(FrameIds[joinable], id) && id != "APIC" &&
        IsOwnPiece(data) && (!joinNeedsLead || (data.size() > 1 && IsLeadByte(data[1])))) {
        k = joinable;
        join(data.substr(1));
        NoteFullPiece(k, data.substr(1));
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

    const std::string converted =
        encoding == 3 ? ToUtf16Frame(id, data, 3, platform::TCodePage::Utf8, true) : std::string();
    const std::string_view data23 = encoding == 3 ? std::string_view(converted) : data;
    const bool sameHeader = in.Version == 3 && in.Status == 0 && in.Format == 0;
    origin->Encoding = encoding;
    const bool own = IsOwnForm(id, data23, payload) && (sameHeader || in.Version != 3);
    // One text frame that the writer gives back byte for byte from the payload holds no copy of
    // itself: the id as the writer pads it, and no cut of the writer's inside it. (A picture keeps
    // its frame, which holds the payload: a copy costs less than a hash of it.)
    origin->Rendered =
        own && !picture && !payload.empty() &&
        (in.Version != 3 || std::all_of(in.Whole.begin() + id.size(), in.Whole.begin() + 4,
                                        [](char c) { return c == '\0'; })) &&
        PieceLength(data.substr(1)) == data.size() - 1;
    // A version 2.3 frame goes back as it was, status flags included.
    if (!origin->Rendered) {
        origin->Frame = in.Version == 3 && encoding != 3 && undone.empty() ? TByteString(in.Whole)
                                                                           : Frame23(id, data23);
        // A picture's payload is its data, which the frame holds: not compared to know it.
        origin->PayloadInFrame = picture && data23.data() == data.data();
    }
    if (data23 != data) origin->Data.assign(data);
    if (own) {
        origin->OwnForm = true;
        Push(id, std::move(payload), std::move(origin));
        if (!picture) NoteFullPiece(static_cast<int>(FrameIds.size()) - 1, data.substr(1));
        return;
    }
    if (encoding >= 0 || (IsTextId(id) && id[0] == 'W')) {
        origin->HasText = true;
        origin->Text = TextOf(id, encoding, data);
    } else if (!IsTextId(id) && !picture) {
        origin->Access = TAccess::Binary;
    }
    Push(id, std::move(payload), std::move(origin));
}
