// The ID3v2 tag at the head of an MP3 file, held as a frame store: frame ids and payloads in two
// lists kept in step, in file order. Payloads are byte strings in code page 936.
//
// The reader and the writer fit together: the writer puts a NUL encoding byte in front of every
// payload, "chi" in front of comment and lyrics texts and splits texts into 999-byte pieces; the
// reader removes every NUL byte (except in picture frames), drops the encoding byte and language
// field of comment/lyrics frames and joins those pieces again.
//
// Frames of other programs (UTF-16 or UTF-8 text, descriptions and languages of their own, binary
// data, versions 2.2 and 2.4, unsynchronisation, frame flags) are read as well. Such an entry
// keeps its origin beside it: the decoded text for display and the version 2.3 frame that writes
// it back unchanged, so that a save changes only what the user changed.
//
// The size field as written and read counts the 10 header bytes: it is the offset of the tag's
// end, 10 more than the published standard's value.
#pragma once

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

// What an entry was in the file, for an entry whose frame the writer's own form would not give
// back the same.
struct TFrameOrigin {
    enum class TAccess {
        Editable,
        Binary,     // data that is not text: kept byte for byte, not offered for editing
        Compressed, // compressed or encrypted: kept byte for byte, not offered for editing
        Unwritable, // a version 2.2 frame without a version 2.3 counterpart
    };
    TByteString Id;      // the entry's id and payload as read: an entry still holding both is
    TByteString Payload; // unchanged and is written back from Frame
    TByteString Frame;   // the version 2.3 frame that writes the entry back; empty for Unwritable
    // The payload as read is Frame behind its header: a picture is not held a third time.
    bool PayloadInFrame = false;
    std::string_view PayloadAsRead() const {
        return PayloadInFrame ? std::string_view(Frame).substr(10) : std::string_view(Payload);
    }
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
    // The text entry `index` shows, as UTF-8: its decoded text, or its payload read as code page
    // 936.
    std::string DisplayText(size_t index) const;

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
    // In step with the two lists: each entry's origin, or null for an entry in the program's own
    // form and for entries the program adds.
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
    const TFrameOrigin* UnchangedOrigin(size_t index) const;

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

// The frames of one entry as WriteFrame writes them: for every piece of at most kPieceSize bytes
// (the whole payload for "APIC" and "TPIC") the id's four bytes (NUL-padded), the size piece + 1
// big-endian, two zero flag bytes, 0x00 and the piece. An empty id, or an empty text, gives no
// frame; an empty picture gives one frame holding only the 0x00.
TByteString RenderFrames(const TByteString& id, const TByteString& data);

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
