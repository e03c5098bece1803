#include "CodePage.h"
#include "PerfCounter.h"
#include "PlatformFile.h"
#include "TestFiles.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace platform;

TEST(ShareModes, EmulatedWithLocksAcrossProcesses) {
    TempDir dir;
    std::string f = dir.File("a.MP3");
    WriteFile(f, "0123456789");
    {
        ForeignLock shared(f, false);
        EXPECT_NO_THROW(TFileStream(f, TOpenMode::Read, TShareMode::DenyNone));
        EXPECT_THROW(TFileStream(f, TOpenMode::Read, TShareMode::Exclusive), EPlatformError);
        EXPECT_FALSE(DeleteFile(f));
    }
    {
        ForeignLock exclusive(f, true);
        EXPECT_THROW(TFileStream(f, TOpenMode::Read, TShareMode::DenyNone), EPlatformError);
    }
    // Within one process two opens are two holders too, as on Windows.
    TFileStream a(f, TOpenMode::Read, TShareMode::Exclusive);
    EXPECT_THROW(TFileStream(f, TOpenMode::Read, TShareMode::DenyNone), EPlatformError);
}

TEST(FileStream, ReadsWritesAndNamesTheFileInErrors) {
    TempDir dir;
    std::string f = dir.File("a.bin");
    {
        TFileStream out(f, TOpenMode::CreateNew, TShareMode::Exclusive);
        out.WriteBuffer("hello world", 11);
        EXPECT_EQ(out.Size(), 11);
        out.Truncate(5);
    }
    TFileStream in(f, TOpenMode::Read, TShareMode::DenyNone);
    char buf[8] = {};
    in.Seek(1);
    EXPECT_EQ(in.ReadSome(buf, 8), 4u);
    in.Seek(3);
    try {
        in.ReadBuffer(buf, 3);
        FAIL() << "short read accepted";
    } catch (const EPlatformError& e) {
        EXPECT_NE(std::string(e.what()).find(f), std::string::npos);
    }
    EXPECT_THROW(TFileStream(f, TOpenMode::CreateNew, TShareMode::Exclusive), EPlatformError);
    try {
        TFileStream(dir.File("missing"), TOpenMode::Read, TShareMode::DenyNone);
        FAIL();
    } catch (const EPlatformError& e) {
        EXPECT_NE(std::string(e.what()).find("missing"), std::string::npos);
    }
}

TEST(FileStream, CreateNeverFollowsASymbolicLink) {
    TempDir dir;
    std::string victim = dir.File("victim"), link = dir.File("songbak.MP3");
    WriteFile(victim, "precious");
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    EXPECT_THROW(TFileStream(link, TOpenMode::Create, TShareMode::Exclusive), EPlatformError);
    EXPECT_FALSE(CopyFile(dir.File("victim"), link));
    EXPECT_EQ(ReadFile(victim), "precious");
}

TEST(FileStream, SmallReadsOfAReadOnlyStreamGiveTheFileBytesWhereverTheyFall) {
    TempDir dir;
    // Sizes around the read window (4096), so that reads fall inside, across and past windows.
    for (size_t size : {0u, 1u, 100u, 4095u, 4096u, 4097u, 10000u, 70000u}) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>(i * 131 + i / 7);
        const std::string path = dir.File("f" + std::to_string(size));
        WriteFile(path, bytes);
        TFileStream in(path, TOpenMode::Read, TShareMode::DenyNone);
        EXPECT_EQ(in.Size(), static_cast<int64_t>(size));
        unsigned seed = 8;
        for (int k = 0; k < 400; ++k) {
            seed = seed * 1103515245u + 12345u;
            const int64_t pos = size ? (seed >> 8) % (size + 50) : (seed >> 8) % 50;
            const size_t count = (seed >> 4) % (k % 5 == 0 ? 9000 : 300);
            std::string got(count, 'x');
            in.Seek(pos);
            const size_t n = in.ReadSome(got.data(), count);
            const size_t want = pos >= int64_t(size) ? 0 : std::min<size_t>(count, size - pos);
            ASSERT_EQ(n, want) << "size " << size << " pos " << pos << " count " << count;
            ASSERT_EQ(got.substr(0, n), bytes.substr(std::min<size_t>(pos, size), n));
            EXPECT_EQ(in.Position(), pos + int64_t(n));
        }
        // The end of the file ends a read that must be whole.
        in.Seek(size > 5 ? size - 5 : 0);
        char ten[10];
        EXPECT_THROW(in.ReadBuffer(ten, 10), EPlatformError);
    }
}

TEST(FileStream, AReadOnlyStreamKeepsTheViewItOpenedWith) {
    TempDir dir;
    const std::string path = dir.File("grows");
    WriteFile(path, std::string(5000, 'a'));
    TFileStream in(path, TOpenMode::Read, TShareMode::DenyNone);
    char four[4];
    in.Seek(4990);
    in.ReadBuffer(four, 4);
    // Another program appends: this read goes on with the size it started with.
    WriteFile(path, std::string(5000, 'a') + "tail");
    EXPECT_EQ(in.Size(), 5000);
    in.Seek(4998);
    EXPECT_EQ(in.ReadSome(four, 4), 2u);
    // A stream opened for writing always asks the file.
    TFileStream out(path, TOpenMode::ReadWrite, TShareMode::DenyNone);
    EXPECT_EQ(out.Size(), 5004);
}

TEST(CodePage, Conversions) {
    EXPECT_EQ(Cp936ToUtf8("\xb7\xe2\xc3\xe6"), "封面");
    EXPECT_EQ(Cp936ToUtf8("a\xff"
                          "b"),
              "a\xEF\xBF\xBD"
              "b");
    std::string out;
    EXPECT_TRUE(Utf8ToCp936("封面 ok", out));
    EXPECT_EQ(out, "\xb7\xe2\xc3\xe6 ok");
    EXPECT_FALSE(Utf8ToCp936("emoji 😀", out));  // not in code page 936
    EXPECT_FALSE(Utf8ToCp936("\xd6\xd0", out)); // not UTF-8
    EXPECT_EQ(Utf8ToCp936Lossy("a😀b"), "a?b");
    EXPECT_EQ(Utf8ToCp936Lossy("\xd6\xd0\xce\xc4"), "");
    // Unicode tag characters (U+E0040 here), which the system converter would drop unnoticed.
    EXPECT_FALSE(Utf8ToCp936("\xe5\xb0\x81\xF3\xA0\x81\x80", out));
    EXPECT_EQ(out, "");
    EXPECT_EQ(Utf8ToCp936Lossy("\xF3\xA0\x81\x80\xe5\xb0\x81\xF3\xA0\x80\x81"), "?\xb7\xe2?");
    EXPECT_TRUE(SameText("tit2", "TIT2"));
    EXPECT_FALSE(SameText("TIT2", "TIT"));
    EXPECT_TRUE(SameText("\xb7\xe2\xc3\xe6", "\xb7\xe2\xc3\xe6"));
    // A trail byte that looks like a letter is not folded: 0xB0 0x41 and 0xB0 0x61 differ.
    EXPECT_FALSE(SameText("\x81\x41", "\x81\x61"));
    // A refused pair the converter steps over itself, at the end of the input.
    EXPECT_EQ(LegacyToUtf8(TCodePage::EucKr, "\xA2\xE8"), "\xEF\xBF\xBD");
}

TEST(CodePage, AsciiPassesUnchangedInEveryDirection) {
    // ASCII takes a shortcut past the converter; it must give what the converter gives.
    const std::string ascii("Title\0\x01\x1f ~\x7f", 12);
    EXPECT_EQ(Cp936ToUtf8(ascii), ascii);
    EXPECT_EQ(Utf8ToCp936Lossy(ascii), ascii);
    std::string out = "old";
    EXPECT_TRUE(Utf8ToCp936(ascii, out));
    EXPECT_EQ(out, ascii);
    EXPECT_EQ(Cp936ToUtf8(""), "");
    EXPECT_EQ(Utf8ToCp936Lossy(""), "");
    // One byte past ASCII anywhere takes the converter's way.
    EXPECT_EQ(Cp936ToUtf8("abc\x80"), "abc\xE2\x82\xAC") << "the euro sign of code page 936";
    EXPECT_EQ(Utf8ToCp936Lossy("abc\xE2\x82\xAC"), "abc\x80");
}

// A row per trap. The texts are written in `written` and cut to `cut` bytes where it is set, as
// an ID3v1 field is.
TEST(CodePage, DetectionTellsTheTrapsApart) {
    const TCodePage gbk = TCodePage::Gbk, big5 = TCodePage::Big5, sjis = TCodePage::ShiftJis,
                    kr = TCodePage::EucKr, cyr = TCodePage::Windows1251,
                    west = TCodePage::Windows1252, utf8 = TCodePage::Utf8;
    struct TRow {
        const char* why;
        TCodePage written;
        std::vector<std::string> texts;
        std::vector<std::string_view> unicode;
        TCodePage expected;
        size_t cut = 0;
    };
    const TRow rows[] = {
        {"pure ASCII needs no guess", west, {"ABBA", "Waterloo"}, {}, gbk},
        {"GBK bytes that are valid UTF-8", gbk, {"薛之谦"}, {}, gbk},
        {"Big5 trail bytes that are ASCII letters", big5, {"周杰倫"}, {}, big5},
        {"Big5, the whole tag", big5, {"月亮代表我的心", "鄧麗君"}, {}, big5},
        {"Hangul inside GB2312's rows", kr, {"소녀시대"}, {}, kr},
        {"Shift-JIS kana and kanji", sjis, {"宇多田ヒカル", "花"}, {}, sjis},
        {"Western names with one accent", west, {"Café del Mar", "Beyoncé", "Motörhead"}, {}, west},
        {"Cyrillic, one word", cyr, {"Кино"}, {}, cyr},
        {"UTF-8 in a Latin-1 frame", utf8, {"周杰伦", "晴天"}, {}, utf8},
        {"an ID3v1 field cut inside a character",
         big5,
         {"月亮代表我的心 鄧麗君 甜蜜蜜 小城故事"},
         {},
         big5,
         30},
        {"a Unicode frame settles a short string", kr, {"좋니"}, {"좋니"}, kr},
        {"one Cyrillic letter among Latin words", west, {"Hymne à l'amour"}, {}, west},
        {"a Chinese word whose bytes read as common Hangul", gbk, {"快乐"}, {}, gbk},
        {"a Korean word whose bytes read as two Big5 characters", kr, {"봄날"}, {}, kr},
    };
    for (const TRow& row : rows) {
        std::vector<std::string> bytes;
        for (const std::string& t : row.texts) {
            std::string b;
            ASSERT_TRUE(Utf8ToLegacy(row.written, t, b)) << row.why;
            if (row.cut) b.resize(row.cut);
            bytes.push_back(b);
        }
        const std::vector<std::string_view> legacy(bytes.begin(), bytes.end());
        EXPECT_EQ(CodePageName(DetectCodePage(legacy, row.unicode)), CodePageName(row.expected))
            << row.why;
    }
}

TEST(PerfCounter, MonotonicClockIsFineGrained) {
    EXPECT_GT(PerformanceFrequency(), 0);
}
