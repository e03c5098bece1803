// Files reaching the window from outside its dialogs (the command line, drops), the folder the
// MP3 dialog starts in, and Qt's dialogs in Chinese.
#include "WindowFixture.h"

#include "JpegBuilders.h"
#include "uApplication.h"
#include "uControls.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QDropEvent>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>

class OpenFromOutsideTest : public QObject {
    Q_OBJECT
  private slots:
    void CommandLine();
    void Drops();
    void QtDialogsInChinese();
};

void OpenFromOutsideTest::CommandLine() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const QString song = QString::fromStdString(
        f.Write("song.mp3", Id3TagOurs(TextFrame("TIT2", "lower")) + MpegFrames(1)));
    const QString missing = QString::fromStdString(f.File("gone.mp3"));
    // Exactly the file named: not notes.MP3 for notes.txt; a GBK name by its bytes.
    f.Write("notes.MP3", Id3TagOurs(TextFrame("TIT2", "upper")) + MpegFrames(1));
    const QString notes = QString::fromStdString(f.Write("notes.txt", MpegFrames(1))),
                  gbk = FileNameFromBytes(f.Write("\xb8\xe8.mp3", MpegFrames(1)));
    const QString prompt = Q("←请选择一个MP3文件"), none = "No such file or directory";
    const struct {
        QStringList arguments;
        QString shown, message;
    } rows[] = {{{"quillon"}, prompt, {}},
                {{"quillon", notes}, notes, {}},
                {{"quillon", gbk}, QString::fromStdString(f.File("")) + Q("歌.mp3"), {}},
                {{"quillon", song}, song, {}},
                {{"quillon", missing}, song, "Cannot open file '" + missing + "': " + none},
                {{"quillon", "--", "-x.mp3"}, song, "Cannot open file '-x.mp3': " + none}};
    for (const auto& row : rows) {
        f.Messages.clear();
        OpenFromCommandLine(w, row.arguments);
        QCoreApplication::processEvents();
        QCOMPARE(w.edFn->text(), row.shown);
        QCOMPARE(f.Messages.join("|"), row.message);
    }
    QCOMPARE(f.Memo(), Q("lower"));
    // The MP3 dialog starts where that file lies, in this run and the next.
    f.Click(w.btnOpen);
    QCOMPARE(w.OpenDialog1.InitialDir, QString::fromStdString(f.File("")).chopped(1));
    // Only our keys are read, from the settings file's first 64 KiB: a huge file cannot hold up
    // the window. A folder Qt's settings quoted (it holds a comma) reads back.
    const QString odd = QString::fromStdString(f.File("a,b"));
    QVERIFY(QDir().mkpath(odd));
    WriteFile(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString() +
            "/quillon/quillon.conf",
        "[folders]\nmp3=\"" + odd.toStdString() + "\"\n" + std::string(100000, '#') + "\nmp3=/\n");
    QCOMPARE(RememberedFolder("folders/mp3"), odd);
    RememberFolder("folders/picture", odd + "/x.jpg");
    QCOMPARE(RememberedFolder("folders/mp3"), odd);
    QCOMPARE(RememberedFolder("folders/picture"), odd);
}

void OpenFromOutsideTest::Drops() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const QString mp3 = QString::fromStdString(
                      f.Write("a.mp3", Id3TagOurs(TextFrame("TIT2", "dropped")) + MpegFrames(1))),
                  tpic = QString::fromStdString(f.Write(
                      "tpic.MP3", Id3TagOurs(Id3Frame("TPIC", Bytes(2, '\0'))) + MpegFrames(1))),
                  jpeg = QString::fromStdString(f.Write("photo.JPG", JpegOf(JpegKind{}))),
                  text = QString::fromStdString(f.Write("notes.txt", "text"));
    const QPoint tags(100, 300), pictures(600, 300);
    const struct {
        QString open;    // first, if any
        QWidget* target; // the window when none
        QPoint pos;      // in the window
        QStringList files;
        bool taken;
        QString shown;
        int pictureWidth;
    } rows[] = {
        // Nothing open: a picture has no row to go to; an MP3 is taken anywhere, even on the memo.
        {{}, nullptr, pictures, {jpeg}, false, Q("←请选择一个MP3文件"), 0},
        {{}, nullptr, pictures, {text}, false, Q("←请选择一个MP3文件"), 0},
        {{}, nullptr, tags, {mp3, mp3}, false, Q("←请选择一个MP3文件"), 0},
        {{}, w.edComm->viewport(), tags, {mp3}, true, mp3, 0},
        // A picture row is current: a picture is taken on the picture panel only.
        {tpic, nullptr, tags, {jpeg}, false, tpic, 0},
        {tpic, nullptr, pictures, {jpeg}, true, tpic, 16},
    };
    for (const auto& row : rows) {
        if (!row.open.isEmpty()) f.Open(row.open.toStdString());
        QWidget* target = row.target ? row.target : &w;
        const QPoint pos = target->mapFrom(&w, row.pos);
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& file : row.files)
            urls << QUrl::fromLocalFile(file);
        mime.setUrls(urls);
        mime.setText(row.files.join('\n')); // as file managers offer them
        QDragEnterEvent enter(pos, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QDragMoveEvent move(pos, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QDropEvent drop(pos, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(target, &enter);
        if (enter.isAccepted()) QApplication::sendEvent(target, &move);
        if (enter.isAccepted() && move.isAccepted()) QApplication::sendEvent(target, &drop);
        QCoreApplication::processEvents();
        QCOMPARE(enter.isAccepted() && move.isAccepted() && drop.isAccepted(), row.taken);
        QCOMPARE(w.edFn->text(), row.shown);
        QCOMPARE(w.Preview.PictureWidth, row.pictureWidth);
    }
    QCOMPARE(f.Memo(), Q("dropped"));
    QCOMPARE(f.Messages, QStringList());
}

void OpenFromOutsideTest::QtDialogsInChinese() {
    QVERIFY(!LoadQtTranslation("/nonexistent")); // nothing loaded, nothing reported
    QVERIFY(LoadQtTranslation());
    // The file dialog lists folders and the files of its filter, letter case ignored, by the
    // bytes of their names: a GBK name is listed (read as GBK) and chosen byte for byte.
    TempDir dir;
    for (const char* name : {"\xb8\xe8.mp3", "b.MP3", "notes.txt"})
        WriteFile(dir.File(name), "x");
    QVERIFY(QDir().mkpath(QString::fromStdString(dir.File("sub"))));
    TOpenDialog open;
    open.Filter = "*.MP3|*.MP3";
    open.InitialDir = QString::fromStdString(dir.Path());
    QStringList listed;
    QString openText;
    QTimer::singleShot(0, [&] {
        auto* files = QApplication::activeModalWidget()->findChild<QListWidget*>("files");
        for (int i = 0; i < files->count(); ++i)
            listed << files->item(i)->text();
        auto* buttons = QApplication::activeModalWidget()->findChild<QDialogButtonBox*>();
        openText = buttons->button(QDialogButtonBox::Open)->text();
        files->setCurrentRow(3);
        buttons->button(QDialogButtonBox::Open)->click();
    });
    QVERIFY(open.Execute(nullptr));
    QCOMPARE(listed, QStringList({"../", "sub/", "b.MP3", Q("歌.mp3")}));
    QCOMPARE(openText, Q("打开"));
    QCOMPARE(FileNameBytes(open.FileName), dir.File("\xb8\xe8.mp3"));
    QMessageBox box(QMessageBox::NoIcon, {}, {}, QMessageBox::Ok);
    QCOMPARE(box.button(QMessageBox::Ok)->text(), Q("确定"));
}

static TRegisterTest<OpenFromOutsideTest> registered("OpenFromOutsideTest");
#include "OpenFromOutsideTest.moc"
