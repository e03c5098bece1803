#include "CodePage.h"

#include "PlatformFile.h"

#include <cerrno>
#include <clocale>
#include <cwctype>
#include <iconv.h>
#include <iterator>
#include <locale.h>
#include <optional>
#include <wctype.h>

namespace platform {

namespace {

// One iconv descriptor per direction and thread; "CP936" is glibc's name for the Windows code
// page (GBK plus the euro sign at 0x80).
class TConverter {
  public:
    TConverter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw EPlatformError(std::string("No conversion from ") + from + " to " + to);
    }
    ~TConverter() { iconv_close(cd_); }
    iconv_t Get() {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr); // reset the shift state
        return cd_;
    }

  private:
    iconv_t cd_;
};

iconv_t ToUtf32() {
    thread_local TConverter c("UTF-32LE", "CP936");
    return c.Get();
}

// Converts as much as iconv takes; returns false at the first byte it refuses, with `in`
// pointing at it.
bool Convert(iconv_t cd, const char*& in, size_t& inLeft, std::string& out) {
    char buffer[1024];
    while (inLeft > 0) {
        char* o = buffer;
        size_t oLeft = sizeof buffer;
        size_t rc = iconv(cd, const_cast<char**>(&in), &inLeft, &o, &oLeft);
        out.append(buffer, static_cast<size_t>(o - buffer));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) return false;
    }
    return true;
}

// glibc's converters skip the Unicode tag characters (U+E0000..U+E007F, UTF-8 F3 A0 80 80 to
// F3 A0 81 BF) without an error, which would make a text that lost characters look converted.
// Code page 936 has no form for them: the conversions refuse them like any other such character.
// The position of the first one in well-formed UTF-8 from `from` on, or npos.
size_t NextTagCharacter(std::string_view utf8, size_t from) {
    for (size_t i = from; i + 3 < utf8.size(); ++i)
        if (utf8[i] == '\xF3' && utf8[i + 1] == '\xA0' &&
            (utf8[i + 2] == '\x80' || utf8[i + 2] == '\x81'))
            return i;
    return std::string_view::npos;
}

constexpr size_t kTagCharacterLength = 4;

} // namespace

bool IsAscii(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

namespace {

struct TCodePageInfo {
    TCodePage cp;
    const char* name;  // the name scripts and the JSON use
    const char* iconv; // glibc's name for the Windows code page
};

constexpr TCodePageInfo kInfo[] = {
    {TCodePage::Gbk, "gbk", "CP936"},
    {TCodePage::Big5, "big5", "CP950"},
    {TCodePage::ShiftJis, "shift_jis", "CP932"},
    {TCodePage::EucKr, "euc-kr", "CP949"},
    {TCodePage::Windows1251, "windows-1251", "CP1251"},
    {TCodePage::Windows1252, "windows-1252", "CP1252"},
    {TCodePage::Utf8, "utf-8", "UTF-8"},
};

const TCodePageInfo& Info(TCodePage cp) {
    return kInfo[static_cast<size_t>(cp)];
}

iconv_t FromLegacy(TCodePage cp) {
    thread_local std::optional<TConverter> c[std::size(kInfo)];
    auto& slot = c[static_cast<size_t>(cp)];
    if (!slot) slot.emplace("UTF-8", Info(cp).iconv);
    return slot->Get();
}

iconv_t ToLegacy(TCodePage cp) {
    thread_local std::optional<TConverter> c[std::size(kInfo)];
    auto& slot = c[static_cast<size_t>(cp)];
    if (!slot) slot.emplace(Info(cp).iconv, "UTF-8");
    return slot->Get();
}

} // namespace

std::string_view CodePageName(TCodePage cp) {
    return Info(cp).name;
}

std::optional<TCodePage> CodePageFromName(std::string_view name) {
    for (const auto& i : kInfo)
        if (SameText(name, i.name)) return i.cp;
    return std::nullopt;
}

std::string LegacyToUtf8(TCodePage cp, std::string_view bytes) {
    if (IsAscii(bytes)) return std::string(bytes);
    if (cp == TCodePage::Utf8) {
        std::string out;
        for (size_t i = 0; i < bytes.size();) {
            size_t n = Utf8SequenceLength(bytes, i);
            if (n == 0) {
                out += "\xEF\xBF\xBD";
                ++i;
            } else {
                out.append(bytes.substr(i, n));
                i += n;
            }
        }
        return out;
    }
    std::string out;
    out.reserve(bytes.size() * 3 / 2);
    const char* in = bytes.data();
    size_t left = bytes.size();
    iconv_t cd = FromLegacy(cp);
    while (!Convert(cd, in, left, out)) {
        out += "\xEF\xBF\xBD"; // U+FFFD for the byte that is not valid in the code page
        // glibc's CP949 steps over some pairs it refuses (0xA2 0xE8) instead of stopping at
        // them: at the end of the input there is no byte left to skip.
        if (left == 0) break;
        ++in;
        --left;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

bool Utf8ToLegacy(TCodePage cp, std::string_view utf8, std::string& out) {
    out.clear();
    if (IsAscii(utf8)) {
        out.assign(utf8);
        return true;
    }
    if (!IsWellFormedUtf8(utf8) || NextTagCharacter(utf8, 0) != std::string_view::npos)
        return false;
    if (cp == TCodePage::Utf8) {
        out.assign(utf8);
        return true;
    }
    const char* in = utf8.data();
    size_t left = utf8.size();
    if (!Convert(ToLegacy(cp), in, left, out)) {
        out.clear();
        return false;
    }
    return true;
}

std::string Cp936ToUtf8(std::string_view cp936) {
    return LegacyToUtf8(TCodePage::Gbk, cp936);
}

size_t Utf8SequenceLength(std::string_view text, size_t i) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char c = b(i);
    size_t left = text.size() - i;
    auto cont = [&](size_t k) { return k < left && (b(i + k) & 0xC0) == 0x80; };
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2)) return 0;
        unsigned char c1 = b(i + 1);
        if (c == 0xE0 && c1 < 0xA0) return 0; // overlong
        if (c == 0xED && c1 > 0x9F) return 0; // surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) return 0;
        unsigned char c1 = b(i + 1);
        if (c == 0xF0 && c1 < 0x90) return 0;
        if (c == 0xF4 && c1 > 0x8F) return 0;
        return 4;
    }
    return 0;
}

bool IsWellFormedUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        size_t n = Utf8SequenceLength(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

bool Utf8ToCp936(std::string_view utf8, std::string& out) {
    return Utf8ToLegacy(TCodePage::Gbk, utf8, out);
}

std::string Utf8ToCp936Lossy(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
    std::string out;
    if (!IsWellFormedUtf8(utf8)) return out;
    iconv_t cd = ToLegacy(TCodePage::Gbk);
    for (size_t at = 0;;) {
        const size_t tag = NextTagCharacter(utf8, at);
        const std::string_view part = utf8.substr(at, tag - at); // npos: to the end
        const char* in = part.data();
        size_t left = part.size();
        while (!Convert(cd, in, left, out)) {
            size_t n = Utf8SequenceLength(std::string_view(in, left), 0);
            out += '?';
            in += n;
            left -= n;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
        if (tag == std::string_view::npos) return out;
        out += '?';
        at = tag + kTagCharacterLength;
    }
}

bool SameText(std::string_view a, std::string_view b) {
    auto ascii = [](std::string_view s) {
        for (unsigned char c : s)
            if (c >= 0x80) return false;
        return true;
    };
    if (ascii(a) && ascii(b)) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i) {
            unsigned char x = a[i], y = b[i];
            if (x >= 'a' && x <= 'z') x -= 32;
            if (y >= 'a' && y <= 'z') y -= 32;
            if (x != y) return false;
        }
        return true;
    }
    // Double-byte text: compare by character, so a trail byte that looks like a letter is not
    // folded on its own.
    auto wide = [](std::string_view s) {
        std::string raw;
        const char* in = s.data();
        size_t left = s.size();
        iconv_t cd = ToUtf32();
        while (!Convert(cd, in, left, raw)) {
            raw.append("\xFD\xFF\0\0", 4);
            ++in;
            --left;
        }
        return std::u32string(reinterpret_cast<const char32_t*>(raw.data()), raw.size() / 4);
    };
    static locale_t utf8Locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    std::u32string wa = wide(a), wb = wide(b);
    if (wa.size() != wb.size()) return false;
    for (size_t i = 0; i < wa.size(); ++i) {
        wint_t x = wa[i], y = wb[i];
        if (utf8Locale) {
            x = towupper_l(x, utf8Locale);
            y = towupper_l(y, utf8Locale);
        }
        if (x != y) return false;
    }
    return true;
}

} // namespace platform
