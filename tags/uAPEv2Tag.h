// The APEv2 tag: found at the end of the file (before an ID3v1 block or as the last bytes),
// right after the ID3v2 tag, or at the very start. Read and stripped, never written. Values are
// UTF-8 in the file and held here in code page 936.
#pragma once

#include "ID3v2Tags.h"

#include <cstdint>
#include <string>

// Where the tag region (header, items, footer) begins, or -1 when the file has none.
int32_t LocateAPEv2Tag(const std::string& fileName);

class TAPEv2Tag {
  public:
    TAPEv2Tag();
    ~TAPEv2Tag();
    TAPEv2Tag(const TAPEv2Tag&) = delete;
    TAPEv2Tag& operator=(const TAPEv2Tag&) = delete;

    void ResetFields();
    void ReadFromFile(const std::string& fileName);
    // Removes the region the last ReadFromFile found, through the rewrite protocol.
    void RemoveFromFile(const std::string& fileName);

    bool Exists = false;
    int32_t TagSize = 0;
    int32_t TagOffset = 0;
    TByteString Title, Artist, Album, Year, Comment, Track, Genre;
    TStringList Keys;
    TStringList Values;
};
