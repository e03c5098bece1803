#include "uDialogs.h"

#include "CodePage.h"
#include "uApplication.h"
#include "utPublic.h"

#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <map>

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
// form Qt's settings write, the folders under [folders]. They are all the file holds, so only
// those keys are read, from its first kMaxSettingsBytes: a huge file cannot hold up the window.
constexpr qint64 kMaxSettingsBytes = 64 * 1024;
constexpr const char* kFolderKeys[] = {"folders/mp3", "folders/picture"};

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
        for (const char* own : kFolderKeys)
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
    QByteArray text = "[folders]\n";
    for (const auto& [key, value] : values)
        if (!value.isEmpty())
            text += key.section(QLatin1Char('/'), 1).toUtf8() + '=' + EscapedValue(value).toUtf8() +
                    '\n';
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

bool TOpenDialog::Execute(QWidget* parent) {
    if (!FolderKey.isEmpty()) InitialDir = RememberedFolder(FolderKey);
    const bool chosen = ExecuteDialog(parent);
    if (chosen && !FolderKey.isEmpty()) RememberFolder(FolderKey, FileName);
    return chosen;
}

bool TOpenDialog::ExecuteDialog(QWidget* parent) {
    if (DialogHooks().OpenFile) return DialogHooks().OpenFile(*this);
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // Qt's own dialog on every desktop: its patterns ignore letter case, so song.mp3 shows under
    // *.MP3 as it does on the systems the filters were written for.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    dialog.setNameFilter(QtFileFilter(Filter));
    if (!InitialDir.isEmpty()) dialog.setDirectory(InitialDir);
    if (!FileName.isEmpty()) dialog.selectFile(FileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    FileName = dialog.selectedFiles().first();
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
