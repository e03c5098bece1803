// quillon-tags embed: the picture panel's load, preview, capture and embedding, without a window.
#include "CodePage.h"
#include "Commands.h"
#include "EmbedModule.h"
#include "ID3v2Tags.h"
#include "PlatformFile.h"
#include "uJpeg.h"
#include "uPictureEmbed.h"
#include "utPublic.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kFirstApic = -2;

struct TEmbedOptions {
    TArgs files;
    std::string picture;
    bool tpic = false, apic = false, fit = false;
    int index = -1; // kFirstApic: each file's first APIC frame
    int type = 3;   // front cover
    bool typeGiven = false, descGiven = false;
    std::string desc; // UTF-8 as given
    unsigned background = 0x0000FF;
};

bool ParseInt(const std::string& text, long low, long high, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && !*end && value >= low && value <= high;
}

bool ParseColour(const std::string& text, unsigned& colour) {
    if (text.size() != 6) return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    colour = static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 16));
    return true;
}

// Empty on success, else the usage error.
std::string Parse(const TArgs& args, TEmbedOptions& o, TCommonOptions& common) {
    TParsedArgs parsed;
    std::string error;
    if (!ParseArgs(args,
                   {{"--tpic", "--fit"}, {"--apic", "--type", "--desc", "--background"}, true},
                   parsed, error))
        return "embed: " + error;
    common = parsed.common;
    for (const auto& [a, v] : parsed.options) {
        long n;
        if (a == "--tpic") {
            o.tpic = true;
        } else if (a == "--apic") {
            if (v == "first")
                n = kFirstApic;
            else if (!ParseInt(v, 0, INT_MAX, n))
                return "--apic needs a frame INDEX or first";
            o.apic = true;
            o.index = static_cast<int>(n);
        } else if (a == "--type") {
            if (!ParseInt(v, 0, 20, n)) return "--type needs a picture type 0 to 20";
            o.type = static_cast<int>(n);
            o.typeGiven = true;
        } else if (a == "--desc") {
            o.desc = v;
            o.descGiven = true;
        } else if (a == "--fit") {
            o.fit = true;
        } else if (a == "--background") {
            if (!ParseColour(v, o.background)) return "--background needs a colour RRGGBB in hex";
        }
    }
    const TArgs& positional = parsed.words;
    if (positional.size() < 2) return "embed needs FILE... and PICTURE";
    if (o.tpic == o.apic) return "embed needs exactly one of --tpic and --apic INDEX";
    if (o.tpic && (o.typeGiven || o.descGiven)) return "--type and --desc belong to --apic";
    o.files.assign(positional.begin(), positional.end() - 1);
    o.picture = positional.back();
    return {};
}

std::string ExecutableFolder() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = '\0';
    std::string s(path);
    size_t slash = s.find_last_of('/');
    return slash == std::string::npos ? "." : s.substr(0, slash);
}

// The picture module, beside the program in the build tree or in the private library folder of
// an installed tree (QUILLON_EMBED_MODULE_DIR, relative to bin/). Loaded once and kept: Qt does
// not like being unloaded.
TEmbedCaptureFunction LoadCapture(std::string& error) {
    const std::string folder = ExecutableFolder();
    const std::string candidates[] = {folder + "/" + kEmbedModuleName,
                                      folder + "/" + QUILLON_EMBED_MODULE_DIR + "/" +
                                          kEmbedModuleName};
    for (const std::string& path : candidates) {
        if (!platform::FileExists(path)) continue;
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            error = std::string("cannot load the picture module: ") + dlerror();
            return nullptr;
        }
        auto capture = reinterpret_cast<TEmbedCaptureFunction>(dlsym(module, kEmbedCaptureSymbol));
        if (!capture) error = "the picture module " + path + " has no " + kEmbedCaptureSymbol;
        return capture;
    }
    error = std::string("the picture module ") + kEmbedModuleName + " is not installed beside " +
            folder;
    return nullptr;
}

} // namespace

int CmdEmbed(const TArgs& argsIn) {
    TCommonOptions common;
    TEmbedOptions o;
    std::string error = Parse(argsIn, o, common);
    if (!error.empty()) return UsageError(error);

    // Any character can be written (in UTF-16 where the file's code page has no room for it).
    if (!platform::IsWellFormedUtf8(o.desc)) return UsageError("--desc is not valid UTF-8");

    // The picture is ready before the file is looked at: a picture that cannot be used leaves
    // the file alone, and the tag is read and rewritten in one hold of the writer lock.
    struct stat picture {};
    if (::stat(o.picture.c_str(), &picture) != 0) return Failure("picture not found: " + o.picture);
    if (!S_ISREG(picture.st_mode)) return Failure("picture is not a regular file: " + o.picture);

    TEmbedCaptureFunction capture = LoadCapture(error);
    if (!capture) return Failure(error);
    const TEmbedRequest request{kEmbedInterfaceVersion, o.picture.c_str(), o.fit ? 1 : 0,
                                o.background,
                                o.tpic ? kCustomPictureQuality : kAttachedPictureQuality};
    TEmbedResult result;
    if (capture(&request, &result) != 0) return Failure(result.Error);
    const std::string jpeg(reinterpret_cast<const char*>(result.Jpeg), result.JpegSize);
    std::free(result.Jpeg);

    // The same picture for every file; the description goes in each file's own code page.
    const std::string custom = o.tpic ? BuildCustomPicturePayload(jpeg) : std::string();
    return RunRewrites(o.files, common, [&](const std::string& file) {
        std::optional<TWriterLock> lock;
        if (!LockForWriting(file, lock)) return 1;
        if (!ReadTagForWriting(file)) return 1;
        std::string payload = custom;
        if (o.apic) {
            JudgeFileCodePage(file, std::nullopt);
            const TPictureDescription description = PictureDescriptionFor(*ID3v2Tag, o.desc);
            const std::string refusal = CheckPictureDescription(description);
            if (!refusal.empty()) {
                ShowMessage(refusal);
                return 1;
            }
            payload = BuildAttachedPicturePayload(o.type, description, jpeg);
        }
        if (o.tpic) {
            ID3v2Tag->SetFrame("TPIC", payload.data(), static_cast<int>(payload.size()));
            return FinishRewrite(file, common);
        }
        int index = o.index;
        if (index == kFirstApic) {
            index = ID3v2Tag->IndexOfId("APIC");
            if (index == -1) { // none yet: added as the add command adds one
                if (!PrepareNewFrame("APIC")) return 1;
                ID3v2Tag->AddFrame("APIC", payload.data(), static_cast<int>(payload.size()));
                return FinishRewrite(file, common);
            }
        }
        const int count = static_cast<int>(ID3v2Tag->FrameIds.size());
        if (index >= count)
            return Failure(file + ": there is no frame " + std::to_string(index) + " (" +
                           std::to_string(count) + " frames)");
        if (ID3v2Tag->FrameIds[index] != "APIC")
            return Failure(file + ": frame " + std::to_string(index) + " is " +
                           platform::Cp936ToUtf8(ID3v2Tag->FrameIds[index]) + ", not APIC");
        ID3v2Tag->ReplaceFrame("APIC", payload.data(), index, static_cast<int>(payload.size()));
        return FinishRewrite(file, common);
    });
}
