// The APEv2 tag: found at the end of the file (before an ID3v1 block or as the last bytes),
// right after the ID3v2 tag, or at the very start. Read and stripped, never written. Values are
// UTF-8 in the file and held here in code page 936.
#pragma once

#include "ID3v2Tags.h"

#include <cstdint>
#include <string>

// Where the tag region (header, items, footer) begins, or -1 when the file has none. A footer
// whose tag size is larger than the bytes in front of it gives another negative position. Opens
// the file without sharing; throws the open error, and the stream-read error for a probe that
// finds fewer than 32 bytes.
int32_t LocateAPEv2Tag(const std::string& fileName);
// The same search in a file the caller has opened for reading.
int32_t LocateAPEv2Tag(platform::TFileStream& file);

class TAPEv2Tag {
  public:
    TAPEv2Tag();
    ~TAPEv2Tag();
    TAPEv2Tag(const TAPEv2Tag&) = delete;
    TAPEv2Tag& operator=(const TAPEv2Tag&) = delete;

    // Empties the named fields (Track becomes "0"); leaves the lists, TagOffset and TagSize.
    void ResetFields();
    // Opens the file without sharing. An item that runs past the tag region or the file raises
    // the stream-read error; the pairs read before it stay.
    void ReadFromFile(const std::string& fileName);
    // The same read from a file the caller has opened for reading without sharing.
    void ReadFromOpenFile(platform::TFileStream& file);
    // Removes the region the last ReadFromFile found, through the rewrite protocol.
    void RemoveFromFile(const std::string& fileName);

    bool Exists = false;
    int32_t TagSize = 0;   // header's tag-size field + 32; 0 when no header was verified
    int32_t TagOffset = 0; // where the region begins; -1 when there is no tag
    TByteString Title, Artist, Album, Year, Comment, Track, Genre;
    TStringList Keys;
    TStringList Values;
    // In step with Values: each value as it stands in the file (UTF-8, every character kept),
    // for display; empty where Values is.
    TStringList Texts;

  private:
    // The header and the items of the region at TagOffset.
    void ReadItems(platform::TFileStream& file);
};
