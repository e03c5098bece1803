// The character model of the code-page detector, made at build time from the Unihan tables
// (tools/make-han-costs.py): what a CJK ideograph costs, in half bits, in each language's text, and
// a Hangul syllable in Korean.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

struct THanCosts {
    uint8_t simplified;  // mainland Chinese (GBK)
    uint8_t traditional; // Taiwan and Hong Kong (Big5)
    uint8_t japanese;    // Shift-JIS
    uint8_t korean;      // Hanja in Korean text (EUC-KR)
};

inline constexpr char32_t kFirstHan = 0x4E00, kLastHan = 0x9FFF;

extern const THanCosts kHanCosts[kLastHan - kFirstHan + 1];

// What Hangul syllable U+AC00 + i costs in Korean text; 0 for those outside KS X 1001.
extern const uint8_t kHangulCosts[11172];

// Pairs of adjacent characters that make words, and what each takes off a reading (in half
// bits). A pair's key is the offsets of its two characters (an ideograph's from kFirstHan, a
// syllable's from U+AC00 plus kHangulKey), the first in the high half; keys are sorted.
struct TPairs {
    const uint32_t* keys;
    const uint8_t* bonus;
    size_t count;
};

inline constexpr uint32_t kHangulKey = 0x6000;

extern const TPairs kSimplifiedPairs;  // words of mainland Chinese
extern const TPairs kTraditionalPairs; // the same words in traditional forms
extern const TPairs kKoreanPairs;      // syllables of Korean words

// What Russian letter а + j costs after letter а + i (row 32: at the start of a word), ё read as е.
extern const uint8_t kRussianLetterCosts[33][32];

} // namespace platform
