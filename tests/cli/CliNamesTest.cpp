// quillon-tags name2tag and tag2name, run as a program.
#include "Builders.h"
#include "CliRun.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace {

const Bytes kAudio = MpegFrames(2);

std::string Stderr(const TempDir& dir) {
    return ReadFile(dir.File("stderr"));
}

} // namespace

TEST(CliName2Tag, FieldsFromTheNameInOneRewrite) {
    TempDir dir;
    const std::string f = dir.File("邓丽君 - 月亮代表我的心.mp3");
    const std::string odd = dir.File("晴天.mp3");
    const Bytes song =
        Id3TagOurs(Id3FrameWritten("TALB", "Album") + Id3FrameWritten("TIT2", "x")) + kAudio;
    WriteFile(f, song);
    WriteFile(odd, song);
    const std::string line = "{\"file\": \"" + f +
                             "\", \"new\": {\"TPE1\": \"邓丽君\", \"TIT2\": \"月亮代表我的心\"}}\n";
    // A dry run prints the same and changes nothing; the name that does not match is named.
    CliRun r = Tags("name2tag --dry-run '" + f + "' '" + odd + "'", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, line);
    EXPECT_NE(Stderr(dir).find("晴天.mp3: the name does not match"), std::string::npos);
    EXPECT_EQ(ReadFile(f), song);
    EXPECT_FALSE(Exists(dir.File("邓丽君 - 月亮代表我的心bak.mp3")));

    r = Tags("name2tag '" + f + "' '" + odd + "'", dir);
    EXPECT_EQ(r.status, 1) << Stderr(dir);
    EXPECT_EQ(r.out, line);
    // The title in its place, the artist added, in code page 936; the album untouched.
    EXPECT_EQ(ReadFile(f),
              Id3TagOurs(Id3FrameWritten("TALB", "Album") +
                         Id3FrameWritten("TIT2", "\xd4\xc2\xc1\xc1\xb4\xfa\xb1\xed\xce\xd2\xb5\xc4"
                                                 "\xd0\xc4") +
                         Id3FrameWritten("TPE1", "\xb5\xcb\xc0\xf6\xbe\xfd")) +
                  kAudio);
    EXPECT_EQ(ReadFile(dir.File("邓丽君 - 月亮代表我的心bak.mp3")), song);
    EXPECT_EQ(ReadFile(odd), song);

    // --unicode writes UTF-16; a GBK name is read as GBK.
    const std::string gbk = dir.File("03. \xc7\xe7\xcc\xec.mp3");
    WriteFile(gbk, song);
    r = Tags("name2tag --unicode --no-backup --pattern '%track%. %title%' '" + gbk + "'", dir);
    EXPECT_EQ(r.status, 0) << Stderr(dir);
    EXPECT_NE(r.out.find("\"new\": {\"TRCK\": \"03\", \"TIT2\": \"晴天\"}"), std::string::npos)
        << r.out;
    EXPECT_EQ(ReadFile(gbk), Id3TagOurs(Id3FrameWritten("TALB", "Album") +
                                        Id3Frame("TIT2", Bytes("\x01") + Utf16("晴天")) +
                                        Id3Frame("TRCK", Bytes("\x01") + Utf16("03"))) +
                                 kAudio);
    EXPECT_EQ(Tags("name2tag --pattern '%artist%%title%' '" + f + "'", dir).status, 2);
}

// Each refusal of tag2name leaves its files as they were; the others are renamed.
TEST(CliTag2Name, RenamesAndRefusals) {
    auto tag = [](const std::string& artist, const std::string& title) {
        Bytes frames = Id3FrameWritten("TRCK", "3");
        if (!artist.empty()) frames += Id3FrameWritten("TPE1", artist);
        if (!title.empty()) frames += Id3FrameWritten("TIT2", title);
        return Id3TagOurs(frames) + kAudio;
    };
    struct Row {
        std::vector<std::pair<std::string, Bytes>> files; // the first is renamed or refused
        std::string pattern;
        std::string renamed; // the first file's new name, or empty when refused
        std::string message;
    } rows[] = {
        {{{"a.MP3", tag("A/B", "\xd4\xc2\xc1\xc1")}},
         "%track%. %artist% - %title%",
         "03. A_B - 月亮.MP3",
         ""},
        {{{"b.mp3", tag("A", "")}}, "", "", "the tag has no TIT2 for %title%; not renamed"},
        {{{"c.mp3", tag("A", "T")}, {"A - T.mp3", tag("A", "T")}},
         "",
         "",
         "A - T.mp3 already exists; not renamed"},
        {{{"d.mp3", tag("A", "T")}, {"e.mp3", tag("A", "T")}},
         "",
         "",
         "e.mp3 would get the same name"},
        {{{"A - T.mp3", tag("A", "T")}}, "", "A - T.mp3", ""}, // named so already
    };
    for (const Row& row : rows) {
        TempDir dir;
        std::string words = "tag2name";
        if (!row.pattern.empty()) words += " --pattern '" + row.pattern + "'";
        for (const auto& [name, bytes] : row.files) {
            WriteFile(dir.File(name), bytes);
            words += " '" + dir.File(name) + "'";
        }
        WriteFile(dir.File("abak.MP3"), "backup");
        // The dry run first: the same line, nothing renamed.
        for (const char* dry : {" --dry-run", ""}) {
            const CliRun r = Tags(words + dry, dir);
            const std::string& first = row.files[0].first;
            EXPECT_EQ(r.status, row.renamed.empty() ? 1 : 0) << words << Stderr(dir);
            if (!row.renamed.empty()) {
                EXPECT_EQ(r.out, "{\"file\": \"" + dir.File(first) + "\", \"new\": \"" +
                                     dir.File(row.renamed) + "\"}\n");
            }
            EXPECT_NE(Stderr(dir).find(row.message), std::string::npos) << Stderr(dir);
            const bool moved = !*dry && row.renamed != first && !row.renamed.empty();
            EXPECT_EQ(Exists(dir.File(first)), !moved) << words << dry;
            if (moved) {
                EXPECT_EQ(ReadFile(dir.File(row.renamed)), row.files[0].second);
            }
            for (size_t i = 1; i < row.files.size(); ++i)
                EXPECT_EQ(ReadFile(dir.File(row.files[i].first)), row.files[i].second);
        }
        EXPECT_EQ(ReadFile(dir.File("abak.MP3")), "backup") << "the backup keeps its name";
    }
    TempDir dir;
    for (const char* bad : {"--pattern '%skip%'", "--pattern '%artist%/%title%'", "--no-backup"})
        EXPECT_EQ(Tags(std::string("tag2name ") + bad + " x.mp3", dir).status, 2) << bad;
}
