#include "uDialogs.h"

#include "uApplication.h"
#include "utPublic.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>

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

bool TOpenDialog::Execute(QWidget* parent) {
    if (DialogHooks().OpenFile) return DialogHooks().OpenFile(*this);
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // Qt's own dialog on every desktop: its patterns ignore letter case, so song.mp3 shows under
    // *.MP3 as it does on the systems the filters were written for.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    dialog.setNameFilter(QtFileFilter(Filter));
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
