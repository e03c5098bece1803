// The readers of an attached-picture payload and the way the picture panel takes the picture
// bytes out of an APIC or TPIC payload and decodes them.
#include "FuzzFile.h"
#include "JpegBudget.h"

#include "uJpeg.h"
#include "uPicturePayload.h"

#include <string>

namespace {

void DecodeQuietly(const std::string& bytes) {
    if (!WorthDecoding(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())) return;
    try {
        const TRgbPicture p = DecodeJpeg(bytes);
        FUZZ_CHECK(p.Rgb.size() == static_cast<size_t>(p.Width) * p.Height * 3);
        FUZZ_CHECK(static_cast<int64_t>(p.Width) * p.Height <= kMaxPicturePixels);
        if (bytes.empty()) FUZZ_CHECK(p.Empty());
    } catch (const EPictureError&) {
        // Data the codec rejects is reported to the user, not a fault here.
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string payload(reinterpret_cast<const char*>(data), size);

    const int type = PictureTypeOf(payload);
    FUZZ_CHECK(type >= 0 && type <= 20);
    const std::string description = PictureDescriptionOf(payload);
    const int start = PictureDataStart(payload);
    FUZZ_CHECK(start >= 2 && start <= static_cast<int>(size) + 2);

    // A payload in UTF-16 or UTF-8 is read by its layout: MIME type up to its NUL, the type, the
    // description in its own encoding, the picture behind its terminator.
    const size_t mimeEnd =
        size > 0 && payload[0] >= 1 && payload[0] <= 3 ? payload.find('\0', 1) : std::string::npos;
    if (mimeEnd != std::string::npos && mimeEnd + 1 < size) {
        const unsigned char stored = payload[mimeEnd + 1];
        FUZZ_CHECK(type == (stored <= 20 ? stored : 0));
        FUZZ_CHECK(payload.compare(mimeEnd + 2, description.size(), description) == 0);
        FUZZ_CHECK(static_cast<size_t>(start - 1) >= mimeEnd + 2 + description.size());
    } else {
        if (size >= 13 && static_cast<unsigned char>(payload[12]) <= 20)
            FUZZ_CHECK(type == static_cast<unsigned char>(payload[12]));
        else
            FUZZ_CHECK(type == 0);
        FUZZ_CHECK(description.find('\0') == std::string::npos);
        if (size < 14) {
            FUZZ_CHECK(description.empty());
        } else {
            FUZZ_CHECK(payload.compare(13, description.size(), description) == 0);
            FUZZ_CHECK(13 + description.size() == size || payload[13 + description.size()] == '\0');
        }
        // Positions are 1-based: the picture starts right after the description's end, or (when
        // no end is found within offset 79) at offset 14, or beyond the payload.
        if (description.size() <= 66 && 13 + description.size() < size)
            FUZZ_CHECK(start == static_cast<int>(13 + description.size()) + 2);
    }
    const size_t from = static_cast<size_t>(start - 1);
    DecodeQuietly(from < size ? payload.substr(from) : std::string());

    // A custom picture: everything after the leading byte; two NUL bytes stand for none.
    if (size > 1 && payload != std::string(2, '\0')) DecodeQuietly(payload.substr(1));
    return 0;
}
