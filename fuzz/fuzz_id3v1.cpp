// The ID3v1 reader and its strip against the block's rules: the last 128 bytes, "TAG", fields cut
// at their first NUL and trimmed of trailing bytes up to 0x20, the track byte behind a zero, the
// genre by its table.
#include "FuzzFile.h"

#include "ID3v1Tags.h"
#include "uMp3Const.h"

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string Field(const std::string& block, size_t offset, size_t count) {
    std::string f = block.substr(offset, count);
    f = f.substr(0, f.find('\0'));
    while (!f.empty() && static_cast<unsigned char>(f.back()) <= 0x20)
        f.pop_back();
    return f;
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TFuzzFile file("song.mp3");
    file.Write(data, size);
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    TID3v1Tag tag;
    tag.ReadFromFile(file.Path());
    FUZZ_CHECK(tag.Keys.size() == tag.Values.size());
    const std::string block = size >= 128 ? bytes.substr(size - 128) : std::string();
    const bool exists = size >= 128 && block.compare(0, 3, "TAG") == 0;
    FUZZ_CHECK(tag.Exists == exists);
    if (!exists) {
        FUZZ_CHECK(tag.Keys.empty());
    } else {
        const auto byte = [&](size_t i) { return static_cast<unsigned char>(block[i]); };
        const int track = byte(125) == 0 && byte(126) != 0 ? byte(126) : 0;
        const std::string genre =
            byte(127) < GenreNames.size() ? std::string(GenreNames[byte(127)]) : std::string();
        FUZZ_CHECK(tag.Keys ==
                   (TStringList{"Title", "Artist", "Album", "Year", "Comment", "Track", "fGenre"}));
        FUZZ_CHECK(tag.Values == (TStringList{Field(block, 3, 30), Field(block, 33, 30),
                                              Field(block, 63, 30), Field(block, 93, 4),
                                              Field(block, 97, 30), std::to_string(track), genre}));
        FUZZ_CHECK(tag.Track == track && tag.GenreId == byte(127) && tag.Genre == genre);
    }

    // The same block held in memory, at any length.
    TID3v1Tag parsed;
    parsed.ParseTrailer(data, static_cast<int>(std::min<size_t>(size, 1 << 20)));
    FUZZ_CHECK(parsed.Keys.size() == parsed.Values.size());
    FUZZ_CHECK(parsed.Keys.size() == 0 || parsed.Keys.size() == 7);
    FUZZ_CHECK(size >= 128 || parsed.Keys.empty());

    // The strip cuts exactly the block, or changes nothing.
    tag.RemoveFromFile(file.Path());
    FUZZ_CHECK(Contents(file.Path()) == (exists ? bytes.substr(0, size - 128) : bytes));
    return 0;
}
