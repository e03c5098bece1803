#include "Builders.h"
#include "ID3v2Tags.h"
#include "TestFiles.h"
#include "uNamePattern.h"

#include <gtest/gtest.h>

namespace {

// "id=text|id=text" of a match, or "-" for none.
std::string Matched(const std::string& pattern, const std::string& nameBytes) {
    std::string error;
    const auto parts = ParseNamePattern(pattern, TNamePatternUse::FromName, error);
    if (!parts) return "error: " + error;
    const auto fields = MatchName(*parts, NameText(SplitExtension(BaseName(nameBytes)).first));
    if (!fields) return "-";
    std::string out;
    for (const auto& [id, text] : *fields)
        out += (out.empty() ? "" : "|") + id + "=" + text;
    return out;
}

} // namespace

TEST(NamePattern, NamesAgainstPatterns) {
    const std::string byDash = kDefaultNamePattern;
    struct Row {
        std::string pattern, name, fields;
    } rows[] = {
        {byDash, "邓丽君 - 月亮代表我的心.mp3", "TPE1=邓丽君|TIT2=月亮代表我的心"},
        {byDash, "music/邓丽君 - 月亮代表我的心.MP3", "TPE1=邓丽君|TIT2=月亮代表我的心"},
        // The Windows forms of " - ", with or without the spaces around the full-width one.
        {byDash, "邓丽君－月亮代表我的心.mp3", "TPE1=邓丽君|TIT2=月亮代表我的心"},
        {byDash, "邓丽君 － 月亮代表我的心.mp3", "TPE1=邓丽君|TIT2=月亮代表我的心"},
        {byDash, "Teresa Teng – The Moon.mp3", "TPE1=Teresa Teng|TIT2=The Moon"},
        // The shortest artist: the title keeps a later separator; a hyphen inside a word is none.
        {byDash, "Jay-Z - Song - Live.mp3", "TPE1=Jay-Z|TIT2=Song - Live"},
        {byDash, "  周杰伦   -  晴天 .mp3", "TPE1=周杰伦|TIT2=晴天"},
        {byDash, "周杰伦\xE3\x80\x80-\xE3\x80\x80晴天.mp3", "-"}, // ideographic spaces are no " - "
        // Missing parts.
        {byDash, "晴天.mp3", "-"},
        {byDash, " - 晴天.mp3", "-"},
        {byDash, "周杰伦 - .mp3", "-"},
        {byDash, "周杰伦-晴天.mp3", "-"},
        {"%track%. %title%", "03. 晴天.mp3", "TRCK=03|TIT2=晴天"},
        {"%track%. %title%", "晴天.mp3", "-"},
        {"%artist% - %album% - %track% - %title%", "A - B - 7 - C.mp3",
         "TPE1=A|TALB=B|TRCK=7|TIT2=C"},
        {"%skip% %track% %title%", "CD1 02 Song.mp3", "TRCK=02|TIT2=Song"},
        {"[%year%] %ALBUM%", "[1977] 岛国之情歌.mp3", "TYER=1977|TALB=岛国之情歌"},
        {"%genre%_%title%", "Pop_100%.mp3", "TCON=Pop|TIT2=100%"},
        {"100% %title%", "100% 真.mp3", "TIT2=真"},
        {"%title%", "no extension", "TIT2=no extension"},
        {"%title%", ".hidden", "TIT2=.hidden"},
        // Names that are not UTF-8: GBK and Big5 bytes from Windows archives.
        {byDash,
         "\xb5\xcb\xc0\xf6\xbe\xfd - \xd4\xc2\xc1\xc1\xb4\xfa\xb1\xed\xce\xd2\xb5\xc4\xd0"
         "\xc4.mp3",
         "TPE1=邓丽君|TIT2=月亮代表我的心"},
        {byDash,
         "\xbe\x48\xc4\x52\xa7\x67 - \xa4\xeb\xab\x47\xa5\x4e\xaa\xed\xa7\xda\xaa\xba\xa4"
         "\xdf.mp3",
         "TPE1=鄧麗君|TIT2=月亮代表我的心"},
        // Patterns that cannot read names.
        {"%artist%%title%", "AB.mp3", "error: %artist% and %title% need text between them"},
        {"%title% - %title%", "A - B.mp3", "error: %title% appears twice in the pattern"},
        {"%skip% - x", "A - x.mp3",
         "error: the pattern has no field: %artist% %title% %album% %track% %year% %genre%"},
        {"", "A.mp3",
         "error: the pattern has no field: %artist% %title% %album% %track% %year% %genre%"},
        {"\xb8\xe8 %title%", "A.mp3", "error: the pattern is not valid UTF-8"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(Matched(r.pattern, r.name), r.fields) << r.pattern << " / " << r.name;
}

TEST(NamePattern, NamesFromTags) {
    TempDir dir;
    const std::string path = dir.File("song.mp3");
    WriteFile(path, Id3TagOurs(Id3FrameWritten("TPE1", "A/B") + Id3FrameWritten("TRCK", "3/12") +
                               Id3FrameWritten("TIT2", std::string(100, 'x') + "\r\n" +
                                                           "\xd4\xc2\xc1\xc1") +
                               Id3Frame("TDRC", Bytes("\0"
                                                      "1977-05-01",
                                                      11))) +
                        MpegFrames(1));
    TID3v2Tag tag;
    tag.ReadFromFile(path);
    EXPECT_EQ(NameFieldText(tag, 3), "03");
    EXPECT_EQ(NameFieldText(tag, 4), "1977") << "TDRC stands in for TYER";
    EXPECT_EQ(NameFieldText(tag, 2), "") << "no album";
    std::string error;
    const auto parts =
        ParseNamePattern("%track%. %artist% - %title%", TNamePatternUse::ToName, error);
    ASSERT_TRUE(parts) << error;
    std::vector<std::string> text(std::size(kNameFields));
    for (int f : {0, 1, 3})
        text[static_cast<size_t>(f)] = NameFieldText(tag, f);
    EXPECT_EQ(FillName(*parts, text, ".MP3"), "03. A_B - " + std::string(100, 'x') + "__月亮.MP3");
    // Cut before the extension on a character boundary: 250 bytes of 3-byte characters leave 249.
    text[1].clear();
    for (int i = 0; i < 90; ++i)
        text[1] += "月";
    const std::string cut = FillName(*parts, text, ".mp3");
    EXPECT_LE(cut.size(), kMaxNameBytes);
    EXPECT_EQ(cut.substr(cut.size() - 7), "月.mp3");
    EXPECT_EQ(FillName(*parts, text, "." + std::string(kMaxNameBytes, 'x')), "");
    for (const char* bad : {"%skip% %title%", "%artist%/%title%"})
        EXPECT_FALSE(ParseNamePattern(bad, TNamePatternUse::ToName, error)) << bad;
}
