// What TagLib sees in an MP3 file: its ID3v2 texts and pictures, one "key=value" per line.
// With --all, comments and lyrics also give language and description, and the frames that are
// not text give every field they hold.
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/generalencapsulatedobjectframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/popularimeterframe.h>
#include <taglib/privateframe.h>
#include <taglib/relativevolumeframe.h>
#include <taglib/uniquefileidentifierframe.h>
#include <taglib/unknownframe.h>
#include <taglib/unsynchronizedlyricsframe.h>

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

static std::string Utf8(const TagLib::String& text) {
    return text.to8Bit(true);
}

// Every field of the frames whose meaning toString() leaves out; empty for the others.
static std::string Fields(const TagLib::ID3v2::Frame* frame) {
    using namespace TagLib::ID3v2;
    std::string out;
    if (const auto* c = dynamic_cast<const CommentsFrame*>(frame))
        return Hex(c->language()) + "|" + Utf8(c->description()) + "|" + Utf8(c->text());
    if (const auto* l = dynamic_cast<const UnsynchronizedLyricsFrame*>(frame))
        return Hex(l->language()) + "|" + Utf8(l->description()) + "|" + Utf8(l->text());
    if (const auto* g = dynamic_cast<const GeneralEncapsulatedObjectFrame*>(frame))
        return Utf8(g->mimeType()) + "|" + Utf8(g->fileName()) + "|" + Utf8(g->description()) +
               "|" + Hex(g->object());
    if (const auto* p = dynamic_cast<const PopularimeterFrame*>(frame))
        return Utf8(p->email()) + "|" + std::to_string(p->rating()) + "|" +
               std::to_string(p->counter());
    if (const auto* p = dynamic_cast<const PrivateFrame*>(frame))
        return Utf8(p->owner()) + "|" + Hex(p->data());
    if (const auto* u = dynamic_cast<const UniqueFileIdentifierFrame*>(frame))
        return Utf8(u->owner()) + "|" + Hex(u->identifier());
    if (const auto* u = dynamic_cast<const UnknownFrame*>(frame)) return Hex(u->data());
    if (const auto* r = dynamic_cast<const RelativeVolumeFrame*>(frame)) {
        out = Utf8(r->identification());
        for (auto channel : r->channels())
            out += std::string("|") + std::to_string(int(channel)) + ":" +
                   std::to_string(r->volumeAdjustmentIndex(channel)) + ":" +
                   Hex(r->peakVolume(channel).peakVolume);
        return out;
    }
    return out;
}

int main(int argc, char** argv) {
    const bool all = argc == 3 && std::string(argv[1]) == "--all";
    if (argc != 2 && !all) return 2;
    TagLib::MPEG::File file(argv[argc - 1]);
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
        else if (const std::string fields = all ? Fields(frame) : ""; !fields.empty())
            std::cout << id << "=" << fields << "\n";
        else
            std::cout << id << "=" << frame->toString().to8Bit(true) << "\n";
    }
    if (file.audioProperties())
        std::cout << "length_ms=" << file.audioProperties()->lengthInMilliseconds() << "\n";
    return 0;
}
