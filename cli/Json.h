// Just enough JSON for one object per line.
#pragma once

#include <string>
#include <string_view>

// A JSON string literal; bytes that are not well-formed UTF-8 become U+FFFD.
std::string JsonString(std::string_view text);
// Lower-case hex of the bytes.
std::string HexBytes(std::string_view bytes);
