// For the start-up benchmark: ends the program as soon as its first window has painted, so the
// time from start to exit is the time from start to the window shown. Used by the timing build of
// the editor and by the minimal reference program alike, so both stop at the same moment. The
// program ends at once, without tearing its window down: the figure is the start, not the end.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

class TQuitAfterPaint : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !quitting_) {
            quitting_ = true;
            // Queued, so the rest of this paint pass (the window's children) still runs.
            QTimer::singleShot(0, QCoreApplication::instance(), [] {
                std::fflush(nullptr);
                std::_Exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    bool quitting_ = false;
};
