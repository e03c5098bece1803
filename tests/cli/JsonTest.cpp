#include "Json.h"

#include <gtest/gtest.h>

TEST(Json, StringsAreEscapedAndAlwaysWellFormedUtf8) {
    EXPECT_EQ(JsonString(""), "\"\"");
    EXPECT_EQ(JsonString("plain text"), "\"plain text\"");
    EXPECT_EQ(JsonString("a\"b\\c\n\r\t\b\f"), "\"a\\\"b\\\\c\\n\\r\\t\\b\\f\"");
    EXPECT_EQ(JsonString(std::string("\0\x01\x1f", 3)), "\"\\u0000\\u0001\\u001f\"");
    // Well-formed sequences of two, three and four bytes pass as they are.
    EXPECT_EQ(JsonString("\xC3\xA9 \xE5\xB0\x81 \xF0\x9F\x8E\xB5"),
              "\"\xC3\xA9 \xE5\xB0\x81 \xF0\x9F\x8E\xB5\"");
    // Each byte that starts no well-formed sequence becomes U+FFFD; the bytes after it are
    // looked at again.
    EXPECT_EQ(JsonString("\xB7\xE2"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(JsonString("a\xE5\xB0"), "\"a\xEF\xBF\xBD\xEF\xBF\xBD\"") << "cut short";
    EXPECT_EQ(JsonString("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"") << "overlong";
    EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"")
        << "surrogate";
    EXPECT_EQ(JsonString("\xF4\x90\x80\x80"),
              "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"")
        << "past U+10FFFF";
    EXPECT_EQ(JsonString("\xE5\xB0\"x"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\\\"x\"");
}

TEST(Json, AppendingKeepsWhatTheBufferHeld) {
    std::string out = "{\"a\": ";
    AppendJsonString(out, "x");
    out += ", \"b\": \"";
    AppendHex(out, std::string("\x00\x7f\x80\xff\x12", 5));
    out += '"';
    EXPECT_EQ(out, "{\"a\": \"x\", \"b\": \"007f80ff12\"");
    EXPECT_EQ(HexBytes(""), "");
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string hex = HexBytes(all);
    ASSERT_EQ(hex.size(), 512u);
    EXPECT_EQ(hex.substr(0, 8), "00010203");
    EXPECT_EQ(hex.substr(504), "fcfdfeff");
}
