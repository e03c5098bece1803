#include "utPublic.h"
#include "Builders.h"
#include "TestFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(BackupFileName, LettersGoBeforeTheExtension) {
    EXPECT_EQ(BackupFileName("a.MP3"), "abak.MP3");
    EXPECT_EQ(BackupFileName("/music/song.MP3"), "/music/songbak.MP3");
    EXPECT_EQ(BackupFileName("/music/x.y.mp3"), "/music/x.ybak.mp3");
    EXPECT_EQ(BackupFileName("dir.v2/a"), "dir.v2/abak"); // a folder's dot is no extension
    EXPECT_EQ(BackupFileName("←请选择一个MP3文件"), "←请选择一个MP3文件bak");
}

TEST(FileUtilities, CopyOverReadOnlyTargetAndForceDelete) {
    TempDir dir;
    std::string src = dir.File("a.MP3"), dst = dir.File("abak.MP3");
    WriteFile(src, "new");
    WriteFile(dst, "old");
    chmod(dst.c_str(), 0444);
    EXPECT_TRUE(CopyFileOver(src, dst));
    EXPECT_EQ(ReadFile(dst), "new");

    chmod(dst.c_str(), 0444);
    EXPECT_TRUE(ForceDeleteFile(dst));
    EXPECT_FALSE(Exists(dst));
    EXPECT_TRUE(ForceDeleteFile(dst)) << "a missing file counts as deleted";
    EXPECT_FALSE(CopyFileOver(dir.File("missing"), dst));
    EXPECT_FALSE(Exists(dst));
}

TEST(FileUtilities, ForceDeleteRefusesAFileHeldByAnotherProgram) {
    TempDir dir;
    std::string f = dir.File("a.MP3");
    WriteFile(f, "x");
    {
        ForeignLock lock(f, false);
        EXPECT_FALSE(ForceDeleteFile(f));
        EXPECT_TRUE(Exists(f));
    }
    EXPECT_TRUE(ForceDeleteFile(f));
}

TEST(RewriteFile, KeepsBackupPermissionsAndRestoresOnFailure) {
    TempDir dir;
    std::string f = dir.File("song.MP3"), b = dir.File("songbak.MP3");
    Bytes original = MpegFrames(3);
    WriteFile(f, original);
    chmod(f.c_str(), 0600);
    ASSERT_TRUE(RewriteFile(f, [](platform::TFileStream& in, platform::TFileStream& out) {
        out.WriteBuffer("NEW", 3);
        platform::CopyRange(in, out, -1);
    }));
    EXPECT_EQ(ReadFile(f), "NEW" + original);
    EXPECT_EQ(ReadFile(b), original);
    struct stat st {};
    stat(f.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A writer that fails half-way: the file comes back whole under its own name.
    WriteFile(f, original);
    EXPECT_THROW(RewriteFile(f,
                             [](platform::TFileStream&, platform::TFileStream& out) {
                                 out.WriteBuffer("partial", 7);
                                 throw platform::EPlatformError("disk full");
                             }),
                 platform::EPlatformError);
    EXPECT_EQ(ReadFile(f), original);
}

TEST(RewriteFile, RefusalsLeaveTheFileUnchanged) {
    TempDir dir;
    std::string f = dir.File("song.MP3"), b = dir.File("songbak.MP3");
    WriteFile(f, "audio");
    auto writer = [](platform::TFileStream&, platform::TFileStream& out) {
        out.WriteBuffer("x", 1);
    };
    {
        MessageCapture messages;
        ForeignLock lock(f, false);
        EXPECT_FALSE(RewriteFile(f, writer));
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_EQ(messages.Messages()[0],
                  std::string("！文件正在被其它程序使用，不能被修改：") + f);
        EXPECT_FALSE(Exists(b)) << "a refusal leaves nothing behind";
    }
    EXPECT_EQ(ReadFile(f), "audio");
    {
        // A folder at the backup's name cannot be replaced by the copy.
        ForceDeleteFile(b);
        mkdir(b.c_str(), 0700);
        MessageCapture messages;
        EXPECT_FALSE(RewriteFile(f, writer));
        ASSERT_EQ(messages.Messages().size(), 1u);
        // The system's reason follows on a line of its own.
        EXPECT_EQ(messages.Messages()[0],
                  std::string("！不能创建临时文件：") + b + "\nFile exists");
    }
    EXPECT_EQ(ReadFile(f), "audio");
}
