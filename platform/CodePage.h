// Code page 936 (GBK) <-> UTF-8. The tag engines keep text as bytes in code page 936; this is the
// one place where those bytes meet Unicode.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The legacy code pages a tag's encoding-0 texts and ID3v1 fields may have been written in.
// Gbk is the program's own: new tags and texts that fit are written in code page 936.
enum class TCodePage { Gbk, Big5, ShiftJis, EucKr, Windows1251, Windows1252, Utf8 };

inline constexpr TCodePage kCodePages[] = {
    TCodePage::Gbk,         TCodePage::Big5,        TCodePage::ShiftJis, TCodePage::EucKr,
    TCodePage::Windows1251, TCodePage::Windows1252, TCodePage::Utf8};

// "gbk", "big5", "shift_jis", "euc-kr", "windows-1251", "windows-1252", "utf-8".
std::string_view CodePageName(TCodePage cp);
std::optional<TCodePage> CodePageFromName(std::string_view name);

bool IsAscii(std::string_view text);

// Legacy bytes in `cp` to UTF-8; bytes that are not valid in `cp` become U+FFFD.
std::string LegacyToUtf8(TCodePage cp, std::string_view bytes);

// UTF-8 to `cp`. Returns false (and leaves `out` empty) when the input is not well-formed UTF-8
// or holds a character that `cp` cannot hold.
bool Utf8ToLegacy(TCodePage cp, std::string_view utf8, std::string& out);

// The code page of one file, judged from all its legacy strings together (`legacy`: the raw
// bytes of every encoding-0 text and ID3v1 field) with its Unicode texts (`unicode`, UTF-8) as
// evidence. Pure ASCII needs no guess and gives Gbk; where it is close, Gbk wins.
TCodePage DetectCodePage(const std::vector<std::string_view>& legacy,
                         const std::vector<std::string_view>& unicode = {});

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
