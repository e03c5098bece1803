#include "uMp3Const.h"
#include "CodePage.h"

#include <gtest/gtest.h>

TEST(ReferenceTables, SizesAndKnownEntries) {
    EXPECT_EQ(GenreNames.size(), 148u);
    EXPECT_EQ(GenreNames[0], "Blues");
    EXPECT_EQ(GenreNames[17], "Rock");
    EXPECT_EQ(GenreNames[147], "Synthpop");
    for (auto name : GenreNames)
        EXPECT_EQ(name.find(' '), std::string_view::npos);

    EXPECT_EQ(FrameIdList.size(), 74u);
    EXPECT_EQ(FrameIdList[0], "APIC");
    EXPECT_EQ(FrameIdList[15], "TPIC");
    EXPECT_EQ(FrameIdList[73], "WXXX");
    for (auto id : FrameIdList)
        EXPECT_EQ(id.size(), 4u);

    ASSERT_EQ(PictureTypeNames.size(), 21u);
    EXPECT_EQ(platform::Cp936ToUtf8(PictureTypeNames[0]), "其他");
    EXPECT_EQ(platform::Cp936ToUtf8(PictureTypeNames[3]), "封面");
    EXPECT_EQ(platform::Cp936ToUtf8(PictureTypeNames[20]), "出版商/工作室logo");
}
