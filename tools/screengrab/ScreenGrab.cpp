// Saves what an X window shows as a PNG file, for the screenshots of the documentation:
// screengrab WINDOW_ID OUT.png [X Y WIDTH HEIGHT]   (device pixels, relative to the window)
// With OUT.png given as "--colours", prints how many colours the grab holds instead (a blank area
// has one, text many), for tests that look whether something is shown.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QSet>

#include <cstdio>
#include <cstdlib>
#include <string_view>

int main(int argc, char** argv) {
    if (argc != 3 && argc != 7) {
        std::fprintf(stderr, "usage: screengrab WINDOW_ID OUT.png [X Y WIDTH HEIGHT]\n");
        return 2;
    }
    // The grab is in device pixels; a scale factor meant for the editor must not shrink it.
    qunsetenv("QT_SCALE_FACTOR");
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const WId window = std::strtoul(argv[1], nullptr, 0);
    int x = 0, y = 0, width = -1, height = -1;
    if (argc == 7) {
        x = std::atoi(argv[3]);
        y = std::atoi(argv[4]);
        width = std::atoi(argv[5]);
        height = std::atoi(argv[6]);
    }
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(window, x, y, width, height);
    if (!shot.isNull() && std::string_view(argv[2]) == "--colours") {
        const QImage image = shot.toImage().convertToFormat(QImage::Format_RGB32);
        QSet<QRgb> colours;
        for (int row = 0; row < image.height(); ++row)
            for (int column = 0; column < image.width(); ++column)
                colours.insert(image.pixel(column, row));
        std::printf("%lld\n", static_cast<long long>(colours.size()));
        return 0;
    }
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "screengrab: cannot grab window %s into %s\n", argv[1], argv[2]);
        return 1;
    }
    return 0;
}
