// The tag panel end to end on temporary files: open, list, select, update, add, delete, remove
// all, reload, the show commands, the strip boxes and the messages of a refused rewrite.
#include "WindowFixture.h"

#include "CodePage.h"
#include "ID3v1Tags.h"
#include "ID3v2Tags.h"
#include "uAPEv2Tag.h"
#include "uControls.h"
#include "uDialogs.h"
#include "uStringGrid.h"
#include "utPublic.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <thread>

namespace {

const Bytes kAudio = MpegFrames(3);

Bytes ThreeFrames() {
    return TextFrame("TIT2", "Title") + TextFrame("TPE1", "Artist") + TextFrame("TALB", "Album");
}

// An attached picture without picture bytes (what the add command makes), with a type byte.
Bytes EmptyApic(unsigned char type) {
    return Id3Frame("APIC", Bytes("\0image/jpeg\0", 12) + char(type) + Bytes(1, '\0'));
}

} // namespace

class TagCommandsTest : public QObject {
    Q_OBJECT
  private slots:
    void OpenListsFramesAndSelectsRow1();
    void OpenNames();
    void OpenKeepsCurrentFileOnCancelOrMissingFile();
    void GridRowsOfPictureFrames();
    void RowSelection();
    void UpdateWritesMemoIntoFrame();
    void UpdateRefusals();
    void UpdateStripsID3v1AndAPEv2();
    void UpdateStripsAPEv2BehindTheTag();
    void AddCommand();
    void DeleteCommands();
    void RemoveAllFrames();
    void Reload();
    void ShowCommands();
    void RewriteMessages();
    void FailureInsideACommand();
    void FillFromFileName();
};

void TagCommandsTest::OpenListsFramesAndSelectsRow1() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const Bytes file = Id3TagOurs(ThreeFrames()) + kAudio;
    const std::string path = f.Write("song.MP3", file);
    f.Open(path);
    QCOMPARE(w.edFn->text(), QString::fromStdString(path));
    QCOMPARE(w.sg->RowCount(), 4);
    QCOMPARE(f.Cell(0, 1), Q("TIT2"));
    QCOMPARE(f.Cell(1, 1), Q("Title"));
    QCOMPARE(f.Cell(0, 3), Q("TALB"));
    QCOMPARE(f.Cell(1, 3), Q("Album"));
    QCOMPARE(w.lblID3Status->text(),
             Q("ID3v2tag，共有数据") + QString::number(10 + ThreeFrames().size()) + Q("字节"));
    // Row 1 is selected: memo, label and the byte count describe it.
    QCOMPARE(w.sg->Row(), 1);
    QCOMPARE(f.Memo(), Q("Title"));
    QCOMPARE(w.lblComment->text(), Q("标签内容/编辑【TIT2】"));
    QCOMPARE(w.lbSize->text(), Q("5"));
    for (QWidget* on : std::initializer_list<QWidget*>{w.sg, w.btnID3Update, w.btnID3Kill,
                                                       w.btnReLoad, w.btnDelAllTag, w.btnAddTag})
        QVERIFY2(on->isEnabled(), qPrintable(on->objectName()));
    // No ID3v1 or APEv2 tag in this file.
    QVERIFY(!w.btnShowID3v1Tag->isEnabled());
    QVERIFY(!w.btnShowAPEv2Tag->isEnabled());
    QVERIFY(f.Messages.isEmpty());
    QCOMPARE(ReadFile(path), file);

    // A file without an ID3v2 tag says so and lists one empty row.
    const std::string bare = f.Write("bare.MP3", kAudio);
    f.Open(bare);
    QCOMPARE(w.lblID3Status->text(), Q("无ID3v2标签"));
    QCOMPARE(w.sg->RowCount(), 2);
    QVERIFY(f.Cell(0, 1).isEmpty());
    QVERIFY(f.Memo().isEmpty());
    QCOMPARE(w.lblComment->text(), Q("标签内容/编辑【】"));

    // A frame that claims more bytes than the file holds: the frames before it are listed, and
    // the status says that nothing is written from them.
    const Bytes damaged = TextFrame("TIT2", "Title") + "TPE1" + BE32(100000) + Bytes(2, '\0');
    f.Open(f.Write("damaged.MP3", Id3TagOurs(damaged) + kAudio));
    QCOMPARE(w.sg->RowCount(), 2);
    QCOMPARE(f.Memo(), Q("Title"));
    QCOMPARE(w.lblID3Status->text(), Q("ID3v2tag，共有数据") +
                                         QString::number(10 + damaged.size()) +
                                         Q("字节（标签已损坏，不能修改）"));
    QVERIFY(f.Messages.isEmpty());
}

void TagCommandsTest::OpenNames() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    // The file named is the file opened, whatever other spellings of its name exist; a name
    // that is not UTF-8 (GBK, from a Windows archive) is opened by its bytes and shown as GBK.
    f.Write("both.MP3", Id3TagOurs(TextFrame("TIT2", "upper")) + kAudio);
    f.Write("notes.MP3", Id3TagOurs(TextFrame("TIT2", "upper")) + kAudio);
    f.Write("\xb8\xe8\xc7\xfb.mp3", Id3TagOurs(TextFrame("TIT2", "other")) + kAudio);
    const struct {
        std::string name;
        Bytes file;
        QString shown, memo;
    } rows[] = {
        {"both.mp3", Id3TagOurs(TextFrame("TIT2", "lower")) + kAudio, "both.mp3", "lower"},
        {"notes.txt", kAudio, "notes.txt", ""},
        {"\xb8\xe8\xc7\xfa.mp3", Id3TagOurs(TextFrame("TIT2", "name")) + kAudio, Q("歌曲.mp3"),
         "name"},
        {"歌曲.MP3", Id3TagOurs(TextFrame("TIT2", Gbk("标题"))) + kAudio, Q("歌曲.MP3"), Q("标题")},
    };
    for (const auto& row : rows) {
        f.Open(f.Write(row.name, row.file));
        QCOMPARE(w.edFn->text(), QString::fromStdString(f.File("")) + row.shown);
        QCOMPARE(w.FilePath(), f.File(row.name));
        QCOMPARE(f.Memo(), row.memo);
        QCOMPARE(f.Messages, QStringList());
    }
    // Only song.mp3 exists: it is opened as it is named, and its backup is named from it.
    const std::string lower = f.Write("song.mp3", Id3TagOurs(TextFrame("TIT2", "lower")) + kAudio);
    f.Open(lower);
    QCOMPARE(w.edFn->text(), QString::fromStdString(lower));
    QCOMPARE(f.Memo(), Q("lower"));
    QTest::mouseDClick(w.edFn, Qt::LeftButton);
    QCOMPARE(w.windowTitle(), QString::fromStdString(f.File("songbak.mp3")));
    w.edComm->setPlainText("changed");
    f.Click(w.btnID3Update);
    QVERIFY(Exists(f.File("songbak.mp3")));
    QVERIFY(!Exists(f.File("songbak.MP3")));
    QCOMPARE(ReadFile(lower), Id3TagOurs(TextFrame("TIT2", "changed")) + kAudio);
    QCOMPARE(f.Messages, QStringList());
}

void TagCommandsTest::OpenKeepsCurrentFileOnCancelOrMissingFile() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const std::string path = f.Write("song.MP3", Id3TagOurs(ThreeFrames()) + kAudio);
    f.Open(path);
    w.sg->SetRow(2);
    f.Click(w.btnOpen); // no choice scripted: the dialog is cancelled
    f.Open(f.File("missing.mp3"));
    QCOMPARE(w.edFn->text(), QString::fromStdString(path));
    QCOMPARE(w.sg->RowCount(), 4);
    QCOMPARE(w.sg->Row(), 2);
    QVERIFY(f.Messages.isEmpty());
}

void TagCommandsTest::GridRowsOfPictureFrames() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    f.Open(f.Write("pics.MP3", Id3TagOurs(Id3Frame("TPIC", Bytes(2, '\0')) + EmptyApic(3) +
                                          EmptyApic(25) + TextFrame("TIT2", "T")) +
                                   kAudio));
    QCOMPARE(w.sg->RowCount(), 5);
    QCOMPARE(f.Cell(0, 1), Q("TPIC"));
    QCOMPARE(f.Cell(1, 1), Q("自定义图像，不能直接编辑！"));
    QCOMPARE(f.Cell(1, 2), Q("图像数据:封面"));
    QCOMPARE(f.Cell(1, 3), Q("图像数据:其他"));
    QCOMPARE(f.Cell(1, 4), Q("T"));
    // Row 1 is a picture row: it is never written from the memo.
    QVERIFY(!w.btnID3Update->isEnabled());
    QVERIFY(w.btnSelPic->isEnabled() && w.btnInputPic->isEnabled());
    QVERIFY(f.Messages.isEmpty());
}

void TagCommandsTest::RowSelection() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const Bytes file = Id3TagOurs(TextFrame("TIT2", "Title") + TextFrame("TPE1", Gbk("歌手")) +
                                  Id3Frame("TPIC", Bytes(2, '\0')) + EmptyApic(3)) +
                       kAudio;
    const std::string path = f.Write("pics.MP3", file);
    f.Open(path);
    // A text row: its text in the memo, its id in the label, its byte count in lbSize.
    f.SelectRow(2);
    QCOMPARE(f.Memo(), Q("歌手"));
    QCOMPARE(w.lblComment->text(), Q("标签内容/编辑【TPE1】"));
    QCOMPARE(w.lbSize->text(), Q("4"));
    QVERIFY(w.btnID3Update->isEnabled());
    QVERIFY(!w.btnSelPic->isEnabled() && !w.btnInputPic->isEnabled());
    QVERIFY(!w.edPicInfo->isEnabled() && !w.cbPicType->isEnabled());
    // The custom picture row leaves the memo as it was and hands over to the picture panel.
    f.SelectRow(3);
    QCOMPARE(f.Memo(), Q("歌手"));
    QCOMPARE(w.lblComment->text(), Q("标签内容/编辑【TPIC】"));
    QVERIFY(!w.btnID3Update->isEnabled());
    QVERIFY(w.btnSelPic->isEnabled() && w.btnInputPic->isEnabled());
    QVERIFY(!w.edPicInfo->isEnabled() && !w.cbPicType->isEnabled());
    for (QWidget* off :
         std::initializer_list<QWidget*>{w.rbScale, w.rbStretch, w.btnZoomBig, w.btnZoomSmall})
        QVERIFY(!off->isEnabled());
    // The attached picture row also opens its type and description.
    QTest::keyClick(w.sg, Qt::Key_Down);
    QCOMPARE(w.sg->Row(), 4);
    QCOMPARE(w.lblComment->text(), Q("标签内容/编辑【APIC】"));
    QVERIFY(!w.btnID3Update->isEnabled());
    QVERIFY(w.edPicInfo->isEnabled() && w.cbPicType->isEnabled());
    // Back to row 1 with the keyboard.
    QTest::keyClick(w.sg, Qt::Key_PageUp);
    QCOMPARE(f.Memo(), Q("Title"));
    QVERIFY(w.btnID3Update->isEnabled());
    QVERIFY(!w.edPicInfo->isEnabled());
    // Typing in the memo does not change the byte count: it counts the grid cell.
    QTest::keyClicks(w.edComm, "abc");
    QCOMPARE(w.lbSize->text(), Q("5"));

    // However the row moved, label, memo and buttons describe the highlighted row, and embed and
    // update (their handlers run even with the buttons off) change its frame and no other.
    TID3v2Tag original, tag;
    original.ReadFromFile(path);
    QWidget* area = w.sg->viewport();
    const auto at = [](int row) { return QPoint(100, 16 * row - 8); };
    const auto drag = [&](int from, int to) {
        QTest::mousePress(area, Qt::LeftButton, {}, at(from));
        QTest::mouseMove(area, at(to));
        QTest::mouseRelease(area, Qt::LeftButton, {}, at(to));
    };
    const std::pair<std::function<void()>, int> moves[] = {
        {[&] { drag(1, 3); }, 3},
        {[&] { f.SelectRow(3), drag(3, 2); }, 2},
        {[&] { QTest::keyClick(w.sg, Qt::Key_PageDown), QTest::keyClick(w.sg, Qt::Key_Up); }, 3},
        {[&] { f.SelectRow(2), QTest::keyClicks(w.sg, "T"); }, 2}, // no jump to "Title"
        {[&] { f.SelectRow(2), QTest::mouseClick(area, Qt::LeftButton, {}, at(8)); }, 2},
        {[&] { QTest::mouseClick(area, Qt::LeftButton, Qt::ControlModifier, at(1)); }, 1},
    };
    for (const auto& [move, row] : moves) {
        WriteFile(path, file);
        f.Open(path);
        move();
        QVERIFY(w.sg->Row() == row && w.sg->selectionModel()->isRowSelected(row - 1, {}));
        QCOMPARE(w.lblComment->text(), Q("标签内容/编辑【") + f.Cell(0, row) + Q("】"));
        QVERIFY(w.btnID3Update->isEnabled() == (row != 3) &&
                w.btnInputPic->isEnabled() == (row == 3));
        QCOMPARE(f.Memo(), row == 3 ? Q("Title") : f.Cell(1, row));
        w.edComm->setPlainText("New");
        w.btnInputPicClick();
        w.btnID3UpdateClick();
        tag.ReadFromFile(path);
        for (int i = 0; i < 4; ++i)
            QVERIFY(tag.FrameIds[i] == original.FrameIds[i] &&
                    (tag.FramePayloads[i] == original.FramePayloads[i]) == (i != row - 1));
    }
}

void TagCommandsTest::UpdateWritesMemoIntoFrame() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const Bytes original = Id3TagOurs(ThreeFrames()) + kAudio;
    const std::string path = f.Write("song.MP3", original);
    f.Open(path);
    w.chkBackFile->setChecked(false);
    f.SelectRow(2);
    w.edComm->setPlainText(Q("新歌手\n第二行"));
    f.Click(w.btnID3Update);
    const Bytes artist = Gbk("新歌手") + "\r\n" + Gbk("第二行");
    QCOMPARE(ReadFile(path), Id3TagOurs(TextFrame("TIT2", "Title") + TextFrame("TPE1", artist) +
                                        TextFrame("TALB", "Album")) +
                                 kAudio);
    // The update leaves its backup whatever chkBackFile says.
    QCOMPARE(ReadFile(f.File("songbak.MP3")), original);
    // After the rebuild row 1 is current, and memo, label and button say so.
    QCOMPARE(f.Cell(1, 2), Q("新歌手\r\n第二行"));
    QCOMPARE(w.sg->Row(), 1);
    QCOMPARE(f.Memo(), Q("Title"));
    QCOMPARE(w.lblComment->text(), Q("标签内容/编辑【TIT2】"));
    QVERIFY(w.btnID3Update->isEnabled() && w.sg->isEnabled() && w.btnAddTag->isEnabled());
    // A second update right away writes row 1, which the memo now shows.
    w.edComm->setPlainText("Title 2");
    f.Click(w.btnID3Update);
    ID3v2Tag->ReadFromFile(path);
    QCOMPARE(ID3v2Tag->FramePayloads, (TStringList{"Title 2", artist, "Album"}));
    QVERIFY(f.Messages.isEmpty());
}

void TagCommandsTest::UpdateRefusals() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    // A character code page 936 cannot hold is written in UTF-16, not refused.
    const Bytes original = Id3TagOurs(ThreeFrames()) + kAudio;
    const std::string path = f.Write("song.MP3", original);
    f.Open(path);
    f.SelectRow(2);
    w.edComm->setPlainText(Q("Smile \U0001F600"));
    f.Click(w.btnID3Update);
    QVERIFY(f.Messages.isEmpty());
    QCOMPARE(ID3v2Tag->DisplayText(1), std::string("Smile \U0001F600"));
    QCOMPARE(ID3v2Tag->OriginOf(1)->Encoding, 1);
    QCOMPARE(w.sg->item(1, 1)->text(), Q("Smile \U0001F600"));
    QVERIFY(w.btnID3Update->isEnabled() && w.sg->isEnabled());

    // The grid's code page menu: a Big5 file is shown in Big5, a choice overrides it for the open
    // file, and the conversion writes UTF-16 (the backup follows its check box).
    const Bytes big5 = Id3TagOurs(TextFrame("TIT2", "\xa4\xeb\xab\x47") +
                                  TextFrame("TPE1", "\xbe\x48\xc4\x52\xa7\x67")) +
                       kAudio;
    const std::string big5Path = f.Write("big5.MP3", big5);
    f.Open(big5Path);
    QCOMPARE(w.sg->item(0, 1)->text(), Q("月亮"));
    QVERIFY(w.sg->toolTip().contains(Q("Big5")));
    w.ChooseCodePage(platform::TCodePage::Gbk);
    QCOMPARE(w.sg->item(0, 1)->text(),
             QString::fromStdString(platform::Cp936ToUtf8("\xa4\xeb\xab\x47")));
    w.ChooseCodePage(std::nullopt);
    QCOMPARE(f.Memo(), Q("月亮"));
    w.chkBackFile->setChecked(false);
    w.ConvertAllToUnicode();
    QCOMPARE(ReadFile(big5Path), Id3TagOurs(Id3Frame("TIT2", Bytes("\x01") + Utf16("月亮")) +
                                            Id3Frame("TPE1", Bytes("\x01") + Utf16("鄧麗君"))) +
                                     kAudio);
    QVERIFY(!Exists(f.File("big5bak.MP3")));
    QCOMPARE(w.sg->item(1, 1)->text(), Q("鄧麗君"));
    f.Messages.clear();

    // An empty frame list has no frame to write into: nothing happens.
    const Bytes empty = Id3TagOurs(Bytes()) + kAudio;
    const std::string emptyPath = f.Write("empty.MP3", empty);
    f.Open(emptyPath);
    QVERIFY(w.btnID3Update->isEnabled());
    w.edComm->setPlainText("text");
    f.Click(w.btnID3Update);
    QCOMPARE(ReadFile(emptyPath), empty);
    QVERIFY(!Exists(f.File("emptybak.MP3")));
    QCOMPARE(w.sg->RowCount(), 2);
    QVERIFY(f.Messages.isEmpty());

    // Another program rewrote the tag since the window read it and still holds the writer lock:
    // the window waits with a busy cursor and a cancel, then refuses at the timeout or the
    // cancel; nothing is written from the stale tag.
    f.Open(path);
    const Bytes theirs = Id3TagOurs(TextFrame("TIT2", "Theirs")) + kAudio;
    WriteFile(path, theirs);
    std::atomic<bool> release = false, held = false;
    std::thread other([&] {
        TWriterLock lock(path);
        held = true;
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    while (!held)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    bool busy = false;
    for (const bool cancel : {false, true}) {
        w.LockWait = std::chrono::milliseconds(cancel ? 20000 : 700);
        QTimer::singleShot(600, [&] {
            busy = QGuiApplication::overrideCursor() != nullptr;
            if (QProgressDialog* dialog = w.findChild<QProgressDialog*>(); cancel && dialog)
                dialog->cancel();
        });
        f.SelectRow(1);
        w.edComm->setPlainText("Mine");
        f.Click(w.btnID3Update);
        QVERIFY(busy);
        QCOMPARE(ReadFile(path), theirs);
        QVERIFY(w.btnID3Update->isEnabled());
    }
    release = true;
    other.join();
    QCOMPARE(f.Messages.size(), 1); // the timeout's; a cancel says nothing
    QCOMPARE(f.Messages[0],
             Q("！文件正在被其它程序使用，不能被修改：") + QString::fromStdString(path));
}

void TagCommandsTest::UpdateStripsID3v1AndAPEv2() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const std::string path =
        f.Write("song.MP3", Id3TagOurs(TextFrame("TIT2", "Title")) + kAudio +
                                ApeTag({{"Title", "Ape title"}}) + Id3v1Block({.title = "V1"}));
    f.Open(path);
    QVERIFY(w.btnShowID3v1Tag->isEnabled());
    QVERIFY(w.btnShowAPEv2Tag->isEnabled());
    w.chkDelID3v1->setChecked(true);
    w.chkDelAPEv2->setChecked(true);
    // A longer title moves everything behind the tag before the strips run.
    w.edComm->setPlainText("A much longer title than before");
    f.Click(w.btnID3Update);
    QCOMPARE(ReadFile(path),
             Id3TagOurs(TextFrame("TIT2", "A much longer title than before")) + kAudio);
    QVERIFY(!w.btnShowID3v1Tag->isEnabled());
    QVERIFY(!w.btnShowAPEv2Tag->isEnabled());
    QVERIFY(!ID3v1Tag->Exists && !APEv2Tag->Exists);
    QVERIFY(f.Messages.isEmpty());
}

void TagCommandsTest::UpdateStripsAPEv2BehindTheTag() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    // The APEv2 tag right after the ID3v2 tag: a shorter ID3v2 tag moves it forward, and the
    // strip must cut it where it lies after the rewrite.
    const std::string path =
        f.Write("song.MP3", Id3TagOurs(TextFrame("TIT2", "A long title to shorten")) +
                                ApeTag({{"Artist", "Someone"}, {"Album", "Something"}}) + kAudio);
    f.Open(path);
    QVERIFY(w.btnShowAPEv2Tag->isEnabled());
    w.chkDelAPEv2->setChecked(true);
    w.edComm->setPlainText("Short");
    f.Click(w.btnID3Update);
    QCOMPARE(ReadFile(path), Id3TagOurs(TextFrame("TIT2", "Short")) + kAudio);
    QVERIFY(!w.btnShowAPEv2Tag->isEnabled());
}

void TagCommandsTest::AddCommand() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const Bytes original = Id3TagOurs(ThreeFrames()) + kAudio;
    const std::string path = f.Write("song.MP3", original);
    f.Open(path);
    // Not four bytes: refused, with the id as typed (upper case); nothing else changes.
    w.edNewTag->lineEdit()->clear();
    QTest::keyClicks(w.edNewTag->lineEdit(), "abc");
    f.Click(w.btnAddTag);
    w.edNewTag->lineEdit()->clear();
    f.Click(w.btnAddTag);
    w.edNewTag->lineEdit()->setText(Q("\U0001F600AB")); // no code page 936 form
    f.Click(w.btnAddTag);
    QCOMPARE(f.Messages, QStringList({Q("！新标签必须是四个字符的名字：ABC"),
                                      Q("！新标签必须是四个字符的名字："),
                                      Q("！新标签必须是四个字符的名字：\U0001F600AB")}));
    QCOMPARE(ReadFile(path), original);
    QVERIFY(w.btnAddTag->isEnabled() && w.sg->isEnabled());
    f.Messages.clear();

    // An id the list holds: the engine refuses it, the grid is drawn again unchanged.
    w.edNewTag->lineEdit()->setText("TIT2");
    f.Click(w.btnAddTag);
    QCOMPARE(f.Messages, QStringList({Q("！该标签已经存在，增加标签无效：TIT2")}));
    QCOMPARE(ReadFile(path), original);
    QCOMPARE(w.sg->RowCount(), 4);
    f.Messages.clear();

    // APIC: a picture without data, front cover; a second one is added too.
    w.edNewTag->setCurrentIndex(0);
    QCOMPARE(w.edNewTag->currentText(), Q("APIC"));
    f.Click(w.btnAddTag);
    f.Click(w.btnAddTag);
    QCOMPARE(w.sg->RowCount(), 6);
    QCOMPARE(f.Cell(0, 5), Q("APIC"));
    QCOMPARE(f.Cell(1, 4), Q("图像数据:封面"));
    QCOMPARE(f.Cell(1, 5), Q("图像数据:封面"));
    const Bytes apic = Id3Frame("APIC", Bytes("\0image/jpeg\0\x03\0", 14));
    QCOMPARE(ReadFile(path), Id3TagOurs(ThreeFrames() + apic + apic) + kAudio);
    // After the rebuild row 1 is current and selected.
    QCOMPARE(w.sg->Row(), 1);
    QCOMPARE(w.lblComment->text(), Q("标签内容/编辑【TIT2】"));
    QVERIFY(w.btnID3Update->isEnabled());

    // Any other id gets an empty text; two Chinese characters are four bytes, but not of A-Z and
    // 0-9, which is all other programs read.
    w.edNewTag->lineEdit()->clear();
    QTest::keyClicks(w.edNewTag->lineEdit(), "tcom");
    f.Click(w.btnAddTag);
    QCOMPARE(w.sg->RowCount(), 7);
    QCOMPARE(f.Cell(0, 6), Q("TCOM"));
    QVERIFY(f.Cell(1, 6).isEmpty());
    // The next save drops the empty TCOM text, as every empty text.
    w.edNewTag->lineEdit()->setText(Q("标签"));
    f.Click(w.btnAddTag);
    QCOMPARE(w.sg->RowCount(), 7);
    QCOMPARE(f.Cell(0, 6), Q("TCOM"));
    QCOMPARE(f.Messages, QStringList({Q("！新标签必须是四个字符的名字：标签")}));
}

void TagCommandsTest::DeleteCommands() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const Bytes original = Id3TagOurs(ThreeFrames()) + kAudio;
    const std::string path = f.Write("song.MP3", original);
    f.Open(path);
    // Kept backup: the file as it was.
    f.SelectRow(3);
    f.Click(w.btnID3Kill);
    QCOMPARE(ReadFile(path),
             Id3TagOurs(TextFrame("TIT2", "Title") + TextFrame("TPE1", "Artist")) + kAudio);
    QCOMPARE(ReadFile(f.File("songbak.MP3")), original);
    QCOMPARE(w.sg->RowCount(), 3);
    QCOMPARE(w.sg->Row(), 1);
    QCOMPARE(f.Memo(), Q("Title"));
    // No backup kept.
    w.chkBackFile->setChecked(false);
    f.SelectRow(2);
    f.Click(w.btnID3Kill);
    QCOMPARE(ReadFile(path), Id3TagOurs(TextFrame("TIT2", "Title")) + kAudio);
    QVERIFY(!Exists(f.File("songbak.MP3")));
    QCOMPARE(w.sg->RowCount(), 2);
    // With no frame at the row nothing is rewritten, and a file of the backup name that the
    // command did not make stays.
    f.Click(w.btnID3Kill);
    QVERIFY(!Exists(f.File("songbak.MP3")));
    QCOMPARE(ReadFile(path), Id3TagOurs(Bytes()) + kAudio);
    f.Write("songbak.MP3", "the user's own file");
    f.Click(w.btnID3Kill);
    QCOMPARE(ReadFile(f.File("songbak.MP3")), Bytes("the user's own file"));
    QCOMPARE(ReadFile(path), Id3TagOurs(Bytes()) + kAudio);
    QVERIFY(w.btnID3Kill->isEnabled() && w.sg->isEnabled());
    QVERIFY(f.Messages.isEmpty());
}

void TagCommandsTest::RemoveAllFrames() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const Bytes original = Id3TagOurs(ThreeFrames()) + kAudio;
    const std::string path = f.Write("song.MP3", original);
    f.Open(path);
    f.SelectRow(3);
    f.Click(w.btnDelAllTag);
    QCOMPARE(ReadFile(path), Bytes("ID3\x03\0\0\0\0\0\x0a", 10) + kAudio);
    QCOMPARE(ReadFile(f.File("songbak.MP3")), original);
    QCOMPARE(w.sg->RowCount(), 2);
    QVERIFY(f.Cell(0, 1).isEmpty());
    QCOMPARE(w.lblID3Status->text(), Q("ID3v2tag，共有数据10字节"));
    QVERIFY(f.Memo().isEmpty());
    // A file without a tag is left as it is: a header in front would move the audio.
    const std::string bare = f.Write("bare.MP3", kAudio);
    f.Open(bare);
    w.chkBackFile->setChecked(false);
    f.Click(w.btnDelAllTag);
    QCOMPARE(ReadFile(bare), kAudio);
    QVERIFY(!Exists(f.File("barebak.MP3")));
    QVERIFY(w.btnDelAllTag->isEnabled());
    QVERIFY(f.Messages.isEmpty());
}

void TagCommandsTest::Reload() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const std::string path = f.Write("song.MP3", Id3TagOurs(ThreeFrames()) + kAudio);
    f.Open(path);
    f.SelectRow(3);
    // Another program changes the file: reloading shows it and selects row 1.
    WriteFile(path, Id3TagOurs(TextFrame("TPE1", "Other") + TextFrame("TIT2", "X")) + kAudio);
    f.Click(w.btnReLoad);
    QCOMPARE(w.sg->RowCount(), 3);
    QCOMPARE(w.sg->Row(), 1);
    QCOMPARE(f.Memo(), Q("Other"));
    QCOMPARE(w.lblComment->text(), Q("标签内容/编辑【TPE1】"));
    // The file is gone: the grid is left with its header and one empty row.
    std::filesystem::remove(path);
    f.Click(w.btnReLoad);
    QCOMPARE(w.sg->RowCount(), 2);
    QVERIFY(f.Cell(0, 1).isEmpty() && f.Cell(1, 1).isEmpty());
    QCOMPARE(f.Cell(0, 0), Q("标签"));
    QVERIFY(w.btnReLoad->isEnabled());
    QVERIFY(f.Messages.isEmpty());
}

void TagCommandsTest::ShowCommands() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const Bytes original = Id3TagOurs(ThreeFrames()) + kAudio +
                           ApeTag({{"Title", "Ape title"}, {"Artist", "Ape artist"}}) +
                           Id3v1Block({.title = "V1 title", .artist = "V1 artist"});
    const std::string path = f.Write("song.MP3", original);
    f.Open(path);
    QVERIFY(w.btnShowID3v1Tag->isEnabled() && w.btnShowAPEv2Tag->isEnabled());
    f.Click(w.btnShowID3v1Tag);
    QStringList lines = f.Memo().split('\n');
    QVERIFY(lines.contains(Q("Title=:V1 title")));
    QVERIFY(lines.contains(Q("Artist=:V1 artist")));
    QCOMPARE(lines.size(), int(ID3v1Tag->Keys.size()));
    f.Click(w.btnShowAPEv2Tag);
    lines = f.Memo().split('\n');
    QVERIFY(lines.contains(Q("Title=:Ape title")));
    QVERIFY(lines.contains(Q("Artist=:Ape artist")));
    QCOMPARE(lines.size(), int(APEv2Tag->Keys.size()));
    // Neither the file nor the grid changes.
    QCOMPARE(ReadFile(path), original);
    QCOMPARE(w.sg->RowCount(), 4);
    // An empty file, too short for the APEv2 search: that failure is shown, and the buttons
    // offer no tags of the file before.
    f.Open(f.Write("empty.MP3", ""));
    QVERIFY(!w.btnShowID3v1Tag->isEnabled() && !w.btnShowAPEv2Tag->isEnabled());
    QCOMPARE(f.Messages.size(), 1);
}

void TagCommandsTest::RewriteMessages() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const Bytes original = Id3TagOurs(ThreeFrames()) + kAudio;
    const std::string path = f.Write("song.MP3", original);
    f.Open(path);
    // The backup cannot be made: a folder holds its name.
    std::filesystem::create_directory(f.File("songbak.MP3"));
    w.edComm->setPlainText("New");
    f.Click(w.btnID3Update);
    QCOMPARE(f.Messages,
             QStringList({Q("！不能创建临时文件：") +
                          QString::fromStdString(f.File("songbak.MP3")) + Q("\nFile exists")}));
    QCOMPARE(ReadFile(path), original);
    std::filesystem::remove(f.File("songbak.MP3"));
    f.Messages.clear();
    // Another program holds the file open: it cannot be deleted, so it is not rewritten.
    {
        ForeignLock lock(path, false);
        f.SelectRow(2);
        f.Click(w.btnID3Kill);
    }
    QCOMPARE(f.Messages, QStringList({Q("！文件正在被其它程序使用，不能被修改：") +
                                      QString::fromStdString(path)}));
    QCOMPARE(ReadFile(path), original);
    // The commands go on to their end: the controls are enabled again.
    QVERIFY(w.btnID3Kill->isEnabled() && w.sg->isEnabled());
}

void TagCommandsTest::FailureInsideACommand() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const std::string path = f.Write("song.MP3", Id3TagOurs(ThreeFrames()) + kAudio);
    {
        // A file another program holds without sharing cannot be read: the open ends at the
        // read, its failure is shown, and the window goes on.
        ForeignLock lock(path, true);
        f.Open(path);
    }
    QCOMPARE(f.Messages.size(), 1);
    QVERIFY(f.Messages[0].contains(QString::fromStdString(path)));
    QVERIFY(!w.btnID3Kill->isEnabled());
    f.Messages.clear();
    f.Open(path);
    QVERIFY(f.Messages.isEmpty());
    QCOMPARE(w.sg->RowCount(), 4);
    QVERIFY(w.btnID3Kill->isEnabled());
}

// The grid's "从文件名填写标签...": the dialog previews the fields of the open file's name for the
// pattern, OK writes them (code page 936 where they fit) and the pattern is kept.
void TagCommandsTest::FillFromFileName() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const std::string path =
        f.Write("邓丽君 - 月亮代表我的心.MP3", Id3TagOurs(TextFrame("TIT2", "x")) + kAudio);
    f.Open(path);
    w.chkBackFile->setChecked(false);
    QString preview;
    bool refusedBadPattern = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog && dialog->objectName() == "FrmFromName");
        auto* pattern = dialog->findChild<QLineEdit*>("edPattern");
        auto* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        pattern->setText("%artist%%title%");
        refusedBadPattern = !ok->isEnabled();
        pattern->setText("%artist% - %title%");
        preview = dialog->findChild<QLabel*>("lblPreview")->text();
        ok->click();
    });
    w.FillFromFileName();
    QVERIFY(refusedBadPattern);
    QCOMPARE(preview, Q("TPE1 艺术家：邓丽君\nTIT2 标题：月亮代表我的心"));
    QCOMPARE(ReadFile(path), Id3TagOurs(TextFrame("TIT2", Gbk("月亮代表我的心")) +
                                        TextFrame("TPE1", Gbk("邓丽君"))) +
                                 kAudio);
    QVERIFY(!Exists(f.File("邓丽君 - 月亮代表我的心bak.MP3")));
    QCOMPARE(f.Cell(1, 2), Q("邓丽君"));
    QCOMPARE(RememberedText("patterns/name2tag"), Q("%artist% - %title%"));
}

static TRegisterTest<TagCommandsTest> registerTagCommandsTest("TagCommandsTest");
#include "TagCommandsTest.moc"
