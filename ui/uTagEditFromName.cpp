// "从文件名填写标签...": the tags of the open file from its name, by a pattern such as
// "%artist% - %title%" (the rules of quillon-tags name2tag, in tags/uNamePattern). A small dialog
// takes the pattern, remembered in the settings, and shows the fields the name gives; OK writes
// them as the update command writes a text.
#include "ID3v2Tags.h"
#include "uDialogs.h"
#include "uNamePattern.h"
#include "uTagEdit.h"
#include "utPublic.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

constexpr const char* kPatternKey = "patterns/name2tag";

// What the placeholders are called in the preview.
const char* FieldCaption(const std::string& id) {
    if (id == "TPE1") return "艺术家";
    if (id == "TIT2") return "标题";
    if (id == "TALB") return "专辑";
    if (id == "TRCK") return "音轨号";
    if (id == "TYER") return "年份";
    return "流派";
}

class TFromNameDialog : public QDialog {
  public:
    TFromNameDialog(QWidget* parent, const std::string& stem) : QDialog(parent), stem_(stem) {
        setObjectName("FrmFromName");
        setWindowTitle(U("从文件名填写标签"));
        auto* layout = new QVBoxLayout(this);
        auto* name = new QLabel(U("文件名：") + QString::fromStdString(stem), this);
        name->setObjectName("lblName");
        layout->addWidget(name);
        layout->addWidget(new QLabel(U("模式（%artist% %title% %album% %track% %year% "
                                       "%genre% %skip%）："),
                                     this));
        edPattern = new QLineEdit(this);
        edPattern->setObjectName("edPattern");
        layout->addWidget(edPattern);
        lblPreview = new QLabel(this);
        lblPreview->setObjectName("lblPreview");
        lblPreview->setMinimumHeight(110);
        lblPreview->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        layout->addWidget(lblPreview);
        buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        buttons->button(QDialogButtonBox::Ok)->setText(U("确定"));
        buttons->button(QDialogButtonBox::Cancel)->setText(U("取消"));
        layout->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        connect(edPattern, &QLineEdit::textChanged, this, [this] { Preview(); });
        const QString kept = RememberedText(kPatternKey);
        edPattern->setText(kept.isEmpty() ? U(kDefaultNamePattern) : kept);
        Preview();
        resize(420, sizeHint().height());
    }

    QLineEdit* edPattern;
    QLabel* lblPreview;
    QDialogButtonBox* buttons;
    TNameFields Fields;

  private:
    // The fields the pattern takes from the name; OK only when it matches.
    void Preview() {
        std::string error;
        const auto pattern =
            ParseNamePattern(edPattern->text().toStdString(), TNamePatternUse::FromName, error);
        std::optional<TNameFields> fields;
        if (pattern) fields = MatchName(*pattern, stem_);
        QString text;
        if (!pattern)
            text = U("模式不能使用：") + QString::fromStdString(error);
        else if (!fields)
            text = U("文件名与模式不符，没有可填写的标签。");
        else
            for (const auto& [id, value] : *fields)
                text += QString::fromStdString(id) + U(" ") + U(FieldCaption(id)) + U("：") +
                        QString::fromStdString(value) + QLatin1Char('\n');
        lblPreview->setText(text.trimmed());
        Fields = fields.value_or(TNameFields());
        buttons->button(QDialogButtonBox::Ok)->setEnabled(fields.has_value());
    }

    std::string stem_;
};

} // namespace

void TFrmEditText::FillFromFileName() {
    if (!ID3v2Tag->Loaded) return;
    TFromNameDialog dialog(this, NameText(SplitExtension(BaseName(FilePath())).first));
    if (dialog.exec() != QDialog::Accepted) return;
    RememberText(kPatternKey, dialog.edPattern->text());
    WriteFieldsFromName(dialog.Fields);
}

void TFrmEditText::WriteFieldsFromName(
    const std::vector<std::pair<std::string, std::string>>& fields) {
    if (!ID3v2Tag->Loaded || fields.empty()) return;
    EnableTagControls(false);
    std::optional<TWriterLock> lock;
    if (!LockForCommand(lock)) {
        ShowCommandResult();
        return;
    }
    // The code page chosen or detected for the file decides, as for the update command's text.
    JudgeCodePage();
    ID3v2Tag->SetFrameTexts(fields, false);
    if (!chkBackFile->isChecked()) DeleteOwnBackup(FilePath());
    ShowCommandResult();
}
