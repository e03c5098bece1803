// Just enough JSON for one object per line. The Append forms add to a buffer that is reused from
// line to line, so that a long run of files costs no allocation per value.
#pragma once

#include <string>
#include <string_view>

// A JSON string literal; bytes that are not well-formed UTF-8 become U+FFFD.
std::string JsonString(std::string_view text);
void AppendJsonString(std::string& out, std::string_view text);
// Lower-case hex of the bytes.
std::string HexBytes(std::string_view bytes);
void AppendHex(std::string& out, std::string_view bytes);
