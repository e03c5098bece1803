// The string grid the tag list lives in: rows from 0 with the header as row 0, byte cells, the
// current row and its click event.
#include "WindowFixture.h"

#include "uStringGrid.h"

#include <QSignalSpy>
#include <QTest>

class GridTest : public QObject {
    Q_OBJECT
  private slots:
    void RowsAndCells();
    void ShrinkingMovesCurrentRowWithoutClick();
    void ClickOnMouseAndKeyboard();
    void ClearGridRowsKeepsHeader();
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

static TRegisterTest<GridTest> registerGridTest("GridTest");
#include "GridTest.moc"
