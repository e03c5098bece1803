// The window's dialogs and message boxes, behind one seam: by default they are Qt's modal
// dialogs; tests replace the hooks to choose files and colours and to read every message.
#pragma once

#include <QColor>
#include <QString>
#include <functional>
#include <string>

class QWidget;

// File names as the window carries them in a QString: the bytes of a name that is not UTF-8
// (GBK names from Windows archives) each stand as one code unit U+DC80..U+DCFF, so that the name
// comes back byte for byte. Qt's own conversion puts U+FFFD there and loses the name.
QString FileNameFromBytes(const std::string& bytes);
std::string FileNameBytes(const QString& name);
// A name to show: parts of it that are not UTF-8 read as code page 936.
QString ShownFileName(const std::string& bytes);

// A file-open dialog. `Filter` has the form "description|pattern;pattern|description|...".
class TOpenDialog {
  public:
    QString Filter;
    QString FileName; // the chosen file after a confirmed Execute
    // The folder the dialog starts in; empty for the current folder. With `FolderKey` set,
    // Execute starts in the folder stored under that key and stores the chosen file's folder.
    QString InitialDir;
    QString FolderKey;
    // Shows the dialog; false when the user cancels.
    bool Execute(QWidget* parent);

  private:
    bool ExecuteDialog(QWidget* parent);
};

// A colour dialog that opens with the colour last chosen in it.
class TColorDialog {
  public:
    QColor Color = QColor(0, 0, 0);
    bool Execute(QWidget* parent);
};

// The folder of `fileName`, kept in the user's settings under `key` for the next run; and the
// folder kept there (empty when none is).
void RememberFolder(const QString& key, const QString& fileName);
QString RememberedFolder(const QString& key);
// A text kept in the user's settings under `key` (the pattern of the names), and the one kept.
void RememberText(const QString& key, const QString& text);
QString RememberedText(const QString& key);

// A modal message box with an OK button.
void MessageBoxOk(const QString& text);

// Makes the engines' messages (ShowMessage) appear in message boxes.
void ShowEngineMessagesInBoxes();

// The hooks. Each returns what the user did; an empty hook means Qt's own dialog.
struct TDialogHooks {
    // Gets the dialog and fills in FileName; false for a cancel.
    std::function<bool(TOpenDialog& dialog)> OpenFile;
    std::function<bool(TColorDialog& dialog)> ChooseColor;
    std::function<void(const QString& text)> Message;
};
TDialogHooks& DialogHooks();

// Qt's form of a filter: "*.MP3|*.MP3" -> "*.MP3 (*.MP3)".
QString QtFileFilter(const QString& filter);
