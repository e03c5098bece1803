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
// `"key": "<path>"`, and `, "key_bytes": "<hex>"` for a path that is not UTF-8 (GBK names from
// Windows archives), whose bytes tell two such names apart and name the file again.
void AppendJsonPath(std::string& out, std::string_view key, std::string_view path);
