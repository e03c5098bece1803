// Which code page a file's legacy texts were written in. Each candidate decodes every string
// strictly; a model of the candidate's language (its characters, and the pairs of characters
// that make its words) prices what it reads (in half bits: the cost of a reading is minus twice
// the log2 of its likelihood); the cheapest reading of all the strings together wins. Bytes a
// code page refuses, C1 controls and private-use characters price a reading out; readings of
// 5-30-byte strings are told apart by how common their characters are, not by byte statistics,
// which need far longer texts.
#include "CodePage.h"
#include "HanCosts.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string_view>
#include <utility>

namespace platform {

namespace {

using TCost = int32_t;

constexpr TCost kRefused = 80;         // a byte the code page refuses, a control, a private use
constexpr TCost kForeignLetter = 30;   // a Cyrillic or Han character glued to a Latin letter
constexpr TCost kCaseBreak = 16;       // an upper-case letter after a lower-case one
constexpr TCost kSpacedWords = 4;      // a space between two Chinese or Japanese words
constexpr size_t kLongestScored = 512; // bytes of one string worth reading
constexpr size_t kId3v1Field = 30;     // ID3v1 fields may end inside a double-byte character
constexpr TCost kBrokenTail = 20;      // the character such a field lost

// What a reading costs before its characters: the program's own code page wins close calls.
constexpr TCost kPrior[] = {0, 3, 5, 8, 8, 4, 6};

constexpr size_t kCandidates = std::size(kCodePages);

enum class TKind { Space, Digit, Punct, Upper, Lower, Latin, Cyrillic, Han, Kana, Hangul, Other };

bool Holds(std::u32string_view set, char32_t c) {
    return set.find(c) != std::u32string_view::npos;
}

bool IsVowelRu(char32_t c) {
    return Holds(U"аеиоуыэюяёАЕИОУЫЭЮЯЁ", c);
}
// Latin letters of Western European names, by how often they appear in them.
TCost WesternLetterCost(char32_t lower) {
    if (lower == U'é') return 10;
    if (Holds(U"öüäèáóíàñ", lower)) return 12;
    if (Holds(U"çøåúêôâßëã", lower)) return 14;
    if (Holds(U"ïîûùòìæõœšž", lower)) return 16;
    if (Holds(U"ýÿðþ", lower)) return 22;
    return 0; // outside windows-1252
}
char32_t WesternLower(char32_t c) {
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
    if (c == 0x152) return 0x153;
    if (c == 0x160) return 0x161;
    if (c == 0x17D) return 0x17E;
    if (c == 0x178) return 0xFF;
    return c;
}

bool IsWesternUpper(char32_t c) {
    return (c >= 0xC0 && c <= 0xDE && c != 0xD7) || c == 0x152 || c == 0x160 || c == 0x17D ||
           c == 0x178;
}

// Small kana, the length mark and the iteration marks: none opens a word.
bool IsSmallKana(char32_t c) {
    return Holds(U"ぁぃぅぇぉゃゅょっゎァィゥェォャュョッヮーゝゞヽヾ", c);
}
// Which language's model a code page's readings are priced with; UTF-8 prices each character
// with the model of its script.
enum class TLanguage { Simplified, Traditional, Japanese, Korean, Russian, Western, Any };

constexpr TLanguage kLanguageOf[] = {
    TLanguage::Simplified, TLanguage::Traditional, TLanguage::Japanese, TLanguage::Korean,
    TLanguage::Russian,    TLanguage::Western,     TLanguage::Any};

// In a UTF-8 reading, the model that prices each script's letters.
constexpr std::pair<TKind, TLanguage> kScriptLanguages[] = {{TKind::Latin, TLanguage::Western},
                                                            {TKind::Cyrillic, TLanguage::Russian},
                                                            {TKind::Kana, TLanguage::Japanese},
                                                            {TKind::Hangul, TLanguage::Korean}};

TKind KindOf(char32_t c) {
    if (c < 0x80) {
        if (c == ' ') return TKind::Space;
        if (c >= '0' && c <= '9') return TKind::Digit;
        if (c >= 'A' && c <= 'Z') return TKind::Upper;
        if (c >= 'a' && c <= 'z') return TKind::Lower;
        return TKind::Punct;
    }
    if ((c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7)) return TKind::Latin;
    if (c >= 0x400 && c <= 0x45F) return TKind::Cyrillic;
    if ((c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) ||
        (c >= 0xF900 && c <= 0xFAFF))
        return TKind::Han;
    if ((c >= 0x3041 && c <= 0x30FF) || (c >= 0xFF66 && c <= 0xFF9F)) return TKind::Kana;
    if (c >= 0xAC00 && c <= 0xD7A3) return TKind::Hangul;
    return TKind::Other;
}

uint32_t PairOffset(char32_t c) {
    return c >= 0xAC00 ? c - 0xAC00 + kHangulKey : c - kFirstHan;
}

// What two adjacent characters take off a reading when they make a word of its language.
TCost PairBonus(const TPairs& pairs, char32_t a, char32_t b) {
    const uint32_t key = PairOffset(a) << 16 | PairOffset(b);
    const uint32_t* end = pairs.keys + pairs.count;
    const uint32_t* found = std::lower_bound(pairs.keys, end, key);
    return found != end && *found == key ? pairs.bonus[found - pairs.keys] : 0;
}

bool IsLetter(TKind k) {
    return k == TKind::Upper || k == TKind::Lower;
}

bool IsAlphabetic(TKind k) {
    return IsLetter(k) || k == TKind::Latin || k == TKind::Cyrillic;
}

// Prices one reading, character by character, with what came just before in the same string.
class TScorer {
  public:
    explicit TScorer(TLanguage language) : language_(language) {}

    TCost Total() const { return total_; }

    void AddBroken() { total_ += kBrokenTail; }

    void Add(char32_t c) {
        const TKind kind = KindOf(c);
        total_ += Cost(c, kind);
        if (kind == prevKind_) total_ -= WordBonus(c, kind);
        // Scripts glued together inside one word.
        if ((kind == TKind::Cyrillic && IsLetter(prevKind_)) ||
            (IsLetter(kind) && prevKind_ == TKind::Cyrillic))
            total_ += kForeignLetter;
        if ((kind == TKind::Han || kind == TKind::Hangul) && IsLetter(prevKind_)) total_ += 12;
        if (IsLetter(kind) && (prevKind_ == TKind::Han || prevKind_ == TKind::Hangul)) total_ += 12;
        // A symbol or a kana glued to a letter of an alphabet.
        if ((kind == TKind::Other && c < 0x3000) || kind == TKind::Kana) {
            if (IsAlphabetic(prevKind_)) total_ += 10;
        } else if ((prevKind_ == TKind::Other && prev_ < 0x3000) || prevKind_ == TKind::Kana) {
            if (IsAlphabetic(kind)) total_ += 10;
        }
        // Chinese and Japanese write no spaces between words, Korean does.
        if ((kind == TKind::Han || kind == TKind::Kana || kind == TKind::Hangul) &&
            prevKind_ == TKind::Space && beforeSpace_ == kind && language_ != TLanguage::Korean &&
            language_ != TLanguage::Any)
            total_ += kSpacedWords;
        if (kind != TKind::Space) beforeSpace_ = kind;
        // Latin and Cyrillic words in one text: rare in a Russian tag, usual in a misreading.
        if (IsLetter(kind)) latinWord_ = true;
        if (kind == TKind::Cyrillic) cyrillicWord_ = true;
        if (latinWord_ && cyrillicWord_ && !mixed_) {
            mixed_ = true;
            total_ += 14;
        }
        prev_ = c;
        prevKind_ = kind;
    }

    void EndString() {
        prev_ = 0;
        prevKind_ = TKind::Space;
        consonants_ = vowels_ = 0;
        halfWidth_ = fullWidth_ = false;
        latinWord_ = cyrillicWord_ = mixed_ = false;
        beforeSpace_ = TKind::Space;
    }

  private:
    TCost Cost(char32_t c, TKind kind) {
        switch (kind) {
        case TKind::Space:
            consonants_ = vowels_ = 0;
            return 6;
        case TKind::Digit:
            consonants_ = vowels_ = 0;
            return 10;
        case TKind::Punct:
            consonants_ = vowels_ = 0;
            return 12;
        case TKind::Upper:
        case TKind::Lower: {
            TCost cost = 8;
            if (kind == TKind::Upper && prevKind_ == TKind::Latin && !IsWesternUpper(prev_))
                cost += kCaseBreak;
            return cost;
        }
        default:
            break;
        }
        if ((c >= 0x80 && c < 0xA0) || (c >= 0xE000 && c <= 0xF8FF) || c == 0xFFFD || c >= 0xF0000)
            return kRefused;
        TLanguage language = language_;
        if (language == TLanguage::Any) {
            if (kind == TKind::Han) return AnyHan(c);
            const auto script =
                std::find_if(std::begin(kScriptLanguages), std::end(kScriptLanguages),
                             [kind](const auto& s) { return s.first == kind; });
            if (script != std::end(kScriptLanguages)) {
                language = script->second;
            } else {
                if (c >= 0xA0 && c <= 0xBF)
                    language = TLanguage::Western;
                else if (c >= 0x2000 && c <= 0x206F)
                    return 16;
                else if (c >= 0x3000 && c <= 0x303F)
                    return 16;
                else if (c >= 0xFF01 && c <= 0xFF5E)
                    return 20;
                else
                    return 40;
            }
        }
        switch (language) {
        case TLanguage::Simplified:
        case TLanguage::Traditional:
        case TLanguage::Japanese:
        case TLanguage::Korean:
            return Cjk(c, kind, language);
        case TLanguage::Russian:
            return Russian(c, kind);
        case TLanguage::Western:
            return Western(c, kind);
        case TLanguage::Any:
            break;
        }
        return 40;
    }

    // Two ideographs or two syllables in a row that make a word.
    TCost WordBonus(char32_t c, TKind kind) const {
        if (kind == TKind::Han && prev_ >= kFirstHan && prev_ <= kLastHan && c <= kLastHan) {
            if (language_ == TLanguage::Simplified) return PairBonus(kSimplifiedPairs, prev_, c);
            if (language_ == TLanguage::Traditional) return PairBonus(kTraditionalPairs, prev_, c);
        }
        if (kind == TKind::Hangul && language_ == TLanguage::Korean)
            return PairBonus(kKoreanPairs, prev_, c);
        return 0;
    }

    static TCost AnyHan(char32_t c) {
        if (c < kFirstHan || c > kLastHan) return 40;
        const THanCosts& h = kHanCosts[c - kFirstHan];
        TCost best = h.simplified;
        if (h.traditional < best) best = h.traditional;
        if (h.japanese < best) best = h.japanese;
        return best;
    }

    TCost Cjk(char32_t c, TKind kind, TLanguage language) {
        consonants_ = vowels_ = 0;
        if (kind == TKind::Han) {
            if (c < kFirstHan || c > kLastHan) return language == TLanguage::Korean ? 34 : 40;
            const THanCosts& h = kHanCosts[c - kFirstHan];
            switch (language) {
            case TLanguage::Simplified:
                return h.simplified;
            case TLanguage::Traditional:
                return h.traditional;
            case TLanguage::Japanese:
                return h.japanese;
            default:
                return h.korean;
            }
        }
        if (kind == TKind::Hangul) {
            if (language != TLanguage::Korean) return 40;
            const uint8_t cost = kHangulCosts[c - 0xAC00];
            return cost ? cost : 44; // outside KS X 1001: CP949's additions, rare
        }
        if (kind == TKind::Kana) {
            if (language != TLanguage::Japanese) return 44;
            const bool start = prevKind_ != TKind::Kana;
            if (c >= 0xFF66) { // half-width katakana: old Japanese tags, never beside kanji
                halfWidth_ = true;
                TCost cost = fullWidth_ ? 40 : 20;
                if (start && ((c >= 0xFF67 && c <= 0xFF70) || c >= 0xFF9E))
                    cost += 20; // a small kana, a length or voicing mark opens no word
                return cost;
            }
            fullWidth_ = true;
            TCost cost = halfWidth_ ? 40 : c <= 0x309F ? 8 : 10;
            if (start && IsSmallKana(c)) cost += 16;
            return cost;
        }
        if (c == 0xB7 || c == 0x30FB) return 16; // the middle dot of foreign names
        if (c >= 0x3000 && c <= 0x303F) return 16;
        if (c >= 0x2010 && c <= 0x2027) return 16;
        if (c >= 0xFF01 && c <= 0xFF5E) return 20;
        if (c >= 0x3130 && c <= 0x318F) return language == TLanguage::Korean ? 24 : 40;
        return 40;
    }

    TCost Russian(char32_t c, TKind kind) {
        if (kind != TKind::Cyrillic) {
            consonants_ = vowels_ = 0;
            if (Holds(U"«»—–„“”…№", c)) return 14;
            return c == 0xA0 ? 20 : 36;
        }
        const bool upper = (c >= 0x410 && c <= 0x42F) || c == 0x401;
        const char32_t lower = c >= 0x410 && c <= 0x42F ? c + 0x20 : c == 0x401 ? 0x451 : c;
        TCost cost;
        if ((lower >= 0x430 && lower <= 0x44F) || lower == 0x451)
            cost = RussianLetter(lower) + (lower == 0x451 ? 4 : 0); // ё, most often written е
        else if (c == 0x456 || c == 0x457 || c == 0x454 || c == 0x406 || c == 0x407 || c == 0x404)
            cost = 20; // Ukrainian
        else
            cost = 36;
        if (upper && prevKind_ == TKind::Cyrillic && !IsUpperRu(prev_)) cost += kCaseBreak;
        if (upper && prevKind_ != TKind::Cyrillic) cost += 2;
        if (upper && prevKind_ == TKind::Cyrillic && IsUpperRu(prev_)) cost += 3; // capitals
        if (!upper && prevKind_ == TKind::Cyrillic && IsUpperRu(prev_) && prevPrevUpper_)
            cost += 8; // "ВИа"
        prevPrevUpper_ = prevKind_ == TKind::Cyrillic && IsUpperRu(prev_) && upper;
        if (prevKind_ != TKind::Cyrillic &&
            (lower == 0x44C || lower == 0x44A || lower == 0x44B || lower == 0x439))
            cost += 16; // no word starts with ь, ъ, ы or й
        if (IsVowelRu(c)) {
            vowels_ = prevKind_ == TKind::Cyrillic ? vowels_ + 1 : 1;
            consonants_ = 0;
            if (vowels_ >= 3) cost += 8;
        } else {
            consonants_ = prevKind_ == TKind::Cyrillic ? consonants_ + 1 : 1;
            vowels_ = 0;
            if (consonants_ >= 4) cost += 8;
            if ((lower == 0x44C || lower == 0x44A) && prevKind_ == TKind::Cyrillic &&
                IsVowelRu(prev_))
                cost += 12;
        }
        return cost;
    }

    // A letter а..я or ё by the letter before it in the same word.
    TCost RussianLetter(char32_t lower) const {
        const auto index = [](char32_t c) -> size_t {
            c = c >= 0x410 && c <= 0x42F ? c + 0x20 : c == 0x401 || c == 0x451 ? 0x435 : c;
            return c >= 0x430 && c <= 0x44F ? c - 0x430 : 32;
        };
        const size_t before = prevKind_ == TKind::Cyrillic ? index(prev_) : 32;
        return kRussianLetterCosts[before][index(lower)];
    }

    static bool IsUpperRu(char32_t c) { return (c >= 0x410 && c <= 0x42F) || c == 0x401; }

    TCost Western(char32_t c, TKind kind) {
        if (kind == TKind::Latin) {
            const char32_t lower = WesternLower(c);
            TCost cost = WesternLetterCost(lower);
            if (cost == 0) return 32;
            if (IsWesternUpper(c)) {
                cost += 4;
                if (prevKind_ == TKind::Lower ||
                    (prevKind_ == TKind::Latin && !IsWesternUpper(prev_)))
                    cost += kCaseBreak;
            }
            return cost;
        }
        if (Holds(U"‘’“”–—…", c)) return 14;
        if (Holds(U"•¿¡«»", c)) return 18;
        if (Holds(U"©®°·×™\u00A0", c)) return 22;
        return 30;
    }

    TLanguage language_;
    TCost total_ = 0;
    char32_t prev_ = 0;
    TKind prevKind_ = TKind::Space;
    int consonants_ = 0, vowels_ = 0;
    bool prevPrevUpper_ = false;
    bool halfWidth_ = false, fullWidth_ = false;
    bool latinWord_ = false, cyrillicWord_ = false, mixed_ = false;
    TKind beforeSpace_ = TKind::Space; // the last character that was not a space
};

// Calls `f` with each code point of well-formed UTF-8.
template <typename F> void ForEachCodePoint(std::string_view utf8, F&& f) {
    for (size_t i = 0; i < utf8.size();) {
        const auto b = [&](size_t k) { return static_cast<unsigned char>(utf8[i + k]); };
        size_t n = Utf8SequenceLength(utf8, i);
        char32_t c;
        switch (n) {
        case 1:
            c = b(0);
            break;
        case 2:
            c = (b(0) & 0x1F) << 6 | (b(1) & 0x3F);
            break;
        case 3:
            c = (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
            break;
        case 4:
            c = (b(0) & 0x07) << 18 | (b(1) & 0x3F) << 12 | (b(2) & 0x3F) << 6 | (b(3) & 0x3F);
            break;
        default:
            c = 0xFFFD;
            n = 1;
        }
        f(c);
        i += n;
    }
}

// A legacy string whose reading equals one of the file's Unicode texts settles it.
TCost UnicodeEvidence(std::string_view reading, const std::vector<std::string_view>& unicode) {
    while (!reading.empty() && (reading.back() == ' ' || reading.back() == '\0'))
        reading.remove_suffix(1); // ID3v1 pads its fields
    TCost bonus = 0;
    for (std::string_view u : unicode) {
        if (u == reading) return -400;
        if (reading.size() >= 12 && u.size() > reading.size() &&
            u.substr(0, reading.size()) == reading)
            bonus = -200; // an ID3v1 field holds the start of a longer text
    }
    return bonus;
}

// The scripts of the file's Unicode texts lean towards the code pages of the same language.
TCost ScriptEvidence(TCodePage cp, const std::vector<std::string_view>& unicode) {
    bool han = false, kana = false, hangul = false, cyrillic = false, latin = false;
    TCost simplified = 0, traditional = 0;
    for (std::string_view u : unicode)
        ForEachCodePoint(u, [&](char32_t c) {
            switch (KindOf(c)) {
            case TKind::Han:
                han = true;
                if (c >= kFirstHan && c <= kLastHan) {
                    simplified += kHanCosts[c - kFirstHan].simplified;
                    traditional += kHanCosts[c - kFirstHan].traditional;
                }
                break;
            case TKind::Kana:
                kana = true;
                break;
            case TKind::Hangul:
                hangul = true;
                break;
            case TKind::Cyrillic:
                cyrillic = true;
                break;
            case TKind::Latin:
                latin = true;
                break;
            default:
                break;
            }
        });
    switch (cp) {
    case TCodePage::Gbk:
        return han && !kana && simplified <= traditional ? -20 : 0;
    case TCodePage::Big5:
        return han && !kana && traditional < simplified ? -20 : 0;
    case TCodePage::ShiftJis:
        return kana ? -20 : 0;
    case TCodePage::EucKr:
        return hangul ? -20 : 0;
    case TCodePage::Windows1251:
        return cyrillic ? -20 : 0;
    case TCodePage::Windows1252:
        return latin && !cyrillic ? -12 : 0;
    case TCodePage::Utf8:
        return 0;
    }
    return 0;
}

// windows-1251 and windows-1252 byte by byte (U+FFFD where the code page has no character),
// made once from the conversion so that the two readings need no converter.
const std::array<char32_t, 256>& SingleByteTable(TCodePage cp) {
    static const auto make = [](TCodePage page) {
        std::array<char32_t, 256> t{};
        for (size_t b = 0; b < 256; ++b) {
            const char byte = static_cast<char>(b);
            ForEachCodePoint(LegacyToUtf8(page, std::string_view(&byte, 1)),
                             [&](char32_t c) { t[b] = c; });
        }
        return t;
    };
    static const std::array<char32_t, 256> cyrillic = make(TCodePage::Windows1251),
                                           western = make(TCodePage::Windows1252);
    return cp == TCodePage::Windows1251 ? cyrillic : western;
}

// Whether the double-byte code page surely refuses some byte of `s`: a lead byte followed by a
// byte no character of the code page has second. The converter reads in step with this scan up
// to its first refusal, so a hit here means at least one refused byte.
bool SurelyRefused(TCodePage cp, std::string_view s) {
    auto lead = [cp](unsigned char b) {
        switch (cp) {
        case TCodePage::ShiftJis:
            return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        default:
            return b >= 0x81 && b <= 0xFE;
        }
    };
    auto trail = [cp](unsigned char b) {
        switch (cp) {
        case TCodePage::Gbk:
            return b >= 0x40 && b <= 0xFE && b != 0x7F;
        case TCodePage::Big5:
            return (b >= 0x40 && b <= 0x7E) || (b >= 0xA1 && b <= 0xFE);
        case TCodePage::ShiftJis:
            return b >= 0x40 && b <= 0xFC && b != 0x7F;
        default:
            return (b >= 0x41 && b <= 0x5A) || (b >= 0x61 && b <= 0x7A) || b >= 0x81;
        }
    };
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        if (!lead(static_cast<unsigned char>(s[i]))) continue;
        if (!trail(static_cast<unsigned char>(s[i + 1]))) return true;
        ++i;
    }
    return false;
}

// An ID3v1 field as stored: the NULs that pad it are no part of its text.
std::string_view WithoutPadding(std::string_view s) {
    while (!s.empty() && s.back() == '\0')
        s.remove_suffix(1);
    return s;
}

// A string cut here, or an ID3v1 field full to its end, may stop inside a character.
bool MayEndInsideACharacter(std::string_view s, bool cut) {
    return cut || s.size() == kId3v1Field || s.size() == kId3v1Field - 2;
}

// The cost of reading all the strings in candidate k; `bound` is the cost to beat, past which
// a reading that surely holds a refused byte is not read at all.
TCost ReadingCost(size_t k, const std::vector<std::string_view>& legacy,
                  const std::vector<std::string_view>& unicode, TCost bound) {
    const TCodePage cp = kCodePages[k];
    const bool singleByte = cp == TCodePage::Windows1251 || cp == TCodePage::Windows1252;
    if (!singleByte && unicode.empty() && kRefused + kPrior[k] >= bound)
        for (std::string_view s : legacy) {
            s = WithoutPadding(s);
            if (s.size() > kLongestScored) continue;
            if (cp == TCodePage::Utf8 ? !IsWellFormedUtf8(s) && !MayEndInsideACharacter(s, false)
                                      : SurelyRefused(cp, s))
                return bound;
        }
    TScorer scorer(kLanguageOf[k]);
    TCost evidence = unicode.empty() ? 0 : ScriptEvidence(cp, unicode);
    std::string reading;
    for (std::string_view s : legacy) {
        s = WithoutPadding(s);
        if (IsAscii(s)) continue;
        const bool cut = s.size() > kLongestScored;
        if (cut) s = s.substr(0, kLongestScored);
        if (singleByte) {
            const auto& table = SingleByteTable(cp);
            for (unsigned char b : s)
                scorer.Add(table[b]);
            scorer.EndString();
            if (!unicode.empty()) evidence += UnicodeEvidence(LegacyToUtf8(cp, s), unicode);
            continue;
        }
        reading = LegacyToUtf8(cp, s);
        // Such a character, broken, costs what a character does.
        std::string_view text = reading;
        bool broken = false;
        if (MayEndInsideACharacter(s, cut) && text.size() >= 3 &&
            text.substr(text.size() - 3) == "\xEF\xBF\xBD") {
            text.remove_suffix(3);
            broken = true;
        }
        ForEachCodePoint(text, [&](char32_t c) { scorer.Add(c); });
        if (broken) scorer.AddBroken();
        scorer.EndString();
        if (!unicode.empty()) evidence += UnicodeEvidence(text, unicode);
    }
    return scorer.Total() + kPrior[k] + evidence;
}

} // namespace

TCodePage DetectCodePage(const std::vector<std::string_view>& legacy,
                         const std::vector<std::string_view>& unicode) {
    bool any = false;
    for (std::string_view s : legacy)
        if (!IsAscii(s)) any = true;
    if (!any) return TCodePage::Gbk;

    TCodePage best = TCodePage::Gbk;
    TCost bestCost = ReadingCost(0, legacy, unicode, std::numeric_limits<TCost>::max());
    for (size_t k = 1; k < kCandidates; ++k) {
        const TCost cost = ReadingCost(k, legacy, unicode, bestCost);
        if (cost < bestCost) {
            best = kCodePages[k];
            bestCost = cost;
        }
    }
    return best;
}

} // namespace platform
