#include "Builders.h"
#include "CodePage.h"
#include "ID3v2Tags.h"
#include "OtherProgramsKinds.h"
#include "PlatformFile.h"
#include "TestFiles.h"
#include "utPublic.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const Bytes kAudio = MpegFrames(10);
const Bytes kEmptyTag("ID3\3\0\0\0\0\0\x0a", 10);

// A song file in a folder of its own and the tag object that read it last.
struct Song {
    TempDir dir;
    std::string path = dir.File("song.MP3");
    std::string backup = dir.File("songbak.MP3");
    TID3v2Tag tag;

    TID3v2Tag& Load(const Bytes& bytes) {
        ForceDeleteFile(path); // whatever mode an earlier case left
        WriteFile(path, bytes);
        tag.ReadFromFile(path);
        return tag;
    }
    Bytes File() const { return ReadFile(path); }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

} // namespace

TEST(ID3v2Save, WritesTheStoreAsAVersion3TagBeforeTheOldAudio) {
    Song s;
    auto& t = s.Load(Id3TagOurs(Id3Frame("TALB", Bytes("\0Old", 4))) + kAudio);
    t.FrameIds = {"TIT2"};
    t.FramePayloads = {"Song"};
    t.SaveToFile();
    EXPECT_EQ(s.File(),
              Bytes("ID3\3\0\0\0\0\0\x19", 10) + Bytes("TIT2\0\0\0\x05\0\0\0Song", 15) + kAudio);
    EXPECT_EQ(t.TagSize, 25) << "the store is read again";
    EXPECT_EQ(t.FramePayloads, TStringList{"Song"});
    EXPECT_EQ(ReadFile(s.backup), Id3TagOurs(Id3Frame("TALB", Bytes("\0Old", 4))) + kAudio)
        << "the backup stays";

    t.FrameIds.clear();
    t.FramePayloads.clear();
    t.SaveToFile();
    EXPECT_EQ(s.File(), kEmptyTag + kAudio);

    // No tag before: 10 bytes of padding, for readers that take the size without the header,
    // then the whole old file.
    s.Load(kAudio);
    t.FrameIds = {"TIT2"};
    t.FramePayloads = {"Song"};
    t.SaveToFile();
    EXPECT_EQ(s.File(), Id3TagOurs(Id3FrameWritten("TIT2", "Song")) + Bytes(10, '\0') + kAudio);

    // Nothing after the old tag: the new file ends after the new frames.
    s.Load(Id3TagOurs(Id3FrameWritten("TIT2", "A")));
    t.FramePayloads[0] = "Song";
    t.SaveToFile();
    EXPECT_EQ(s.File(), Id3TagOurs(Id3FrameWritten("TIT2", "Song")));
}

TEST(ID3v2Save, WriteFrameSplitsTextsAndKeepsPicturesWhole) {
    TempDir dir;
    TID3v2Tag t;
    {
        platform::TFileStream out(dir.File("frames"), platform::TOpenMode::CreateNew,
                                  platform::TShareMode::Exclusive);
        EXPECT_EQ(t.WriteFrame("TIT2", Bytes(999, 'a'), out), 1010);
        EXPECT_EQ(t.WriteFrame("TIT2", Bytes(1000, 'b'), out), 1010 + 12);
        EXPECT_EQ(t.WriteFrame("", "no id", out), 0);
        EXPECT_EQ(t.WriteFrame("TPE1", "", out), 0) << "an empty text is no frame";
        EXPECT_EQ(t.WriteFrame("APIC", Bytes(5000, 'p'), out), 5011);
        EXPECT_EQ(t.WriteFrame("TIT", "x", out), 12);
        EXPECT_EQ(t.WriteFrame("TPIC", "", out), 11) << "an empty picture still gets its frame";
        out.Close();
    }
    EXPECT_EQ(ReadFile(dir.File("frames")),
              Id3FrameWritten("TIT2", Bytes(999, 'a')) + Id3FrameWritten("TIT2", Bytes(999, 'b')) +
                  Id3FrameWritten("TIT2", "b") + Id3FrameWritten("APIC", Bytes(5000, 'p')) +
                  Id3FrameWritten("TIT", "x") + Id3FrameWritten("TPIC", ""));
    EXPECT_EQ(RenderFrames("TPIC", Bytes(2000, 'q')), Id3FrameWritten("TPIC", Bytes(2000, 'q')));
    EXPECT_EQ(RenderFrames("TXXXX", "v"), Id3FrameWritten("TXXX", "v"));
    // A piece never ends inside a double-byte character.
    EXPECT_EQ(RenderFrames("TIT2", Bytes(998, 'a') + "\xd7\xd6"),
              Id3FrameWritten("TIT2", Bytes(998, 'a')) + Id3FrameWritten("TIT2", "\xd7\xd6"));
    EXPECT_EQ(RenderFrames("TIT2", Bytes(997, 'a') + "\xd7\xd6" + "b"),
              Id3FrameWritten("TIT2", Bytes(997, 'a') + "\xd7\xd6") + Id3FrameWritten("TIT2", "b"));
}

TEST(ID3v2Save, CommentsPicturesAndEmptyEntriesRoundTrip) {
    Song s;
    auto& t = s.Load(kEmptyTag + kAudio);
    const Bytes jpeg("\0image/jpeg\0\3\0JPG", 17), png("image/png\0\3\0PNG", 15);
    t.FrameIds = {"COMM", "APIC", "APIC", "TIT2", "TPE1"};
    t.FramePayloads = {"abc", jpeg, png, "", Bytes(2, '\0')};
    t.SaveToFile();
    EXPECT_EQ(s.File(),
              Id3TagOurs(Id3FrameWritten("COMM", Bytes("chi\0abc", 7)) +
                         Id3FrameWritten("APIC", jpeg.substr(1)) + Id3FrameWritten("APIC", png) +
                         Id3FrameWritten("TPE1", Bytes(2, '\0'))) +
                  kAudio);
    EXPECT_EQ(t.FrameIds, (TStringList{"COMM", "APIC", "APIC", "TPE1"}));
    EXPECT_EQ(t.FramePayloads, (TStringList{"abc", jpeg, '\0' + png, ""}));
    t.SaveToFile();
    EXPECT_EQ(t.FrameIds, (TStringList{"COMM", "APIC", "APIC"})) << "an empty text is dropped";

    // Long texts come back whole from their pieces; pictures are never split.
    Bytes text, comment, picture(300000, '\0');
    for (int i = 0; i < 1000; ++i) {
        text += char('a' + i % 26);
        comment += char('A' + i % 26);
    }
    for (size_t i = 1; i < picture.size(); ++i)
        picture[i] = char(i * 7);
    t.FrameIds = {"TIT2", "COMM", "APIC"};
    t.FramePayloads = {text, comment, picture};
    t.SaveToFile();
    const Bytes commentData = "chi" + Bytes(1, '\0') + comment;
    EXPECT_EQ(s.File(), Id3TagOurs(Id3FrameWritten("TIT2", text.substr(0, 999)) +
                                   Id3FrameWritten("TIT2", text.substr(999)) +
                                   Id3FrameWritten("COMM", commentData.substr(0, 999)) +
                                   Id3FrameWritten("COMM", commentData.substr(999)) +
                                   Id3FrameWritten("APIC", picture.substr(1))) +
                            kAudio);
    EXPECT_EQ(t.FramePayloads, (TStringList{text, comment, picture}));

    // An empty picture, or one that is a single NUL, keeps a frame; the rest is still written.
    t.FrameIds = {"APIC", "TPIC", "TIT2"};
    t.FramePayloads = {"", Bytes(1, '\0'), "after"};
    t.SaveToFile();
    EXPECT_EQ(s.File(), Id3TagOurs(Id3FrameWritten("APIC", "") + Id3FrameWritten("TPIC", "") +
                                   Id3FrameWritten("TIT2", "after")) +
                            kAudio);
    EXPECT_EQ(t.FramePayloads, (TStringList{Bytes(1, '\0'), Bytes(1, '\0'), "after"}));
}

TEST(ID3v2Save, ForeignTagKeepsItsLastTenBytesAcrossTwoSaves) {
    Song s;
    // The standard's size field excludes the header: this reader stops 10 bytes short.
    auto& t = s.Load(Id3TagStandard(Id3Frame("TIT2", Bytes("\0Title", 6)), 30) + kAudio);
    ASSERT_TRUE(t.Loaded);
    t.FramePayloads[0] = "First";
    t.SaveToFile();
    EXPECT_EQ(s.File(), Id3TagOurs(Id3FrameWritten("TIT2", "First")) + Bytes(10, '\0') + kAudio);
    t.FramePayloads[0] = "Second";
    t.SaveToFile();
    EXPECT_EQ(s.File(), Id3TagOurs(Id3FrameWritten("TIT2", "Second")) + Bytes(10, '\0') + kAudio);
}

TEST(ID3v2Edit, AddSetReplaceAndDeleteRewriteAtOnce) {
    Song s;
    const Bytes pic1("image/jpeg\0\3\0ONE", 16), pic2("image/jpeg\0\4\0TWO", 16);
    auto& t = s.Load(Id3TagOurs(Id3FrameWritten("tit2", "Old") + Id3FrameWritten("APIC", pic1) +
                                Id3FrameWritten("TPIC", "JPEG")) +
                     kAudio);
    const Bytes before = s.File();
    {
        MessageCapture messages;
        t.AddFrame("TIT2", "New", 3);
        EXPECT_EQ(messages.Messages(),
                  std::vector<std::string>{"！该标签已经存在，增加标签无效：TIT2"});
        EXPECT_EQ(s.File(), before);
        EXPECT_FALSE(Exists(s.backup)) << "a refusal touches nothing";
    }
    t.AddFrame("APIC", pic2.data(), static_cast<int>(pic2.size()));
    EXPECT_EQ(t.FrameIds, (TStringList{"tit2", "APIC", "TPIC", "APIC"}));

    const Bytes picture(700, 'J');
    t.SetFrame("TPIC", picture.data(), static_cast<int>(picture.size()));
    t.SetFrame("TIT2", "Newer", 5); // case ignored: the entry keeps its id
    EXPECT_EQ(s.File(),
              Id3TagOurs(Id3FrameWritten("tit2", "Newer") + Id3FrameWritten("APIC", pic1) +
                         Id3FrameWritten("TPIC", picture) + Id3FrameWritten("APIC", pic2)) +
                  kAudio);
    EXPECT_EQ(t.FramePayloads[2], '\0' + picture);

    const Bytes after = s.File();
    EXPECT_THROW(t.ReplaceFrame("APIC", "x", 4, 1), std::out_of_range);
    EXPECT_THROW(t.ReplaceFrame("APIC", "x", -1, 1), std::out_of_range);
    EXPECT_EQ(t.FrameIds.size(), 4u);
    t.ReplaceFrame("TALB", "Album", 3, 5);
    EXPECT_EQ(t.FrameIds, (TStringList{"tit2", "APIC", "TPIC", "TALB"}));

    ForceDeleteFile(s.backup);
    const Bytes kept = s.File();
    t.DeleteFrame(-1);
    t.DeleteFrame(4);
    EXPECT_EQ(s.File(), kept);
    EXPECT_FALSE(Exists(s.backup)) << "nothing was written";
    t.DeleteFrame(0);
    EXPECT_EQ(t.FrameIds, (TStringList{"APIC", "TPIC", "TALB"}));
    EXPECT_NE(after, s.File());

    // SetFrame adds a missing id at the end.
    t.SetFrame("TPE1", "Band", 4);
    EXPECT_EQ(t.FrameIds.back(), "TPE1");
}

TEST(ID3v2Edit, NothingIsWrittenUntilAReadHasSucceeded) {
    Song s;
    TID3v2Tag never;
    never.FileName = s.path;
    never.FrameIds = {"TIT2"};
    never.FramePayloads = {"x"};
    WriteFile(s.path, kAudio);
    never.SaveToFile();
    never.RemoveTag();
    never.AddFrame("TALB", "a", 1);
    EXPECT_EQ(s.File(), kAudio);

    // A tag whose frame runs past the end of the file is damaged: the store is not all of it.
    const Bytes damaged = Id3TagOurs(Id3Frame("TIT2", Bytes("\0Song", 5))).substr(0, 17);
    auto& t = s.Load(damaged);
    EXPECT_FALSE(t.Loaded);
    t.SetFrame("TIT2", "x", 1);
    t.DeleteFrame(0);
    t.RemoveTag();
    EXPECT_EQ(s.File(), damaged);
    EXPECT_FALSE(Exists(s.backup));
}

TEST(ID3v2RemoveTag, LeavesAnEmptyTagBeforeTheRest) {
    Song s;
    const Bytes original = Id3TagOurs(Id3FrameWritten("TIT2", "Song")) + kAudio;
    auto& t = s.Load(original);
    t.RemoveTag();
    EXPECT_EQ(s.File(), kEmptyTag + kAudio);
    EXPECT_TRUE(t.Exists);
    EXPECT_EQ(t.TagSize, 10);
    EXPECT_TRUE(t.FrameIds.empty());
    EXPECT_EQ(ReadFile(s.backup), original);

    // Without a tag there is nothing to strip: a header added in front would make decoders skip
    // into the first MPEG frame.
    for (const Bytes& untagged : {kAudio, Bytes("abc")}) {
        ForceDeleteFile(s.backup);
        s.Load(untagged);
        t.RemoveTag();
        EXPECT_EQ(s.File(), untagged);
        EXPECT_FALSE(Exists(s.backup));
    }

    s.Load(Id3TagStandard(Id3Frame("TIT2", Bytes("\0Title", 6)), 30) + kAudio);
    t.RemoveTag();
    EXPECT_EQ(s.File(), kEmptyTag + Bytes(10, '\0') + kAudio);
}

TEST(ID3v2Rewrite, RefusalsLeaveTheFileAsItWas) {
    Song s;
    const Bytes original = Id3TagOurs(Id3FrameWritten("TIT2", "Song")) + kAudio;
    auto& t = s.Load(original);
    {
        // A backup name held open by another program cannot be replaced.
        WriteFile(s.backup, "older backup");
        ForeignLock lock(s.backup, false);
        MessageCapture messages;
        t.SetFrame("TIT2", "Changed", 7);
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_EQ(messages.Messages()[0].rfind("！不能创建临时文件：" + s.backup + "\n", 0), 0u);
        EXPECT_EQ(s.File(), original);
        EXPECT_EQ(ReadFile(s.backup), "older backup");
        EXPECT_EQ(t.FramePayloads[0], "Changed") << "the store keeps the change, unread";
    }
    s.Load(original);
    chmod(s.path.c_str(), 0444);
    {
        ForeignLock lock(s.path, false);
        MessageCapture messages;
        t.RemoveTag();
        EXPECT_EQ(messages.Messages(),
                  std::vector<std::string>{"！文件正在被其它程序使用，不能被修改：" + s.path});
    }
    EXPECT_EQ(s.File(), original);
    EXPECT_EQ(ModeOf(s.path), 0444u) << "a refused delete leaves the attributes too";
    EXPECT_EQ(ReadFile(s.backup), "older backup") << "refused before the backup was touched";

    // Another program gave the tag a new size after the read: copying the audio from the old
    // end would cut it.
    s.Load(original);
    const Bytes changed = Id3TagOurs(Id3FrameWritten("TIT2", "Longer title")) + kAudio;
    WriteFile(s.path, changed);
    EXPECT_THROW(t.SetFrame("TIT2", "Mine", 4), platform::EPlatformError);
    EXPECT_EQ(s.File(), changed);
    EXPECT_EQ(ReadFile(s.backup), "older backup");
}

TEST(ID3v2Rewrite, AWriteThatFailsPartWayPutsTheOriginalBack) {
    Song s;
    const Bytes original = Id3TagOurs(Id3FrameWritten("TIT2", "Song")) + kAudio;
    const int64_t newTag = Id3TagOurs(Id3FrameWritten("TIT2", "Another title")).size();
    // Inside the new tag, and inside the copied audio.
    for (int64_t limit : {int64_t(15), newTag + 1000}) {
        auto& t = s.Load(original);
        chmod(s.path.c_str(), 0640);
        {
            WriteFault fault(limit);
            try {
                t.SetFrame("TIT2", "Another title", 13);
                ADD_FAILURE() << "a full disk was reported as success";
            } catch (const platform::EPlatformError& e) {
                EXPECT_NE(std::string(e.what()).find("No space left"), std::string::npos);
            }
        }
        EXPECT_EQ(s.File(), original) << limit;
        EXPECT_EQ(ModeOf(s.path), 0640u);
        EXPECT_EQ(s.Names(), std::vector<std::string>{"song.MP3"}) << "no partial file is left";
    }
    auto& t = s.Load(original);
    {
        WriteFault fault(5);
        EXPECT_THROW(t.RemoveTag(), platform::EPlatformError);
    }
    EXPECT_EQ(s.File(), original);
    t.SetFrame("TIT2", "Works again", 11);
    EXPECT_EQ(t.FramePayloads[0], "Works again");
}

TEST(ID3v2Rewrite, KeepsPermissionBitsAndFollowsNoLink) {
    Song s;
    const Bytes original = Id3TagOurs(Id3FrameWritten("TIT2", "Song")) + kAudio;
    const mode_t oldMask = umask(022);
    for (unsigned mode : {0600u, 0640u, 0604u, 0755u, 0444u, 0666u}) {
        auto& t = s.Load(original);
        chmod(s.path.c_str(), mode);
        t.SetFrame("TIT2", "Private", 7);
        EXPECT_EQ(t.FramePayloads[0], "Private");
        EXPECT_EQ(ModeOf(s.path), mode) << std::oct << mode;
        EXPECT_EQ(ModeOf(s.backup), mode) << std::oct << mode;
    }
    umask(oldMask);

    // A link planted at the backup's name is replaced, never written through.
    ForceDeleteFile(s.backup);
    const std::string victim = s.dir.File("victim");
    WriteFile(victim, "precious");
    ASSERT_EQ(symlink(victim.c_str(), s.backup.c_str()), 0);
    auto& t = s.Load(original);
    t.SetFrame("TIT2", "Linked", 6);
    EXPECT_EQ(ReadFile(victim), "precious");
    struct stat st {};
    ASSERT_EQ(lstat(s.backup.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadFile(s.backup), original);
}

TEST(ID3v2Rewrite, AFilePastTwoGibibytesIsCopiedWhole) {
    Song s;
    // A sparse file: the hole costs no disk, and the copy keeps it a hole.
    const Bytes head = Id3TagOurs(Id3FrameWritten("TIT2", "Song")) + "AUDIO";
    const Bytes tail = MpegFrames(2);
    const int64_t tailAt = (int64_t(1) << 31) + 12345;
    WriteFile(s.path, head);
    {
        platform::TFileStream f(s.path, platform::TOpenMode::ReadWrite,
                                platform::TShareMode::Exclusive);
        f.Seek(tailAt);
        f.WriteBuffer(tail.data(), tail.size());
    }
    struct stat st {};
    stat(s.path.c_str(), &st);
    if (st.st_blocks * 512 > (int64_t(64) << 20)) GTEST_SKIP() << "no sparse files here";

    s.tag.ReadFromFile(s.path);
    s.tag.SetFrame("TIT2", "A longer title", 14);
    const Bytes newHead = Id3TagOurs(Id3FrameWritten("TIT2", "A longer title")) + "AUDIO";
    const int64_t shift = int64_t(newHead.size()) - int64_t(head.size());
    EXPECT_EQ(platform::FileSize(s.path), tailAt + int64_t(tail.size()) + shift);
    platform::TFileStream f(s.path, platform::TOpenMode::Read, platform::TShareMode::DenyNone);
    Bytes got(newHead.size(), '\0');
    f.ReadBuffer(got.data(), got.size());
    EXPECT_EQ(got, newHead);
    got.assign(tail.size(), '\0');
    f.Seek(tailAt + shift);
    f.ReadBuffer(got.data(), got.size());
    EXPECT_EQ(got, tail);
    stat(s.path.c_str(), &st);
    EXPECT_LT(st.st_blocks * 512, int64_t(64) << 20) << "the hole stayed a hole";
}

TEST(NewFrameRule, UpperCasedFourBytesWithTheDefaultPayloads) {
    MessageCapture messages;
    EXPECT_FALSE(PrepareNewFrame("abc"));
    EXPECT_FALSE(PrepareNewFrame(""));
    EXPECT_FALSE(PrepareNewFrame("tit2x"));
    EXPECT_EQ(messages.Messages(),
              (std::vector<std::string>{"！新标签必须是四个字符的名字：ABC",
                                        "！新标签必须是四个字符的名字：",
                                        "！新标签必须是四个字符的名字：TIT2X"}));

    auto text = PrepareNewFrame("tit2");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->Id, "TIT2");
    EXPECT_EQ(text->Payload, Bytes(2, '\0'));
    auto picture = PrepareNewFrame("apic");
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Payload, Bytes("image/jpeg\0\3\0", 13));
    // Four bytes are not enough: other programs read only ids of A-Z and 0-9. A trail byte that
    // looks like a letter is not upper-cased in the message.
    EXPECT_FALSE(PrepareNewFrame("\xb7\xe2\xc3\xe6"));
    EXPECT_FALSE(PrepareNewFrame("x\x81\x61y"));
    EXPECT_FALSE(PrepareNewFrame("T\"\\X"));
    EXPECT_TRUE(PrepareNewFrame("tp2a"));
    ASSERT_EQ(messages.Messages().size(), 6u);
    EXPECT_EQ(messages.Messages()[4], "！新标签必须是四个字符的名字：X乤Y");

    // Added to a file, each reads back as the editor expects.
    Song s;
    auto& t = s.Load(kAudio);
    for (const char* id : {"apic", "tpic", "tcon"}) {
        auto frame = PrepareNewFrame(id);
        t.AddFrame(frame->Id, frame->Payload.data(), static_cast<int>(frame->Payload.size()));
    }
    EXPECT_EQ(t.FrameIds, (TStringList{"APIC", "TPIC", "TCON"}));
    EXPECT_EQ(t.FramePayloads, (TStringList{Bytes("\0image/jpeg\0\3\0", 14), Bytes(2, '\0'), ""}));
}

// Editing one frame of a tag another program wrote: every other entry comes back with the same
// id, text, encoding (UTF-8 becomes UTF-16, which version 2.3 has instead, or the single-byte
// encoding when it is all ASCII) and bytes; nothing of
// the old tag is left between the new one and the audio; a second save changes nothing.
TEST(ID3v2Save, EditingOneFrameKeepsEveryOtherFrameOfOtherPrograms) {
    std::string title;
    ASSERT_TRUE(platform::Utf8ToCp936("新标题", title));
    for (const Kind& kind : Kinds()) {
        SCOPED_TRACE(kind.name);
        Song s;
        auto& t = s.Load(kind.tag + kAudio);
        ASSERT_TRUE(t.Loaded);
        for (size_t i = 0; i < t.FrameIds.size(); ++i) {
            const TFrameOrigin* origin = t.OriginOf(i);
            if (!origin || origin->Access != TAccess::Unwritable) continue;
            // Version 2.3 has no name for it: the save is refused, the file left as it was.
            MessageCapture messages;
            t.SetFrame("TIT2", title.data(), static_cast<int>(title.size()));
            EXPECT_EQ(messages.Messages(),
                      std::vector<std::string>{kMsgFrameNotWritable + t.FrameIds[i]});
            EXPECT_EQ(s.File(), kind.tag + kAudio);
            s.Load(kind.tag + kAudio).DeleteFrame(static_cast<int>(i));
            break;
        }
        // Each entry as a line: id, text, encoding (UTF-8 written as UTF-16, ASCII as it is),
        // access, and the frame of one that is not text.
        auto describe = [&t](size_t i) {
            const TFrameOrigin* o = t.OriginOf(i);
            const std::string text = t.DisplayText(i);
            const bool ascii = std::all_of(text.begin(), text.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x80;
            });
            const int e = o ? (o->Encoding == 3 ? (ascii ? 0 : 1) : o->Encoding) : kOwnForm;
            return t.FrameIds[i] + "|" + t.DisplayText(i) + "|" + std::to_string(e) + "|" +
                   std::to_string(int(o ? o->Access : TAccess::Editable)) + "|" +
                   (o && e < 0 ? o->Frame : Bytes());
        };
        const std::string edited = "TIT2|新标题|" + std::to_string(kOwnForm) + "|0|";
        std::vector<std::string> want;
        for (size_t i = 0; i < t.FrameIds.size(); ++i)
            want.push_back(t.FrameIds[i] == "TIT2" ? edited : describe(i));
        if (t.IndexOfId("TIT2") == -1) want.push_back(edited);
        t.SetFrame("TIT2", title.data(), static_cast<int>(title.size()));
        ASSERT_TRUE(t.Loaded) << t.ReadError;
        std::vector<std::string> got;
        for (size_t i = 0; i < t.FrameIds.size(); ++i)
            got.push_back(describe(i));
        EXPECT_EQ(got, want);
        // Between the new tag and the audio at most the 10 bytes of padding the standard's
        // size leaves there.
        const Bytes file = s.File();
        const size_t gap = file.size() - kAudio.size() - static_cast<size_t>(t.TagSize);
        EXPECT_LE(gap, 10u);
        EXPECT_EQ(file.substr(t.TagSize), Bytes(gap, '\0') + kAudio);
        t.SaveToFile();
        EXPECT_EQ(s.File(), file);
        // Stripping the tag leaves none of it either.
        s.Load(kind.tag + kAudio).RemoveTag();
        EXPECT_EQ(s.File(), Bytes("ID3\x03\0\0\0\0\0\x0A", 10) + Bytes(gap, '\0') + kAudio);
    }
}

// Hostile forms, each found by a pass over the format: a file, one frame set, the file after it.
TEST(ID3v2Save, HostileFormsKeepTheAudioAndEveryFrame) {
    const Bytes title = Id3FrameWritten("TIT2", "New"), pad(10, '\0'), pic = kJpeg;
    const Bytes utf16(Bytes("\x01\xff\xfe", 3) + Utf16("a", false, false) + Bytes(252, '\0'));
    const Bytes plain = Id3Frame("TPE1", Bytes("\0Artist", 7)) + Id3Frame("TALB", utf16) +
                        Id3Frame("TCON", Bytes("\0Pop", 4));
    const Bytes extSize0 =
        Id3TagOf(4, 0x40, SyncSafe(0) + Bytes(2, '\0') + Id3Frame24("TIT2", "\x03Old")) + kAudio;
    const Bytes v22 = Id3TagOf(2, 0, Id3Frame22("XYZ", "data") + Bytes(6, '\0')) + kAudio;
    const Bytes cut = Bytes(998, 'a') + "\xd7\xd6", utf8 = Bytes("\x03", 1) + "a\xff" + "b",
                desc = "desc";
    struct Case {
        const char* name;
        Bytes file, id, text, want;
    } cases[] = {
        {"no tag: padding for standard readers", kAudio, "TIT2", "New",
         Id3TagOurs(title) + pad + kAudio},
        {"a footer flag without a footer",
         Id3TagOf(4, 0x10, Id3Frame24("TIT2", "\x03Old") + pad) + kAudio, "TIT2", "New",
         Id3TagOurs(title) + pad + kAudio},
        {"an extended header of size 0: damage", extSize0, "TIT2", "New", extSize0},
        {"plain sizes whose sync-safe reading lands on a NUL",
         Id3TagOf(4, 0, Id3Frame("TIT2", utf16) + plain + pad) + kAudio, "TIT2", "New",
         Id3TagOurs(title + plain) + pad + kAudio},
        {"a text cut before a double-byte character", kEmptyTag + kAudio, "TIT2", cut,
         Id3TagOurs(Id3FrameWritten("TIT2", cut.substr(0, 998)) +
                    Id3FrameWritten("TIT2", cut.substr(998))) +
             kAudio},
        {"a UTF-8 frame with invalid bytes",
         Id3TagOf(4, 0, Id3Frame24("TALB", utf8) + pad) + kAudio, "TIT2", "New",
         Id3TagOurs(Id3Frame("TALB", utf8) + title) + pad + kAudio},
        {"a UTF-8 description without its terminator",
         Id3TagOf(4, 0, Id3Frame24("TXXX", "\x03" + desc) + pad) + kAudio, "TIT2", "New",
         Id3TagOurs(Id3Frame("TXXX", "\x01\xff\xfe" + Utf16(desc, false, false)) + title) + pad +
             kAudio},
        {"a version 2.2 picture without an image format",
         Id3TagOf(2, 0, Id3Frame22("PIC", Bytes("\0\0\0\0\x03\0", 6) + pic) + Bytes(6, '\0')),
         "TIT2", "New",
         Id3TagOurs(Id3Frame("APIC", Bytes("\0image/jpeg\0\x03\0", 14) + pic) + title) + pad},
        {"a new text for a version 2.2 id without a later name", v22, "XYZ", "text", v22},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Song s;
        MessageCapture messages;
        s.Load(c.file).SetFrame(c.id, c.text.data(), static_cast<int>(c.text.size()));
        EXPECT_EQ(s.File(), c.want);
    }
}
