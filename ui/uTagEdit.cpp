#include "uTagEdit.h"

#include "CodePage.h"
#include "ID3v1Tags.h"
#include "ID3v2Tags.h"
#include "PlatformFile.h"
#include "uAPEv2Tag.h"
#include "uApplication.h"
#include "uControls.h"
#include "uMp3Const.h"
#include "uPicturePayload.h"
#include "uStringGrid.h"
#include "utPublic.h"

#include <QCheckBox>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QRadioButton>
#include <QScreen>
#include <QToolTip>
#include <QValidator>
#include <algorithm>

namespace {

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QString FromCp936(const std::string& bytes) {
    return QString::fromStdString(platform::Cp936ToUtf8(bytes));
}

std::string Cp936Of(const char* utf8) {
    return platform::Utf8ToCp936Lossy(utf8);
}

const QColor kNavy(0, 0, 128);
const QColor kMaroon(128, 0, 0);
const QColor kSilver(192, 192, 192);

void SetTextColor(QWidget* widget, const QColor& color) {
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::ButtonText, color);
    widget->setPalette(p);
}

// A label sizes itself to its text.
QLabel* NewLabel(QWidget* parent, const char* name, int left, int top, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->move(left, top);
    label->adjustSize();
    return label;
}

void SetLabel(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize();
}

template <class W> W* Place(W* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(name);
    widget->setGeometry(left, top, width, height);
    return widget;
}

QCheckBox* NewCheckBox(QWidget* parent, const char* name, int left, int top, int width, int height,
                       const char* caption, bool checked) {
    auto* box = Place(new QCheckBox(U(caption), parent), name, left, top, width, height);
    box->setChecked(checked);
    return box;
}

// The id column keeps its 32 pixels. The window's face is drawn narrower there until every
// known id fits whole in the cell's text area, with a pixel to spare for rounding at other
// scales: a Hei face's "COMM" is 35 pixels wide at 12 pixels.
QFont IdColumnFont(int room) {
    QFont font = WindowFont(12);
    for (int stretch = 100; stretch >= 50; stretch -= 5) {
        font.setStretch(stretch);
        const QFontMetricsF metrics(font);
        if (std::all_of(FrameIdList.begin(), FrameIdList.end(), [&](std::string_view id) {
                return metrics.horizontalAdvance(QString::fromLatin1(id.data(), id.size())) <=
                       room - 1;
            }))
            break;
    }
    return font;
}

// The description box takes at most `limit` typed characters. A longer description read from
// a frame is shown whole, so that embedding again does not cut it; typing may only shorten it.
class TTypedLengthValidator : public QValidator {
  public:
    TTypedLengthValidator(int limit, QLineEdit* edit) : QValidator(edit), limit_(limit) {
        connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { held_ = text; });
    }

    State validate(QString& input, int&) const override {
        // A text the program puts there is not typed.
        if (input.size() <= limit_ || !static_cast<const QLineEdit*>(parent())->isModified())
            return Acceptable;
        // Longer only as what the box held with characters taken out.
        qsizetype kept = 0;
        for (const QChar c : held_)
            if (kept < input.size() && input[kept] == c) ++kept;
        return kept == input.size() ? Acceptable : Invalid;
    }

  private:
    int limit_;
    QString held_;
};

// Where edFn keeps the bytes of the name it shows.
constexpr const char* kPathProperty = "path";

} // namespace

TFrmEditText::TFrmEditText(QWidget* parent) : QDialog(parent) {
    setObjectName("FrmEditText");
    setWindowTitle(U(kCaption));
    // A dialog frame: a close box, no minimise or maximise box, not resizable.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kWidth, kHeight);
    setFont(WindowFont(12));
    QToolTip::setFont(WindowFont(12));
    CreateControls();
    SetFocusOrder();
    WireEvents();
    FormCreate();
    AcceptFileDrops();
    Centre();
}

// Without a window manager the window would open at 0,0. The frame counts: once the window is
// shown its frame is known, and the whole window is centred again.
void TFrmEditText::Centre() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect frame = frameGeometry();
    move(screen->availableGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
}

void TFrmEditText::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (centred_) return;
    centred_ = true;
    Centre();
}

TFrmEditText::~TFrmEditText() = default;

// ---- layout

void TFrmEditText::CreateControls() {
    btnOpen = Place(
        new TGlyphButton("btnOpen", U("MP3"), TGlyphButton::TGlyphPlace::Centred, 2, true, this),
        "btnOpen", 13, 16, 48, 25);
    edFn = Place(new TReadOnlyEdit(this), "edFn", 64, 18, 681, 22);
    edFn->setFont(WindowFont(14));
    edFn->setText(U(kFilePrompt));
    imgInvisible = Place(new TImage(this), "imgInvisible", 696, 0, 105, 105);
    imgInvisible->hide();
    GroupBox2 = Place(new TGroupBox(U(" 标签信息"), this), "GroupBox2", 13, 48, 460, 478);
    Panel1 = Place(new TBevelPanel(TBevelPanel::TBevel::Lowered, TBevelPanel::TBevel::Raised, this),
                   "Panel1", 480, 52, 265, 474);
    CreateTagPanel();
    CreatePicturePanel();

    OpenDialog1.Filter = U("*.MP3|*.MP3");
    OpenPictureDialog1.Filter = U("图片 (jpg;*.jpeg;*.bmp)|*.jpg;*.jpeg;*.bmp");
    OpenDialog1.FolderKey = QStringLiteral("folders/mp3");
    OpenPictureDialog1.FolderKey = QStringLiteral("folders/picture");
}

void TFrmEditText::CreateTagPanel() {
    QWidget* box = GroupBox2;
    using Place_ = TGlyphButton::TGlyphPlace;
    Label1 = NewLabel(box, "Label1", 14, 20, U("标签类型"));
    lblID3Status = NewLabel(box, "lblID3Status", 70, 20, QString());
    SetTextColor(lblID3Status, kNavy);
    chkDelID3v1 = NewCheckBox(box, "chkDelID3v1", 289, 18, 76, 17, "删除ID3v1", false);
    SetTextColor(chkDelID3v1, kMaroon);
    chkDelAPEv2 = NewCheckBox(box, "chkDelAPEv2", 374, 18, 77, 17, "删除APEv2", false);
    SetTextColor(chkDelAPEv2, kMaroon);

    sg = Place(new TStringGrid(2, box), "sg", 14, 39, 432, 157);
    sg->SetColumnWidth(0, 32);
    sg->SetColumnWidth(1, 377);
    sg->SetColumnFont(0, IdColumnFont(sg->TextRoom(0)));
    sg->setEnabled(false);

    btnID3Update =
        Place(new TGlyphButton("btnID3Update", U("更新当前标签"), Place_::LeftEdge, 3, true, box),
              "btnID3Update", 246, 200, 100, 27);
    btnReLoad =
        Place(new TGlyphButton("btnReLoad", U("重新获取标签"), Place_::LeftEdge, 3, true, box),
              "btnReLoad", 346, 200, 100, 27);
    lblComment = NewLabel(box, "lblComment", 14, 208, U("标签内容/编辑："));
    edComm = Place(new TMemo(box), "edComm", 14, 232, 432, 182);
    edComm->setToolTip(U("标签编辑器测试阶段，为安全起见，建议备份原来MP3文件。"));
    btnAddTag =
        Place(new TGlyphButton("btnAddTag", U("增加新标签"), Place_::LeftEdge, 3, true, box),
              "btnAddTag", 14, 421, 88, 27);
    edNewTag = Place(new TNewTagBox(box), "edNewTag", 104, 425, 58, 20);
    edNewTag->setToolTip(U("手动输入标签来增加MP3标签时，可能导致某些播放器不能正确识别MP3."
                           "此时请删除该标签！"));
    btnShowID3v1Tag = Place(new QPushButton(U("ID3v1"), box), "btnShowID3v1Tag", 165, 421, 40, 27);
    btnShowAPEv2Tag = Place(new QPushButton(U("APEv2"), box), "btnShowAPEv2Tag", 205, 421, 40, 27);
    for (QPushButton* b : {btnShowID3v1Tag, btnShowAPEv2Tag})
        b->setAutoDefault(false);
    btnID3Kill =
        Place(new TGlyphButton("btnID3Kill", U("删除当前标签"), Place_::LeftEdge, 3, true, box),
              "btnID3Kill", 246, 421, 100, 27);
    btnDelAllTag =
        Place(new TGlyphButton("btnDelAllTag", U("删除所有标签"), Place_::LeftEdge, 3, true, box),
              "btnDelAllTag", 346, 421, 100, 27);
    chkBackFile =
        NewCheckBox(box, "chkBackFile", 14, 454, 412, 17,
                    "更新时备份原文件：加bak后缀【不选择，更新后自动删除临时备份文件】", true);
    for (QWidget* w : {static_cast<QWidget*>(btnID3Update), static_cast<QWidget*>(btnReLoad),
                       static_cast<QWidget*>(btnAddTag), static_cast<QWidget*>(btnID3Kill),
                       static_cast<QWidget*>(btnDelAllTag)})
        w->setEnabled(false);
}

void TFrmEditText::CreatePicturePanel() {
    QWidget* panel = Panel1;
    using Place_ = TGlyphButton::TGlyphPlace;
    btnSelPic =
        Place(new TGlyphButton("btnSelPic", U("选择嵌入图片"), Place_::Centred, 4, false, panel),
              "btnSelPic", 11, 6, 101, 25);
    btnInputPic = Place(
        new TGlyphButton("btnInputPic", U("嵌入图片到MP3文件中"), Place_::Centred, 4, false, panel),
        "btnInputPic", 112, 6, 143, 25);
    btnInputPic->setToolTip(U("嵌入图片会使文件增加几十到上百K字节大小"));
    btnSelPic->setEnabled(false);
    btnInputPic->setEnabled(false);
    rbStretch = Place(new QRadioButton(U("图片拉伸显示"), panel), "rbStretch", 11, 33, 97, 17);
    rbScale = Place(new QRadioButton(U("按比例额缩放"), panel), "rbScale", 163, 33, 93, 17);
    rbStretch->setChecked(true);
    rbStretch->setEnabled(false);
    rbScale->setEnabled(false);
    Label2 = NewLabel(panel, "Label2", 12, 54, U("嵌入图片大小240*320, 字节："));
    SetTextColor(Label2, kMaroon);
    lbSize = NewLabel(panel, "lbSize", 173, 54, U("000000"));
    SetTextColor(lbSize, kMaroon);
    plColor = Place(new TBevelPanel(TBevelPanel::TBevel::Lowered, TBevelPanel::TBevel::None, panel),
                    "plColor", 11, 69, 126, 20);
    plColor->setCursor(Qt::PointingHandCursor);
    plColor->SetColor(Preview.Background);
    SetTextColor(plColor, kSilver);
    plColor->SetCaption(U("背景颜色"));
    chkCenter = NewCheckBox(panel, "chkCenter", 143, 71, 50, 17, "居中", true);
    btnZoomBig = Place(new TGlyphButton("btnZoomBig", QString(), Place_::Centred, 0, true, panel),
                       "btnZoomBig", 206, 67, 23, 22);
    btnZoomSmall =
        Place(new TGlyphButton("btnZoomSmall", QString(), Place_::Centred, 0, true, panel),
              "btnZoomSmall", 231, 67, 23, 22);
    for (TGlyphButton* b : {btnZoomBig, btnZoomSmall}) {
        b->setFlat(true);
        b->setEnabled(false);
    }
    Label3 = NewLabel(panel, "Label3", 11, 97, U("图片类型："));
    cbPicType = Place(new QComboBox(panel), "cbPicType", 73, 92, 182, 20);
    Label4 = NewLabel(panel, "Label4", 11, 119, U("文字说明："));
    edPicInfo = Place(new QLineEdit(panel), "edPicInfo", 73, 115, 182, 20);
    edPicInfo->setValidator(new TTypedLengthValidator(60, edPicInfo));
    Panel2 =
        Place(new TBevelPanel(TBevelPanel::TBevel::Raised, TBevelPanel::TBevel::Lowered, panel),
              "Panel2", 11, 138, 244, 324);
    plPic = Place(new TBevelPanel(TBevelPanel::TBevel::None, TBevelPanel::TBevel::None, Panel2),
                  "plPic", 2, 2, 240, 320);
    Image =
        Place(new TImage(plPic), "Image", Preview.Left, Preview.Top, Preview.Width, Preview.Height);
    Image->setCursor(Qt::PointingHandCursor);
}

void TFrmEditText::SetFocusOrder() {
    QWidget* order[] = {edFn,
                        edComm,
                        sg,
                        chkBackFile,
                        edNewTag,
                        btnShowAPEv2Tag,
                        btnShowID3v1Tag,
                        chkDelID3v1,
                        chkDelAPEv2,
                        btnSelPic,
                        btnInputPic,
                        rbStretch,
                        rbScale,
                        chkCenter,
                        cbPicType,
                        edPicInfo};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
}

void TFrmEditText::WireEvents() {
    // Every handler runs guarded: a failure ends it at that step and is shown; the program goes
    // on.
    auto on = [this](void (TFrmEditText::*handler)()) {
        return [this, handler] { RunGuarded([&] { (this->*handler)(); }); };
    };
    connect(btnOpen, &QPushButton::clicked, this, on(&TFrmEditText::btnOpenClick));
    connect(edFn, &TReadOnlyEdit::DblClick, this, on(&TFrmEditText::edFnDblClick));
    connect(sg, &TStringGrid::Click, this, on(&TFrmEditText::sgClick));
    connect(edComm, &TMemo::Changed, this, on(&TFrmEditText::edCommChange));
    connect(btnID3Update, &QPushButton::clicked, this, on(&TFrmEditText::btnID3UpdateClick));
    connect(btnReLoad, &QPushButton::clicked, this, on(&TFrmEditText::btnReLoadClick));
    connect(btnID3Kill, &QPushButton::clicked, this, on(&TFrmEditText::btnID3KillClick));
    connect(btnDelAllTag, &QPushButton::clicked, this, on(&TFrmEditText::btnDelAllTagClick));
    connect(btnAddTag, &QPushButton::clicked, this, on(&TFrmEditText::btnAddTagClick));
    connect(btnShowID3v1Tag, &QPushButton::clicked, this, on(&TFrmEditText::btnShowID3v1TagClick));
    connect(btnShowAPEv2Tag, &QPushButton::clicked, this, on(&TFrmEditText::btnShowAPEv2TagClick));
    connect(btnSelPic, &QPushButton::clicked, this, on(&TFrmEditText::btnSelPicClick));
    connect(rbStretch, &QRadioButton::clicked, this, on(&TFrmEditText::rbStretchClick));
    connect(rbScale, &QRadioButton::clicked, this, on(&TFrmEditText::rbScaleClick));
    connect(plColor, &TBevelPanel::DblClick, this, on(&TFrmEditText::plColorDblClick));
    connect(btnZoomBig, &QPushButton::clicked, this, on(&TFrmEditText::btnZoomBigClick));
    connect(btnZoomSmall, &QPushButton::clicked, this, on(&TFrmEditText::btnZoomSmallClick));
    connect(plPic, &TBevelPanel::DblClick, this, on(&TFrmEditText::plPicDblClick));
    connect(Image, &TImage::DblClick, this, on(&TFrmEditText::ImageDblClick));
    connect(Image, &TImage::MouseDown, this,
            [this](Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
                RunGuarded([&] { ImageMouseDown(button, shift, x, y); });
            });
    connect(Image, &TImage::MouseMove, this, [this](Qt::KeyboardModifiers shift, int x, int y) {
        RunGuarded([&] { ImageMouseMove(shift, x, y); });
    });
    connect(Image, &TImage::MouseUp, this,
            [this](Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
                RunGuarded([&] { ImageMouseUp(button, shift, x, y); });
            });
    connect(btnInputPic, &QPushButton::clicked, this, on(&TFrmEditText::btnInputPicClick));
}

void TFrmEditText::keyPressEvent(QKeyEvent* event) {
    // The window is the program's main window: Escape must not close it as it would a dialog.
    if (event->key() == Qt::Key_Escape) return;
    QDialog::keyPressEvent(event);
}

// ---- creation and states

void TFrmEditText::FormCreate() {
    Preview.ViewHeight = 320;
    Preview.ViewWidth = 240;
    SetLabel(lblID3Status, QString());
    sg->SetCells(0, 0, Cp936Of("标签"));
    sg->SetCells(1, 0, Cp936Of("标签内容"));
    sg->SetRowCount(2);
    QStringList ids;
    for (std::string_view id : FrameIdList)
        ids << FromCp936(std::string(id));
    edNewTag->SetSortedItems(ids);
    edNewTag->setCurrentIndex(0);
    THintTiming& hints = THintTiming::Instance();
    hints.HintHidePause = 10000;
    hints.HintShortPause = 10;
    cbPicType->clear();
    for (std::string_view name : PictureTypeNames)
        cbPicType->addItem(FromCp936(std::string(name)));
    cbPicType->setCurrentIndex(-1);
}

void TFrmEditText::EnableTagControls(bool enable) {
    for (QWidget* w : {static_cast<QWidget*>(btnID3Update), static_cast<QWidget*>(btnID3Kill),
                       static_cast<QWidget*>(btnReLoad), static_cast<QWidget*>(btnDelAllTag),
                       static_cast<QWidget*>(btnAddTag), static_cast<QWidget*>(sg)})
        w->setEnabled(enable);
    // A picture row is never written from the memo.
    if (enable && IsPictureId(sg->SelectedCells(0))) btnID3Update->setEnabled(false);
}

std::string TFrmEditText::FilePath() const {
    const QVariant bytes = edFn->property(kPathProperty);
    return bytes.isValid() ? bytes.toByteArray().toStdString() : FileNameBytes(edFn->text());
}

// ---- tag list

void TFrmEditText::LoadTags() {
    const std::string path = FilePath();
    if (!platform::FileExists(path)) return;
    try {
        ID3v2Tag->ReadFromFile(path);
        ID3v1Tag->ReadFromFile(path);
        APEv2Tag->ReadFromFile(path);
    } catch (...) {
        // A read that fails (the APEv2 search of a file shorter than its 32-byte probe) leaves
        // the grid as it is, but the show buttons must not offer the tags of the file before.
        btnShowAPEv2Tag->setEnabled(APEv2Tag->Exists);
        btnShowID3v1Tag->setEnabled(ID3v1Tag->Exists);
        throw;
    }
    ShowFrameList();
}

namespace {

// The entry at a grid row when the grid shows the store, or null.
const TFrameOrigin* OriginAtRow(TStringGrid& sg, int row) {
    const int index = row - 1;
    if (index < 0 || index >= static_cast<int>(ID3v2Tag->FrameIds.size()) ||
        sg.Cells(0, row) != ID3v2Tag->FrameIds[index])
        return nullptr;
    return ID3v2Tag->OriginOf(index);
}

bool IsReadOnly(const TFrameOrigin* origin) {
    return origin && origin->Access != TFrameOrigin::TAccess::Editable;
}

// The status line of the ID3v2 tag, saying why the selected entry cannot be edited.
QString Id3Status(const TFrameOrigin* selected) {
    if (!ID3v2Tag->Exists) return U("无ID3v2标签");
    QString status = U("ID3v2tag，共有数据") + QString::number(ID3v2Tag->TagSize) + U("字节");
    // The frames read before the damage are shown, but nothing is written from them.
    if (!ID3v2Tag->ReadError.empty()) status += U("（标签已损坏，不能修改）");
    if (IsReadOnly(selected)) {
        using TAccess = TFrameOrigin::TAccess;
        status += selected->Access == TAccess::Binary       ? U("（二进制数据，只读）")
                  : selected->Access == TAccess::Compressed ? U("（压缩或加密的帧，只读）")
                                                            : U("（ID3v2.2的帧，只读，不能保存）");
    }
    return status;
}

} // namespace

void TFrmEditText::ShowFrameList() {
    sg->SetRowCount(2);
    for (int column = 0; column < sg->columnCount(); ++column)
        sg->SetCells(column, 1, {});
    const size_t n = ID3v2Tag->FrameIds.size();
    for (size_t i = 0; i < n; ++i) {
        const int row = static_cast<int>(i) + 1;
        const std::string& id = ID3v2Tag->FrameIds[i];
        sg->SetCells(0, row, id);
        if (id == "TPIC")
            sg->SetCells(1, row, Cp936Of("自定义图像，不能直接编辑！"));
        else if (id == "APIC")
            sg->SetCells(
                1, row,
                Cp936Of("图像数据:") +
                    std::string(PictureTypeNames[PictureTypeOf(ID3v2Tag->FramePayloads[i])]));
        else if (const TFrameOrigin* origin = ID3v2Tag->OriginOf(i);
                 origin && !origin->HasText && origin->Frame.size() >= 10)
            sg->SetCells(1, row, ID3v2Tag->FramePayloads[i],
                         U("二进制数据，") + QString::number(origin->Frame.size() - 10) +
                             U("字节"));
        else if (origin)
            sg->SetCells(1, row, ID3v2Tag->FramePayloads[i],
                         QString::fromStdString(ID3v2Tag->DisplayText(i)));
        else
            sg->SetCells(1, row, ID3v2Tag->FramePayloads[i]);
        if (i + 1 < n) sg->SetRowCount(sg->RowCount() + 1);
    }
    SetLabel(lblID3Status, Id3Status(nullptr));
    btnShowAPEv2Tag->setEnabled(APEv2Tag->Exists);
    btnShowID3v1Tag->setEnabled(ID3v1Tag->Exists);
    ShowCustomPicture();
}

// The one place that makes the label, the memo, the buttons and the picture panel describe the
// grid's current row. The grid runs it for every move the user makes; every command that
// rebuilds the grid runs it afterwards.
// The end of every tag command: the frames as they are now, the selected one in the memo, the
// controls on again.
void TFrmEditText::ShowCommandResult() {
    ShowFrameList();
    sgClick();
    EnableTagControls(true);
}

void TFrmEditText::sgClick() {
    const int row = sg->Row();
    const std::string id = sg->SelectedCells(0);
    SetLabel(lblComment, U("标签内容/编辑【") + FromCp936(id) + U("】"));
    const TFrameOrigin* origin = OriginAtRow(*sg, row);
    SetLabel(lblID3Status, Id3Status(origin));
    btnID3Update->setEnabled(!IsPictureId(id) && !IsReadOnly(origin));
    btnSelPic->setEnabled(IsPictureId(id));
    btnInputPic->setEnabled(IsPictureId(id));
    for (QWidget* w : {static_cast<QWidget*>(rbScale), static_cast<QWidget*>(rbStretch),
                       static_cast<QWidget*>(btnZoomBig), static_cast<QWidget*>(btnZoomSmall)})
        w->setEnabled(false);
    if (id == "TPIC")
        ShowCustomPicture();
    else if (id == "APIC")
        ShowAttachedPicture(row);
    else if (origin && origin->HasText)
        edComm->SetShownText(QString::fromStdString(origin->Text));
    else
        edComm->SetText(StripNulls(sg->SelectedCells(1)));
    edPicInfo->setEnabled(id == "APIC");
    cbPicType->setEnabled(id == "APIC");
}

void TFrmEditText::edCommChange() {
    lbSize->setText(QString::number(sg->SelectedCells(1).size()));
    lbSize->adjustSize();
}

// ---- tag commands

void TFrmEditText::btnOpenClick() {
    if (!OpenDialog1.Execute(this)) return;
    OpenFile(OpenDialog1.FileName);
}

// The file named is the file edited: no other spelling of its name is tried.
bool TFrmEditText::OpenFile(const QString& chosen) {
    const std::string path = FileNameBytes(chosen);
    if (!platform::FileExists(path)) return false;
    edFn->setText(ShownFileName(path));
    edFn->setProperty(kPathProperty, QByteArray::fromStdString(path));
    ClearGridRows(*sg);
    LoadTags();
    sgClick();
    EnableTagControls(true);
    return true;
}

void TFrmEditText::btnReLoadClick() {
    ClearGridRows(*sg);
    LoadTags();
    sgClick();
}

bool TFrmEditText::LockForCommand(std::optional<TWriterLock>& lock) {
    QProgressDialog waiting(U("正在等待其它程序写完文件……"), U("取消"), 0, 0, this);
    waiting.setWindowModality(Qt::WindowModal);
    waiting.setMinimumDuration(400);
    waiting.setAutoClose(false);
    waiting.setAutoReset(false);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    lock.emplace(FilePath(), LockWait, [&] {
        // Input waits until the dialog is up: from then on it goes to the dialog alone.
        QCoreApplication::processEvents(
            waiting.isVisible() ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents, 10);
        return !waiting.wasCanceled();
    });
    QGuiApplication::restoreOverrideCursor();
    if (lock->Held()) return true;
    if (!waiting.wasCanceled()) lock->Refuse();
    return false;
}

void TFrmEditText::btnID3UpdateClick() {
    const int index = sg->Row() - 1;
    // Only a selected text frame is written: an empty frame list has none, a picture row is
    // never written from the memo, and a frame kept read-only is not written from it either.
    const TFrameOrigin* origin = OriginAtRow(*sg, sg->Row());
    if (index < 0 || index >= static_cast<int>(ID3v2Tag->FramePayloads.size()) ||
        IsPictureId(sg->SelectedCells(0)) || IsReadOnly(origin))
        return;
    // A text shown as it was read and not changed keeps its frame, encoding and all.
    const bool unchanged =
        origin && origin->HasText && edComm->toPlainText() == QString::fromStdString(origin->Text);
    std::string text = ID3v2Tag->FramePayloads[index];
    if (!unchanged && !edComm->Text(text)) {
        MessageBoxOk(U("！标签内容中有GBK编码不能保存的字符，不能更新标签：") +
                     FromCp936(sg->SelectedCells(0)));
        return;
    }
    EnableTagControls(false);
    std::optional<TWriterLock> lock;
    if (!LockForCommand(lock)) {
        ShowCommandResult();
        return;
    }
    ID3v2Tag->FramePayloads[index] = text;
    for (const TTagStep& step : RewriteThenStrip(
             FilePath(), true, [] { ID3v2Tag->SaveToFile(); }, chkDelID3v1->isChecked(),
             chkDelAPEv2->isChecked(), true))
        if (step.wanted) step.run();
    ShowCommandResult();
}

void TFrmEditText::btnAddTagClick() {
    const QString typed = edNewTag->currentText();
    std::string typedId;
    // A character without a code page 936 form cannot be part of an id.
    if (!platform::Utf8ToCp936(typed.toStdString(), typedId)) {
        MessageBoxOk(U(kMsgNewTagNeedsFourChars) + typed.toUpper());
        return;
    }
    const std::optional<TNewFrame> frame = PrepareNewFrame(typedId);
    if (!frame) return;
    EnableTagControls(false);
    std::optional<TWriterLock> lock;
    if (!LockForCommand(lock)) {
        ShowCommandResult();
        return;
    }
    ID3v2Tag->AddFrame(frame->Id, frame->Payload.data(), static_cast<int>(frame->Payload.size()));
    ShowCommandResult();
}

void TFrmEditText::btnID3KillClick() {
    EnableTagControls(false);
    const int index = sg->Row() - 1;
    // Without a frame at the row nothing is rewritten, so a file of the backup name is not ours.
    const bool rewrites =
        ID3v2Tag->Loaded && index >= 0 && index < static_cast<int>(ID3v2Tag->FrameIds.size());
    std::optional<TWriterLock> lock;
    if (rewrites && !LockForCommand(lock)) {
        ShowCommandResult();
        return;
    }
    ID3v2Tag->DeleteFrame(index);
    if (!chkBackFile->isChecked() && rewrites) DeleteOwnBackup(FilePath());
    ShowCommandResult();
}

void TFrmEditText::btnDelAllTagClick() {
    EnableTagControls(false);
    // Without a successful read, or without a tag, nothing is rewritten, so a file of the
    // backup name is not ours.
    const bool rewrites = ID3v2Tag->Loaded && ID3v2Tag->Exists;
    std::optional<TWriterLock> lock;
    if (rewrites && !LockForCommand(lock)) {
        ShowCommandResult();
        return;
    }
    ID3v2Tag->RemoveTag();
    if (!chkBackFile->isChecked() && rewrites) DeleteOwnBackup(FilePath());
    ShowCommandResult();
}

void TFrmEditText::btnShowID3v1TagClick() {
    if (!ID3v1Tag->Exists) {
        edComm->SetText(Cp936Of("无ID3V1标签"));
        return;
    }
    edComm->Clear();
    for (size_t i = 0; i < ID3v1Tag->Keys.size(); ++i)
        edComm->AddLine(ID3v1Tag->Keys[i] + "=:" + ID3v1Tag->Values[i]);
}

void TFrmEditText::btnShowAPEv2TagClick() {
    if (!APEv2Tag->Exists) {
        edComm->SetText(Cp936Of("无APEv2标签"));
        return;
    }
    edComm->Clear();
    for (size_t i = 0; i < APEv2Tag->Keys.size(); ++i)
        edComm->AddLine(APEv2Tag->Keys[i] + "=:" + APEv2Tag->Values[i]);
}

void TFrmEditText::edFnDblClick() {
    setWindowTitle(ShownFileName(BackupFileName(ResolveLinks(FilePath()))));
}
