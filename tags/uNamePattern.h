// File names and tag fields: the patterns of "tags from the file name" and "file name from the
// tags", such as "%artist% - %title%". One home for the window and quillon-tags alike: what a
// placeholder stands for, how a name is matched and how a name is made.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TID3v2Tag;

// A placeholder and the frame it stands for. %skip% takes text and stands for none.
struct TNameField {
    const char* Placeholder; // "%artist%"
    const char* Id;          // "TPE1", or null for %skip%
};
inline constexpr TNameField kNameFields[] = {
    {"%artist%", "TPE1"}, {"%title%", "TIT2"}, {"%album%", "TALB"}, {"%track%", "TRCK"},
    {"%year%", "TYER"},   {"%genre%", "TCON"}, {"%skip%", nullptr}};
inline constexpr int kSkipField = 6;
inline constexpr const char* kDefaultNamePattern = "%artist% - %title%";

// A pattern as literal text and placeholders, in order. Placeholders are known in any letter
// case; every other character, a '%' among them, is literal.
struct TNamePart {
    int Field = -1;      // index into kNameFields, or -1 for literal text
    std::string Literal; // UTF-8
};
using TNamePattern = std::vector<TNamePart>;

// What a pattern is used for: its checks differ.
enum class TNamePatternUse { FromName, ToName };
// The pattern split into parts; nothing, with the reason in `error`, for a pattern the use
// cannot take: no field at all, text that is not UTF-8; reading names, a field twice or two
// fields with no text between them (where would one end?); making names, %skip% (no text to
// give) or a '/' (a name, not a folder).
std::optional<TNamePattern> ParseNamePattern(std::string_view pattern, TNamePatternUse use,
                                             std::string& error);

// The fields of a name (its stem, UTF-8) matched against the pattern: (frame id, text) in the
// pattern's order, without %skip%. Each placeholder takes the shortest text with which the rest
// still matches, trimmed of surrounding spaces, and not empty (%skip% may be). A literal " - "
// also matches the full-width "－" and " – " (an en dash), as names made on Windows have them.
// Nothing when the name does not match.
using TNameFields = std::vector<std::pair<std::string, std::string>>;
std::optional<TNameFields> MatchName(const TNamePattern& pattern, std::string_view stem);

// The last part of a path, and a base name split before its extension (the last '.' that is not
// its first byte): "song.mp3" gives "song" and ".mp3"; a name without one gives an empty
// extension.
std::string_view BaseName(std::string_view path);
std::pair<std::string_view, std::string_view> SplitExtension(std::string_view base);
// A name's bytes as text: UTF-8 as it stands, else read in the code page the detection finds
// for it (GBK names from Windows archives).
std::string NameText(std::string_view bytes);

// The text of a placeholder in the tag, trimmed; empty when the tag has none. %track% is
// zero-padded to two digits when it is a number ("3" and "3/12" give "03"); %year% takes the
// year of a version 2.4 TDRC where the tag has no TYER.
std::string NameFieldText(const TID3v2Tag& tag, int field);

// A new base name: the pattern filled from `text` (one text per placeholder, none empty), each
// '/', NUL and control character of a text made '_', then `extension` as it was. A name over 255
// bytes is cut on a character boundary before the extension. Empty when no name is left (the
// extension alone fills the room; "." and "..").
std::string FillName(const TNamePattern& pattern, const std::vector<std::string>& text,
                     std::string_view extension);

// The longest name a folder holds (NAME_MAX), in bytes.
inline constexpr size_t kMaxNameBytes = 255;
