// Which code page a file's legacy texts were written in. Each candidate decodes every string
// strictly; a character model of the candidate's language prices what it reads (in half bits:
// the cost of a reading is minus twice the log2 of its likelihood); the cheapest reading of all
// the strings together wins. Bytes a code page refuses, C1 controls and private-use characters
// price a reading out; readings of 5-30-byte strings are told apart by how common their
// characters are, not by byte statistics, which need far longer texts.
#include "CodePage.h"
#include "HanCosts.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <iterator>

namespace platform {

namespace {

using TCost = int32_t;

constexpr TCost kRefused = 80;         // a byte the code page refuses, a control, a private use
constexpr TCost kForeignLetter = 30;   // a Cyrillic or Han character glued to a Latin letter
constexpr TCost kCaseBreak = 16;       // an upper-case letter after a lower-case one
constexpr size_t kLongestScored = 512; // bytes of one string worth reading
constexpr size_t kId3v1Field = 30;     // ID3v1 fields may end inside a double-byte character

// What a reading costs before its characters: the program's own code page wins close calls.
constexpr TCost kPrior[] = {0, 5, 5, 5, 5, 4, 6};

constexpr size_t kCandidates = std::size(kCodePages);

enum class TKind { Space, Digit, Punct, Upper, Lower, Latin, Cyrillic, Han, Kana, Hangul, Other };

bool IsVowelRu(char32_t c) {
    c = c >= 0x410 && c <= 0x42F ? c + 0x20 : c == 0x401 ? 0x451 : c;
    switch (c) {
    case 0x430: case 0x435: case 0x438: case 0x43E: case 0x443:
    case 0x44B: case 0x44D: case 0x44E: case 0x44F: case 0x451:
        return true;
    default:
        return false;
    }
}

// Russian letters а..я by their share of running text (per mille).
constexpr uint16_t kRussianLetters[32] = {80, 16, 45, 17, 30, 85, 9,  17, 74, 12, 35,
                                          44, 32, 67, 110, 28, 47, 55, 63, 26, 3,  10,
                                          5,  14, 7,  4,  1,  19, 17, 3,  6,  20};

TCost CostOf(double perMille) {
    return static_cast<TCost>(std::lround(-2 * std::log2(perMille / 1000)));
}

// Russian letter costs, computed once.
const std::array<TCost, 32>& RussianCosts() {
    static const std::array<TCost, 32> costs = [] {
        std::array<TCost, 32> c{};
        for (size_t i = 0; i < 32; ++i)
            c[i] = CostOf(kRussianLetters[i]);
        return c;
    }();
    return costs;
}

// Latin letters of Western European names, by how often they appear in them.
TCost WesternLetterCost(char32_t lower) {
    switch (lower) {
    case U'é': return 10;
    case U'ö': case U'ü': case U'ä': case U'è': case U'á': case U'ó': case U'í': case U'à':
    case U'ñ': return 12;
    case U'ç': case U'ø': case U'å': case U'ú': case U'ê': case U'ô': case U'â': case U'ß':
    case U'ë': case U'ã': return 14;
    case U'ï': case U'î': case U'û': case U'ù': case U'ò': case U'ì': case U'æ': case U'õ':
    case U'œ': case U'š': case U'ž': return 16;
    case U'ý': case U'ÿ': case U'ð': case U'þ': return 22;
    default: return 0;
    }
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

// Korean syllables as initial, vowel and final jamo, each by its share of running text
// (per mille); syllables of names and lyrics this short list holds are cheaper still.
constexpr uint16_t kInitials[19] = {130, 10, 70, 90, 7, 60, 60, 50, 2, 90,
                                    5,   220, 80, 2, 20, 10, 15, 15, 70};
constexpr uint16_t kVowels[21] = {220, 50, 10, 1,  100, 40, 50, 5,  90, 20, 2,
                                  10,  15, 70, 10, 1,   7,  12, 100, 20, 150};
constexpr uint16_t kFinals[28] = {550, 60, 2, 1, 130, 1, 2,  5, 90, 2, 1, 1,  1, 1,
                                  1,   1,  40, 15, 3, 10, 15, 70, 3, 2, 1, 2, 1, 1};
constexpr char32_t kCommonSyllables[] = {
    U'이', U'다', U'의', U'는', U'에', U'가', U'고', U'하', U'지', U'나', U'사', U'서', U'리',
    U'기', U'도', U'로', U'을', U'를', U'어', U'아', U'자', U'수', U'대', U'한', U'정', U'시',
    U'인', U'전', U'주', U'김', U'박', U'최', U'우', U'보', U'해', U'내', U'요', U'게', U'마',
    U'라', U'구', U'스', U'트', U'드', U'니', U'은', U'민', U'영', U'소', U'사', U'랑', U'너',
    U'비', U'미', U'원', U'현', U'성', U'진', U'호', U'윤', U'희', U'경', U'선', U'재', U'준',
    U'태', U'연', U'혜', U'상', U'석', U'빈', U'빅', U'뱅', U'방', U'탄', U'소', U'년', U'단',
    U'블', U'랙', U'핑', U'크', U'레', U'드', U'벨', U'벳', U'트', U'와', U'이', U'스', U'엑',
    U'소', U'샤', U'이', U'니', U'원', U'더', U'걸', U'즈', U'세', U'븐', U'틴', U'아', U'이',
    U'유', U'싸', U'이', U'태', U'양', U'용', U'임', U'재', U'범', U'신', U'승', U'훈', U'조',
    U'용', U'필', U'노', U'래', U'날', U'밤', U'별', U'꽃', U'눈', U'물', U'길', U'말', U'봄',
    U'여', U'름', U'겨', U'울', U'바', U'람', U'하', U'늘', U'우', U'리', U'들', U'그', U'대',
    U'오', U'늘', U'내', U'일', U'안', U'녕', U'행', U'복', U'눈', U'물', U'마', U'음', U'꿈',
    U'위', U'속', U'밖', U'것', U'때', U'너', U'의', U'만', U'큼', U'좋', U'은', U'없', U'어',
    U'있', U'어', U'줘', U'네', U'요', U'죠', U'까', U'봐', U'와', U'과', U'러', U'브', U'프',
    U'타', U'파', U'카', U'쇼', U'팬', U'송', U'앨', U'범', U'집', U'곡', U'편', U'부', U'모',
};

bool IsKsX1001(char32_t c) {
    const char32_t i = c - 0xAC00;
    return (kKsX1001Hangul[i / 8] >> (i % 8)) & 1;
}

// The cost of each Hangul syllable, computed once: jamo model, common ones capped.
const std::array<uint8_t, 11172>& HangulCosts() {
    static const std::array<uint8_t, 11172> costs = [] {
        std::array<uint8_t, 11172> c{};
        for (size_t i = 0; i < c.size(); ++i) {
            const size_t l = i / 588, v = i % 588 / 28, t = i % 28;
            const double p = kInitials[l] / 1000.0 * kVowels[v] / 1000.0 * kFinals[t] / 1000.0;
            TCost cost = static_cast<TCost>(std::lround(-2 * std::log2(p)));
            c[i] = static_cast<uint8_t>(cost > 60 ? 60 : cost);
        }
        for (char32_t s : kCommonSyllables) {
            uint8_t& cost = c[s - 0xAC00];
            if (cost > 15) cost = 15;
        }
        return c;
    }();
    return costs;
}

// Which language's model a code page's readings are priced with; UTF-8 prices each character
// with the model of its script.
enum class TLanguage { Simplified, Traditional, Japanese, Korean, Russian, Western, Any };

constexpr TLanguage kLanguageOf[] = {TLanguage::Simplified, TLanguage::Traditional,
                                     TLanguage::Japanese,   TLanguage::Korean,
                                     TLanguage::Russian,    TLanguage::Western,
                                     TLanguage::Any};

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

bool IsLetter(TKind k) {
    return k == TKind::Upper || k == TKind::Lower;
}

// Prices one reading; `prev` carries the kind of the last character across calls.
class TScorer {
  public:
    explicit TScorer(TLanguage language) : language_(language) {}

    TCost Total() const { return total_; }

    void Add(char32_t c) {
        const TKind kind = KindOf(c);
        total_ += Cost(c, kind);
        // Scripts glued together inside one word.
        if ((kind == TKind::Cyrillic && IsLetter(prevKind_)) ||
            (IsLetter(kind) && prevKind_ == TKind::Cyrillic))
            total_ += kForeignLetter;
        if ((kind == TKind::Han || kind == TKind::Hangul) && IsLetter(prevKind_)) total_ += 6;
        if (IsLetter(kind) && (prevKind_ == TKind::Han || prevKind_ == TKind::Hangul))
            total_ += 6;
        if ((kind == TKind::Other || kind == TKind::Kana) &&
            (IsLetter(prevKind_) || prevKind_ == TKind::Latin) && c < 0x3000)
            total_ += 10;
        prev_ = c;
        prevKind_ = kind;
    }

    void EndString() {
        prev_ = 0;
        prevKind_ = TKind::Space;
        consonants_ = vowels_ = 0;
        halfWidth_ = fullWidth_ = false;
    }

  private:
    TCost Cost(char32_t c, TKind kind) {
        switch (kind) {
        case TKind::Space: consonants_ = vowels_ = 0; return 6;
        case TKind::Digit: consonants_ = vowels_ = 0; return 10;
        case TKind::Punct: consonants_ = vowels_ = 0; return 12;
        case TKind::Upper:
        case TKind::Lower: {
            TCost cost = 10;
            if (kind == TKind::Upper && prevKind_ == TKind::Latin && !IsWesternUpper(prev_))
                cost += kCaseBreak;
            return cost;
        }
        default: break;
        }
        if ((c >= 0x80 && c < 0xA0) || (c >= 0xE000 && c <= 0xF8FF) || c == 0xFFFD ||
            c >= 0xF0000)
            return kRefused;
        TLanguage language = language_;
        if (language == TLanguage::Any) {
            switch (kind) {
            case TKind::Latin: language = TLanguage::Western; break;
            case TKind::Cyrillic: language = TLanguage::Russian; break;
            case TKind::Kana: language = TLanguage::Japanese; break;
            case TKind::Hangul: language = TLanguage::Korean; break;
            case TKind::Han: return AnyHan(c);
            default:
                if (c >= 0xA0 && c <= 0xBF) language = TLanguage::Western;
                else if (c >= 0x2000 && c <= 0x206F) return 16;
                else if (c >= 0x3000 && c <= 0x303F) return 16;
                else if (c >= 0xFF01 && c <= 0xFF5E) return 20;
                else return 40;
            }
        }
        switch (language) {
        case TLanguage::Simplified:
        case TLanguage::Traditional:
        case TLanguage::Japanese:
        case TLanguage::Korean: return Cjk(c, kind, language);
        case TLanguage::Russian: return Russian(c, kind);
        case TLanguage::Western: return Western(c, kind);
        case TLanguage::Any: break;
        }
        return 40;
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
            case TLanguage::Simplified: return h.simplified;
            case TLanguage::Traditional: return h.traditional;
            case TLanguage::Japanese: return h.japanese;
            default: return h.korean;
            }
        }
        if (kind == TKind::Hangul) {
            if (language != TLanguage::Korean) return 40;
            return IsKsX1001(c) ? HangulCosts()[c - 0xAC00] : 40;
        }
        if (kind == TKind::Kana) {
            if (language != TLanguage::Japanese) return 32;
            if (c >= 0xFF66) { // half-width katakana: old Japanese tags, never beside kanji
                halfWidth_ = true;
                return fullWidth_ ? 40 : 18;
            }
            fullWidth_ = true;
            if (halfWidth_) return 40;
            return c <= 0x309F ? 8 : 10;
        }
        if (c == 0xB7 || c == 0x30FB) return 16; // the middle dot of foreign names
        if (c >= 0x3000 && c <= 0x303F) return 16;
        if (c >= 0x2010 && c <= 0x2027) return 16;
        if (c >= 0xFF01 && c <= 0xFF5E) return 20;
        if (c >= 0x3130 && c <= 0x318F) return language == TLanguage::Korean ? 24 : 40;
        return 32;
    }

    TCost Russian(char32_t c, TKind kind) {
        if (kind != TKind::Cyrillic) {
            consonants_ = vowels_ = 0;
            switch (c) {
            case 0xAB: case 0xBB: case 0x2014: case 0x2013: case 0x201E: case 0x201C:
            case 0x201D: case 0x2026: case 0x2116: return 14;
            case 0xA0: return 20;
            default: return 32;
            }
        }
        const bool upper = (c >= 0x410 && c <= 0x42F) || c == 0x401;
        const char32_t lower = c >= 0x410 && c <= 0x42F ? c + 0x20 : c == 0x401 ? 0x451 : c;
        TCost cost;
        if (lower >= 0x430 && lower <= 0x44F) cost = RussianCosts()[lower - 0x430];
        else if (lower == 0x451) cost = 14;
        else if (c == 0x456 || c == 0x457 || c == 0x454 || c == 0x406 || c == 0x407 ||
                 c == 0x404)
            cost = 18; // Ukrainian
        else cost = 26;
        if (upper && prevKind_ == TKind::Cyrillic && !IsUpperRu(prev_)) cost += kCaseBreak;
        if (upper && prevKind_ != TKind::Cyrillic) cost += 2;
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

    static bool IsUpperRu(char32_t c) { return (c >= 0x410 && c <= 0x42F) || c == 0x401; }

    TCost Western(char32_t c, TKind kind) {
        if (kind == TKind::Latin) {
            const char32_t lower = WesternLower(c);
            TCost cost = WesternLetterCost(lower);
            if (cost == 0) return 32; // outside windows-1252
            if (IsWesternUpper(c)) {
                cost += 4;
                if (prevKind_ == TKind::Lower || (prevKind_ == TKind::Latin && !IsWesternUpper(prev_)))
                    cost += kCaseBreak;
            } else if (prevKind_ == TKind::Upper || (prevKind_ == TKind::Latin && IsWesternUpper(prev_))) {
                cost += 0;
            }
            return cost;
        }
        switch (c) {
        case 0x2018: case 0x2019: case 0x201C: case 0x201D: case 0x2013: case 0x2014:
        case 0x2026: return 14;
        case 0x2022: case 0xBF: case 0xA1: case 0xAB: case 0xBB: return 18;
        case 0xA9: case 0xAE: case 0xB0: case 0xB7: case 0xD7: case 0x2122: case 0xA0:
            return 22;
        default: return 30;
        }
    }

    TLanguage language_;
    TCost total_ = 0;
    char32_t prev_ = 0;
    TKind prevKind_ = TKind::Space;
    int consonants_ = 0, vowels_ = 0;
    bool prevPrevUpper_ = false;
    bool halfWidth_ = false, fullWidth_ = false;
};

// Calls `f` with each code point of well-formed UTF-8.
template <typename F> void ForEachCodePoint(std::string_view utf8, F&& f) {
    for (size_t i = 0; i < utf8.size();) {
        const auto b = [&](size_t k) { return static_cast<unsigned char>(utf8[i + k]); };
        size_t n = Utf8SequenceLength(utf8, i);
        char32_t c;
        switch (n) {
        case 1: c = b(0); break;
        case 2: c = (b(0) & 0x1F) << 6 | (b(1) & 0x3F); break;
        case 3: c = (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F); break;
        case 4:
            c = (b(0) & 0x07) << 18 | (b(1) & 0x3F) << 12 | (b(2) & 0x3F) << 6 | (b(3) & 0x3F);
            break;
        default: c = 0xFFFD; n = 1;
        }
        f(c);
        i += n;
    }
}

// What the file's Unicode texts say: a legacy string whose reading equals one settles it;
// their scripts lean towards the code pages of the same language.
TCost UnicodeEvidence(TCodePage cp, std::string_view reading,
                      const std::vector<std::string_view>& unicode) {
    TCost bonus = 0;
    for (std::string_view u : unicode) {
        if (u == reading) return -400;
        if (reading.size() >= 12 && u.size() > reading.size() && u.substr(0, reading.size()) == reading)
            bonus = -200; // an ID3v1 field holds the start of a longer text
    }
    (void)cp;
    return bonus;
}

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
            case TKind::Kana: kana = true; break;
            case TKind::Hangul: hangul = true; break;
            case TKind::Cyrillic: cyrillic = true; break;
            case TKind::Latin: latin = true; break;
            default: break;
            }
        });
    switch (cp) {
    case TCodePage::Gbk: return han && !kana && simplified <= traditional ? -20 : 0;
    case TCodePage::Big5: return han && !kana && traditional < simplified ? -20 : 0;
    case TCodePage::ShiftJis: return kana ? -20 : 0;
    case TCodePage::EucKr: return hangul ? -20 : 0;
    case TCodePage::Windows1251: return cyrillic ? -20 : 0;
    case TCodePage::Windows1252: return latin && !cyrillic ? -12 : 0;
    case TCodePage::Utf8: return 0;
    }
    return 0;
}

} // namespace

TCodePage DetectCodePage(const std::vector<std::string_view>& legacy,
                         const std::vector<std::string_view>& unicode) {
    bool any = false;
    for (std::string_view s : legacy)
        if (!IsAscii(s)) any = true;
    if (!any) return TCodePage::Gbk;

    TCodePage best = TCodePage::Gbk;
    TCost bestCost = 0;
    for (size_t k = 0; k < kCandidates; ++k) {
        const TCodePage cp = kCodePages[k];
        TScorer scorer(kLanguageOf[k]);
        TCost evidence = unicode.empty() ? 0 : ScriptEvidence(cp, unicode);
        for (std::string_view s : legacy) {
            if (IsAscii(s)) continue;
            const bool cut = s.size() > kLongestScored;
            if (cut) s = s.substr(0, kLongestScored);
            const std::string reading = LegacyToUtf8(cp, s);
            // A string cut here, or an ID3v1 field full to its end, may stop inside a
            // character: its last, broken one says nothing.
            std::string_view text = reading;
            if ((cut || s.size() == kId3v1Field || s.size() == kId3v1Field - 2) &&
                text.size() >= 3 && text.substr(text.size() - 3) == "\xEF\xBF\xBD")
                text.remove_suffix(3);
            ForEachCodePoint(text, [&](char32_t c) { scorer.Add(c); });
            scorer.EndString();
            if (!unicode.empty()) evidence += UnicodeEvidence(cp, text, unicode);
        }
        const TCost cost = scorer.Total() + kPrior[k] + evidence;
        if (k == 0 || cost < bestCost) {
            best = cp;
            bestCost = cost;
        }
    }
    return best;
}

} // namespace platform
