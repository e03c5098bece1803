// The picture panel's costs for a 12-megapixel JPEG, as ratios to one plain libjpeg decode of
// the same file in the same run: choosing the picture (decode into the prepared picture), a
// stretched redraw, a zoom step, and the capture with its JPEG encoding for embedding. The file
// is decoded once per choice; redraws and zoom steps work from the prepared picture.
//
//   picture_bench [--width W --height H] [--rounds N]
#include "TPreview.h"
#include "uJpeg.h"
#include "uPictureFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A photograph-like picture: smooth gradients with texture, so the codec has real work.
TRgbPicture MakePhoto(int width, int height) {
    TRgbPicture p;
    p.Width = width;
    p.Height = height;
    p.Rgb.resize(static_cast<size_t>(width) * height * 3);
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            noise = noise * 1103515245 + 12345;
            const int n = static_cast<int>(noise >> 27) - 16;
            uint8_t* d = &p.Rgb[(static_cast<size_t>(y) * width + x) * 3];
            d[0] = static_cast<uint8_t>(std::clamp(x * 255 / width + n, 0, 255));
            d[1] = static_cast<uint8_t>(std::clamp(y * 255 / height + n, 0, 255));
            d[2] = static_cast<uint8_t>(std::clamp(((x ^ y) & 0xFF) / 2 + 64 + n, 0, 255));
        }
    return p;
}

} // namespace

int main(int argc, char** argv) {
    int width = 4000, height = 3000, rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--width"))
            width = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--height"))
            height = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    char folder[] = "/tmp/picture-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const std::string file = std::string(folder) + "/photo.jpg";
    {
        const std::string jpeg = EncodeJpeg(MakePhoto(width, height), 92);
        std::ofstream(file, std::ios::binary)
            .write(jpeg.data(), static_cast<std::streamsize>(jpeg.size()));
        std::printf("picture %d x %d, %zu bytes of JPEG, %d rounds (medians)\n", width, height,
                    jpeg.size(), rounds);
    }

    std::vector<double> decode, load, stretched, zoom, zoomLarge, capture;
    for (int round = 0; round < rounds; ++round) {
        decode.push_back(Seconds([&] { DecodeJpegFile(file); }));
        TPreview preview;
        load.push_back(Seconds([&] { preview.SelectPicture(file); })); // decode + first redraw
        stretched.push_back(Seconds([&] { preview.DrawPicture(); }));
        preview.SelectProportional();
        zoom.push_back(Seconds([&] { preview.ZoomIn(); }));
        // The largest preview: about 1900 x 2500 after 21 more steps.
        for (int i = 0; i < 21; ++i)
            preview.ZoomIn();
        zoomLarge.push_back(Seconds([&] { preview.ZoomIn(); }));
        capture.push_back(
            Seconds([&] { EncodeJpeg(RgbOfImage(preview.Capture()), kAttachedPictureQuality); }));
    }
    unlink(file.c_str());
    rmdir(folder);

    const double unit = Median(decode);
    std::printf("one libjpeg decode:            %8.1f ms = 1.00\n", unit * 1000);
    auto report = [&](const char* what, const std::vector<double>& times) {
        std::printf("%-30s %8.1f ms = %.3f\n", what, Median(times) * 1000, Median(times) / unit);
    };
    report("choose picture (load+draw):", load);
    report("stretched redraw:", stretched);
    report("zoom step:", zoom);
    report("zoom step near the limit:", zoomLarge);
    report("capture + encode (q75):", capture);
    return 0;
}
