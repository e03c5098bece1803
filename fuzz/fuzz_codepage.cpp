// The one crossing between code page 936 and UTF-8: tag texts from any file pass through here
// on their way to the screen and the command line, and APEv2 values the other way; and the
// detection of the code page of a file's legacy texts.
#include "FuzzFile.h"

#include "CodePage.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // Whatever the bytes, what is shown is well-formed UTF-8.
    const std::string shown = platform::Cp936ToUtf8(bytes);
    FUZZ_CHECK(platform::IsWellFormedUtf8(shown));

    // UTF-8 in: a strict conversion that succeeds comes back unchanged; the lossy one agrees
    // with it whenever the strict one succeeds.
    std::string cp936;
    const bool ok = platform::Utf8ToCp936(bytes, cp936);
    const std::string lossy = platform::Utf8ToCp936Lossy(bytes);
    if (ok) {
        FUZZ_CHECK(platform::IsWellFormedUtf8(bytes));
        FUZZ_CHECK(lossy == cp936);
        FUZZ_CHECK(platform::Cp936ToUtf8(cp936) == bytes);
    } else {
        FUZZ_CHECK(cp936.empty());
    }
    if (!platform::IsWellFormedUtf8(bytes)) FUZZ_CHECK(lossy.empty() && !ok);

    // The id look-up: a text equals itself, and the comparison is symmetric.
    FUZZ_CHECK(platform::SameText(bytes, bytes));
    const size_t half = size / 2;
    const std::string a = bytes.substr(0, half), b = bytes.substr(half);
    FUZZ_CHECK(platform::SameText(a, b) == platform::SameText(b, a));

    // Detection: any bytes, split into strings at NUL as a tag's fields are, with the reading in
    // code page 936 as a Unicode text, give one answer, and pure ASCII gives code page 936.
    std::vector<std::string_view> legacy;
    for (size_t at = 0; at <= size;) {
        const size_t end = std::min(bytes.find('\0', at), size);
        legacy.push_back(std::string_view(bytes).substr(at, end - at));
        at = end + 1;
    }
    const platform::TCodePage cp = platform::DetectCodePage(legacy, {shown});
    FUZZ_CHECK(cp == platform::DetectCodePage(legacy, {shown}));
    FUZZ_CHECK(platform::IsWellFormedUtf8(platform::LegacyToUtf8(cp, bytes)));
    if (platform::IsAscii(bytes)) FUZZ_CHECK(cp == platform::TCodePage::Gbk);
    return 0;
}
