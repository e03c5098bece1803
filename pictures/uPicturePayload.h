// Readers of an attached-picture (APIC) payload as the frame store holds it after a read:
// encoding byte, "image/jpeg", 0x00, picture type, description, 0x00, picture bytes. They assume
// a ten-byte MIME type; a payload with another MIME type is read at the same offsets. A payload
// in UTF-16 or UTF-8 (encoding byte 1 to 3) is read by its layout instead, the description of
// UTF-16 ending at two NUL bytes; its description is returned in its own encoding.
#pragma once

#include <string>

// The picture-type number, 0 to 20; a stored value above 20, or a payload shorter than 13
// bytes, gives 0.
int PictureTypeOf(const std::string& payload);
// The description: the bytes from offset 13 up to the first 0x00 or the end.
std::string PictureDescriptionOf(const std::string& payload);
// The 1-based position of the first picture byte. The terminator of the description is looked
// for at offsets 13 to 79 only; past that the picture is taken to start at offset 14.
int PictureDataStart(const std::string& payload);
