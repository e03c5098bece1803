// The ID3v1 block: the 128-byte trailer at the very end of an MP3 file. Read and stripped, never
// written. Text fields stay raw bytes, in the file's code page (decided with the ID3v2 tag's
// legacy texts, see JudgeCodePage).
#pragma once

#include "ID3v2Tags.h"

#include <cstdint>
#include <string>

class TID3v1Tag {
  public:
    TID3v1Tag();
    ~TID3v1Tag();
    TID3v1Tag(const TID3v1Tag&) = delete;
    TID3v1Tag& operator=(const TID3v1Tag&) = delete;

    // Opens the file shared (others may read and write it). An open error leaves the object as
    // the previous read left it.
    void ReadFromFile(const std::string& fileName);
    // The same read from a file the caller has opened for reading.
    void ReadFromOpenFile(platform::TFileStream& file);
    // Examines the last 128 of the `size` bytes that follow the stream's current position.
    void ReadFromStream(platform::TFileStream& stream, int32_t size);
    void ParseTrailer(const unsigned char* block, int length);
    TByteString ExtractField(int offset, int count) const;
    // Truncates the file by 128 bytes when it ends in a block; opens it exclusively.
    void RemoveFromFile(const std::string& fileName);

    bool Exists = false;
    TByteString Title, Artist, Album, Comment, Year;
    int32_t Track = 0;
    int32_t GenreId = 0;
    TByteString Genre;
    TStringList Keys;
    TStringList Values;
    // The code page the text fields are shown in.
    platform::TCodePage CodePage = platform::TCodePage::Gbk;
    // Value `i` as UTF-8, read in CodePage.
    std::string ValueText(size_t i) const;
    // Whether a text field holds more than ASCII, so that the code page matters.
    bool HasLegacyText() const;

  private:
    const unsigned char* block_ = nullptr; // the block ParseTrailer is decoding
};
