#include "WindowFixture.h"

#include "CodePage.h"
#include "ID3v2Tags.h"
#include "uControls.h"
#include "uDialogs.h"
#include "uStringGrid.h"
#include "utPublic.h"

#include <QAbstractButton>
#include <QFile>
#include <QPlainTextEdit>
#include <QTest>

std::vector<std::pair<std::string, TTestFactory>>& TestClasses() {
    static std::vector<std::pair<std::string, TTestFactory>> classes;
    return classes;
}

std::string Gbk(const char* utf8) {
    return platform::Utf8ToCp936Lossy(utf8);
}
QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}
Bytes TextFrame(const Bytes& id, const Bytes& text) {
    return Id3Frame(id, Bytes(1, '\0') + text);
}

TWindowFixture::TWindowFixture() {
    // Fresh tag objects for every window, as at program start.
    FreeTagObjects();
    CreateTagObjects();
    ShowEngineMessagesInBoxes();
    DialogHooks().Message = [this](const QString& text) { Messages << text; };
    DialogHooks().OpenFile = [this](TOpenDialog& dialog) {
        if (Choices.isEmpty()) return false;
        dialog.FileName = Choices.takeFirst();
        return true;
    };
    window_ = std::make_unique<TFrmEditText>();
    window_->show();
}

TWindowFixture::~TWindowFixture() {
    window_.reset();
    DialogHooks() = TDialogHooks();
    SetMessageSink([](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
}

std::string TWindowFixture::Write(const std::string& name, const Bytes& bytes) {
    const std::string path = dir_.File(name);
    WriteFile(path, bytes);
    return path;
}

void TWindowFixture::Open(const std::string& path) {
    Choices << FileNameFromBytes(path);
    Click(window_->btnOpen);
}

void TWindowFixture::Click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

void TWindowFixture::SelectRow(int row) {
    TStringGrid* sg = window_->sg;
    const QModelIndex index = sg->model()->index(row - 1, 1);
    sg->scrollTo(index);
    const QRect cell = sg->visualRect(index);
    QTest::mouseClick(sg->viewport(), Qt::LeftButton, {}, cell.center());
}

QString TWindowFixture::Cell(int column, int row) const {
    return QString::fromStdString(platform::Cp936ToUtf8(window_->sg->Cells(column, row)));
}

QString TWindowFixture::Memo() const {
    return window_->edComm->toPlainText();
}
