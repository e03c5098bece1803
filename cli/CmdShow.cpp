#include "CodePage.h"
#include "Commands.h"
#include "ID3v1Tags.h"
#include "ID3v2Tags.h"
#include "Json.h"
#include "PlatformFile.h"
#include "uAPEv2Tag.h"

#include <cstdio>
#include <string>

namespace {

void AppendId3v2(std::string& out, const TID3v2Tag& tag) {
    out += "{\"exists\": ";
    out += tag.Exists ? "true" : "false";
    out += ", \"tag_size\": ";
    out += std::to_string(tag.TagSize);
    out += ", \"frames\": [";
    for (size_t i = 0; i < tag.FrameIds.size(); ++i) {
        const std::string& id = tag.FrameIds[i];
        const std::string& payload = tag.FramePayloads[i];
        if (i) out += ", ";
        out += "{\"id\": ";
        AppendJsonString(out, platform::Cp936ToUtf8(id));
        out += ", \"size\": ";
        out += std::to_string(payload.size());
        out += ", \"hex\": \"";
        AppendHex(out, payload);
        out += "\", \"text\": ";
        if (id == "APIC" || id == "TPIC")
            out += "null";
        else
            AppendJsonString(out, platform::Cp936ToUtf8(payload));
        out += '}';
    }
    out += "]}";
}

// [[key, value], ...] in list order; the engines hold both in code page 936.
void AppendPairs(std::string& out, const TStringList& keys, const TStringList& values) {
    out += '[';
    for (size_t i = 0; i < keys.size(); ++i) {
        if (i) out += ", ";
        out += '[';
        AppendJsonString(out, platform::Cp936ToUtf8(keys[i]));
        out += ", ";
        AppendJsonString(out, platform::Cp936ToUtf8(values[i]));
        out += ']';
    }
    out += ']';
}

void AppendId3v1(std::string& out, const TID3v1Tag& tag) {
    out += "{\"exists\": ";
    out += tag.Exists ? "true" : "false";
    out += ", \"fields\": ";
    AppendPairs(out, tag.Keys, tag.Values);
    out += '}';
}

void AppendApev2(std::string& out, const TAPEv2Tag& tag) {
    out += "{\"exists\": ";
    out += tag.Exists ? "true" : "false";
    out += ", \"offset\": ";
    out += std::to_string(tag.TagOffset);
    out += ", \"size\": ";
    out += std::to_string(tag.TagSize);
    out += ", \"items\": ";
    AppendPairs(out, tag.Keys, tag.Values);
    out += '}';
}

// One file's line into `out`, or an exception with the reason it could not be read.
void ShowFile(const std::string& path, std::string& out) {
    ID3v2Tag->ReadFromFile(path);
    if (!ID3v2Tag->ReadError.empty())
        std::fprintf(stderr, "%s: warning: ID3v2 tag damaged: %s\n", path.c_str(),
                     ID3v2Tag->ReadError.c_str());
    // The three reads in the editor's order: ID3v2, ID3v1, APEv2.
    ID3v1Tag->ReadFromFile(path);
    APEv2Tag->ReadFromFile(path);
    out += "{\"file\": ";
    AppendJsonString(out, path);
    out += ", \"id3v2\": ";
    AppendId3v2(out, *ID3v2Tag);
    out += ", \"id3v1\": ";
    AppendId3v1(out, *ID3v1Tag);
    out += ", \"apev2\": ";
    AppendApev2(out, *APEv2Tag);
    out += "}\n";
}

} // namespace

int CmdShow(const TArgs& argsIn) {
    TArgs args = argsIn;
    TCommonOptions options;
    std::string error;
    if (!TakeCommonOptions(args, options, error)) return UsageError(error);
    if (args.empty()) return UsageError("show needs at least one FILE");
    int status = 0;
    std::string line; // reused from file to file
    for (const std::string& path : args) {
        try {
            line.clear();
            ShowFile(path, line);
            std::fwrite(line.data(), 1, line.size(), stdout);
        } catch (const platform::EPlatformError& e) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s\n", e.what());
            status = 1;
        }
    }
    return status;
}
