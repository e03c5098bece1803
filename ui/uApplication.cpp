#include "uApplication.h"

#include "uDialogs.h"

#include <QCursor>
#include <QEvent>
#include <QFontDatabase>
#include <QToolTip>
#include <QWidget>

namespace {

QString& Title() {
    static QString title;
    return title;
}

} // namespace

QString ApplicationTitle() {
    return Title();
}

void SetApplicationTitle(const QString& title) {
    Title() = title;
    QCoreApplication::setApplicationName(title);
}

// ---- font

QString WindowFontFamily() {
    static const QString family = [] {
        const QStringList installed = QFontDatabase::families();
        // Song faces first (the design's face), then clear CJK faces that are often installed.
        for (const char* wanted :
             {"宋体", "SimSun", "NSimSun", "AR PL UMing CN", "AR PL SungtiL GB",
              "Noto Serif CJK SC", "WenQuanYi Zen Hei Sharp", "WenQuanYi Zen Hei",
              "Noto Sans CJK SC", "Source Han Sans SC", "Droid Sans Fallback"}) {
            const QString name = QString::fromUtf8(wanted);
            if (installed.contains(name, Qt::CaseInsensitive)) return name;
        }
        for (const QString& name : installed)
            if (QFontDatabase::writingSystems(name).contains(QFontDatabase::SimplifiedChinese))
                return name;
        return QApplication::font().family();
    }();
    return family;
}

QFont WindowFont(int pixelSize) {
    QFont font(WindowFontFamily());
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Normal);
    font.setStyle(QFont::StyleNormal);
    return font;
}

// ---- hints

THintTiming::THintTiming() {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &THintTiming::ShowHint);
    if (qApp) qApp->installEventFilter(this);
}

THintTiming& THintTiming::Instance() {
    static THintTiming* instance = new THintTiming; // lives as long as the application
    return *instance;
}

bool THintTiming::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget) return false;
    switch (event->type()) {
    case QEvent::ToolTip:
        // Qt's own timing would show the same hint on its own schedule.
        return !widget->toolTip().isEmpty();
    case QEvent::Enter:
        if (!widget->toolTip().isEmpty()) {
            target_ = widget;
            timer_.start(PauseBeforeHint(QToolTip::isVisible()));
        }
        break;
    case QEvent::Leave:
        if (widget == target_) {
            timer_.stop();
            target_ = nullptr;
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::KeyPress:
    case QEvent::Wheel:
        timer_.stop();
        break;
    default:
        break;
    }
    return false;
}

void THintTiming::ShowHint() {
    if (!target_ || !target_->isVisible()) return;
    QToolTip::showText(QCursor::pos(), target_->toolTip(), target_, target_->rect(), HintHidePause);
}

// ---- failures

void ReportFailure(const std::exception& failure) {
    MessageBoxOk(QString::fromStdString(failure.what()));
}

void RunGuarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& failure) {
        ReportFailure(failure);
    }
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& failure) {
        ReportFailure(failure);
    } catch (...) {
        MessageBoxOk(QStringLiteral("Unknown failure"));
    }
    return false;
}
