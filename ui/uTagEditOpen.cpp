// Files that reach TFrmEditText from outside its dialogs: the one named on the command line (a
// file manager's "Open with") and files dropped on the window. Both open as btnOpen does.
#include "PlatformFile.h"
#include "uApplication.h"
#include "uControls.h"
#include "uDialogs.h"
#include "uTagEdit.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

namespace {

bool HasExtension(const QString& fileName, std::initializer_list<const char*> extensions) {
    const QString suffix = QFileInfo(fileName).suffix();
    for (const char* extension : extensions)
        if (suffix.compare(QLatin1String(extension), Qt::CaseInsensitive) == 0) return true;
    return false;
}

} // namespace

void TFrmEditText::OpenFileFromOutside(const QString& name) {
    if (OpenFile(name)) {
        // The MP3 dialog starts next time where this file lies.
        RememberFolder(OpenDialog1.FolderKey, FileNameFromBytes(FilePath()));
        return;
    }
    // The dialog offers only files that exist; a name from outside may not. Opening it raises
    // the failure the open command shows for a file it cannot read, and the window stays as it
    // was.
    platform::TFileStream probe(FileNameBytes(name), platform::TOpenMode::Read,
                                platform::TShareMode::DenyNone);
}

void OpenFromCommandLine(TFrmEditText& window, const QStringList& arguments) {
    QString file;
    bool options = true;
    for (qsizetype i = 1; i < arguments.size() && file.isEmpty(); ++i) {
        if (options && arguments[i] == QLatin1String("--"))
            options = false;
        else if (!options || !arguments[i].startsWith(QLatin1Char('-')))
            file = arguments[i];
    }
    if (file.isEmpty()) return;
    // Once the window is up: a failure's message box then has the window to stand over.
    QTimer::singleShot(0, &window,
                       [&window, file] { RunGuarded([&] { window.OpenFileFromOutside(file); }); });
}

// ---- drops

void TFrmEditText::AcceptFileDrops() {
    setAcceptDrops(true);
    // The memo and the edit boxes take text drops of their own and would swallow a dropped
    // file's name as text: the window looks at the drags they get first.
    for (QWidget* child : findChildren<QWidget*>())
        if (child->acceptDrops()) child->installEventFilter(this);
}

TFrmEditText::TDrop TFrmEditText::DropKind(const QMimeData* mime, QPoint pos,
                                           QString& fileName) const {
    // One local file, or nothing: several files would leave it open which one was meant.
    const QList<QUrl> urls = mime ? mime->urls() : QList<QUrl>();
    if (urls.size() != 1 || !urls.first().isLocalFile()) return TDrop::Refused;
    fileName = urls.first().toLocalFile();
    if (HasExtension(fileName, {"mp3"})) return TDrop::Mp3;
    // A picture is chosen for the current picture row, as the picture button does, and only
    // where that button is: over the picture panel while it is enabled.
    if (HasExtension(fileName, {"jpg", "jpeg", "bmp"}) && btnSelPic->isEnabled() &&
        Panel1->geometry().contains(pos))
        return TDrop::Picture;
    return TDrop::Refused;
}

void TFrmEditText::HandleDrag(QEvent* event, QPoint pos) {
    auto* drop = static_cast<QDropEvent*>(event);
    QString fileName;
    const TDrop kind = DropKind(drop->mimeData(), pos, fileName);
    if (event->type() == QEvent::DragEnter) {
        // Taken while any place of the window could take it: the moves that follow decide by
        // place, and the cursor shows it.
        const bool anywhere =
            kind != TDrop::Refused ||
            DropKind(drop->mimeData(), Panel1->geometry().center(), fileName) != TDrop::Refused;
        drop->setAccepted(anywhere);
        if (anywhere) drop->acceptProposedAction();
        return;
    }
    if (kind == TDrop::Refused) {
        drop->ignore();
        return;
    }
    drop->acceptProposedAction();
    if (event->type() != QEvent::Drop) return;
    // After the drop has ended: the dragging program waits for its answer, and a message box
    // of the open would keep it waiting.
    QTimer::singleShot(0, this, [this, kind, fileName] {
        RunGuarded([&] {
            if (kind == TDrop::Mp3)
                OpenFileFromOutside(fileName);
            else if (btnSelPic->isEnabled()) { // the row may have changed meanwhile
                SelectPictureFile(fileName);
                RememberFolder(OpenPictureDialog1.FolderKey, fileName);
            }
        });
    });
}

void TFrmEditText::dragEnterEvent(QDragEnterEvent* event) {
    HandleDrag(event, event->position().toPoint());
}

void TFrmEditText::dragMoveEvent(QDragMoveEvent* event) {
    HandleDrag(event, event->position().toPoint());
}

void TFrmEditText::dropEvent(QDropEvent* event) {
    HandleDrag(event, event->position().toPoint());
}

bool TFrmEditText::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QDialog::eventFilter(watched, event);
    auto* drop = static_cast<QDropEvent*>(event);
    auto* widget = qobject_cast<QWidget*>(watched);
    // Text dragged into a control stays the control's business.
    if (!widget || !drop->mimeData() || !drop->mimeData()->hasUrls())
        return QDialog::eventFilter(watched, event);
    HandleDrag(event, widget->mapTo(this, drop->position().toPoint()));
    return true;
}
