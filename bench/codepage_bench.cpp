// Accuracy of the code-page detector on tags made from real names (bench/codepage-names.txt):
// each language's names written in its code page (and, as a class of its own, in UTF-8), as
// tags of one to three strings and as tags of one short string. Prints the confusion table and
// the share told right per class. Not a test: a measure to tune the character model by, on
// codepage-names.txt, and to check it on codepage-names-heldout.txt, names it is never tuned on.
//   codepage_bench [NAMES_FILE...] [--errors]   (default: both files, one table each)
#include "CodePage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

using platform::TCodePage;

namespace {

struct TClass {
    const char* language;
    TCodePage cp;
};

constexpr TClass kClasses[] = {
    {"zh-Hans", TCodePage::Gbk}, {"zh-Hant", TCodePage::Big5},   {"ja", TCodePage::ShiftJis},
    {"ko", TCodePage::EucKr},    {"ru", TCodePage::Windows1251}, {"west", TCodePage::Windows1252},
    {"", TCodePage::Utf8},
};

constexpr size_t kTagsPerClass = 1000, kShortTagsPerClass = 400;

size_t CodePoints(const std::string& utf8) {
    size_t n = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

size_t NonAscii(const std::string& utf8) {
    size_t n = 0;
    for (unsigned char c : utf8)
        if (c >= 0xC0) ++n;
    return n;
}

// One short string: 2 to 4 CJK characters, one Western name with one accented letter, one
// Russian word or name of at most 12 letters.
bool IsShort(const std::string& language, const std::string& utf8) {
    if (language == "west") return NonAscii(utf8) == 1 && utf8.find(' ') == std::string::npos;
    if (language == "ru") return CodePoints(utf8) <= 12 && NonAscii(utf8) == CodePoints(utf8);
    const size_t n = CodePoints(utf8);
    return n >= 2 && n <= 4 && NonAscii(utf8) == n;
}

struct TTag {
    size_t truth; // index into kClasses
    bool isShort;
    std::vector<std::string> strings;
    std::vector<std::string> names; // the same in UTF-8
    std::string shown;              // for the error listing
};

// Builds the tags of one names file, detects them and prints the table.
int Measure(const std::string& path, bool errors) {
    std::ifstream in(path);
    if (!in) {
        std::cerr << "cannot read " << path << "\n";
        return 1;
    }
    std::map<std::string, std::vector<std::string>> names;
    std::string line, language;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            language = line.substr(1, line.find(']') - 1);
            continue;
        }
        const size_t tab = line.find('\t');
        if (tab != std::string::npos) names[language].push_back(line.substr(tab + 1));
    }

    std::mt19937 random(22);
    std::vector<TTag> tags;
    size_t unencodable = 0;
    for (size_t k = 0; k < std::size(kClasses); ++k) {
        const TClass& c = kClasses[k];
        // UTF-8 tags take their names from every language.
        std::vector<std::pair<std::string, std::string>> pool; // language, name
        for (const auto& [lang, list] : names)
            if (c.cp == TCodePage::Utf8 || lang == c.language)
                for (const auto& n : list)
                    pool.emplace_back(lang, n);
        std::vector<std::pair<std::string, std::string>> encoded, shortOnes;
        for (const auto& [lang, n] : pool) {
            std::string bytes;
            if (!platform::Utf8ToLegacy(c.cp, n, bytes)) {
                ++unencodable;
                continue;
            }
            encoded.emplace_back(bytes, n);
            if (c.cp != TCodePage::Utf8 && IsShort(lang, n) && !platform::IsAscii(bytes))
                shortOnes.emplace_back(bytes, n);
        }
        if (encoded.empty()) continue; // a names file without this language
        std::uniform_int_distribution<size_t> pick(0, encoded.size() - 1);
        for (size_t t = 0; t < kTagsPerClass; ++t) {
            TTag tag{k, false, {}, {}, {}};
            const size_t count = 1 + random() % 3;
            // ID3v1 fields hold 30 bytes: a quarter of the tags are cut as ID3v1 cuts them.
            const bool id3v1 = random() % 4 == 0;
            // Tags of ASCII only need no detection: draw until one text is not.
            bool legacy = false;
            for (size_t draws = 0; (tag.strings.size() < count || !legacy) && draws < 100;
                 ++draws) {
                const auto& [bytes, shown] = encoded[pick(random)];
                std::string b = bytes;
                if (id3v1 && b.size() > 30) b.resize(30);
                if (tag.strings.size() + 1 >= count && !legacy && platform::IsAscii(b)) continue;
                legacy = legacy || !platform::IsAscii(b);
                tag.strings.push_back(b);
                tag.names.push_back(shown);
                tag.shown += (tag.shown.empty() ? "" : " | ") + shown;
            }
            if (legacy) tags.push_back(tag);
        }
        if (shortOnes.empty()) continue;
        std::uniform_int_distribution<size_t> pickShort(0, shortOnes.size() - 1);
        for (size_t t = 0; t < kShortTagsPerClass; ++t) {
            const auto& [bytes, shown] = shortOnes[pickShort(random)];
            tags.push_back(TTag{k, true, {bytes}, {shown}, shown});
        }
    }

    const size_t n = std::size(kClasses);
    std::vector<std::vector<size_t>> confusion(n, std::vector<size_t>(n));
    std::vector<size_t> shortTotal(n), shortRight(n), withUnicode(n);
    // Detection against the reference, reading every tag's strings once in code page 936 as show
    // does without detection, in turns; the fastest of five rounds of each.
    std::vector<size_t> answers(tags.size());
    size_t bytes = 0;
    double seconds = 1e9, reference = 1e9;
    for (int round = 0; round < 5; ++round) {
        auto start = std::chrono::steady_clock::now();
        for (size_t i = 0; i < tags.size(); ++i) {
            std::vector<std::string_view> views(tags[i].strings.begin(), tags[i].strings.end());
            answers[i] = static_cast<size_t>(platform::DetectCodePage(views));
        }
        auto now = std::chrono::steady_clock::now();
        seconds = std::min(seconds, std::chrono::duration<double>(now - start).count());
        start = now;
        bytes = 0;
        for (const TTag& tag : tags)
            for (const std::string& s : tag.strings)
                bytes += platform::LegacyToUtf8(TCodePage::Gbk, s).size();
        now = std::chrono::steady_clock::now();
        reference = std::min(reference, std::chrono::duration<double>(now - start).count());
    }
    for (size_t i = 0; i < tags.size(); ++i) {
        const TTag& tag = tags[i];
        size_t got = 0;
        for (size_t k = 0; k < n; ++k)
            if (static_cast<size_t>(kClasses[k].cp) == answers[i]) got = k;
        ++confusion[tag.truth][got];
        // The same tag with a Unicode copy of its first text, as a UTF-16 frame beside an
        // ID3v1 field.
        std::vector<std::string_view> views(tag.strings.begin(), tag.strings.end());
        const std::vector<std::string_view> unicode{tag.names[0]};
        if (platform::DetectCodePage(views, unicode) == kClasses[tag.truth].cp)
            ++withUnicode[tag.truth];
        if (tag.isShort) {
            ++shortTotal[tag.truth];
            if (got == tag.truth) ++shortRight[tag.truth];
        }
        if (errors && got != tag.truth)
            std::printf("%-12s as %-12s %s\n",
                        std::string(platform::CodePageName(kClasses[tag.truth].cp)).c_str(),
                        std::string(platform::CodePageName(kClasses[got].cp)).c_str(),
                        tag.shown.c_str());
    }

    std::printf("%s: %zu tags (%zu names not encodable in their code page left out)\n",
                path.substr(path.find_last_of('/') + 1).c_str(), tags.size(), unencodable);
    std::printf("detection: %.1f us a tag, %.1f times one reading of its strings (%zu bytes)\n\n",
                seconds * 1e6 / tags.size(), seconds / reference, bytes);
    std::printf("| written in \\ detected |");
    for (size_t k = 0; k < n; ++k)
        std::printf(" %s |", std::string(platform::CodePageName(kClasses[k].cp)).c_str());
    std::printf(" right | one short string | with a Unicode copy |\n|---|");
    for (size_t k = 0; k < n + 3; ++k)
        std::printf("---:|");
    std::printf("\n");
    for (size_t t = 0; t < n; ++t) {
        size_t total = 0;
        for (size_t k = 0; k < n; ++k)
            total += confusion[t][k];
        if (total == 0) continue;
        std::printf("| %s |", std::string(platform::CodePageName(kClasses[t].cp)).c_str());
        for (size_t k = 0; k < n; ++k)
            std::printf(" %zu |", confusion[t][k]);
        std::printf(" %.1f%% |", 100.0 * confusion[t][t] / total);
        if (shortTotal[t])
            std::printf(" %.1f%% of %zu |", 100.0 * shortRight[t] / shortTotal[t], shortTotal[t]);
        else
            std::printf(" - |");
        std::printf(" %.1f%% |\n", 100.0 * withUnicode[t] / total);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> paths;
    bool errors = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--errors")
            errors = true;
        else
            paths.push_back(a);
    }
    if (paths.empty()) paths = {QUILLON_CODEPAGE_NAMES, QUILLON_CODEPAGE_HELD_OUT};
    for (size_t i = 0; i < paths.size(); ++i) {
        if (i) std::printf("\n");
        if (Measure(paths[i], errors) != 0) return 1;
    }
    return 0;
}
