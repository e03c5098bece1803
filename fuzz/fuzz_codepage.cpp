// The one crossing between code page 936 and UTF-8: tag texts from any file pass through here
// on their way to the screen and the command line, and APEv2 values the other way.
#include "FuzzFile.h"

#include "CodePage.h"

#include <string>

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
    return 0;
}
