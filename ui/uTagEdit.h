// The editor's one window. Left, the tag panel: the grid of ID3v2 frames, the memo and the tag
// commands. Right, the picture panel: preview, zoom, pan and embedding. Every control carries its
// layout name as object name. The window holds no tag data: it shows the global tag objects and
// takes the current file's path from edFn at every step.
#pragma once

#include "CodePage.h"

#include <optional>

#include "TPreview.h"
#include "uDialogs.h"

#include <QDialog>
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMimeData;
class QPushButton;
class QRadioButton;
class TBevelPanel;
class TGlyphButton;
class TImage;
class TMemo;
class TNewTagBox;
class TReadOnlyEdit;
class TStringGrid;
class TWriterLock;

// Texts of the window that more than one handler uses.
inline constexpr const char* kCaption = " MP3[ID3v2]通用标签编辑器";
inline constexpr const char* kFilePrompt = "←请选择一个MP3文件";
inline constexpr const char* kApplicationTitle = "MP3标签编辑器";

class TFrmEditText : public QDialog {
    Q_OBJECT
  public:
    // The window's fixed size in pixels.
    static constexpr int kWidth = 760;
    static constexpr int kHeight = 562;

    explicit TFrmEditText(QWidget* parent = nullptr);
    ~TFrmEditText() override;

    // ---- controls: top level
    TGlyphButton* btnOpen;
    TReadOnlyEdit* edFn;
    TImage* imgInvisible;
    QGroupBox* GroupBox2;
    TBevelPanel* Panel1;
    // ---- inside GroupBox2, the tag panel
    QLabel* Label1;
    QLabel* lblID3Status;
    QCheckBox* chkDelID3v1;
    QCheckBox* chkDelAPEv2;
    TStringGrid* sg;
    TGlyphButton* btnID3Update;
    TGlyphButton* btnReLoad;
    QLabel* lblComment;
    TMemo* edComm;
    TGlyphButton* btnAddTag;
    TNewTagBox* edNewTag;
    QPushButton* btnShowID3v1Tag;
    QPushButton* btnShowAPEv2Tag;
    TGlyphButton* btnID3Kill;
    TGlyphButton* btnDelAllTag;
    QCheckBox* chkBackFile;
    // ---- inside Panel1, the picture panel
    TGlyphButton* btnSelPic;
    TGlyphButton* btnInputPic;
    QRadioButton* rbStretch;
    QRadioButton* rbScale;
    QLabel* Label2;
    QLabel* lbSize;
    TBevelPanel* plColor;
    QCheckBox* chkCenter;
    TGlyphButton* btnZoomBig;
    TGlyphButton* btnZoomSmall;
    QLabel* Label3;
    QComboBox* cbPicType;
    QLabel* Label4;
    QLineEdit* edPicInfo;
    TBevelPanel* Panel2;
    TBevelPanel* plPic;
    TImage* Image;
    // ---- dialogs
    TOpenDialog OpenDialog1;
    TOpenDialog OpenPictureDialog1;
    TColorDialog ColorDialog1;

    // The preview of the picture panel: the prepared picture (what imgInvisible holds), the
    // preview's place, size and picture (what Image shows), the view box ViewWidth x ViewHeight,
    // the natural size PictureWidth x PictureHeight of the picture chosen last, and the drag.
    TPreview Preview;

    // ---- creation and states
    void FormCreate();
    void EnableTagControls(bool enable);

    // ---- tag list and tag commands
    void LoadTags();
    void ShowFrameList();
    void ShowCommandResult();
    void btnOpenClick();
    void btnReLoadClick();
    void sgClick();
    void edCommChange();
    void btnID3UpdateClick();
    void btnAddTagClick();
    void btnID3KillClick();
    void btnDelAllTagClick();
    void btnShowID3v1TagClick();
    void btnShowAPEv2TagClick();
    void edFnDblClick();
    // ---- code page of the legacy texts: the grid's context menu "文字编码" and
    // "全部转换为Unicode"
    void sgContextMenu(const QPoint& pos);
    // Shows the open file's legacy texts in `cp`; nothing, 自动识别, the detected one.
    void ChooseCodePage(std::optional<platform::TCodePage> cp);
    void ConvertAllToUnicode();
    // ---- the grid's context menu "从文件名填写标签...": the tags from the open file's name
    void FillFromFileName();
    // Gives the open file the fields of its name (frame id, UTF-8 text) by the update's writing
    // rule, in one rewrite; the backup follows chkBackFile.
    void WriteFieldsFromName(const std::vector<std::pair<std::string, std::string>>& fields);
    // Opens `chosen` as btnOpenClick does with a name chosen in its dialog; false when no such
    // file exists, and nothing changes then.
    bool OpenFile(const QString& chosen);
    // Opens a file named from outside the window (the command line, a drop): as OpenFile, and a
    // file that is missing is reported as the open command reports one it cannot read.
    void OpenFileFromOutside(const QString& name);

    // ---- picture preview
    void DrawPicture();
    void btnSelPicClick();
    // Makes `fileName` the chosen picture, as btnSelPicClick does with its dialog's choice.
    void SelectPictureFile(const QString& fileName);
    void rbStretchClick();
    void rbScaleClick();
    void btnZoomBigClick();
    void btnZoomSmallClick();
    void ImageMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void ImageMouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void ImageMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void ImageDblClick();
    void plPicDblClick();
    void plColorDblClick();
    // ---- picture embedding
    void btnInputPicClick();
    void SaveCustomPicture();
    void SaveAttachedPicture(int index, int pictureType);
    // ---- embedded picture display
    void ShowCustomPicture();
    void ShowAttachedPicture(int row);

    // The current file: the bytes of the path edFn shows, as the file system spells it.
    std::string FilePath() const;
    // Takes the current file's writer lock for a command that changes it. While another program
    // writes the file the window keeps working: a busy cursor, and after a moment a cancel. False
    // when the lock was not had: a timeout shows the file-in-use message, a cancel nothing, and
    // a refusal of the system ends the command with its reason.
    bool LockForCommand(std::optional<TWriterLock>& lock);
    // How long a command waits for another program's writer.
    std::chrono::milliseconds LockWait = std::chrono::seconds(10);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // Files dropped on the window: an MP3 anywhere, a picture on the picture panel.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Centre();
    void CreateControls();
    void CreateTagPanel();
    void CreatePicturePanel();
    void SetFocusOrder();
    void WireEvents();
    // Makes Image show the preview: its place, size and picture.
    void ShowPreview();
    // Makes imgInvisible hold the prepared picture.
    void ShowPrepared();
    // Takes file drops on the window and on the controls that take text drops of their own.
    void AcceptFileDrops();
    // What a drop of `mime` at `pos` (window coordinates) would do.
    enum class TDrop { Refused, Mp3, Picture };
    TDrop DropKind(const QMimeData* mime, QPoint pos, QString& fileName) const;
    void HandleDrag(QEvent* event, QPoint pos);

    bool centred_ = false;
    // The code page the user chose for the open file; none while 自动识别.
    std::optional<platform::TCodePage> codePage_;
    // Decides the code page of the tags as read and tells it in the tooltips of the grid and
    // the status line.
    void JudgeCodePage();
};

// Opens the file named on the command line (`arguments` as QCoreApplication gives them: the
// program, then its arguments) once the event loop runs, as a drop would. Only the first file
// counts; "--" ends the options, so that a name may begin with a dash.
void OpenFromCommandLine(TFrmEditText& window, const QStringList& arguments);
