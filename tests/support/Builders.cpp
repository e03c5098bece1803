#include "Builders.h"

#include "ID3v2Text.h"

#include <utility>
#include <zlib.h>

Bytes BE32(uint32_t v) {
    return Bytes{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

Bytes LE32(uint32_t v) {
    return Bytes{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

Bytes SyncSafe(uint32_t v) {
    return Bytes{char((v >> 21) & 0x7F), char((v >> 14) & 0x7F), char((v >> 7) & 0x7F),
                 char(v & 0x7F)};
}

Bytes Id3Frame(const Bytes& id, const Bytes& payload) {
    Bytes idField = id.substr(0, 4);
    idField.resize(4, '\0');
    return idField + BE32(static_cast<uint32_t>(payload.size())) + Bytes(2, '\0') + payload;
}

Bytes Id3FrameWritten(const Bytes& id, const Bytes& piece) {
    return Id3Frame(id, Bytes(1, '\0') + piece);
}

Bytes Id3Header(uint32_t sizeField, unsigned char version) {
    return Bytes("ID3") + char(version) + '\0' + '\0' + SyncSafe(sizeField);
}

Bytes Id3TagOurs(const Bytes& frames) {
    return Id3Header(static_cast<uint32_t>(10 + frames.size())) + frames;
}

Bytes Id3TagStandard(const Bytes& frames, size_t padding) {
    return Id3Header(static_cast<uint32_t>(frames.size() + padding)) + frames +
           Bytes(padding, '\0');
}

Bytes Id3TagOf(unsigned char version, unsigned char flags, const Bytes& body) {
    return Bytes("ID3") + char(version) + '\0' + char(flags) +
           SyncSafe(static_cast<uint32_t>(body.size())) + body;
}

Bytes Id3Frame24(const Bytes& id, const Bytes& payload, unsigned char format) {
    return id + SyncSafe(static_cast<uint32_t>(payload.size())) + '\0' + char(format) + payload;
}

Bytes Id3Frame22(const Bytes& id, const Bytes& payload) {
    const auto n = static_cast<uint32_t>(payload.size());
    return id + char(n >> 16) + char(n >> 8) + char(n) + payload;
}

Bytes Unsynchronised(const Bytes& bytes) {
    Bytes out;
    for (char c : bytes) {
        out += c;
        if (static_cast<unsigned char>(c) == 0xFF) out += '\0';
    }
    return out;
}

Bytes Deflated(const Bytes& bytes) {
    uLongf size = compressBound(bytes.size());
    Bytes out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size,
              reinterpret_cast<const Bytef*>(bytes.data()), bytes.size(), 9);
    out.resize(size);
    return out;
}

Bytes Compressed24(const Bytes& id, const Bytes& data, uint32_t claimed) {
    return Id3Frame24(id, SyncSafe(claimed) + Deflated(data), 0x09);
}

Bytes Utf16(const std::string& utf8, bool bigEndian, bool bom) {
    Bytes out = id3text::Utf8ToUtf16(utf8).substr(bom ? 0 : 2);
    for (size_t i = 0; bigEndian && i + 1 < out.size(); i += 2)
        std::swap(out[i], out[i + 1]);
    return out;
}

namespace {
Bytes Field(const Bytes& s, size_t width) {
    Bytes f = s.substr(0, width);
    f.resize(width, '\0');
    return f;
}
} // namespace

Bytes Id3v1Block(const Id3v1Fields& f) {
    Bytes b =
        "TAG" + Field(f.title, 30) + Field(f.artist, 30) + Field(f.album, 30) + Field(f.year, 4);
    if (f.track >= 0)
        b += Field(f.comment, 28) + '\0' + char(f.track);
    else
        b += Field(f.comment, 30);
    b += char(f.genre);
    return b;
}

Bytes ApeItem(const Bytes& key, const Bytes& value, uint32_t flags) {
    return LE32(static_cast<uint32_t>(value.size())) + LE32(flags) + key + '\0' + value;
}

Bytes ApeHeaderOrFooter(uint32_t tagSize, uint32_t count, bool header) {
    uint32_t flags = 0x80000000u | (header ? 0x20000000u : 0);
    return "APETAGEX" + LE32(2000) + LE32(tagSize) + LE32(count) + LE32(flags) + Bytes(8, '\0');
}

Bytes ApeTag(const std::vector<std::pair<Bytes, Bytes>>& items, bool withHeader) {
    Bytes body;
    for (const auto& [k, v] : items)
        body += ApeItem(k, v);
    uint32_t size = static_cast<uint32_t>(body.size() + 32);
    uint32_t count = static_cast<uint32_t>(items.size());
    return (withHeader ? ApeHeaderOrFooter(size, count, true) : Bytes()) + body +
           ApeHeaderOrFooter(size, count, false);
}

Bytes ApeTagClaiming(const Bytes& body, uint32_t sizeField, uint32_t count, bool withFooter) {
    return ApeHeaderOrFooter(sizeField, count, true) + body +
           (withFooter ? ApeHeaderOrFooter(sizeField, count, false) : Bytes());
}

Bytes MpegFrames(int count) {
    Bytes out;
    for (int i = 0; i < count; ++i) {
        Bytes frame("\xFF\xFB\x90\x00", 4);
        for (int k = 0; k < 413; ++k)
            frame += char((i * 31 + k * 7) & 0xFF);
        out += frame;
    }
    return out;
}
