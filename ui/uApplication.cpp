#include "uApplication.h"

#include "uDialogs.h"

#include <QCursor>
#include <QEvent>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QToolTip>
#include <QTranslator>
#include <QWidget>

#include <fontconfig/fontconfig.h>

#include <malloc.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

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

bool LoadQtTranslation(const QString& folder) {
    static QTranslator* translator = nullptr; // installed once, for the application's life
    if (translator) return true;
    auto loaded = std::make_unique<QTranslator>();
    const QString from =
        folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
    if (!loaded->load(QStringLiteral("qtbase_zh_CN"), from)) return false;
    translator = loaded.release();
    QCoreApplication::installTranslator(translator);
    return true;
}

// ---- font

namespace {

// Work for the second core while the first builds the window: loading the font configuration
// (Qt's font database asks fontconfig for the same one, which is loaded once and shared), the
// caller's drawing ahead, and touching the heap memory that the window's drawing buffer will
// take. Fresh memory costs a page fault per page on first touch; the window paints the sooner for
// finding it touched already.
class TWarmUp {
  public:
    static TWarmUp& Instance() {
        static TWarmUp warmUp;
        return warmUp;
    }

    void Start(std::size_t heapBytes, std::function<void()> alsoPrepare) {
        if (thread_.joinable() || heap_) return; // started already
        // With room to spare: what else is allocated meanwhile takes its share of the block.
        heapBytes_ = heapBytes + kMargin;
        // Blocks of this size come from the heap, not from fresh maps of their own, and freed
        // ones stay there for the next allocation.
        mallopt(M_MMAP_THRESHOLD, static_cast<int>(2 * heapBytes_));
        mallopt(M_TRIM_THRESHOLD, static_cast<int>(2 * heapBytes_));
        heap_ = std::malloc(heapBytes_);
        try {
            thread_ = std::thread([this, alsoPrepare = std::move(alsoPrepare)] {
                FcInit();
                // A painter takes the application's font: drawing waits for the application.
                if (FontsLoadedThenWaitForApplication() && alsoPrepare) {
                    try {
                        alsoPrepare();
                    } catch (...) {
                        // Whatever failed here is done again when the window needs it.
                    }
                }
                if (heap_) std::memset(heap_, 0, heapBytes_);
            });
        } catch (const std::system_error&) {
            // No thread to spare: fonts load when first used, and the heap is touched as needed.
        }
    }

    // Returns at once when no thread runs (never started, or finished).
    void WaitForFonts() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return fontsLoaded_ || !thread_.joinable(); });
    }

    void ApplicationCreated() { Release(true); }

    void Finish() {
        Release(false); // drawing that has not begun is left to the window
        if (thread_.joinable()) thread_.join();
        std::free(heap_);
        heap_ = nullptr;
    }

    ~TWarmUp() { Finish(); }

  private:
    static constexpr std::size_t kMargin = 256 * 1024;

    void Release(bool applicationExists) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (released_) return;
        released_ = true;
        applicationExists_ = applicationExists;
        changed_.notify_all();
    }

    bool FontsLoadedThenWaitForApplication() {
        std::unique_lock<std::mutex> lock(mutex_);
        fontsLoaded_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
        return applicationExists_;
    }

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool fontsLoaded_ = false;
    bool released_ = false;
    bool applicationExists_ = false;
    void* heap_ = nullptr;
    std::size_t heapBytes_ = 0;
};

} // namespace

void StartWarmUp(std::size_t heapBytes, std::function<void()> alsoPrepare) {
    TWarmUp::Instance().Start(heapBytes, std::move(alsoPrepare));
}

void WarmUpApplicationCreated() {
    TWarmUp::Instance().ApplicationCreated();
}

void FinishWarmUp() {
    TWarmUp::Instance().Finish();
}

QString WindowFontFamily() {
    static const QString family = [] {
        TWarmUp::Instance().WaitForFonts();
        const QStringList installed = QFontDatabase::families();
        // Song faces first (the design's face), then clear CJK faces that are often installed.
        // Zen Hei before its sharp face: Qt reads the sharp face's half megabyte of bitmap
        // tables whole for every font size, on every start, and draws much the same at 12 px.
        for (const char* wanted :
             {"宋体", "SimSun", "NSimSun", "AR PL UMing CN", "AR PL SungtiL GB",
              "Noto Serif CJK SC", "WenQuanYi Zen Hei", "WenQuanYi Zen Hei Sharp",
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
    // Unhinted, as the Zen Hei family's own configuration asks: Han strokes keep their shapes,
    // the bitmaps of the sharp faces are used all the same, and no hinter runs on every glyph.
    font.setHintingPreference(QFont::PreferNoHinting);
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

// ---- a missing display

namespace {

struct THeldMessages {
    std::mutex mutex;
    QtMessageHandler previous = nullptr;
    std::vector<std::pair<QtMsgType, QString>> messages;
};

THeldMessages& Held() {
    static THeldMessages held;
    return held;
}

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    THeldMessages& held = Held();
    if (type == QtFatalMsg && text.contains(QLatin1String("platform plugin"))) {
        std::fputs("quillon: needs a display, and none could be opened (is DISPLAY or "
                   "WAYLAND_DISPLAY set?)\n",
                   stderr);
        std::_Exit(1);
    }
    const std::lock_guard<std::mutex> lock(held.mutex);
    if (type == QtFatalMsg) {
        held.previous(type, context, text);
        return;
    }
    held.messages.emplace_back(type, text);
}

} // namespace

void HoldQtMessagesUntilDisplay() {
    Held().previous = qInstallMessageHandler(HoldMessage);
}

void ReleaseQtMessages() {
    THeldMessages& held = Held();
    qInstallMessageHandler(held.previous);
    const std::lock_guard<std::mutex> lock(held.mutex);
    for (const auto& [type, text] : held.messages)
        held.previous(type, QMessageLogContext(), text);
    held.messages.clear();
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
