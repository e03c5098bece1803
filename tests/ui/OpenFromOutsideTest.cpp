// Files reaching the window from outside its dialogs (the command line, drops), Qt's dialogs in
// Chinese, and the folders the dialogs start in.
#include "WindowFixture.h"

#include "JpegBuilders.h"
#include "uApplication.h"
#include "uControls.h"
#include "uDialogs.h"

#include <QDialogButtonBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <unistd.h>

namespace {

const Bytes kAudio = MpegFrames(3);

Bytes Tagged(const char* title) {
    return Id3TagOurs(TextFrame("TIT2", title)) + kAudio;
}

// Drags `files` over `target` to `pos` (in its coordinates) and drops them there; returns
// whether the drop was taken. The window acts once the event loop runs.
bool DropOn(QWidget* target, QPoint pos, const QStringList& files) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& file : files)
        urls << QUrl::fromLocalFile(file);
    mime.setUrls(urls);
    mime.setText(files.join(QLatin1Char('\n'))); // file managers offer the names as text too
    QDragEnterEvent enter(pos, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &move);
    if (!enter.isAccepted() || !move.isAccepted()) return false;
    QDropEvent drop(pos, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &drop);
    QCoreApplication::processEvents();
    return drop.isAccepted();
}

} // namespace

class OpenFromOutsideTest : public QObject {
    Q_OBJECT
  private slots:
    void CommandLine();
    void Drops();
    void QtDialogsInChinese();
    void DialogsStartInTheFolderUsedLast();
};

void OpenFromOutsideTest::CommandLine() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const std::string lower = f.Write("song.mp3", Tagged("lower"));
    const QString missing = QString::fromStdString(f.File("missing.mp3"));
    const std::string locked = f.Write("locked.MP3", Tagged("locked"));
    struct Row {
        QStringList arguments;
        QString shown;   // in edFn afterwards
        QString memo;    // afterwards
        QString message; // the one message box, if any
    };
    const QString program = QStringLiteral("quillon");
    const Row rows[] = {
        {{program}, Q("←请选择一个MP3文件"), {}, {}},
        {{program, QString::fromStdString(lower)}, QString::fromStdString(lower), Q("lower"), {}},
        // The window stays as it was, and usable.
        {{program, missing},
         QString::fromStdString(lower),
         Q("lower"),
         "Cannot open file '" + missing + "': No such file or directory"},
        {{program, "--", "-x.mp3"},
         QString::fromStdString(lower),
         Q("lower"),
         "Cannot open file '-x.mp3': No such file or directory"},
    };
    for (const Row& row : rows) {
        f.Messages.clear();
        OpenFromCommandLine(w, row.arguments);
        QCoreApplication::processEvents();
        QCOMPARE(w.edFn->text(), row.shown);
        QCOMPARE(f.Memo(), row.memo);
        QCOMPARE(f.Messages, row.message.isEmpty() ? QStringList() : QStringList{row.message});
    }
    QVERIFY(w.btnReLoad->isEnabled());
    // A file that cannot be read: the same failure as the MP3 button gives.
    if (::geteuid() != 0) { // root reads every file
        QFile(QString::fromStdString(locked)).setPermissions({});
        f.Messages.clear();
        f.Open(locked);
        OpenFromCommandLine(w, {program, QString::fromStdString(locked)});
        QCoreApplication::processEvents();
        QCOMPARE(f.Messages.size(), 2);
        QCOMPARE(f.Messages[1], f.Messages[0]);
    }
}

void OpenFromOutsideTest::Drops() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const QString mp3 = QString::fromStdString(f.Write("a.mp3", Tagged("dropped")));
    const QString pictures = QString::fromStdString(
        f.Write("pics.MP3", Id3TagOurs(Id3Frame("TPIC", Bytes(2, '\0'))) + kAudio));
    JpegKind kind;
    kind.width = 30;
    kind.height = 20;
    const QString jpeg = QString::fromStdString(f.Write("photo.JPG", JpegOf(kind)));
    const QString text = QString::fromStdString(f.Write("notes.txt", "text"));
    const QPoint tagPanel(100, 300), picturePanel(600, 300);
    struct Row {
        QString open;    // opened first, if any
        QWidget* target; // the window when none
        QPoint pos;      // in the window, over the target
        QStringList files;
        bool taken;
        QString shown;    // in edFn afterwards
        int pictureWidth; // of the chosen picture afterwards
    };
    const Row rows[] = {
        // Nothing open: a picture has no row to go to, an MP3 opens anywhere, even on the memo.
        {{}, nullptr, picturePanel, {jpeg}, false, Q("←请选择一个MP3文件"), 0},
        {{}, nullptr, picturePanel, {text}, false, Q("←请选择一个MP3文件"), 0},
        {{}, nullptr, tagPanel, {mp3, mp3}, false, Q("←请选择一个MP3文件"), 0},
        {{}, w.edComm->viewport(), tagPanel, {mp3}, true, mp3, 0},
        // A picture row is current: the picture is taken on the picture panel only.
        {pictures, nullptr, tagPanel, {jpeg}, false, pictures, 0},
        {pictures, nullptr, picturePanel, {jpeg}, true, pictures, 30},
        {pictures, nullptr, picturePanel, {mp3}, true, mp3, 30},
    };
    for (const Row& row : rows) {
        if (!row.open.isEmpty()) f.Open(row.open.toStdString());
        QWidget* target = row.target ? row.target : &w;
        QCOMPARE(DropOn(target, target->mapFrom(&w, row.pos), row.files), row.taken);
        QCOMPARE(w.edFn->text(), row.shown);
        QCOMPARE(w.Preview.PictureWidth, row.pictureWidth);
    }
    QCOMPARE(f.Memo(), Q("dropped"));
    QCOMPARE(f.Messages, QStringList());
}

void OpenFromOutsideTest::QtDialogsInChinese() {
    // Without the file, nothing is loaded and nothing is reported.
    QVERIFY(!LoadQtTranslation(QStringLiteral("/nonexistent")));
    QVERIFY(LoadQtTranslation());
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const auto* buttons = dialog.findChild<QDialogButtonBox*>();
    QVERIFY(buttons);
    QCOMPARE(buttons->button(QDialogButtonBox::Open)->text().remove(QLatin1Char('&')),
             Q("打开(O)"));
    QMessageBox box(QMessageBox::NoIcon, {}, {}, QMessageBox::Ok);
    QCOMPARE(box.button(QMessageBox::Ok)->text(), Q("确定"));
}

void OpenFromOutsideTest::DialogsStartInTheFolderUsedLast() {
    TempDir music, photos;
    WriteFile(music.File("a.MP3"), Tagged("a"));
    QStringList startedIn;
    {
        TWindowFixture f;
        DialogHooks().OpenFile = [&](TOpenDialog& dialog) {
            startedIn << dialog.InitialDir;
            if (f.Choices.isEmpty()) return false;
            dialog.FileName = f.Choices.takeFirst();
            return true;
        };
        f.Open(music.File("a.MP3"));
        f.Click(f.W().btnOpen); // cancelled: the folder stays
    }
    TWindowFixture f;
    DialogHooks().OpenFile = [&](TOpenDialog& dialog) {
        startedIn << dialog.InitialDir;
        return false;
    };
    f.Click(f.W().btnOpen);
    // The picture dialog keeps its own folder.
    RememberFolder(f.W().OpenPictureDialog1.FolderKey, QString::fromStdString(photos.File("x")));
    QCOMPARE(RememberedFolder(f.W().OpenPictureDialog1.FolderKey),
             QString::fromStdString(photos.Path()));
    const QString folder = QString::fromStdString(music.Path());
    QCOMPARE(startedIn.mid(1), (QStringList{folder, folder}));
}

static TRegisterTest<OpenFromOutsideTest> registered("OpenFromOutsideTest");
#include "OpenFromOutsideTest.moc"
