// Application-wide pieces: the top-level failure handler, the message box and its seam, the
// application title and the hints.
#include "WindowFixture.h"

#include "PlatformFile.h"
#include "uApplication.h"
#include "uControls.h"
#include "uDialogs.h"
#include "utPublic.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>
#include <stdexcept>

namespace {

// An object whose handler fails the way a run-time library call can.
class TFailingObject : public QObject {
  public:
    int Handled = 0;
    bool event(QEvent* e) override {
        if (e->type() != QEvent::User) return QObject::event(e);
        if (++Handled == 1) throw platform::EPlatformError("Cannot open 'x.MP3': No such file");
        return true;
    }
};

} // namespace

class FailureTest : public QObject {
    Q_OBJECT
  private slots:
    void EscapingFailureIsShownAndProgramGoesOn();
    void GuardedHandler();
    void MessageBoxAndEngineMessages();
    void HintsShowWithTheirTexts();
};

void FailureTest::EscapingFailureIsShownAndProgramGoesOn() {
    QVERIFY(dynamic_cast<TApplication*>(qApp));
    QStringList shown;
    DialogHooks().Message = [&](const QString& text) { shown << text; };
    TFailingObject object;
    QEvent first(QEvent::User);
    QCoreApplication::sendEvent(&object, &first);
    QCOMPARE(shown, QStringList({"Cannot open 'x.MP3': No such file"}));
    QEvent second(QEvent::User);
    QVERIFY(QCoreApplication::sendEvent(&object, &second));
    QCOMPARE(object.Handled, 2);
    QCOMPARE(shown.size(), 1);
    DialogHooks() = TDialogHooks();
}

void FailureTest::GuardedHandler() {
    QStringList shown;
    DialogHooks().Message = [&](const QString& text) { shown << text; };
    int after = 0;
    RunGuarded([] { throw std::runtime_error("JPEG error #42"); });
    RunGuarded([&] { ++after; });
    QCOMPARE(shown, QStringList({"JPEG error #42"}));
    QCOMPARE(after, 1);
    DialogHooks() = TDialogHooks();
}

void FailureTest::MessageBoxAndEngineMessages() {
    // Without a hook the message is a modal box with one OK button, titled with the program's
    // name.
    SetApplicationTitle(Q("MP3标签编辑器"));
    QCOMPARE(QCoreApplication::applicationName(), Q("MP3标签编辑器"));
    QString title, text;
    int buttons = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        buttons = box->buttons().size();
        QCOMPARE(box->standardButtons(), QMessageBox::Ok);
        box->accept();
    });
    MessageBoxOk(Q("！不能创建临时文件：a.MP3"));
    QCOMPARE(title, Q("MP3标签编辑器"));
    QCOMPARE(text, Q("！不能创建临时文件：a.MP3"));
    QCOMPARE(buttons, 1);
    // The engines' messages take the same way.
    QStringList shown;
    DialogHooks().Message = [&](const QString& t) { shown << t; };
    ShowEngineMessagesInBoxes();
    ShowMessage("！该标签已经存在，增加标签无效：TIT2");
    QCOMPARE(shown, QStringList({Q("！该标签已经存在，增加标签无效：TIT2")}));
    DialogHooks() = TDialogHooks();
    SetMessageSink([](const std::string& t) { std::fprintf(stderr, "%s\n", t.c_str()); });
}

void FailureTest::HintsShowWithTheirTexts() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    // Entering a control with a hint shows it after the pause; the next control's hint follows.
    QTest::mouseMove(w.edComm, QPoint(40, 40));
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(w.edComm, &enter);
    QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), 5000);
    QCOMPARE(QToolTip::text(), w.edComm->toolTip());
    QTest::mouseMove(w.btnInputPic);
    QCoreApplication::sendEvent(w.btnInputPic, &enter);
    QTRY_COMPARE_WITH_TIMEOUT(QToolTip::text(), w.btnInputPic->toolTip(), 5000);
    QToolTip::hideText();
}

static TRegisterTest<FailureTest> registerFailureTest("FailureTest");
#include "FailureTest.moc"
