// Application-wide pieces of the editor: its title, the hint timing, the font, and the top-level
// failure handler that shows what went wrong and lets the program go on.
#pragma once

#include <QApplication>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <cstddef>
#include <exception>
#include <functional>

// The name shown for the program on the task bar and on its message boxes. Kept apart from Qt's
// display name, which X11 would append to every window caption.
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

// Installs Qt's own Chinese texts (qtbase_zh_CN.qm from Qt's translations folder, or from
// `folder` when given), whatever the locale, so that the file, colour and message dialogs speak
// the window's language. False when the file is missing or unreadable: the dialogs stay English.
bool LoadQtTranslation(const QString& folder = QString());

// Start-up work for a second core while the first builds the window: loading the system's font
// configuration (the longest step before the first text shows), then, once the application
// object exists, `alsoPrepare` (drawing that the first paint needs), then touching `heapBytes` of
// heap memory for the window's drawing buffer. StartWarmUp goes before the application object,
// WarmUpApplicationCreated right after it; WindowFontFamily waits for the fonts; FinishWarmUp,
// before the window is shown and at the latest before the application object ends, waits for the
// rest and hands the memory back to the heap. Without a second thread, all of it happens when
// first needed.
void StartWarmUp(std::size_t heapBytes, std::function<void()> alsoPrepare);
void WarmUpApplicationCreated();
void FinishWarmUp();

// The window's font: "宋体" where installed, else an installed font that holds Chinese, at a
// character height of `pixelSize` pixels.
QFont WindowFont(int pixelSize);
// The family WindowFont chose.
QString WindowFontFamily();

// When hints (tool tips) show and for how long, for the whole application, in milliseconds:
// the first hint after HintPause, the next one after HintShortPause while a hint is still
// visible, each hint visible HintHidePause. Qt's own tool tips are held back; these take over.
class THintTiming : public QObject {
    Q_OBJECT
  public:
    int HintPause = 500;
    int HintShortPause = 50;
    int HintHidePause = 2500;

    static THintTiming& Instance();
    // The pause before the hint of a control the mouse has just entered.
    int PauseBeforeHint(bool hintVisible) const { return hintVisible ? HintShortPause : HintPause; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    THintTiming();
    void ShowHint();

    QTimer timer_;
    QPointer<QWidget> target_;
};

// Shows the text of a failure that ended a command in a message box.
void ReportFailure(const std::exception& failure);

// Runs an event handler; a failure escaping it is reported and the program goes on.
void RunGuarded(const std::function<void()>& handler);

// Qt ends a program it cannot give a display with a page of messages and an abort (status 134).
// Between these two calls, around the making of the application object, Qt's messages are held
// back: a failure to open any display is then said in one line on stderr and ends the program
// with status 1; otherwise the messages held are passed on.
void HoldQtMessagesUntilDisplay();
void ReleaseQtMessages();

// The application object: every event goes through notify, so a failure escaping any handler is
// reported here rather than ending the program.
class TApplication : public QApplication {
  public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
