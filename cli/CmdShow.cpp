#include "CodePage.h"
#include "Commands.h"
#include "ID3v1Tags.h"
#include "ID3v2Tags.h"
#include "Json.h"
#include "Parallel.h"
#include "PlatformFile.h"
#include "uAPEv2Tag.h"
#include "utJournal.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

void AppendCodePage(std::string& out, platform::TCodePage cp) {
    out += ", \"codepage\": ";
    AppendJsonString(out, std::string(platform::CodePageName(cp)));
}

void AppendId3v2(std::string& out, const TID3v2Tag& tag) {
    out += "{\"exists\": ";
    out += tag.Exists ? "true" : "false";
    out += ", \"tag_size\": ";
    out += std::to_string(tag.TagSize);
    if (tag.HasLegacyText()) AppendCodePage(out, tag.CodePage);
    out += ", \"frames\": [";
    for (size_t i = 0; i < tag.FrameIds.size(); ++i) {
        const std::string& id = tag.FrameIds[i];
        // Frames read in another form than the program's own say where their text came from,
        // and show their payload as it stands in the file.
        const TFrameOrigin* origin = tag.OriginOf(i);
        const std::string_view payload =
            origin ? origin->DataAsRead() : std::string_view(tag.FramePayloads[i]);
        if (i) out += ", ";
        out += "{\"id\": ";
        AppendJsonString(out, platform::Cp936ToUtf8(id));
        out += ", \"size\": ";
        out += std::to_string(payload.size());
        out += ", \"hex\": \"";
        AppendHex(out, payload);
        out += '"';
        if (origin && origin->Encoding >= 0)
            out += ", \"encoding\": " + std::to_string(origin->Encoding);
        if (origin && origin->Access != TFrameOrigin::TAccess::Editable) {
            using TAccess = TFrameOrigin::TAccess;
            out += ", \"read_only\": ";
            out += origin->Access == TAccess::Binary       ? "\"binary\""
                   : origin->Access == TAccess::Compressed ? "\"compressed\""
                                                           : "\"unwritable\"";
        }
        out += ", \"text\": ";
        if (IsPictureId(id) || (origin && !origin->HasText))
            out += "null";
        else
            AppendJsonString(out, tag.DisplayText(i));
        out += '}';
    }
    out += "]}";
}

// [[key, value], ...] in list order; `text` gives value i as UTF-8.
template <typename TText> void AppendPairs(std::string& out, const TStringList& keys, TText text) {
    out += '[';
    for (size_t i = 0; i < keys.size(); ++i) {
        if (i) out += ", ";
        out += '[';
        AppendJsonString(out, platform::Cp936ToUtf8(keys[i]));
        out += ", ";
        AppendJsonString(out, text(i));
        out += ']';
    }
    out += ']';
}

void AppendId3v1(std::string& out, const TID3v1Tag& tag) {
    out += "{\"exists\": ";
    out += tag.Exists ? "true" : "false";
    if (tag.Exists && tag.HasLegacyText()) AppendCodePage(out, tag.CodePage);
    out += ", \"fields\": ";
    AppendPairs(out, tag.Keys, [&](size_t i) { return tag.ValueText(i); });
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
    // The values are UTF-8 in the file: shown as they stand, whatever the code page.
    AppendPairs(out, tag.Keys, [&](size_t i) {
        return i < tag.Texts.size() ? tag.Texts[i] : platform::Cp936ToUtf8(tag.Values[i]);
    });
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

// One file's line into `out` (warnings and errors into `err`). Each section stands on its own:
// one that cannot be read holds {"error": ...} and the others print. Returns false when a
// section could not be read.
bool ShowFile(const TTagObjects& tags, const std::string& path,
              std::optional<platform::TCodePage> forced, std::string& out, std::string& err) {
    // The three reads in the editor's order: ID3v2, ID3v1, APEv2, all from one open of the file
    // that shares it with other readers. A file that cannot be opened at all gives no line.
    RecoverBeforeReading(path); // an edit a killed run left half written goes back first
    platform::TFileStream file(path, platform::TOpenMode::Read, platform::TShareMode::DenyNone);
    out += '{';
    AppendJsonPath(out, "file", path);
    int failed = 0;
    // Each read's failure, or empty: the sections are printed once the code page is known.
    std::string errors[3];
    auto read = [&](int section, const char* name, auto run) {
        try {
            run();
        } catch (const std::exception& e) {
            errors[section] = e.what();
            ++failed;
            err += path + ": " + name + ": " + e.what() + "\n";
        }
    };
    read(0, "id3v2", [&] {
        tags.id3v2->ReadFromOpenFile(file);
        if (!tags.id3v2->ReadError.empty())
            err += path + ": warning: ID3v2 tag damaged: " + tags.id3v2->ReadError + "\n";
    });
    read(1, "id3v1", [&] { tags.id3v1->ReadFromOpenFile(file); });
    read(2, "apev2", [&] { tags.apev2->ReadFromOpenFile(file); });
    file.Close();
    // The legacy texts of both tags that hold them decide the code page together.
    JudgeCodePage(*tags.id3v2, errors[1].empty() ? tags.id3v1 : nullptr, forced);
    auto section = [&](int index, const char* name, auto append) {
        out += ", \"";
        out += name;
        out += "\": ";
        if (errors[index].empty()) {
            append();
            return;
        }
        out += "{\"error\": ";
        AppendJsonString(out, errors[index]);
        out += '}';
    };
    section(0, "id3v2", [&] { AppendId3v2(out, *tags.id3v2); });
    section(1, "id3v1", [&] { AppendId3v1(out, *tags.id3v1); });
    section(2, "apev2", [&] { AppendApev2(out, *tags.apev2); });
    out += "}\n";
    return failed == 0;
}

} // namespace

int CmdShow(const TArgs& argsIn) {
    TParsedArgs parsed;
    std::string error;
    if (!ParseArgs(argsIn, {{}, {"--codepage"}, true}, parsed, error))
        return UsageError("show: " + error);
    std::optional<platform::TCodePage> forced;
    if (!ForcedCodePage(parsed, forced, error)) return UsageError("show: " + error);
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
    auto show = [&tags, forced](int worker, const std::string& path, std::string& out,
                                std::string& err) {
        try {
            return ShowFile(tags[worker], path, forced, out, err) ? 0 : 1;
        } catch (const platform::EPlatformError& e) {
            err += e.what();
            err += '\n';
            return 1;
        }
    };
    return RunInOrderThreaded(args, workers, show);
}
