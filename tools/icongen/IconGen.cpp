// Writes the program's icon as PNG files for installation: icongen DIR SIZE...
// With --picture it writes a cover picture for the documentation's sample file instead: the icon
// on a soft gradient, WIDTH x HEIGHT, in a format the picture dialog takes (by the extension).
#include "uAppIcon.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <cstring>

static bool WritePicture(int width, int height, const QString& path) {
    if (width <= 0 || height <= 0) return false;
    QImage picture(width, height, QImage::Format_RGB32);
    QPainter p(&picture);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor(255, 236, 196));
    sky.setColorAt(1, QColor(196, 72, 48));
    p.fillRect(picture.rect(), sky);
    const int side = std::min(width, height) * 3 / 4;
    p.drawImage(QPoint((width - side) / 2, (height - side) / 2), DrawAppIcon(side));
    p.end();
    return picture.save(path);
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc == 5 && std::strcmp(argv[1], "--picture") == 0) {
        if (WritePicture(std::atoi(argv[2]), std::atoi(argv[3]), QString::fromLocal8Bit(argv[4])))
            return 0;
        std::fprintf(stderr, "icongen: cannot write %s\n", argv[4]);
        return 1;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: icongen DIR SIZE...\n"
                             "       icongen --picture WIDTH HEIGHT OUT.bmp\n");
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        int size = std::atoi(argv[i]);
        QString path = QString("%1/quillon-%2.png").arg(argv[1]).arg(size);
        if (size <= 0 || !DrawAppIcon(size).save(path)) {
            std::fprintf(stderr, "icongen: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
