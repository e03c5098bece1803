// The ID3v2 tag at the head of an MP3 file, held as a frame store: frame ids and payloads in two
// lists kept in step, in file order (FrameIds, FramePayloads). Payloads are byte strings in code
// page 936; the window and quillon-tags read and overwrite them directly.
//
// The reader and the writer fit together: the writer puts a NUL encoding byte in front of every
// payload, "chi" in front of comment and lyrics texts and cuts texts into pieces of 999 bytes
// (998 where the 999th byte would split a double-byte character); the reader removes every NUL
// byte (except in picture frames), drops the encoding byte and language field of comment/lyrics
// frames and joins those pieces again: a frame joins the entry of the frame just before it only
// when both are in the writer's own form and that one was a full piece.
//
// Every entry read from the file keeps, beside it in FrameOrigins, its TFrameOrigin: the id and
// payload as read, and the version 2.3 frames that give the entry back as it was (`Frame`: the
// bytes as read for a version 2.3 frame, every piece of a joined text included; versions 2.2 and
// 2.4 converted only as far as version 2.3 needs; a single text frame in the program's own form
// is not held twice but rendered again, byte for byte). The store's small interface on top:
//   StoredFrame(i)  the record of entry i as read, edited or not (null for an added entry): its
//                   Encoding byte, OwnForm, Access, decoded Text;
//   Edited(i)       true for an added entry and one whose id or payload differ from the read;
//   RawFrames(i)    the frames that give an unedited entry back as it was read;
//   OriginOf(i)     the record of an unedited entry that is not in the program's own form (what
//                   the window and show present as another program's frame), else null.
// A save writes an unedited entry from its frames as read, whatever its form; only an edited or
// added entry is rendered anew from its payload (RenderEntry, with the text encoding byte chosen
// for it: 0 today).
//
// The size field as written and read counts the 10 header bytes: it is the offset of the tag's
// end, 10 more than the published standard's value. A tag written in front of a file that had none
// is followed by 10 bytes of zero padding, so that standard readers find the audio where it is;
// the reader passes over such padding.
#pragma once

#include "CodePage.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {
class TFileStream;
}

using TByteString = std::string; // counted bytes, NULs allowed
using TStringList = std::vector<TByteString>;

// What an entry was in the file.
struct TFrameOrigin {
    enum class TAccess {
        Editable,
        Binary,     // data that is not text: kept byte for byte, not offered for editing
        Compressed, // compressed or encrypted: kept byte for byte, not offered for editing
        Unwritable, // a version 2.2 frame without a version 2.3 counterpart
    };
    TByteString Id;      // the entry's id and payload as read: an entry still holding both is
    TByteString Payload; // unchanged and is written back from Frame
    // The version 2.3 frames that write the entry back unchanged; empty for Unwritable.
    TByteString Frame;
    // A single text frame in the program's own form that RenderEntry gives back byte for byte from
    // the payload: neither Frame nor the payload is held a second time, only the payload's hash.
    // TID3v2Tag::RawFrames renders such an entry's frame while it is unedited.
    bool Rendered = false;
    size_t PayloadHash = 0;
    // Whether `payload` is the payload as read.
    bool IsPayloadAsRead(std::string_view payload) const {
        return Rendered ? std::hash<std::string_view>()(payload) == PayloadHash
                        : payload == PayloadAsRead();
    }
    // The payload as read is Frame behind its header: a picture is not held a third time.
    bool PayloadInFrame = false;
    // Not for a Rendered entry, which holds no copy.
    std::string_view PayloadAsRead() const {
        return PayloadInFrame ? std::string_view(Frame).substr(10) : std::string_view(Payload);
    }
    // The frame's data as it is in the file (unsynchronisation and compression undone), when it
    // differs from Frame's: a version 2.4 UTF-8 text that version 2.3 holds as UTF-16.
    TByteString Data;
    std::string_view DataAsRead() const {
        return Data.empty() && Frame.size() >= 10 ? std::string_view(Frame).substr(10)
                                                  : std::string_view(Data);
    }
    // The writer gives Frame back from the payload as read: the entry is shown and edited as the
    // program's own text.
    bool OwnForm = false;
    int Encoding = -1; // the text encoding byte as read; -1 for a frame without one
    bool HasText = false;
    std::string Text; // the text as UTF-8 (a picture's description); "[description] text" for
                      // frames that carry a description
    TAccess Access = TAccess::Editable;
};

// What the compressed frames of one tag may inflate to, in all (1 MiB): far more than the texts
// and covers that other programs compress, far less than a small frame can claim.
inline constexpr int64_t kMaxInflated = 1 << 20;

class TID3v2Tag {
  public:
    TID3v2Tag();
    ~TID3v2Tag();
    TID3v2Tag(const TID3v2Tag&) = delete;
    TID3v2Tag& operator=(const TID3v2Tag&) = delete;

    // Replaces the whole store with the tag of the file. Throws the platform's open error.
    void ReadFromFile(const std::string& fileName);
    // The same read from a file the caller has opened for reading (a command that reads all
    // three tags of a file opens it once).
    void ReadFromOpenFile(platform::TFileStream& file);

    // Index of `id` in FrameIds, letter case ignored, first match; -1 if absent. Constant time
    // for ids in ASCII: an index of the store is kept and brought up to date on use.
    int IndexOfId(const TByteString& id) const;

    // The origin of entry `index`, or null for an entry in the program's own form and for an
    // entry whose id or payload changed since the read.
    const TFrameOrigin* OriginOf(size_t index) const;
    // The record of entry `index` as read, edited since or not; null for an entry added since.
    const TFrameOrigin* StoredFrame(size_t index) const;
    // The version 2.3 frames that give entry `index` back as it was read, while it is unedited;
    // empty for an edited or added entry (and for Unwritable).
    TByteString RawFrames(size_t index) const;
    // True for an entry added since the read and one whose id or payload was changed.
    bool Edited(size_t index) const { return UnchangedOrigin(index) == nullptr; }
    // The text entry `index` shows, as UTF-8: its decoded text, or its payload read in CodePage.
    std::string DisplayText(size_t index) const;

    // The code page of the tag's legacy texts (encoding 0): the program's own code page 936
    // until JudgeCodePage decides it for the file, or the user forces one.
    platform::TCodePage CodePage = platform::TCodePage::Gbk;
    // Shows the legacy texts in `cp` from now on (read-back texts are decoded again).
    void SetCodePage(platform::TCodePage cp);
    // The raw bytes of every legacy string of the store (encoding-0 texts, descriptions of
    // comments, lyrics, TXXX, WXXX and pictures) and the decoded Unicode texts, as evidence for
    // the code page. The views point into the store.
    void CollectTexts(std::vector<std::string_view>& legacy,
                      std::vector<std::string_view>& unicode) const;
    // Whether some legacy string holds more than ASCII, so that the code page matters.
    bool HasLegacyText() const;
    // Gives entry `index` the text `utf8` by the writing rule: in CodePage when every character
    // fits (code page 936 for a GBK or new tag), else UTF-16 with a byte-order mark; always
    // UTF-16 with `unicode`. Nothing is saved.
    void SetText(size_t index, const std::string& utf8, bool unicode);
    // The first half of that rule, for every text the program writes (descriptions of pictures
    // too): true with `legacy` the bytes of `utf8` in CodePage when every character fits and
    // UTF-16 is not asked for; false when the text goes as UTF-16.
    bool FitsCodePage(const std::string& utf8, std::string& legacy, bool unicode = false) const;
    // SetText on the first entry with the id (case ignored), or on a new empty entry at the end;
    // then saves.
    void SetFrameText(const TByteString& id, const std::string& utf8, bool unicode);
    // The same for several frames (id, UTF-8 text), in one save.
    void SetFrameTexts(const std::vector<std::pair<TByteString, std::string>>& texts, bool unicode);
    // Turns every legacy text that is not pure ASCII into UTF-16, decoded in CodePage; the other
    // entries stay byte for byte. Returns the id and new text of every entry it changed; nothing
    // is saved.
    std::vector<std::pair<TByteString, std::string>> ConvertToUnicode();

    // Writing side. Every operation does nothing while Loaded is false, rewrites FileName through
    // RewriteFile (refusals are shown as messages, platform failures thrown after the file was
    // put back) and ends by reading the file again.
    //
    // Rewrites the file as a version 3 tag built from the store, followed by the old file's bytes
    // from the old TagSize on.
    void SaveToFile();
    // Writes one entry as one or more frames at the stream's position; returns the bytes written.
    int WriteFrame(const TByteString& id, const TByteString& data, platform::TFileStream& stream);
    // Appends an entry and saves; refuses an id already present (case ignored), except "APIC".
    void AddFrame(const TByteString& id, const char* data, int size);
    // Gives the first entry with the id (case ignored) the payload, or adds it; then saves.
    void SetFrame(const TByteString& id, const char* data, int size);
    // Overwrites entry `index` (id and payload) and saves. Throws std::out_of_range for an index
    // outside the store, before anything changes.
    void ReplaceFrame(const TByteString& id, const char* data, int index, int size);
    // Deletes entry `index` and saves; an index outside the store does nothing.
    void DeleteFrame(int index);
    // Leaves an empty tag (size 10) in front of the bytes that followed the old one; a file
    // without a tag is left as it is.
    void RemoveTag();

    bool Loaded = false;
    bool Exists = false;
    int32_t TagSize = 0;
    unsigned char Header[10] = {};
    unsigned char FrameHeader[10] = {};
    std::string FileName;
    TStringList FrameIds;
    TStringList FramePayloads;
    // In step with the two lists: each entry's record as read, or null for an entry added since.
    std::vector<std::unique_ptr<TFrameOrigin>> FrameOrigins;
    // Where the bytes the read took as the tag end: TagSize, or past it when the last frame ran
    // over TagSize or the tag counts its size without its header (version 2.2, 2.4, flags). A
    // save writes zero padding for what lies between, so no piece of the old tag is left behind.
    int64_t TagEnd = 0;
    // Why the last read stopped early (a truncated file, a size past the end of the file), or
    // empty. The frames read before the fault stay in the store, but the store no longer
    // describes the whole tag, so Loaded stays false and nothing is written from it.
    std::string ReadError;
    // The inflate limit of the next reads (kMaxInflated): a compressed frame that would take the
    // tag's inflated bytes past it stays compressed, read-only and byte for byte. 0 inflates
    // nothing, for a command that needs no frame's content (a strip).
    int64_t InflateLimit = kMaxInflated;

  private:
    // The state of a read that has not begun, of the named file.
    void Reset(const std::string& fileName);
    void ReadTag(platform::TFileStream& file);
    void ReadAgainAfterRewrite();
    struct TFrameIn;
    void ReadFrames(std::string_view body, int version, int flags);
    void TakeFrame(const TFrameIn& in);
    void Push(TByteString id, TByteString payload, std::unique_ptr<TFrameOrigin> origin);
    // Appends a further frame to entry k as read: its payload and its version 2.3 form.
    void Join(size_t k, std::string_view payload, std::string_view frame);
    // After a piece of the writer's own form: whether the next frame may join its entry.
    void NoteFullPiece(int entry, std::string_view piece);
    int joinable_ = -1;          // the entry the next frame may join, or -1
    bool joinNeedsLead_ = false; // only when it begins with a double-byte character
    const TFrameOrigin* UnchangedOrigin(size_t index) const;
    // The frame data (encoding byte on) entry `index` stands for, or empty for an entry whose
    // frame is kept byte for byte.
    std::string_view EntryData(size_t index, std::string& buffer) const;

    // Upper-cased ASCII id -> first entry, for FrameIds[0 .. indexed_). Operations that erase or
    // rename entries set indexed_ back to 0.
    mutable std::unordered_map<std::string, int> index_;
    mutable size_t indexed_ = 0;
    mutable const TByteString* indexedList_ = nullptr; // FrameIds' storage when indexed
    int64_t inflateLeft_ = 0;                          // what the read under way may still inflate
};

// The text with every NUL byte removed, other bytes in order.
TByteString StripNulls(const TByteString& text);
void PutBigEndian32(unsigned char* buffer, uint32_t value);
void PutSyncSafe32(unsigned char* buffer, uint32_t value);
int32_t GetSyncSafe32(const unsigned char* buffer);

inline constexpr int kPieceSize = 999; // texts are written in frames of at most this many bytes
// The largest tag the 28 bits of the size field can describe.
inline constexpr int64_t kMaxTagSize = 0x0FFFFFFF;

inline constexpr const char* kMsgTagExists = "！该标签已经存在，增加标签无效：";
inline constexpr const char* kMsgNewTagNeedsFourChars = "！新标签必须是四个字符的名字：";
// A store that would not fit the 28-bit size field is refused rather than written with a size
// that cuts the tag short.
inline constexpr const char* kMsgFrameNotWritable = "！该帧不能写入ID3v2.3标签：";
inline constexpr const char* kMsgTagTooLarge = "！ID3v2标签超过256MB，不能写入：";

// The frames of one entry as WriteFrame writes them: for every piece (the whole payload for
// "APIC" and "TPIC") the id's four bytes (NUL-padded), the size piece + 1 big-endian, two zero
// flag bytes, the text encoding byte `encoding` and the piece. An empty id, or an empty text,
// gives no frame; an empty picture gives one frame holding only the encoding byte.
TByteString RenderFrames(const TByteString& id, const TByteString& data, char encoding = 0);
// The frames of an entry with this id and payload as a save writes an edited entry: comments and
// lyrics with the language "chi" in front, pictures with their leading NUL byte not doubled.
TByteString RenderEntry(const TByteString& id, std::string_view payload, char encoding = 0);
// The length of the first piece of a code page 936 text: kPieceSize bytes, one less where the
// last of them would be the first byte of a double-byte character.
size_t PieceLength(std::string_view text);
// Whether a piece of `piece` bytes followed by one beginning `next` is a cut the writer makes:
// a full piece, so that the next joins it.
bool IsFullPiece(std::string_view piece, std::string_view next);

// True for an id of three or four characters A-Z and 0-9, the only ids other programs read.
bool IsFrameIdText(const TByteString& id);
// The two frames that hold a picture: attached pictures (APIC) and this program's TPIC.
bool IsPictureId(std::string_view id);

// A new frame as the editor's add command makes it, for the window and quillon-tags alike.
struct TNewFrame {
    TByteString Id;      // upper-cased, exactly 4 bytes
    TByteString Payload; // "image/jpeg" 00 03 00 for "APIC", 00 00 for any other id
};
// Upper-cases the typed id (code page 936; letters inside double-byte characters are left alone)
// and checks that it is exactly 4 of A-Z and 0-9. Refused: shows "！新标签必须是四个字符的名字：" +
// the upper-cased id and returns nothing. Then the caller hands the frame to TID3v2Tag::AddFrame.
std::optional<TNewFrame> PrepareNewFrame(const TByteString& typedId);

class TAPEv2Tag;
class TID3v1Tag;

// Decides the code page of one file from all legacy strings of its ID3v2 tag and ID3v1 block
// together (or takes `forced`) and gives it to both objects. `id3v1` may be null.
platform::TCodePage JudgeCodePage(TID3v2Tag& id3v2, TID3v1Tag* id3v1,
                                  std::optional<platform::TCodePage> forced = std::nullopt);

// The frame data of one entry as text: `data` decoded by the frame's layout, encoding 0 in `cp`.
std::string FrameText(std::string_view id, int encoding, std::string_view data,
                      platform::TCodePage cp);
// Frame data with encoding 0 (decoded in `cp`) or 3 as the same frame in UTF-16 (encoding 1);
// the fields that are not text (language, MIME type, picture type, URL, picture) stay.
std::string Utf16FrameData(std::string_view id, std::string_view data, int encoding,
                           platform::TCodePage cp);
// A version 2.3 frame: header with the two flag bytes (none by default), then `data`.
TByteString PlainFrame23(std::string_view id, std::string_view data, unsigned char status = 0,
                         unsigned char format = 0);

// The three tag objects of the program. CreateTagObjects makes them in this order after the
// start-up check; FreeTagObjects frees them in the same order.
extern TID3v2Tag* ID3v2Tag;
extern TAPEv2Tag* APEv2Tag;
extern TID3v1Tag* ID3v1Tag;
void CreateTagObjects();
void FreeTagObjects();

// One step of a rewrite followed by strips.
struct TTagStep {
    bool wanted;
    const char* tag; // "ID3v2", "ID3v1" or "APEv2"
    std::function<void()> run;
};
// The steps of the window's update with its strips and of quillon-tags strip, in their one order:
// the ID3v2 rewrite `rewriteId3v2`, the ID3v1 cut, then the APEv2 cut, the APEv2 tag looked for
// again first because the ID3v2 rewrite has moved every byte behind the tag. With `readAgain`
// the tag objects read the file again after their cut, for a caller that shows them.
std::array<TTagStep, 3> RewriteThenStrip(const std::string& path, bool id3v2,
                                         std::function<void()> rewriteId3v2, bool id3v1, bool apev2,
                                         bool readAgain);
