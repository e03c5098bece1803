// quillon-tags set, add, delete and strip, run as a program.
#include "Builders.h"
#include "CliRun.h"
#include "ID3v2Tags.h"
#include "TestFiles.h"
#include "utPublic.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace {

const Bytes kAudio = MpegFrames(4);
const Bytes kEmptyTag("ID3\3\0\0\0\0\0\x0a", 10);

Bytes Song() {
    return Id3TagOurs(Id3FrameWritten("TIT2", "Old") + Id3FrameWritten("TPE1", "Band")) + kAudio;
}

std::string Stderr(const TempDir& dir) {
    return ReadFile(dir.File("stderr"));
}

TID3v2Tag& Stored(const std::string& path) {
    static TID3v2Tag tag;
    tag.ReadFromFile(path);
    return tag;
}

} // namespace

TEST(CliSet, StoresTheTextInCodePage936) {
    TempDir dir;
    const std::string f = dir.File("s.MP3"), b = dir.File("sbak.MP3");
    WriteFile(f, Song());
    ASSERT_EQ(Tags("set " + f + " TIT2 封面", dir).status, 0) << Stderr(dir);
    EXPECT_EQ(ReadFile(f), Id3TagOurs(Id3FrameWritten("TIT2", "\xb7\xe2\xc3\xe6") +
                                      Id3FrameWritten("TPE1", "Band")) +
                               kAudio);
    EXPECT_EQ(ReadFile(b), Song()) << "the backup stays by default";

    ASSERT_EQ(Tags("set " + f + " TALB Album --no-backup", dir).status, 0) << Stderr(dir);
    EXPECT_EQ(Stored(f).FrameIds, (TStringList{"TIT2", "TPE1", "TALB"}));
    EXPECT_FALSE(Exists(b));
    // After "--" a TEXT may begin with a dash.
    ASSERT_EQ(Tags("set " + f + " TPE1 --no-backup -- -jazz", dir).status, 0) << Stderr(dir);
    EXPECT_EQ(Stored(f).FramePayloads[1], "-jazz");
    EXPECT_FALSE(Exists(b));

    const Bytes before = ReadFile(f);

    // Several files: the last two words are ID and TEXT; a missing file fails alone.
    const std::string g = dir.File("g.MP3");
    WriteFile(g, Song());
    EXPECT_EQ(
        Tags("set -j 2 " + f + " " + dir.File("none.MP3") + " " + g + " TCON Pop", dir).status, 1);
    EXPECT_NE(Stderr(dir).find("none.MP3"), std::string::npos);
    for (const std::string& file : {f, g})
        EXPECT_EQ(Stored(file).FramePayloads.back(), "Pop") << file;
    EXPECT_EQ(ReadFile(dir.File("gbak.MP3")), Song());
    EXPECT_EQ(ReadFile(b), before) << "a backup of this batch";
    WriteFile(f, before);

    for (const std::string& words : {"set " + f + " TIT2", "set " + f + " TIT2X x",
                                     "set " + f + " '' x", "set " + f + " TIT2 x -j"}) {
        EXPECT_EQ(Tags(words, dir).status, 2) << words;
    }
    EXPECT_EQ(ReadFile(f), before);
}

// The writing rule: the tag's own code page where every character fits (code page 936 for a GBK
// or new tag), else UTF-16 with a byte-order mark; never refused, never "?".
TEST(CliSet, WritesInTheTagsCodePageElseUtf16) {
    struct Row {
        Bytes tag;
        std::string words; // after "set FILE"
        Bytes frame;       // the TALB frame written
    } rows[] = {
        {Id3FrameWritten("TIT2", "\xa4\xeb\xab\x47") +
             Id3FrameWritten("TPE1", "\xbe\x48\xc4\x52\xa7\x67"),
         "TALB 月亮", Id3FrameWritten("TALB", "\xa4\xeb\xab\x47")}, // 月亮 鄧麗君 in Big5
        {Id3FrameWritten("TIT2", "Caf\xe9 del Mar") + Id3FrameWritten("TPE1", "Beyonc\xe9"),
         "TALB 'Été indien'", Id3FrameWritten("TALB", "\xc9t\xe9 indien")},
        {Id3FrameWritten("TIT2", "Caf\xe9 del Mar"), "TALB 封面",
         Id3Frame("TALB", Bytes("\x01") + Utf16("封面"))},
        {Bytes(), "TALB 封面", Id3FrameWritten("TALB", "\xb7\xe2\xc3\xe6")},
        {Bytes(), "TALB 'a😀b'", Id3Frame("TALB", Bytes("\x01") + Utf16("a😀b"))},
        {Bytes(), "TALB 封面 --unicode", Id3Frame("TALB", Bytes("\x01") + Utf16("封面"))},
        {Id3FrameWritten("TIT2", "\xb7\xe2"), "TALB 'Été' --codepage windows-1252",
         Id3FrameWritten("TALB", "\xc9t\xe9")},
    };
    TempDir dir;
    for (const Row& row : rows) {
        const std::string f = dir.File("c.MP3");
        WriteFile(f, Id3TagOurs(row.tag) + kAudio);
        ASSERT_EQ(Tags("set " + f + " " + row.words + " --no-backup", dir).status, 0)
            << row.words << Stderr(dir);
        EXPECT_EQ(ReadFile(f), Id3TagOurs(row.tag + row.frame) + kAudio) << row.words;
    }
}

TEST(CliRecode, LegacyTextsBecomeUtf16AndNothingElseChanges) {
    TempDir dir;
    const std::string f = dir.File("r.MP3"), b = dir.File("rbak.MP3");
    // 月亮 and 鄧麗君 in Big5; the ID3v1 block cannot hold Unicode and stays.
    const Bytes v1 =
        Id3v1Block({.title = "\xa4\xeb\xab\x47", .artist = "\xbe\x48\xc4\x52\xa7\x67"});
    const Bytes ascii = Id3FrameWritten("TRCK", "3");
    // A frame's status flags (here read-only) stay on its converted frame.
    const auto readOnly = [](Bytes frame) {
        frame[8] = '\x20';
        return frame;
    };
    const Bytes legacy = Id3TagOurs(Id3FrameWritten("TIT2", "\xa4\xeb\xab\x47") + ascii +
                                    Id3FrameWritten("TPE1", "\xbe\x48\xc4\x52\xa7\x67") +
                                    readOnly(Id3FrameWritten("TALB", "\xa4\xeb"))) +
                         kAudio + v1;
    const std::string line = "{\"file\": \"" + f +
                             "\", \"codepage\": \"big5\", \"changed\": [{\"id\": \"TIT2\", "
                             "\"text\": \"月亮\"}, {\"id\": \"TPE1\", \"text\": \"鄧麗君\"}, "
                             "{\"id\": \"TALB\", \"text\": \"月\"}]}\n";
    WriteFile(f, legacy);
    CliRun r = Tags("recode --dry-run " + f, dir);
    EXPECT_EQ(r.status, 0) << Stderr(dir);
    EXPECT_EQ(r.out, line);
    EXPECT_EQ(ReadFile(f), legacy);
    EXPECT_FALSE(Exists(b));
    r = Tags("recode " + f, dir);
    EXPECT_EQ(r.status, 0) << Stderr(dir);
    EXPECT_EQ(r.out, line);
    EXPECT_EQ(ReadFile(f), Id3TagOurs(Id3Frame("TIT2", Bytes("\x01") + Utf16("月亮")) + ascii +
                                      Id3Frame("TPE1", Bytes("\x01") + Utf16("鄧麗君")) +
                                      readOnly(Id3Frame("TALB", Bytes("\x01") + Utf16("月")))) +
                               kAudio + v1);
    EXPECT_EQ(ReadFile(b), legacy);
    // Nothing legacy left: no rewrite, no backup.
    const Bytes done = ReadFile(f);
    std::remove(b.c_str());
    r = Tags("recode --codepage gbk " + f, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\"changed\": []"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(f), done);
    EXPECT_FALSE(Exists(b));
    EXPECT_EQ(Tags("recode --codepage latin9 " + f, dir).status, 2);
}

TEST(CliAdd, TheEditorsRuleForANewFrame) {
    TempDir dir;
    const std::string f = dir.File("s.MP3");
    WriteFile(f, Song());
    EXPECT_EQ(Tags("add " + f + " tit2", dir).status, 1);
    EXPECT_EQ(Stderr(dir), "！该标签已经存在，增加标签无效：TIT2\n");
    EXPECT_EQ(Tags("add " + f + " abc", dir).status, 1);
    EXPECT_EQ(Stderr(dir), "！新标签必须是四个字符的名字：ABC\n");
    EXPECT_EQ(ReadFile(f), Song());
    EXPECT_FALSE(Exists(dir.File("sbak.MP3")));

    ASSERT_EQ(Tags("add " + f + " apic", dir).status, 0) << Stderr(dir);
    ASSERT_EQ(Tags("add " + f + " APIC --no-backup", dir).status, 0) << Stderr(dir);
    // Four bytes, but not of A-Z and 0-9: other programs would skip or stop at it.
    EXPECT_EQ(Tags("add " + f + " 封面", dir).status, 1);
    EXPECT_EQ(Stderr(dir), "！新标签必须是四个字符的名字：封面\n");
    const TID3v2Tag& t = Stored(f);
    EXPECT_EQ(t.FrameIds, (TStringList{"TIT2", "TPE1", "APIC", "APIC"}));
    EXPECT_EQ(t.FramePayloads[3], Bytes("\0image/jpeg\0\3\0", 14));

    // Several files: the one that has the frame already is refused, the others get it.
    const std::string g = dir.File("g.MP3");
    WriteFile(g, Song());
    ASSERT_EQ(Tags("add " + f + " TALB", dir).status, 0);
    EXPECT_EQ(Tags("add " + f + " " + g + " talb --no-backup", dir).status, 1);
    EXPECT_EQ(Stderr(dir), "！该标签已经存在，增加标签无效：TALB\n");
    EXPECT_EQ(Stored(g).FrameIds, (TStringList{"TIT2", "TPE1", "TALB"}));
    EXPECT_FALSE(Exists(dir.File("gbak.MP3")));
    // A forced code page is the tag's, as on set: UTF-8 is none to write in, so UTF-16.
    ASSERT_EQ(Tags("add " + g + " TCON --codepage utf-8 --no-backup", dir).status, 0);
    EXPECT_NE(ReadFile(g).find(Id3Frame("TCON", Bytes("\1\xFF\xFE", 3))), std::string::npos);
}

TEST(CliDelete, RemovesTheFrameAtTheIndex) {
    TempDir dir;
    const std::string f = dir.File("s.MP3");
    WriteFile(f, Song());
    ASSERT_EQ(Tags("delete " + f + " 0", dir).status, 0) << Stderr(dir);
    EXPECT_EQ(ReadFile(f), Id3TagOurs(Id3FrameWritten("TPE1", "Band")) + kAudio);

    const Bytes before = ReadFile(f);
    EXPECT_EQ(Tags("delete " + f + " 1", dir).status, 1) << "no silent success";
    EXPECT_NE(Stderr(dir).find("there is no frame 1 (1 frames)"), std::string::npos);
    for (const char* index : {"x", "-1", "1x", "99999999999", "--id ''"})
        EXPECT_EQ(Tags("delete " + f + " " + index, dir).status, 2) << index;
    EXPECT_EQ(ReadFile(f), before);

    // --id: the first frame with the id, letter case ignored; a file without one is no failure.
    const std::string g = dir.File("g.MP3");
    WriteFile(g, Song());
    ASSERT_EQ(Tags("delete " + f + " " + g + " --id tit2 -j 2", dir).status, 0) << Stderr(dir);
    EXPECT_EQ(Stderr(dir), "quillon-tags: " + f + ": no TIT2 frame; nothing deleted\n");
    EXPECT_EQ(ReadFile(f), before);
    EXPECT_EQ(Stored(g).FrameIds, (TStringList{"TPE1"}));
    EXPECT_EQ(Tags("delete " + f + " " + g + " 0", dir).status, 0) << Stderr(dir);
    for (const std::string& file : {f, g})
        EXPECT_EQ(ReadFile(file), kEmptyTag + kAudio) << file;
}

TEST(CliJobs, FilesRunAtOnceButReportInTheirOrder) {
    TempDir dir;
    std::string files;
    std::vector<std::string> titles;
    for (int i = 0; i < 7; ++i) {
        titles.push_back(std::string("T") + std::to_string(i) + std::string(size_t(i) * 3000, 'x'));
        const std::string f = dir.File(std::string("f") + std::to_string(i) + ".MP3");
        WriteFile(f, Id3TagOurs(Id3FrameWritten("TIT2", titles.back())) + kAudio);
        files += " " + (i == 3 ? dir.File("missing.MP3") : f);
    }
    CliRun r = Tags("show -j 3" + files, dir);
    EXPECT_EQ(r.status, 1);
    size_t at = 0;
    for (int i = 0; i < 7; ++i) {
        if (i == 3) continue;
        const size_t line = r.out.find(std::string("f") + std::to_string(i) + ".MP3", at);
        ASSERT_NE(line, std::string::npos) << i;
        EXPECT_EQ(r.out.find("\n", at), r.out.find("\n", line)) << "line " << i << " out of order";
        at = r.out.find("\n", line) + 1;
    }
    EXPECT_EQ(at, r.out.size());
    EXPECT_NE(Stderr(dir).find("missing.MP3"), std::string::npos);

    EXPECT_EQ(Tags("strip -j 4 --id3v2 --no-backup" + files, dir).status, 1);
    for (int i = 0; i < 7; ++i) {
        if (i != 3) {
            EXPECT_EQ(ReadFile(dir.File(std::string("f") + std::to_string(i) + ".MP3")),
                      kEmptyTag + kAudio);
        }
    }
    EXPECT_EQ(Tags("show " + dir.File("f0.MP3") + " " + dir.File("f1.MP3"), dir).status, 0)
        << "one file per core by default";
}

TEST(CliRewrite, RefusalsAndDamagedTagsWriteNothing) {
    TempDir dir;
    const std::string f = dir.File("s.MP3");
    WriteFile(f, Song());
    {
        ForeignLock lock(f, false);
        EXPECT_EQ(Tags("set " + f + " TIT2 x", dir).status, 1);
        EXPECT_EQ(Stderr(dir), "！文件正在被其它程序使用，不能被修改：" + f + "\n");
        EXPECT_EQ(Tags("strip " + f + " --id3v2 --no-backup", dir).status, 1);
    }
    EXPECT_EQ(ReadFile(f), Song());
    EXPECT_FALSE(Exists(dir.File("sbak.MP3"))) << "a refusal leaves nothing behind";

    // A frame that claims more than the file holds: the store is not the whole tag.
    const Bytes damaged = Song().substr(0, 18);
    WriteFile(f, damaged);
    ForceDeleteFile(dir.File("sbak.MP3"));
    for (const std::string& words : {"set " + f + " TIT2 x", "add " + f + " TALB",
                                     "delete " + f + " 0", "strip " + f + " --id3v2"}) {
        EXPECT_EQ(Tags(words, dir).status, 1) << words;
        EXPECT_NE(Stderr(dir).find("ID3v2 tag damaged"), std::string::npos);
    }
    EXPECT_EQ(ReadFile(f), damaged);
    EXPECT_FALSE(Exists(dir.File("sbak.MP3")));
    EXPECT_EQ(Tags("set " + dir.File("missing.MP3") + " TIT2 x", dir).status, 1);
}

TEST(CliRewrite, TheNewFileIsOnDiskBeforeTheBackupGoes) {
    TempDir dir;
    const std::string f = dir.File("s.MP3"), b = dir.File("sbak.MP3"), log = dir.File("trace");
    WriteFile(f, Song());
    ASSERT_EQ(Tags("set " + f + " TIT2 x --no-backup", dir,
                   "LD_PRELOAD=" + std::string(SYNC_TRACE) + " QUILLON_SYNC_TRACE=" + log)
                  .status,
              0)
        << Stderr(dir);
    const std::string trace = ReadFile(log);
    auto at = [&](const std::string& line) {
        size_t pos = trace.find(line + "\n");
        EXPECT_NE(pos, std::string::npos) << line << " missing from\n" << trace;
        return pos;
    };
    // The backup is on disk before the new file is written; the original is never deleted (the
    // new file replaces it); the new file and its folder entry are on disk before the backup goes.
    const size_t newFile = trace.find("fsync " + f); // written under a name of its own
    EXPECT_NE(newFile, std::string::npos) << trace;
    EXPECT_LT(at("fsync " + b), newFile) << trace;
    EXPECT_EQ(trace.find("unlink " + f + "\n"), std::string::npos) << trace;
    const size_t folder = trace.find("fsync " + dir.Path() + "\n", newFile);
    EXPECT_NE(folder, std::string::npos) << trace;
    EXPECT_LT(folder, at("unlink " + b)) << trace;
    EXPECT_FALSE(Exists(b));
}
