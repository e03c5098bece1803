// Small builders for the byte layouts the tests need: ID3v2 tags and frames, ID3v1 blocks, APEv2
// tags and MPEG audio frames. Nothing binary is committed; every test file is made here.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::string;

Bytes BE32(uint32_t v);
Bytes LE32(uint32_t v);
Bytes SyncSafe(uint32_t v);

// One frame: 4-byte id (NUL-padded), plain big-endian size, two zero flag bytes, payload.
Bytes Id3Frame(const Bytes& id, const Bytes& payload);
// One frame as this program writes it: the payload is the encoding byte 0x00, then `piece`.
Bytes Id3FrameWritten(const Bytes& id, const Bytes& piece);

// An ID3v2 tag: header "ID3", version, revision 0, flags 0, sync-safe `sizeField`, then `body`.
Bytes Id3Header(uint32_t sizeField, unsigned char version = 3);
// A tag as this program writes it: the size field counts the header.
Bytes Id3TagOurs(const Bytes& frames);
// A tag as the published standard writes it: the size field excludes the header.
Bytes Id3TagStandard(const Bytes& frames, size_t padding = 0);
// Any version and header flags: the size field is the body's length (the body holds an extended
// header, frames and padding as the caller builds them).
Bytes Id3TagOf(unsigned char version, unsigned char flags, const Bytes& body);
// A version 2.4 frame: sync-safe size, the two flag bytes as given.
Bytes Id3Frame24(const Bytes& id, const Bytes& payload, unsigned char format = 0);
// A version 2.2 frame: 3-byte id and 3-byte big-endian size.
Bytes Id3Frame22(const Bytes& id, const Bytes& payload);
// Unsynchronisation: a 0x00 after every 0xFF.
Bytes Unsynchronised(const Bytes& bytes);
// zlib's stream of `bytes`; a version 2.4 frame of them compressed, with a data length indicator
// that claims `claimed` bytes (a decompression bomb claims and holds far more than it takes).
Bytes Deflated(const Bytes& bytes);
Bytes Compressed24(const Bytes& id, const Bytes& data, uint32_t claimed);
// UTF-16 with a byte-order mark (little-endian unless `bigEndian`) of ASCII or UTF-8 text.
Bytes Utf16(const std::string& utf8, bool bigEndian = false, bool bom = true);

// A 128-byte ID3v1 block; fields are cut or NUL-padded to their widths.
struct Id3v1Fields {
    Bytes title{}, artist{}, album{}, year{}, comment{};
    int track = -1; // -1: no track byte (comment may fill 30 bytes)
    unsigned char genre = 255;
};
Bytes Id3v1Block(const Id3v1Fields& f);

// APEv2: header and footer of 32 bytes, items in between.
Bytes ApeItem(const Bytes& key, const Bytes& value, uint32_t flags = 0);
Bytes ApeHeaderOrFooter(uint32_t tagSize, uint32_t count, bool header);
Bytes ApeTag(const std::vector<std::pair<Bytes, Bytes>>& items, bool withHeader = true);
// A header, `body` and a footer that claim `sizeField` and `count` whatever `body` holds.
Bytes ApeTagClaiming(const Bytes& body, uint32_t sizeField, uint32_t count, bool withFooter = true);

// `count` MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz, 417 bytes each), filled with a pattern
// that differs from frame to frame so that lost or moved bytes show.
Bytes MpegFrames(int count);
