// JPEG decoding from memory (embedded pictures) and from a file read in blocks (picture files):
// both must agree on every input, give whole pictures within the pixel limit, and fail only with
// the picture error.
#include "FuzzFile.h"
#include "JpegBudget.h"

#include "PlatformFile.h"
#include "uJpeg.h"

#include <optional>
#include <string>

namespace {

struct TOutcome {
    std::optional<TRgbPicture> Picture;
    std::string Error;
};

template <typename F> TOutcome Decode(F&& decode) {
    TOutcome out;
    try {
        out.Picture = decode();
    } catch (const EPictureError& e) {
        out.Error = e.what();
    }
    return out;
}

void CheckWhole(const TRgbPicture& p) {
    FUZZ_CHECK(p.Width >= 0 && p.Height >= 0);
    FUZZ_CHECK(static_cast<int64_t>(p.Width) * p.Height <= kMaxPicturePixels);
    FUZZ_CHECK(p.Rgb.size() == static_cast<size_t>(p.Width) * p.Height * 3);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!WorthDecoding(data, size)) return -1; // not kept in the corpus
    static TFuzzFile file("picture.jpg");
    file.Write(data, size);

    const TOutcome memory = Decode([&] { return DecodeJpeg(data, size); });
    const TOutcome stream = Decode([&] { return DecodeJpegFile(file.Path()); });

    FUZZ_CHECK(memory.Picture.has_value() == stream.Picture.has_value());
    if (memory.Picture) {
        CheckWhole(*memory.Picture);
        FUZZ_CHECK(memory.Picture->Width == stream.Picture->Width);
        FUZZ_CHECK(memory.Picture->Height == stream.Picture->Height);
        FUZZ_CHECK(memory.Picture->Rgb == stream.Picture->Rgb);
        if (size == 0) FUZZ_CHECK(memory.Picture->Empty());
    } else {
        FUZZ_CHECK(!memory.Error.empty());
        FUZZ_CHECK(memory.Error == stream.Error);
    }
    return 0;
}
