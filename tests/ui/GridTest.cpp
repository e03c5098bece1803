// The string grid the tag list lives in: rows from 0 with the header as row 0, byte cells, the
// current row and its click event.
#include "WindowFixture.h"

#include "ID3v2Tags.h"
#include "JpegBuilders.h"
#include "uControls.h"
#include "uStringGrid.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class GridTest : public QObject {
    Q_OBJECT
  private slots:
    void RowsAndCells();
    void ShrinkingMovesCurrentRowWithoutClick();
    void ClickOnMouseAndKeyboard();
    void ClearGridRowsKeepsHeader();
    void ShowsTextsOfOtherPrograms();
};

void GridTest::RowsAndCells() {
    TStringGrid grid(2, nullptr);
    QCOMPARE(grid.RowCount(), 2);
    QCOMPARE(grid.Row(), 1);
    grid.SetCells(0, 0, Gbk("标签"));
    grid.SetRowCount(4);
    QCOMPARE(grid.RowCount(), 4);
    QCOMPARE(grid.rowHeight(0), TStringGrid::kRowHeight);
    QCOMPARE(grid.rowHeight(2), TStringGrid::kRowHeight);
    // Cells hold bytes exactly, NULs and bytes that are no code page 936 text included.
    const std::string odd("a\0b\xff\x80", 5);
    grid.SetCells(1, 3, odd);
    QCOMPARE(grid.Cells(1, 3), odd);
    QCOMPARE(grid.Cells(0, 0), Gbk("标签"));
    QCOMPARE(grid.horizontalHeaderItem(0)->text(), Q("标签"));
    QCOMPARE(grid.Cells(1, 2), std::string());
    // A cell shows one line.
    grid.SetCells(1, 1, "one\r\ntwo");
    QCOMPARE(grid.item(0, 1)->text(), QString("one two"));
    QCOMPARE(grid.Cells(1, 1), std::string("one\r\ntwo"));
    // Never fewer than the header row and one data row.
    grid.SetRowCount(1);
    QCOMPARE(grid.RowCount(), 2);
}

void GridTest::ShrinkingMovesCurrentRowWithoutClick() {
    TStringGrid grid(2, nullptr);
    QSignalSpy clicks(&grid, &TStringGrid::Click);
    grid.SetRowCount(10);
    grid.SetRow(7);
    QCOMPARE(grid.Row(), 7);
    grid.SetRowCount(5);
    QCOMPARE(grid.Row(), 4);
    QVERIFY(grid.selectionModel()->isRowSelected(3, {}));
    grid.SetRowCount(2);
    QCOMPARE(grid.Row(), 1);
    // Growing leaves the current row where it is.
    grid.SetRowCount(6);
    QCOMPARE(grid.Row(), 1);
    QCOMPARE(clicks.count(), 0);
}

void GridTest::ClickOnMouseAndKeyboard() {
    TStringGrid grid(2, nullptr);
    grid.resize(300, 200);
    grid.show();
    grid.SetRowCount(5);
    QSignalSpy clicks(&grid, &TStringGrid::Click);
    const QRect row3 = grid.visualRect(grid.model()->index(2, 1));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, row3.center());
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(grid.Row(), 3);
    QTest::keyClick(&grid, Qt::Key_Down);
    QCOMPARE(clicks.count(), 2);
    QCOMPARE(grid.Row(), 4);
    QVERIFY(grid.selectionModel()->isRowSelected(3, {}));
    // A key that does not move the current row is no click.
    QTest::keyClick(&grid, Qt::Key_Down);
    QTest::keyClick(&grid, Qt::Key_Down);
    QCOMPARE(grid.Row(), 4);
    QCOMPARE(clicks.count(), 2);
    QTest::keyClick(&grid, Qt::Key_PageUp);
    QCOMPARE(grid.Row(), 1);
    QCOMPARE(clicks.count(), 3);
    // A click below the last row selects nothing.
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, QPoint(50, 190));
    QCOMPARE(clicks.count(), 3);
}

void GridTest::ClearGridRowsKeepsHeader() {
    TStringGrid grid(2, nullptr);
    grid.SetCells(0, 0, Gbk("标签"));
    grid.SetCells(1, 0, Gbk("标签内容"));
    grid.SetRowCount(10);
    for (int row = 1; row < 10; ++row) {
        grid.SetCells(0, row, "TIT" + std::to_string(row));
        grid.SetCells(1, row, "text");
    }
    grid.SetRow(9);
    ClearGridRows(grid);
    QCOMPARE(grid.RowCount(), 2);
    QCOMPARE(grid.Row(), 1);
    QCOMPARE(grid.Cells(0, 0), Gbk("标签"));
    QCOMPARE(grid.Cells(1, 0), Gbk("标签内容"));
    QCOMPARE(grid.Cells(0, 1), std::string());
    QCOMPARE(grid.Cells(1, 1), std::string());
    QCOMPARE(grid.item(0, 0)->text(), QString());
}

// A tag another program wrote in UTF-16: the grid, the memo and the picture box show its texts,
// the cover with a UTF-16 description shows its picture, binary data is read-only and says so,
// and an update that changes nothing keeps the frame as it was.
void GridTest::ShowsTextsOfOtherPrograms() {
    TWindowFixture f;
    TFrmEditText& w = f.W();
    const Bytes jpeg = JpegOf({});
    const Bytes title = Id3Frame("TIT2", Bytes("\x01") + Utf16("한국어 月亮"));
    const std::string song = f.Write(
        "song.MP3", Id3TagStandard(title +
                                       Id3Frame("APIC", Bytes("\x01image/jpeg\0\x03", 13) +
                                                            Utf16("封面") + Bytes(2, '\0') + jpeg) +
                                       Id3Frame("POPM", Bytes("a@b.c\0\x80\0\0\0\x01", 11)),
                                   10) +
                        MpegFrames(2));
    f.Open(song);
    QCOMPARE(w.sg->item(0, 1)->text(), Q("한국어 月亮"));
    f.SelectRow(1);
    QCOMPARE(f.Memo(), Q("한국어 月亮"));
    QVERIFY(w.btnID3Update->isEnabled());
    f.SelectRow(2);
    QCOMPARE(w.edPicInfo->text(), Q("封面"));
    QVERIFY(!w.Image->Picture().isNull());
    QVERIFY(f.Messages.isEmpty());
    f.SelectRow(3);
    QVERIFY(!w.btnID3Update->isEnabled());
    QVERIFY(w.lblID3Status->text().contains(Q("只读")));
    f.SelectRow(1);
    f.Click(w.btnID3Update);
    QVERIFY(f.Messages.isEmpty());
    QVERIFY(ReadFile(song).find(title) != std::string::npos);
    QCOMPARE(w.sg->item(0, 1)->text(), Q("한국어 月亮"));
}

static TRegisterTest<GridTest> registerGridTest("GridTest");
#include "GridTest.moc"
