// The character model of the code-page detector, made at build time from the Unihan tables
// (tools/make-han-costs.py): what a CJK ideograph costs, in half bits, in each language's text.
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

// Bit i is set when Hangul syllable U+AC00 + i is one of KS X 1001's 2,350.
extern const unsigned char kKsX1001Hangul[(11172 + 7) / 8];

} // namespace platform
