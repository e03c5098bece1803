// What the window's tests share: the list of test classes, and a window on temporary files whose
// dialogs are scripted and whose message boxes are recorded.
#pragma once

#include "Builders.h"
#include "TestFiles.h"
#include "uTagEdit.h"

#include <QStringList>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QAbstractButton;

// Byte strings print as hex when a comparison fails.
namespace QTest {
template <> inline char* toString(const std::string& bytes) {
    return qstrdup(QByteArray::fromStdString(bytes).toHex(' ').constData());
}
} // namespace QTest

using TTestFactory = std::function<std::unique_ptr<QObject>()>;
std::vector<std::pair<std::string, TTestFactory>>& TestClasses();

template <class T> struct TRegisterTest {
    explicit TRegisterTest(const char* name) {
        TestClasses().emplace_back(name, [] { return std::make_unique<T>(); });
    }
};

// Code page 936 bytes of a UTF-8 literal, and the widget text of one.
std::string Gbk(const char* utf8);
QString Q(const char* utf8);
// A text frame as written by the editor: the NUL encoding byte, then the text.
Bytes TextFrame(const Bytes& id, const Bytes& text);

class TWindowFixture {
  public:
    TWindowFixture();
    ~TWindowFixture();
    TWindowFixture(const TWindowFixture&) = delete;
    TWindowFixture& operator=(const TWindowFixture&) = delete;

    TFrmEditText& W() { return *window_; }
    // Writes a file into the temporary folder; returns its path.
    std::string Write(const std::string& name, const Bytes& bytes);
    std::string File(const std::string& name) const { return dir_.File(name); }
    // Chooses `path` in the file-open dialog and clicks btnOpen.
    void Open(const std::string& path);
    // Clicks a button with the mouse (nothing happens while it is disabled).
    void Click(QAbstractButton* button);
    // Selects a grid row with the mouse.
    void SelectRow(int row);
    // The text of a grid cell and of the memo, as shown.
    QString Cell(int column, int row) const;
    QString Memo() const;

    QStringList Messages; // every message box shown, in order
    QStringList Choices;  // what the next file dialogs choose; none left means cancel

  private:
    TempDir dir_;
    std::unique_ptr<TFrmEditText> window_;
};
