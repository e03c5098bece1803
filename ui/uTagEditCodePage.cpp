// The code page of the open file's legacy texts: which one the window reads them in, the grid's
// context menu that overrides it, and the conversion of every legacy text to Unicode.
#include "CodePage.h"
#include "ID3v1Tags.h"
#include "ID3v2Tags.h"
#include "uApplication.h"
#include "uStringGrid.h"
#include "uTagEdit.h"
#include "utPublic.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <iterator>

namespace {

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The code page as the menu and the tooltips name it.
QString CodePageCaption(platform::TCodePage cp) {
    // In the order of platform::kCodePages.
    static const char* const kCaptions[] = {"简体中文（GBK）",
                                            "繁体中文（Big5）",
                                            "日文（Shift-JIS）",
                                            "韩文（EUC-KR）",
                                            "西里尔文（windows-1251）",
                                            "西欧（windows-1252）",
                                            "UTF-8"};
    static_assert(std::size(kCaptions) == std::size(platform::kCodePages));
    return U(kCaptions[static_cast<size_t>(cp)]);
}

} // namespace

void TFrmEditText::JudgeCodePage() {
    const platform::TCodePage cp = ::JudgeCodePage(*ID3v2Tag, ID3v1Tag, codePage_);
    // The captions stay as they are: the code page is told where the pointer rests.
    const QString told = U("文字编码：") + CodePageCaption(cp) +
                         (codePage_ ? U("（手动选择）") : U("（自动识别）")) +
                         U("，右击列表可更改");
    sg->setToolTip(told);
    lblID3Status->setToolTip(told);
}

void TFrmEditText::sgContextMenu(const QPoint& pos) {
    QMenu menu(this);
    QMenu* codePages = menu.addMenu(U("文字编码"));
    auto* group = new QActionGroup(codePages);
    auto add = [&](const QString& caption, std::optional<platform::TCodePage> cp) {
        QAction* action = codePages->addAction(caption);
        action->setCheckable(true);
        action->setChecked(cp == codePage_);
        group->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, cp] { RunGuarded([&] { ChooseCodePage(cp); }); });
    };
    add(U("自动识别"), std::nullopt);
    codePages->addSeparator();
    for (platform::TCodePage cp : platform::kCodePages)
        add(CodePageCaption(cp), cp);
    QAction* convert = menu.addAction(U("全部转换为Unicode"));
    // Like every command that writes: only with the tag controls on and a tag read whole.
    convert->setEnabled(sg->isEnabled() && ID3v2Tag->Loaded);
    connect(convert, &QAction::triggered, this,
            [this] { RunGuarded([&] { ConvertAllToUnicode(); }); });
    QAction* fromName = menu.addAction(U("从文件名填写标签..."));
    fromName->setEnabled(convert->isEnabled());
    connect(fromName, &QAction::triggered, this,
            [this] { RunGuarded([&] { FillFromFileName(); }); });
    menu.exec(sg->viewport()->mapToGlobal(pos));
}

void TFrmEditText::ChooseCodePage(std::optional<platform::TCodePage> cp) {
    codePage_ = cp;
    const int row = sg->Row();
    ShowFrameList();
    if (row < sg->RowCount()) sg->SetRow(row);
    sgClick();
}

void TFrmEditText::ConvertAllToUnicode() {
    if (!ID3v2Tag->Loaded) return;
    JudgeCodePage();
    // A file without legacy text is left as it is: no rewrite, no backup.
    if (ID3v2Tag->ConvertToUnicode().empty()) return;
    EnableTagControls(false);
    std::optional<TWriterLock> lock;
    if (!LockForCommand(lock)) {
        ShowCommandResult();
        return;
    }
    ID3v2Tag->SaveToFile();
    if (!chkBackFile->isChecked()) DeleteOwnBackup(FilePath());
    ShowCommandResult();
}
