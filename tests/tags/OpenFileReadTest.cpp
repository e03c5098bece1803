// A command that reads all three tags opens the file once and hands the open file to each
// engine: every engine must then end in exactly the state its own ReadFromFile leaves.
#include "Builders.h"
#include "ID3v1Tags.h"
#include "ID3v2Tags.h"
#include "PlatformFile.h"
#include "TestFiles.h"
#include "uAPEv2Tag.h"
#include "utPublic.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using platform::EPlatformError;
using platform::TFileStream;
using platform::TOpenMode;
using platform::TShareMode;

namespace {

std::string Id3v2State(const TID3v2Tag& t) {
    std::string s = std::to_string(t.Loaded) + std::to_string(t.Exists) + " " +
                    std::to_string(t.TagSize) + " " + t.FileName + " [" + t.ReadError + "]";
    for (size_t i = 0; i < t.FrameIds.size(); ++i)
        s += " " + t.FrameIds[i] + "=" + t.FramePayloads[i];
    return s + " " + std::string(reinterpret_cast<const char*>(t.Header), 10);
}

std::string Id3v1State(const TID3v1Tag& t) {
    std::string s = std::to_string(t.Exists);
    for (size_t i = 0; i < t.Keys.size(); ++i)
        s += " " + t.Keys[i] + "=" + t.Values[i];
    return s;
}

std::string Apev2State(const TAPEv2Tag& t) {
    std::string s = std::to_string(t.Exists) + " " + std::to_string(t.TagOffset) + " " +
                    std::to_string(t.TagSize) + " " + t.Title + "|" + t.Artist + "|" + t.Track;
    for (size_t i = 0; i < t.Keys.size(); ++i)
        s += " " + t.Keys[i] + "=" + t.Values[i];
    return s;
}

// Runs `read`, turning a platform error into its text, so that failures compare too.
std::string Outcome(const std::function<void()>& read) {
    try {
        read();
        return "";
    } catch (const EPlatformError& e) {
        return e.what();
    }
}

} // namespace

TEST(OpenFileRead, EachEngineEndsAsItsOwnReadLeavesIt) {
    TempDir dir;
    const Bytes audio = MpegFrames(4);
    const Bytes frames = Id3Frame("TIT2", Bytes("\0Song", 5)) +
                         Id3Frame("COMM", Bytes("\0chi\0text", 9)) +
                         Id3Frame("APIC", Bytes("\0image/jpeg\0\3\0", 14) + Bytes(6000, 'p'));
    Id3v1Fields v1;
    v1.title = "Title";
    v1.track = 7;
    v1.genre = 17;
    const Bytes ape = ApeTag({{"Title", "t"}, {"Artist", "a"}, {"Track", "3"}});
    const std::vector<Bytes> files = {
        Bytes(),                                                      // empty
        Bytes("ID3", 3),                                              // shorter than a header
        audio,                                                        // no tags at all
        Id3TagOurs(frames) + audio + ape + Id3v1Block(v1),            // all three, a large tag
        Id3TagStandard(frames, 100) + audio + Id3v1Block(v1),         // foreign tag with padding
        Id3TagOurs(Id3Frame("TIT2", Bytes("\0x", 2))) + ape + audio,  // APEv2 behind the ID3v2
        ape + audio,                                                  // APEv2 at the start
        audio + ApeTag({{"Title", "f"}}, false),                      // a footer without a header
        Id3TagOurs(frames).substr(0, 300),                            // cut inside a frame
        audio + ApeTagClaiming(ApeItem("Title", "long"), 1000000, 1), // a size past the file
        audio + ApeTagClaiming(ApeItem("Title", "abc").substr(0, 12), 40, 1), // item cut short
    };
    for (size_t k = 0; k < files.size(); ++k) {
        const std::string path = dir.File(std::string("f") + std::to_string(k) + ".MP3");
        WriteFile(path, files[k]);
        TID3v2Tag own2, open2;
        TID3v1Tag own1, open1;
        TAPEv2Tag ownApe, openApe;
        const std::string ownOutcome = Outcome([&] { own2.ReadFromFile(path); }) + "/" +
                                       Outcome([&] { own1.ReadFromFile(path); }) + "/" +
                                       Outcome([&] { ownApe.ReadFromFile(path); });
        int32_t ownPlace = 0;
        const std::string ownLocate = Outcome([&] { ownPlace = LocateAPEv2Tag(path); });
        TFileStream file(path, TOpenMode::Read, TShareMode::Exclusive);
        const std::string openOutcome = Outcome([&] { open2.ReadFromOpenFile(file); }) + "/" +
                                        Outcome([&] { open1.ReadFromOpenFile(file); }) + "/" +
                                        Outcome([&] { openApe.ReadFromOpenFile(file); });
        EXPECT_EQ(openOutcome, ownOutcome) << "file " << k;
        if (k == 3) { // the reads found what is there
            EXPECT_EQ(own2.FrameIds.size(), 3u);
            EXPECT_TRUE(own1.Exists && ownApe.Exists && ownApe.Keys.size() == 3);
        }
        if (k == 8) {
            EXPECT_FALSE(own2.ReadError.empty());
        }
        EXPECT_EQ(Id3v2State(open2), Id3v2State(own2)) << "file " << k;
        EXPECT_EQ(Id3v1State(open1), Id3v1State(own1)) << "file " << k;
        EXPECT_EQ(Apev2State(openApe), Apev2State(ownApe)) << "file " << k;
        // The search alone, too.
        int32_t openPlace = 0;
        EXPECT_EQ(Outcome([&] { openPlace = LocateAPEv2Tag(file); }), ownLocate) << "file " << k;
        EXPECT_EQ(openPlace, ownPlace) << "file " << k;
        // Under the file's writer lock (taken through a link) the reads go through the lock's
        // descriptor: the same state, from the locked file even once another file has taken its
        // name and the link leads elsewhere.
        const std::string held = dir.File("held" + std::to_string(k) + ".MP3"),
                          link = held + ".link";
        WriteFile(held, files[k]);
        std::filesystem::create_symlink(held, link);
        TID3v2Tag name2, held2;
        TID3v1Tag name1, held1;
        const std::string nameOutcome = Outcome([&] { name2.ReadFromFile(link); }) + "/" +
                                        Outcome([&] { name1.ReadFromFile(link); });
        TWriterLock lock(link);
        ASSERT_TRUE(lock.Held());
        WriteFile(dir.File("other"), audio);
        std::filesystem::rename(dir.File("other"), held);
        std::filesystem::remove(link);
        std::filesystem::create_symlink(dir.File("f2.MP3"), link);
        EXPECT_EQ(Outcome([&] { held2.ReadFromFile(link); }) + "/" +
                      Outcome([&] { held1.ReadFromFile(link); }),
                  nameOutcome)
            << "file " << k;
        EXPECT_EQ(Id3v2State(held2), Id3v2State(name2)) << "file " << k;
        EXPECT_EQ(Id3v1State(held1), Id3v1State(name1)) << "file " << k;
    }
}
