#include "uDialogs.h"

#include "uApplication.h"
#include "utPublic.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>

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

namespace {

// The user's settings: $XDG_CONFIG_HOME/quillon/quillon.conf. The folders are all they hold.
QSettings& Settings() {
    static QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                              QStringLiteral("quillon"), QStringLiteral("quillon"));
    return settings;
}

} // namespace

void RememberFolder(const QString& key, const QString& fileName) {
    Settings().setValue(key, QFileInfo(fileName).absolutePath());
    Settings().sync(); // another editor started meanwhile finds it
}

QString RememberedFolder(const QString& key) {
    Settings().sync(); // what another editor stored since
    const QString folder = Settings().value(key).toString();
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
