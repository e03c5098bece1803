// The start-up reference: a Qt widget program that shows one empty window and ends once it has
// painted (the editor's timing build stops at the same moment).
#include "QuitAfterPaint.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(640, 480);
    TQuitAfterPaint quit;
    app.installEventFilter(&quit);
    window.show();
    return app.exec();
}
