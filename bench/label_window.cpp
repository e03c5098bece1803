// The start-up floor of any window with Chinese text: one empty window of the editor's size with
// one label in the editor's font, ending once it has painted like the other start-up programs.
// What the editor costs beyond this is building and drawing its controls.
#include "QuitAfterPaint.h"
#include "uApplication.h"
#include "uTagEdit.h"

#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(TFrmEditText::kWidth, TFrmEditText::kHeight);
    window.setFont(WindowFont(12));
    QLabel label(QString::fromUtf8("请选择一个MP3文件"), &window);
    label.move(16, 16);
    TQuitAfterPaint quit;
    app.installEventFilter(&quit);
    window.show();
    return app.exec();
}
