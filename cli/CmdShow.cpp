#include "CodePage.h"
#include "Commands.h"
#include "ID3v1Tags.h"
#include "ID3v2Tags.h"
#include "Json.h"
#include "PlatformFile.h"
#include "uAPEv2Tag.h"

#include <cstdio>
#include <sstream>

namespace {

std::string ShowId3v2(const TID3v2Tag& tag) {
    std::ostringstream out;
    out << "{\"exists\": " << (tag.Exists ? "true" : "false") << ", \"tag_size\": " << tag.TagSize
        << ", \"frames\": [";
    for (size_t i = 0; i < tag.FrameIds.size(); ++i) {
        const std::string& id = tag.FrameIds[i];
        const std::string& payload = tag.FramePayloads[i];
        if (i) out << ", ";
        out << "{\"id\": " << JsonString(platform::Cp936ToUtf8(id))
            << ", \"size\": " << payload.size() << ", \"hex\": \"" << HexBytes(payload)
            << "\", \"text\": ";
        if (id == "APIC" || id == "TPIC")
            out << "null";
        else
            out << JsonString(platform::Cp936ToUtf8(payload));
        out << "}";
    }
    out << "]}";
    return out.str();
}

// [[key, value], ...] in list order; the engines hold both in code page 936.
std::string ShowPairs(const TStringList& keys, const TStringList& values) {
    std::string out = "[";
    for (size_t i = 0; i < keys.size(); ++i) {
        if (i) out += ", ";
        out += "[" + JsonString(platform::Cp936ToUtf8(keys[i])) + ", " +
               JsonString(platform::Cp936ToUtf8(values[i])) + "]";
    }
    return out + "]";
}

std::string ShowId3v1(const TID3v1Tag& tag) {
    return std::string("{\"exists\": ") + (tag.Exists ? "true" : "false") +
           ", \"fields\": " + ShowPairs(tag.Keys, tag.Values) + "}";
}

std::string ShowApev2(const TAPEv2Tag& tag) {
    return std::string("{\"exists\": ") + (tag.Exists ? "true" : "false") +
           ", \"offset\": " + std::to_string(tag.TagOffset) +
           ", \"size\": " + std::to_string(tag.TagSize) +
           ", \"items\": " + ShowPairs(tag.Keys, tag.Values) + "}";
}

// One file's line, or an exception with the reason it could not be read.
std::string ShowFile(const std::string& path) {
    ID3v2Tag->ReadFromFile(path);
    if (!ID3v2Tag->ReadError.empty())
        std::fprintf(stderr, "%s: warning: ID3v2 tag damaged: %s\n", path.c_str(),
                     ID3v2Tag->ReadError.c_str());
    // The three reads in the editor's order: ID3v2, ID3v1, APEv2.
    ID3v1Tag->ReadFromFile(path);
    APEv2Tag->ReadFromFile(path);
    return "{\"file\": " + JsonString(path) + ", \"id3v2\": " + ShowId3v2(*ID3v2Tag) +
           ", \"id3v1\": " + ShowId3v1(*ID3v1Tag) + ", \"apev2\": " + ShowApev2(*APEv2Tag) + "}";
}

} // namespace

int CmdShow(const TArgs& argsIn) {
    TArgs args = argsIn;
    TCommonOptions options;
    std::string error;
    if (!TakeCommonOptions(args, options, error)) return UsageError(error);
    if (args.empty()) return UsageError("show needs at least one FILE");
    return ForEachFile(args, options.jobs, [](const std::string& path) {
        const std::string line = ShowFile(path);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        return true;
    });
}
