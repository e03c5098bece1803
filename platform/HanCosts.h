// The character model of the code-page detector, made at build time from the Unihan tables
// (tools/make-han-costs.py): what a CJK ideograph costs, in half bits, in each language's text, and
// a Hangul syllable in Korean.
#pragma once

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

} // namespace platform
