// Quillon: the MP3 tag editor.
#include "Help.h"
#include "ID3v2Tags.h"
#include "uAppIcon.h"
#include "uApplication.h"
#include "uControls.h"
#include "uDialogs.h"
#include "uGlyphArt.h"
#include "uTagEdit.h"
#include "utPublic.h"

#include <cstddef>
#include <cstdio>

#ifdef QUILLON_QUIT_AFTER_PAINT
#include "QuitAfterPaint.h" // the timing build of bench/
#endif

int main(int argc, char** argv) {
    // Answered before Qt starts, so that it works without a display.
    for (int i = 1; i < argc; ++i) {
        if (!IsHelpOption(argv[i])) continue;
        std::fputs(FormatHelp(EditorHelp()).c_str(), stdout);
        return 0;
    }
    // The window's drawing buffer takes four bytes a pixel; its buttons' glyphs are drawn ahead.
    StartWarmUp(std::size_t{TFrmEditText::kWidth} * TFrmEditText::kHeight * 4,
                [] { PrepareGlyphs(kGlyphSize); });
    // The start-up check runs before anything else; its message needs an application for the box.
    // The application reports any failure that escapes an event handler and goes on.
    HoldQtMessagesUntilDisplay();
    TApplication app(argc, argv);
    ReleaseQtMessages();
    WarmUpApplicationCreated();
    ShowEngineMessagesInBoxes();
    if (!StartupCheck()) {
        FinishWarmUp(); // no drawing may outlive the application
        return 1;
    }
    CreateTagObjects();
    // Qt's dialogs in the window's language; without the translation they stay English.
    LoadQtTranslation();
    SetApplicationTitle(QString::fromUtf8(kApplicationTitle));
    QApplication::setWindowIcon(AppIcon());
    int status;
    {
        TFrmEditText window;
#ifdef QUILLON_QUIT_AFTER_PAINT
        TQuitAfterPaint quitAfterPaint;
        app.installEventFilter(&quitAfterPaint);
#endif
        FinishWarmUp();
        window.show();
        // The arguments Qt left, by their bytes: a name that is not UTF-8 is a name all the same.
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments << FileNameFromBytes(argv[i]);
        OpenFromCommandLine(window, arguments);
        status = app.exec();
    }
    FreeTagObjects();
    return status;
}
