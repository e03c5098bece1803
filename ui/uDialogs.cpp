#include "uDialogs.h"

#include "CodePage.h"
#include "uApplication.h"
#include "utPublic.h"

#include <QApplication>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QSaveFile>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <algorithm>
#include <dirent.h>
#include <map>
#include <sys/stat.h>
#include <vector>

TDialogHooks& DialogHooks() {
    static TDialogHooks hooks;
    return hooks;
}

QString QtFileFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        filters << parts[i] + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    return filters.join(QLatin1String(";;"));
}

QString FileNameFromBytes(const std::string& bytes) {
    QString out;
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = platform::Utf8SequenceLength(bytes, i);
        if (n == 0) {
            out += QChar(0xDC00 + static_cast<unsigned char>(bytes[i]));
            ++i;
        } else {
            out += QString::fromUtf8(bytes.data() + i, static_cast<qsizetype>(n));
            i += n;
        }
    }
    return out;
}

std::string FileNameBytes(const QString& name) {
    std::string out;
    qsizetype run = 0; // start of the run of ordinary characters
    auto flush = [&](qsizetype end) { out += name.mid(run, end - run).toStdString(); };
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            ++i; // a pair: a character outside the BMP
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            flush(i);
            out += static_cast<char>(c - 0xDC00);
            run = i + 1;
        }
    }
    flush(name.size());
    return out;
}

QString ShownFileName(const std::string& bytes) {
    QString out;
    size_t from = 0;
    while (from <= bytes.size()) {
        size_t slash = bytes.find('/', from);
        if (slash == std::string::npos) slash = bytes.size();
        const std::string_view part(bytes.data() + from, slash - from);
        out += platform::IsWellFormedUtf8(part)
                   ? QString::fromUtf8(part.data(), static_cast<qsizetype>(part.size()))
                   : QString::fromStdString(platform::Cp936ToUtf8(part));
        if (slash < bytes.size()) out += QLatin1Char('/');
        from = slash + 1;
    }
    return out;
}

namespace {

// The user's settings: $XDG_CONFIG_HOME/quillon/quillon.conf (~/.config by default), in the INI
// form Qt's settings write, the folders under [folders], the pattern of the names under
// [patterns]. They are all the file holds, so only those keys are read, from its first
// kMaxSettingsBytes: a huge file cannot hold up the window.
constexpr qint64 kMaxSettingsBytes = 64 * 1024;
constexpr const char* kSettingsKeys[] = {"folders/mp3", "folders/picture", "patterns/name2tag"};

QString SettingsFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/quillon/quillon.conf");
}

// A value as Qt's settings write a string: quotes around parts, backslash escapes, "@@" for a
// leading "@". A list (a comma outside quotes) or any other type is no folder.
QString UnescapedValue(const QString& raw) {
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (c == QLatin1Char('\\') && i + 1 < raw.size()) {
            const QChar e = raw[++i];
            out += e == QLatin1Char('n') ? QChar('\n') : e == QLatin1Char('t') ? QChar('\t') : e;
        } else if (c == QLatin1Char(',') && !quoted) {
            return QString();
        } else {
            out += c;
        }
    }
    if (out.startsWith(QLatin1String("@@"))) return out.mid(1);
    return out.startsWith(QLatin1Char('@')) ? QString() : out;
}

QString EscapedValue(const QString& value) {
    QString out = value.startsWith(QLatin1Char('@')) ? QStringLiteral("@") : QString();
    for (const QChar c : value) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"')) out += QLatin1Char('\\');
        out += c;
    }
    const bool quotes = value.contains(QLatin1Char(',')) || value.contains(QLatin1Char(';')) ||
                        value.contains(QLatin1Char('=')) || value != value.trimmed();
    return quotes ? QLatin1Char('"') + out + QLatin1Char('"') : out;
}

// Our keys as the file holds them now.
std::map<QString, QString> ReadFolders() {
    std::map<QString, QString> values;
    QFile file(SettingsFile());
    if (!file.open(QIODevice::ReadOnly)) return values;
    QByteArray head = file.read(kMaxSettingsBytes);
    if (file.size() > kMaxSettingsBytes) head.truncate(head.lastIndexOf('\n') + 1);
    QString section;
    for (const QByteArray& bytes : head.split('\n')) {
        const QString line = QString::fromUtf8(bytes).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) continue;
        const QString key = section + QLatin1Char('/') + line.left(equals).trimmed();
        for (const char* own : kSettingsKeys)
            if (key == QLatin1String(own))
                values[key] = UnescapedValue(line.mid(equals + 1).trimmed());
    }
    return values;
}

// Writes the file anew with our keys, in one rename.
void WriteFolders(const std::map<QString, QString>& values) {
    QDir().mkpath(QFileInfo(SettingsFile()).path());
    QSaveFile file(SettingsFile());
    if (!file.open(QIODevice::WriteOnly)) return;
    QByteArray text;
    QString section;
    for (const auto& [key, value] : values) {
        if (value.isEmpty()) continue;
        if (key.section(QLatin1Char('/'), 0, 0) != section) {
            section = key.section(QLatin1Char('/'), 0, 0);
            text += (text.isEmpty() ? "[" : "\n[") + section.toUtf8() + "]\n";
        }
        text +=
            key.section(QLatin1Char('/'), 1).toUtf8() + '=' + EscapedValue(value).toUtf8() + '\n';
    }
    file.write(text);
    file.commit();
}

} // namespace

void RememberFolder(const QString& key, const QString& fileName) {
    // Read again just before: another editor may have stored its other folder meanwhile.
    std::map<QString, QString> values = ReadFolders();
    const QString folder = QFileInfo(fileName).absolutePath();
    // A folder name that would not survive the file's form is not kept.
    if (std::any_of(folder.begin(), folder.end(), [](QChar c) { return c < QChar(0x20); })) return;
    values[key] = folder;
    WriteFolders(values);
}

QString RememberedFolder(const QString& key) {
    const std::map<QString, QString> values = ReadFolders();
    const auto it = values.find(key);
    const QString folder = it == values.end() ? QString() : it->second;
    // A folder removed since is no place to start: the dialog would show an empty list.
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

void RememberText(const QString& key, const QString& text) {
    std::map<QString, QString> values = ReadFolders();
    if (std::any_of(text.begin(), text.end(), [](QChar c) { return c < QChar(0x20); })) return;
    values[key] = text;
    WriteFolders(values);
}

QString RememberedText(const QString& key) {
    const std::map<QString, QString> values = ReadFolders();
    const auto it = values.find(key);
    return it == values.end() ? QString() : it->second;
}

bool TOpenDialog::Execute(QWidget* parent) {
    if (!FolderKey.isEmpty()) InitialDir = RememberedFolder(FolderKey);
    const bool chosen = ExecuteDialog(parent);
    if (chosen && !FolderKey.isEmpty()) RememberFolder(FolderKey, FileName);
    return chosen;
}

namespace {

// The patterns of a filter ("description|*.ext;*.ext|..."), each "*.ext" as ".ext".
std::vector<std::string> Extensions(const QString& filter) {
    std::vector<std::string> out;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (int i = 1; i < parts.size(); i += 2)
        for (const QString& pattern : parts[i].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            out.push_back(pattern.mid(pattern.indexOf(QLatin1Char('.'))).toLower().toStdString());
    return out;
}

bool EndsWithAnyOf(const std::string& name, const std::vector<std::string>& extensions) {
    for (const std::string& ext : extensions) {
        if (name.size() < ext.size()) continue;
        std::string tail = name.substr(name.size() - ext.size());
        std::transform(tail.begin(), tail.end(), tail.begin(),
                       [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
        if (tail == ext) return true;
    }
    return false;
}

std::string ParentFolder(const std::string& folder) {
    const size_t slash = folder.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : folder.substr(0, slash);
}

// The file-open dialog: a folder's subfolders and the files that match the filter, letter case
// ignored, listed by the bytes of their names. Qt's own dialog leaves out every name that is not
// UTF-8, so a GBK name from a Windows archive could not be chosen there.
class TFileChooser : public QDialog {
  public:
    TFileChooser(QWidget* parent, const QString& filter) : QDialog(parent) {
        extensions_ = Extensions(filter);
        setWindowTitle(QString::fromUtf8("打开"));
        auto* layout = new QVBoxLayout(this);
        folderLabel_ = new QLabel(this);
        list_ = new QListWidget(this);
        list_->setObjectName(QStringLiteral("files"));
        auto* buttons =
            new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel, this);
        layout->addWidget(folderLabel_);
        layout->addWidget(list_);
        layout->addWidget(new QLabel(QtFileFilter(filter), this));
        layout->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this,
                [this] { Choose(list_->currentItem()); });
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        connect(list_, &QListWidget::itemActivated, this,
                [this](QListWidgetItem* item) { Choose(item); });
        resize(560, 420);
    }

    // Lists `folder`, the entry named `select` current.
    void ShowFolder(const std::string& folder, const std::string& select = std::string()) {
        std::vector<std::string> folders, files;
        if (DIR* dir = opendir(folder.c_str())) {
            while (const dirent* e = readdir(dir)) {
                const std::string name = e->d_name;
                if (name == "." || name == ".." || name[0] == '.') continue;
                struct stat st;
                if (stat((folder + "/" + name).c_str(), &st) != 0) continue;
                if (S_ISDIR(st.st_mode))
                    folders.push_back(name);
                else if (EndsWithAnyOf(name, extensions_))
                    files.push_back(name);
            }
            closedir(dir);
        }
        std::sort(folders.begin(), folders.end());
        std::sort(files.begin(), files.end());
        folder_ = folder;
        folderLabel_->setText(ShownFileName(folder));
        list_->clear();
        auto add = [this, &select](const std::string& name, bool isFolder) {
            auto* item = new QListWidgetItem(ShownFileName(name) + (isFolder ? "/" : ""), list_);
            item->setData(Qt::UserRole, QByteArray::fromStdString(name));
            item->setData(Qt::UserRole + 1, isFolder);
            if (name == select) list_->setCurrentItem(item);
        };
        if (folder != "/") add("..", true);
        for (const std::string& name : folders)
            add(name, true);
        for (const std::string& name : files)
            add(name, false);
    }

    std::string Chosen;

  private:
    void Choose(QListWidgetItem* item) {
        if (!item) return;
        const std::string name = item->data(Qt::UserRole).toByteArray().toStdString();
        const std::string path = (folder_ == "/" ? std::string() : folder_) + "/" + name;
        if (name == "..") {
            ShowFolder(ParentFolder(folder_), folder_.substr(folder_.find_last_of('/') + 1));
        } else if (item->data(Qt::UserRole + 1).toBool()) {
            ShowFolder(path);
        } else {
            Chosen = path;
            accept();
        }
    }

    std::vector<std::string> extensions_;
    std::string folder_;
    QLabel* folderLabel_;
    QListWidget* list_;
};

} // namespace

bool TOpenDialog::ExecuteDialog(QWidget* parent) {
    if (DialogHooks().OpenFile) return DialogHooks().OpenFile(*this);
    TFileChooser dialog(parent, Filter);
    std::string folder = InitialDir.isEmpty()
                             ? QDir::currentPath().toStdString()
                             : FileNameBytes(QFileInfo(InitialDir).absoluteFilePath());
    std::string select;
    if (!FileName.isEmpty()) {
        const std::string chosen = FileNameBytes(QFileInfo(FileName).absoluteFilePath());
        folder = ParentFolder(chosen);
        select = chosen.substr(chosen.find_last_of('/') + 1);
    }
    dialog.ShowFolder(folder, select);
    if (dialog.exec() != QDialog::Accepted || dialog.Chosen.empty()) return false;
    FileName = FileNameFromBytes(dialog.Chosen);
    return true;
}

bool TColorDialog::Execute(QWidget* parent) {
    if (DialogHooks().ChooseColor) return DialogHooks().ChooseColor(*this);
    const QColor chosen = QColorDialog::getColor(Color, parent);
    if (!chosen.isValid()) return false;
    Color = chosen;
    return true;
}

void MessageBoxOk(const QString& text) {
    if (DialogHooks().Message) {
        DialogHooks().Message(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

void ShowEngineMessagesInBoxes() {
    SetMessageSink([](const std::string& text) { MessageBoxOk(QString::fromStdString(text)); });
}
