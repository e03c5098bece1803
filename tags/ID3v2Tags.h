// The ID3v2 tag at the head of an MP3 file, held as a frame store: frame ids and payloads in two
// lists kept in step, in file order. Payloads are byte strings in code page 936, never decoded.
//
// The reader and the writer fit together: the writer puts a NUL encoding byte in front of every
// payload, "chi" in front of comment and lyrics texts and splits texts into 999-byte pieces; the
// reader removes every NUL byte (except in picture frames), drops the language field of the first
// comment/lyrics frame and joins repeated frames of one id (except APIC) into one entry.
//
// The size field as written and read counts the 10 header bytes: it is the offset of the tag's
// end, 10 more than the published standard's value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
class TFileStream;
}

using TByteString = std::string; // counted bytes, NULs allowed
using TStringList = std::vector<TByteString>;

class TID3v2Tag {
  public:
    TID3v2Tag();
    ~TID3v2Tag();
    TID3v2Tag(const TID3v2Tag&) = delete;
    TID3v2Tag& operator=(const TID3v2Tag&) = delete;

    // Replaces the whole store with the tag of the file. Throws the platform's open error.
    void ReadFromFile(const std::string& fileName);

    // Index of `id` in FrameIds, letter case ignored, first match; -1 if absent.
    int IndexOfId(const TByteString& id) const;

    // Writing side. Every operation does nothing while Loaded is false and ends by reading the
    // file again.
    void SaveToFile();
    int WriteFrame(const TByteString& id, const TByteString& data, platform::TFileStream& stream);
    void AddFrame(const TByteString& id, const char* data, int size);
    void SetFrame(const TByteString& id, const char* data, int size);
    void ReplaceFrame(const TByteString& id, const char* data, int index, int size);
    void DeleteFrame(int index);
    void RemoveTag();

    bool Loaded = false;
    bool Exists = false;
    int32_t TagSize = 0;
    unsigned char Header[10] = {};
    unsigned char FrameHeader[10] = {};
    std::string FileName;
    TStringList FrameIds;
    TStringList FramePayloads;
    // Why the last read stopped early (a truncated file, a size past the end of the file), or
    // empty. The frames read before the fault stay in the store, but the store no longer
    // describes the whole tag, so Loaded stays false and nothing is written from it.
    std::string ReadError;
};

// The text with every NUL byte removed, other bytes in order.
TByteString StripNulls(const TByteString& text);
void PutBigEndian32(unsigned char* buffer, uint32_t value);
void PutSyncSafe32(unsigned char* buffer, uint32_t value);
int32_t GetSyncSafe32(const unsigned char* buffer);

inline constexpr int kPieceSize = 999; // texts are written in frames of at most this many bytes

class TAPEv2Tag;
class TID3v1Tag;

// The three tag objects of the program. CreateTagObjects makes them in this order after the
// start-up check; FreeTagObjects frees them in the same order.
extern TID3v2Tag* ID3v2Tag;
extern TAPEv2Tag* APEv2Tag;
extern TID3v1Tag* ID3v1Tag;
void CreateTagObjects();
void FreeTagObjects();
