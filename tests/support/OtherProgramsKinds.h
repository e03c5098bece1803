// Tags as other programs write them, one kind per row, shared by the read and the write tests.
#pragma once

#include "Builders.h"
#include "ID3v2Tags.h"

#include <string>
#include <vector>

using TAccess = TFrameOrigin::TAccess;
inline constexpr int kOwnForm = -2; // no origin: the entry is in the writer's own form

struct WantEntry {
    using TAccess = TFrameOrigin::TAccess;
    Bytes id;
    std::string text; // DisplayText, UTF-8
    int encoding;     // the origin's encoding, or kOwnForm
    TAccess access = TAccess::Editable;
};

// Frames as other programs write them, one kind per row, each ending in zero padding.
struct Kind {
    const char* name;
    Bytes tag;
    std::vector<WantEntry> want;
};

inline const std::string kMoon = "月亮代表我的心";
inline const Bytes kJpeg("\xFF\xD8\xFF\xE0jpeg\xFF\xD9", 10);

// zlib's compression of 00 "Packed": a text frame's data.
inline const Bytes kPacked("\x78\x9c\x63\x08\x48\x4c\xce\x4e\x4d\x01\x00\x07\xc7\x02\x49", 15);

inline Bytes Frame23Flagged(const Bytes& id, const Bytes& data, char format) {
    return id + BE32(static_cast<uint32_t>(data.size())) + '\0' + format + data;
}

inline std::vector<Kind> Kinds() {
    const Bytes big(200, 'x');
    const Bytes popm("a@b.c\0\x80\0\0\0\x01", 11), priv("owner\0\0\x01\0", 9),
        rva2("track\0\x01\xF2\x66\0", 10);
    const Bytes dli = SyncSafe(17) + Unsynchronised(Bytes("\x01") + Utf16(kMoon));
    return {
        {"v2.3 UTF-16, both byte orders",
         Id3TagStandard(Id3Frame("TIT2", Bytes("\x01") + Utf16(kMoon)) +
                            Id3Frame("TPE1", Bytes("\x01") + Utf16("Å한🎵", true)),
                        20),
         {{"TIT2", kMoon, 1}, {"TPE1", "Å한🎵", 1}}},
        {"v2.4 UTF-16BE and UTF-8 frames of 128 bytes and more",
         Id3TagOf(4, 0,
                  Id3Frame24("TALB", Bytes("\x02") + Utf16("한국어", true, false)) +
                      Id3Frame24("TXXX", Bytes("\x03"
                                               "desc\0",
                                               6) +
                                             big) +
                      Id3Frame24("TIT2", "\x03" + kMoon) + Bytes(30, '\0')),
         {{"TALB", "한국어", 2}, {"TXXX", "[desc] " + big, 3}, {"TIT2", kMoon, 3}}},
        {"v2.3 unsynchronised tag",
         Id3TagOf(3, 0x80,
                  Unsynchronised(Id3Frame("TIT2", Bytes("\x01") + Utf16(kMoon)) +
                                 Id3Frame("TALB", Bytes("\0Al", 3))) +
                      Bytes(10, '\0')),
         {{"TIT2", kMoon, 1}, {"TALB", "Al", kOwnForm}}},
        {"v2.4 frame unsynchronisation and data length indicator",
         Id3TagOf(4, 0, Id3Frame24("TIT2", dli, 0x03) + Bytes(10, '\0')),
         {{"TIT2", kMoon, 1}}},
        {"v2.3 extended header",
         Id3TagOf(3, 0x40,
                  BE32(6) + Bytes(6, '\0') + Id3Frame("TIT2", Bytes("\0Song", 5)) +
                      Bytes(10, '\0')),
         {{"TIT2", "Song", kOwnForm}}},
        {"v2.4 extended header and footer",
         Id3TagOf(4, 0x50, SyncSafe(6) + Bytes("\x01\0", 2) + Id3Frame24("TIT2", "\x03Song")) +
             Bytes("3DI\4\0\x50\0\0\0\x14", 10),
         {{"TIT2", "Song", 3}}},
        {"v2.2",
         Id3TagOf(2, 0,
                  Id3Frame22("TT2", Bytes("\0Song", 5)) + Id3Frame22("COM", Bytes("\0eng\0hi", 7)) +
                      Id3Frame22("PIC", Bytes("\0JPG\x03\0", 6) + kJpeg) + Bytes(6, '\0')),
         {{"TIT2", "Song", kOwnForm}, {"COMM", "hi", 0}, {"APIC", "", kOwnForm}}},
        {"v2.2 frame without a version 2.3 name",
         Id3TagOf(2, 0,
                  Id3Frame22("TT1", Bytes("\0Group", 6)) + Id3Frame22("XYZ", "data") +
                      Bytes(6, '\0')),
         {{"TIT1", "Group", kOwnForm}, {"XYZ", "data", -1, TAccess::Unwritable}}},
        {"compressed frames",
         Id3TagStandard(Frame23Flagged("TIT2", BE32(7) + kPacked, '\x80'), 10),
         {{"TIT2", "", -1, TAccess::Compressed}}},
        {"v2.4 compressed frame, inflated",
         Id3TagOf(4, 0, Id3Frame24("TALB", SyncSafe(7) + kPacked, 0x09) + Bytes(10, '\0')),
         {{"TALB", "Packed", kOwnForm}}},
        {"v2.4 compressed frames past the inflate limit: the first takes it all, the next stays "
         "compressed",
         Id3TagOf(
             4, 0,
             Compressed24("TALB", Bytes(1, '\0') + Bytes(kMaxInflated - 1, 'a'), kMaxInflated) +
                 Id3Frame24("TIT2", SyncSafe(7) + kPacked, 0x09) + Bytes(10, '\0')),
         {{"TALB", Bytes(kMaxInflated - 1, 'a'), 0}, {"TIT2", "", -1, TAccess::Compressed}}},
        {"repeated TXXX and COMM, a NUL language",
         Id3TagStandard(Id3Frame("TXXX", Bytes("\0REPLAYGAIN_TRACK_GAIN\0-6.8 dB", 30)) +
                            Id3Frame("TXXX", Bytes("\0REPLAYGAIN_TRACK_PEAK\0"
                                                   "0.9",
                                                   26)) +
                            Id3Frame("COMM", Bytes("\0eng\0hi", 7)) +
                            Id3Frame("COMM", Bytes("\0\0\0\0iTunNORM\0 0000", 19)) +
                            Id3Frame("COMM", Bytes("\0\0\0\0\0hello", 10)),
                        10),
         {{"TXXX", "[REPLAYGAIN_TRACK_GAIN] -6.8 dB", 0},
          {"TXXX", "[REPLAYGAIN_TRACK_PEAK] 0.9", 0},
          {"COMM", "hi", 0},
          {"COMM", "[iTunNORM]  0000", 0},
          {"COMM", "hello", 0}}},
        {"empty and all-zero frames, NUL-separated values",
         Id3TagStandard(Id3Frame("PCNT", Bytes(4, '\0')) + Id3Frame("POPM", Bytes(6, '\0')) +
                            Id3Frame("WOAF", Bytes(1, '\0')) + Id3Frame("PCST", Bytes(4, '\0')) +
                            Id3Frame("TPE1", Bytes("\0piman\0jzig", 11)),
                        10),
         {{"PCNT", "", -1, TAccess::Binary},
          {"POPM", "", -1, TAccess::Binary},
          {"WOAF", "", kOwnForm},
          {"PCST", "", -1, TAccess::Binary},
          {"TPE1", "piman/jzig", 0}}},
        {"repeated whole texts",
         Id3TagStandard(
             Id3Frame("TPE1", Bytes("\0Enya", 5)) + Id3Frame("TPE1", Bytes("\0Enya", 5)) +
                 Id3Frame("TRCK", Bytes("\0001", 2)) + Id3Frame("TRCK", Bytes("\0002", 2)),
             10),
         {{"TPE1", "Enya", kOwnForm},
          {"TPE1", "Enya", kOwnForm},
          {"TRCK", "1", kOwnForm},
          {"TRCK", "2", kOwnForm}}},
        {"v2.4 plain frame sizes, an extended-header flag over none",
         Id3TagOf(4, 0x40,
                  "TIT2" + BE32(256) + Bytes(2, '\0') + '\0' + Bytes(255, 'x') +
                      Id3Frame24("TPE1", Bytes("\0Artist", 7)) + Bytes(10, '\0')),
         {{"TIT2", Bytes(255, 'x'), kOwnForm}, {"TPE1", "Artist", kOwnForm}}},
        {"v2.2 iTunes ids with later names",
         Id3TagOf(2, 0,
                  Id3Frame22("GP1", Bytes("\0Group", 6)) + Id3Frame22("MVN", Bytes("\0Move", 5)) +
                      Id3Frame22("TCP", Bytes("\0001", 2)) + Bytes(6, '\0')),
         {{"GRP1", "Group", kOwnForm}, {"MVNM", "Move", kOwnForm}, {"TCMP", "1", kOwnForm}}},
        {"binary frames",
         Id3TagStandard(Id3Frame("POPM", popm) + Id3Frame("PRIV", priv) + Id3Frame("RVA2", rva2),
                        10),
         {{"POPM", "a@b.c\x80\x01", -1, TAccess::Binary},
          {"PRIV", "owner\x01", -1, TAccess::Binary},
          {"RVA2",
           "track\x01\xF2"
           "f",
           -1, TAccess::Binary}}},
    };
}
