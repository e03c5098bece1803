// The TagLib peer of the batch benchmark: gives every file given the same album (the ID3v2 TALB
// frame) and saves it, keeping the other tags as they are and the tag's version (2.3 or 2.4).
//   taglib_setter ALBUM FILE...
// Like the other peers it leaves flushing to the kernel.
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tstring.h>

#include <cstdio>

namespace {

bool SetAlbum(const char* path, const TagLib::String& album) {
    TagLib::MPEG::File file(path, false);
    if (!file.isValid()) return false;
    const bool had_tag = file.hasID3v2Tag();
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    const TagLib::ID3v2::Version version =
        had_tag && tag->header()->majorVersion() == 3 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4;
    tag->setAlbum(album);
    return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, version,
                     TagLib::File::DoNotDuplicate);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: taglib_setter ALBUM FILE...\n");
        return 2;
    }
    const TagLib::String album(argv[1], TagLib::String::UTF8);
    int status = 0;
    for (int i = 2; i < argc; ++i) {
        if (!SetAlbum(argv[i], album)) {
            std::fprintf(stderr, "%s: not saved\n", argv[i]);
            status = 1;
        }
    }
    return status;
}
