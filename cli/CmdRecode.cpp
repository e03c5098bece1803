// quillon-tags recode: every legacy text that is not pure ASCII becomes UTF-16, decoded in the
// file's code page; everything else stays byte for byte. The ID3v1 block cannot hold Unicode and
// is left alone.
#include "CodePage.h"
#include "Commands.h"
#include "ID3v2Tags.h"
#include "Json.h"

#include <cstdio>

int CmdRecode(const TArgs& args) {
    TParsedArgs parsed;
    std::string error;
    if (!ParseArgs(args, {{"--dry-run"}, {"--codepage"}, true}, parsed, error))
        return UsageError("recode: " + error);
    if (parsed.words.empty()) return UsageError("recode needs at least one FILE");
    std::optional<platform::TCodePage> forced;
    if (!ForcedCodePage(parsed, forced, error)) return UsageError("recode: " + error);
    bool dryRun = false;
    for (const auto& [option, value] : parsed.options)
        dryRun = dryRun || option == "--dry-run";

    return RunRewrites(parsed.words, parsed.common, [&](const std::string& file) {
        std::optional<TWriterLock> lock;
        if (!LockForWriting(file, lock) || !ReadTagForWriting(file)) return 1;
        const platform::TCodePage cp = JudgeFileCodePage(file, forced);
        const auto changed = ID3v2Tag->ConvertToUnicode();
        std::string line = "{\"file\": ";
        AppendJsonString(line, file);
        line += ", \"codepage\": ";
        AppendJsonString(line, std::string(platform::CodePageName(cp)));
        line += ", \"changed\": [";
        for (size_t i = 0; i < changed.size(); ++i) {
            if (i) line += ", ";
            line += "{\"id\": ";
            AppendJsonString(line, platform::Cp936ToUtf8(changed[i].first));
            line += ", \"text\": ";
            AppendJsonString(line, changed[i].second);
            line += '}';
        }
        line += "]}\n";
        // Nothing to convert: no rewrite and no backup, so the file is as it was.
        int status = 0;
        if (!changed.empty() && !dryRun) {
            ID3v2Tag->SaveToFile();
            status = FinishRewrite(file, parsed.common);
        }
        if (status == 0) std::fputs(line.c_str(), stdout);
        return status;
    });
}
