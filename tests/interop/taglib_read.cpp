// What TagLib sees in an MP3 file: its ID3v2 texts and pictures, one "key=value" per line.
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include <cstdio>
#include <iostream>

static std::string Hex(const TagLib::ByteVector& bytes) {
    std::string out;
    char two[3];
    for (char c : bytes) {
        std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(c));
        out += two;
    }
    return out;
}

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    TagLib::MPEG::File file(argv[1]);
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag();
    if (!file.isValid() || !tag) return 1;
    std::cout << "version=" << tag->header()->majorVersion() << "\n"
              << "tag_size=" << tag->header()->completeTagSize() << "\n";
    for (const auto* frame : tag->frameList()) {
        const std::string id(frame->frameID().data(), frame->frameID().size());
        if (const auto* picture = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame*>(frame))
            std::cout << id << "=" << picture->mimeType().to8Bit(true) << "|"
                      << int(picture->type()) << "|" << picture->description().to8Bit(true) << "|"
                      << Hex(picture->picture()) << "\n";
        else
            std::cout << id << "=" << frame->toString().to8Bit(true) << "\n";
    }
    if (file.audioProperties())
        std::cout << "length_ms=" << file.audioProperties()->lengthInMilliseconds() << "\n";
    return 0;
}
