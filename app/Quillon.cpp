// Quillon: the MP3 tag editor.
#include "Help.h"
#include "ID3v2Tags.h"
#include "uAppIcon.h"
#include "uTagEdit.h"
#include "utPublic.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

int main(int argc, char** argv) {
    // Answered before Qt starts, so that it works without a display.
    for (int i = 1; i < argc; ++i) {
        if (!IsHelpOption(argv[i])) continue;
        std::fputs(FormatHelp(EditorHelp()).c_str(), stdout);
        return 0;
    }
    // The start-up check runs before anything else; its message needs an application for the box.
    QApplication app(argc, argv);
    SetMessageSink([](const std::string& text) {
        QMessageBox::information(QApplication::activeWindow(), QString(),
                                 QString::fromStdString(text));
    });
    if (!StartupCheck()) return 1;
    CreateTagObjects();
    // The title shown for the program on the task bar. Not setApplicationDisplayName: on X11 that
    // is appended to every window caption.
    QApplication::setApplicationName(QString::fromUtf8("MP3标签编辑器"));
    QApplication::setWindowIcon(AppIcon());
    int status;
    {
        TFrmEditText window;
        FrmEditText = &window;
        window.show();
        status = app.exec();
        FrmEditText = nullptr;
    }
    FreeTagObjects();
    return status;
}
