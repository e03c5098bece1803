#include "Interop.h"

#include "JpegBuilders.h"

const Bytes& SineMp3() {
    static const Bytes audio = [] {
        TempDir dir;
        const std::string mp3 = dir.File("sine.mp3");
        Peer("ffmpeg -v error -f lavfi -i sine=frequency=440:duration=2 -c:a libmp3lame "
             "-b:a 128k -id3v2_version 0 -write_xing 0 " +
             mp3);
        return ReadFile(mp3);
    }();
    return audio;
}

const Bytes& CoverJpeg() {
    static const Bytes jpeg = JpegOf({});
    return jpeg;
}

std::string Peer(const std::string& command) {
    const ShellResult r = Shell(command);
    EXPECT_EQ(r.status, 0) << command;
    return r.out;
}

std::map<std::string, std::string> ReadAsTheRulesSay(TID3v2Tag& tag, const std::string& path) {
    tag.ReadFromFile(path);
    const Id3v2Store want = ReadByRules(ReadFile(path));
    if (want.Modelled) {
        EXPECT_EQ(tag.Loaded, want.Loaded) << path;
        EXPECT_EQ(tag.Exists, want.Exists) << path;
        EXPECT_EQ(tag.TagSize, want.TagSize) << path;
        EXPECT_EQ(tag.FrameIds, want.Ids) << path;
        EXPECT_EQ(tag.FramePayloads, want.Payloads) << path;
    }
    std::map<std::string, std::string> byId;
    for (size_t i = 0; i < tag.FrameIds.size(); ++i)
        byId.emplace(tag.FrameIds[i], tag.FramePayloads[i]);
    return byId;
}

std::string PcmMd5(const std::string& path) {
    return Peer("ffmpeg -v error -i " + path + " -map 0:a -f md5 -");
}
