// The controls the window builds on Qt's: the memo's code page 936 text and change event, and the
// upper-case sorted id box.
#include "WindowFixture.h"

#include "uControls.h"

#include <QSignalSpy>

class ControlsTest : public QObject {
    Q_OBJECT
  private slots:
    void MemoTextAndChangeEvent();
    void MemoRefusesTextWithoutCodePage936Form();
    void NewTagBoxSortsAndUpperCases();
};

void ControlsTest::MemoTextAndChangeEvent() {
    TMemo memo(nullptr);
    QSignalSpy changed(&memo, &TMemo::Changed);
    memo.SetText(Gbk("第一行") + "\r\nsecond");
    QCOMPARE(changed.count(), 1);
    QCOMPARE(memo.toPlainText(), Q("第一行\nsecond"));
    std::string bytes;
    QVERIFY(memo.Text(bytes));
    QCOMPARE(bytes, Gbk("第一行") + "\r\nsecond");
    // Setting the text it already holds is no change.
    memo.SetText(Gbk("第一行") + "\r\nsecond");
    QCOMPARE(changed.count(), 1);
    // Clearing, adding lines and typing are.
    memo.Clear();
    QCOMPARE(changed.count(), 2);
    memo.Clear();
    QCOMPARE(changed.count(), 2);
    memo.AddLine("Title=:A");
    memo.AddLine("Artist=:B");
    QCOMPARE(changed.count(), 4);
    QCOMPARE(memo.toPlainText(), Q("Title=:A\nArtist=:B"));
    QTest::keyClicks(&memo, "x");
    QCOMPARE(changed.count(), 5);
    // A lone CR ends a line too.
    memo.SetText("a\rb");
    QVERIFY(memo.Text(bytes));
    QCOMPARE(bytes, std::string("a\r\nb"));
}

void ControlsTest::MemoRefusesTextWithoutCodePage936Form() {
    TMemo memo(nullptr);
    memo.setPlainText(Q("ok \u20AC \U0001F600"));
    std::string bytes = "unchanged";
    QVERIFY(!memo.Text(bytes));
    memo.setPlainText(Q("全角：，€"));
    QVERIFY(memo.Text(bytes));
    QCOMPARE(bytes, Gbk("全角：，€"));
}

void ControlsTest::NewTagBoxSortsAndUpperCases() {
    TNewTagBox box(nullptr);
    for (const char* id : {"TIT2", "apic", "COMM", "Wxxx", "AENC"})
        box.AddSorted(id);
    QStringList items;
    for (int i = 0; i < box.count(); ++i)
        items << box.itemText(i);
    QCOMPARE(items, QStringList({"AENC", "apic", "COMM", "TIT2", "Wxxx"}));
    // Filled at once, the list replaces the old one in the same order.
    TNewTagBox filled(nullptr);
    filled.addItem("OLD");
    filled.SetSortedItems({"TIT2", "apic", "COMM", "Wxxx", "AENC"});
    QStringList filledItems;
    for (int i = 0; i < filled.count(); ++i)
        filledItems << filled.itemText(i);
    QCOMPARE(filledItems, items);
    box.lineEdit()->clear();
    QTest::keyClicks(box.lineEdit(), "tpe1");
    QCOMPARE(box.currentText(), Q("TPE1"));
}

static TRegisterTest<ControlsTest> registerControlsTest("ControlsTest");
#include "ControlsTest.moc"
