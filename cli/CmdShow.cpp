#include "CodePage.h"
#include "Commands.h"
#include "ID3v2Tags.h"
#include "Json.h"
#include "PlatformFile.h"

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

// One file's line, or an exception with the reason it could not be read.
std::string ShowFile(const std::string& path) {
    ID3v2Tag->ReadFromFile(path);
    if (!ID3v2Tag->ReadError.empty())
        std::fprintf(stderr, "%s: warning: ID3v2 tag damaged: %s\n", path.c_str(),
                     ID3v2Tag->ReadError.c_str());
    return "{\"file\": " + JsonString(path) + ", \"id3v2\": " + ShowId3v2(*ID3v2Tag) + "}";
}

} // namespace

int CmdShow(const TArgs& argsIn) {
    TArgs args = argsIn;
    TCommonOptions options;
    std::string error;
    if (!TakeCommonOptions(args, options, error)) return UsageError(error);
    if (args.empty()) return UsageError("show needs at least one FILE");
    int status = 0;
    for (const std::string& path : args) {
        try {
            std::string line = ShowFile(path);
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fputc('\n', stdout);
        } catch (const platform::EPlatformError& e) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s\n", e.what());
            status = 1;
        }
    }
    return status;
}
