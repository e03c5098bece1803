// The payloads of the two picture frames as the embedding builds them, before the ID3v2 writer
// puts its 0x00 encoding byte in front. Plain C++: the window and quillon-tags share them.
#pragma once

#include <cstddef>
#include <string>

// TPIC: the JPEG bytes and nothing else.
std::string BuildCustomPicturePayload(const std::string& jpeg);

// APIC: "image/jpeg", 0x00, the picture-type byte, the description (code page 936 bytes),
// 0x00, the JPEG bytes. A type outside 0..20 (no type chosen) is written as 0, which is what
// every reader would make of it anyway.
std::string BuildAttachedPicturePayload(int pictureType, const std::string& descriptionCp936,
                                        const std::string& jpeg);

class TID3v2Tag;

// A description as the embedding writes it, by the rule of every text the program writes: in
// the tag's code page when every character fits, else UTF-16 with a byte-order mark.
struct TPictureDescription {
    std::string Bytes; // in the tag's code page, or UTF-16 little-endian behind its mark
    bool Unicode = false;
};
TPictureDescription PictureDescriptionFor(const TID3v2Tag& tag, const std::string& utf8);

// APIC with such a description: the form above for one in the code page; for UTF-16 the frame's
// data with its encoding byte 01 first (01, "image/jpeg", 0x00, type, description, 0x00 0x00,
// JPEG), which the writer keeps instead of putting 0x00 in front.
std::string BuildAttachedPicturePayload(int pictureType, const TPictureDescription& description,
                                        const std::string& jpeg);

// The readers look for the end of the description at offsets 13 to 79 of the stored payload
// (encoding byte, MIME type and type byte come first), so a longer description would make the
// picture unreadable: its bytes would be taken from inside the description.
inline constexpr size_t kMaxPictureDescriptionBytes = 66;

// The refusal for a description the readers could not get past, or the empty text when it fits.
// Shared by the window and quillon-tags so that neither writes a picture nobody can show.
std::string CheckPictureDescription(const std::string& descriptionCp936);
// The same for a description by the rule: one in UTF-16 is found by its terminator, whatever
// its length.
std::string CheckPictureDescription(const TPictureDescription& description);
