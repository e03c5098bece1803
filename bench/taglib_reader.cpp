// The reference reader of the tag benchmarks: TagLib reads the ID3v2, ID3v1 and APEv2 tags of each
// file given (no audio properties, as quillon-tags show reads none) and prints one line per file
// with every ID3v2 frame, the ID3v1 fields and the APEv2 items.
#include <taglib/apeitem.h>
#include <taglib/apetag.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2frame.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include <cstdio>
#include <string>

namespace {

void Append(std::string& line, const TagLib::String& text) {
    line += text.to8Bit(true);
}

std::string Describe(const char* path) {
    TagLib::MPEG::File file(path, false);
    if (!file.isValid()) return std::string(path) + "\tunreadable";
    std::string line = path;
    if (file.hasID3v2Tag()) {
        TagLib::ID3v2::Tag* v2 = file.ID3v2Tag();
        line += "\tid3v2";
        for (TagLib::ID3v2::Frame* frame : v2->frameList()) {
            line += ' ';
            line.append(frame->frameID().data(), frame->frameID().size());
            line += '=';
            Append(line, frame->toString());
        }
    }
    if (file.hasID3v1Tag()) {
        TagLib::ID3v1::Tag* v1 = file.ID3v1Tag();
        line += "\tid3v1 ";
        Append(line, v1->title());
        line += '|';
        Append(line, v1->artist());
        line += '|';
        Append(line, v1->album());
        line += '|';
        Append(line, v1->comment());
        line += '|' + std::to_string(v1->year()) + '|' + std::to_string(v1->track()) + '|';
        Append(line, v1->genre());
    }
    if (file.hasAPETag()) {
        TagLib::APE::Tag* ape = file.APETag();
        line += "\tapev2";
        for (const auto& item : ape->itemListMap()) {
            line += ' ';
            Append(line, item.first);
            line += '=';
            Append(line, item.second.toString());
        }
    }
    return line;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string line = Describe(argv[i]);
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return 0;
}
