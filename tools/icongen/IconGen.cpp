// Writes the program's icon as PNG files for installation: icongen DIR SIZE...
#include "uAppIcon.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: icongen DIR SIZE...\n");
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
