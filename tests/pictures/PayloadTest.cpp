#include "CodePage.h"
#include "uPictureEmbed.h"
#include "uPicturePayload.h"

#include <gtest/gtest.h>

using std::string;

namespace {

// The payload as the frame store holds it after the writer and the reader: 0x00 in front.
string Stored(const string& built) {
    return string(1, '\0') + built;
}

const string kJpeg("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\xFF\xD9", 13);

} // namespace

TEST(PicturePayload, ReadersOfTheStoredAttachedPicture) {
    const string added("\0image/jpeg\0\x03\0", 14); // an APIC frame added by hand
    EXPECT_EQ(PictureTypeOf(added), 3);
    EXPECT_EQ(PictureDescriptionOf(added), "");
    EXPECT_EQ(PictureDataStart(added), 15) << "one past the end: no picture bytes";

    const string one(1, '\0');
    EXPECT_EQ(PictureTypeOf(one), 0);
    EXPECT_EQ(PictureDescriptionOf(one), "");
    EXPECT_EQ(PictureDataStart(one), 3);

    string typed = Stored(BuildAttachedPicturePayload(3, "abc", kJpeg));
    EXPECT_EQ(PictureTypeOf(typed), 3);
    EXPECT_EQ(PictureDescriptionOf(typed), "abc");
    EXPECT_EQ(typed.substr(PictureDataStart(typed) - 1), kJpeg);
    typed[12] = 21;
    EXPECT_EQ(PictureTypeOf(typed), 0) << "types above 20 read as 0";
    typed[12] = 20;
    EXPECT_EQ(PictureTypeOf(typed), 20);

    // No terminator: a short payload has no picture; a long one is taken to start at 14.
    const string unterminated = string("\0image/jpeg\0\x03", 13) + "abcdef";
    EXPECT_EQ(PictureDescriptionOf(unterminated), "abcdef");
    EXPECT_EQ(PictureDataStart(unterminated), static_cast<int>(unterminated.size()) + 2);
    const string long80 = string("\0image/jpeg\0\x03", 13) + string(67, 'x');
    EXPECT_EQ(PictureDataStart(long80), 15);
}

TEST(PicturePayload, DescriptionsUpTo66BytesReadBack) {
    for (size_t n : {size_t(0), size_t(1), size_t(65), size_t(66)}) {
        const string desc(n, 'd');
        const string stored = Stored(BuildAttachedPicturePayload(4, desc, kJpeg));
        EXPECT_EQ(PictureDescriptionOf(stored), desc);
        EXPECT_EQ(stored.substr(PictureDataStart(stored) - 1), kJpeg) << n << " bytes";
        EXPECT_EQ(CheckPictureDescription(desc), "");
    }
    // 67 bytes: the terminator lies past offset 79 and the picture would be read from inside
    // the description. Such a description is refused before anything is built.
    const string desc67(67, 'd');
    const string stored = Stored(BuildAttachedPicturePayload(4, desc67, kJpeg));
    EXPECT_NE(stored.substr(PictureDataStart(stored) - 1), kJpeg);
    const string refusal = CheckPictureDescription(desc67);
    EXPECT_EQ(refusal.rfind("！", 0), 0u) << refusal;
    EXPECT_NE(refusal.find("66"), string::npos);
    EXPECT_EQ(refusal.substr(refusal.size() - string("：APIC").size()), "：APIC");
    // The edit box allows 60 characters: 34 Chinese ones are already 68 bytes.
    string chinese;
    ASSERT_TRUE(platform::Utf8ToCp936(
        "封面封面封面封面封面封面封面封面封面封面封面封面封面封面封面封面封面", chinese));
    EXPECT_EQ(chinese.size(), 68u);
    EXPECT_NE(CheckPictureDescription(chinese), "");
    EXPECT_EQ(CheckPictureDescription(chinese.substr(0, 66)), "");
}

TEST(PicturePayload, BuiltBytesOfBothTargets) {
    EXPECT_EQ(BuildCustomPicturePayload(kJpeg), kJpeg);

    const string apic = BuildAttachedPicturePayload(3, "\xB7\xE2\xC3\xE6x", kJpeg);
    EXPECT_EQ(apic, string("image/jpeg\0\x03\xB7\xE2\xC3\xE6x\0", 18) + kJpeg);
    EXPECT_EQ(apic.size(), 13 + 5 + kJpeg.size());

    const string plain = BuildAttachedPicturePayload(0, "", kJpeg);
    EXPECT_EQ(plain, string("image/jpeg\0\0\0", 13) + kJpeg);

    // No type chosen (-1) or one out of range is written as 0.
    EXPECT_EQ(BuildAttachedPicturePayload(-1, "", kJpeg), plain);
    EXPECT_EQ(BuildAttachedPicturePayload(21, "", kJpeg), plain);
    EXPECT_EQ(BuildAttachedPicturePayload(20, "", kJpeg)[11], '\x14');
}
