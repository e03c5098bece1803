// Code page 936 (GBK) <-> UTF-8. The tag engines keep text as bytes in code page 936; this is the
// one place where those bytes meet Unicode.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Code page 936 bytes to UTF-8; bytes that are not valid code page 936 become U+FFFD.
std::string Cp936ToUtf8(std::string_view cp936);

// UTF-8 to code page 936. Returns false (and leaves `out` empty) when the input is not
// well-formed UTF-8 or holds a character that code page 936 cannot hold.
bool Utf8ToCp936(std::string_view utf8, std::string& out);

// UTF-8 to code page 936 the way the system's own conversion does it: a character that code page
// 936 cannot hold becomes "?"; input that is not well-formed UTF-8 gives the empty string.
std::string Utf8ToCp936Lossy(std::string_view utf8);

bool IsWellFormedUtf8(std::string_view text);

// Length of the well-formed UTF-8 sequence at text[i] (1 to 4), or 0 where none starts.
size_t Utf8SequenceLength(std::string_view text, size_t i);

// Case-insensitive comparison of two code page 936 strings (the frame-id look-up).
bool SameText(std::string_view a, std::string_view b);

} // namespace platform
