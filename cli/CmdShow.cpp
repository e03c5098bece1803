#include "CodePage.h"
#include "Commands.h"
#include "ID3v1Tags.h"
#include "ID3v2Tags.h"
#include "Json.h"
#include "Parallel.h"
#include "PlatformFile.h"
#include "uAPEv2Tag.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
    out += tag.Exists ? std::to_string(tag.TagOffset) : "null"; // no tag, no place
    out += ", \"size\": ";
    out += std::to_string(tag.TagSize);
    out += ", \"items\": ";
    AppendPairs(out, tag.Keys, tag.Values);
    out += '}';
}

// The tag objects one worker reads into: the program's own for the first, objects of the same
// classes for the others.
struct TTagObjects {
    TID3v2Tag* id3v2;
    TID3v1Tag* id3v1;
    TAPEv2Tag* apev2;
};

struct TOwnTagObjects {
    TID3v2Tag id3v2;
    TID3v1Tag id3v1;
    TAPEv2Tag apev2;
};

// One file's line into `out` (warnings into `err`), or an exception with the reason it could not
// be read.
void ShowFile(const TTagObjects& tags, const std::string& path, std::string& out,
              std::string& err) {
    // The three reads in the editor's order: ID3v2, ID3v1, APEv2, all from one open of the file
    // that shares it with other readers.
    platform::TFileStream file(path, platform::TOpenMode::Read, platform::TShareMode::DenyNone);
    tags.id3v2->ReadFromOpenFile(file);
    if (!tags.id3v2->ReadError.empty())
        err += path + ": warning: ID3v2 tag damaged: " + tags.id3v2->ReadError + "\n";
    tags.id3v1->ReadFromOpenFile(file);
    tags.apev2->ReadFromOpenFile(file);
    file.Close();
    out += "{\"file\": ";
    AppendJsonString(out, path);
    out += ", \"id3v2\": ";
    AppendId3v2(out, *tags.id3v2);
    out += ", \"id3v1\": ";
    AppendId3v1(out, *tags.id3v1);
    out += ", \"apev2\": ";
    AppendApev2(out, *tags.apev2);
    out += "}\n";
}

} // namespace

int CmdShow(const TArgs& argsIn) {
    TParsedArgs parsed;
    std::string error;
    if (!ParseArgs(argsIn, {}, parsed, error)) return UsageError("show: " + error);
    const TArgs& args = parsed.words;
    const TCommonOptions& options = parsed.common;
    if (args.empty()) return UsageError("show needs at least one FILE");
    const int workers = WorkerCount(args, options.jobs, false);
    std::vector<std::unique_ptr<TOwnTagObjects>> own;
    std::vector<TTagObjects> tags{{ID3v2Tag, ID3v1Tag, APEv2Tag}};
    for (int w = 1; w < workers; ++w) {
        own.push_back(std::make_unique<TOwnTagObjects>());
        tags.push_back({&own.back()->id3v2, &own.back()->id3v1, &own.back()->apev2});
    }
    auto show = [&tags](int worker, const std::string& path, std::string& out, std::string& err) {
        try {
            ShowFile(tags[worker], path, out, err);
            return 0;
        } catch (const platform::EPlatformError& e) {
            err += e.what();
            err += '\n';
            return 1;
        }
    };
    return RunInOrderThreaded(args, workers, show);
}
