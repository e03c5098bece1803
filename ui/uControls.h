// The window's controls where Qt's own widgets lack a piece of what the window needs: glyph
// buttons with a fixed glyph place, bevelled panels, an image that shows its picture unscaled,
// a memo that takes and gives code page 936 text, the upper-case sorted id box and an edit box
// with a double-click event.
#pragma once

#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <string>

inline constexpr int kGlyphSize = 16;

// A button with a 16 x 16 glyph left of its caption: the glyph drawn for the button's name, greyed
// while the button is disabled. Speed buttons never take the focus.
class TGlyphButton : public QPushButton {
    Q_OBJECT
  public:
    enum class TGlyphPlace {
        LeftEdge, // glyph at the left edge, the caption `Spacing` pixels after it
        Centred,  // glyph and caption centred together, `Spacing` pixels apart
    };
    TGlyphButton(const char* name, const QString& caption, TGlyphPlace place, int spacing,
                 bool speedButton, QWidget* parent);
    TGlyphPlace GlyphPlace() const { return place_; }
    int Spacing() const { return spacing_; }
    // Where paintEvent puts the glyph (its left edge, in the button's coordinates).
    int GlyphLeft() const;
    // The room paintEvent leaves between glyph and caption: `Spacing`, less in a centred button
    // whose caption would otherwise run over its edges (a wide font).
    int CaptionGap() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    TGlyphPlace place_;
    int spacing_;
};

// A group box drawn the classic way: an etched frame with its caption on the top line.
class TGroupBox : public QGroupBox {
    Q_OBJECT
  public:
    TGroupBox(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {}

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A panel with up to two bevels, a face colour and an optional centred caption; it can report
// double clicks.
class TBevelPanel : public QFrame {
    Q_OBJECT
  public:
    enum class TBevel { None, Lowered, Raised };
    TBevelPanel(TBevel outer, TBevel inner, QWidget* parent);
    void SetCaption(const QString& caption);
    QString Caption() const { return caption_; }
    // The face colour (the panel's background).
    void SetColor(const QColor& color);
    QColor Color() const;
    int BevelWidth() const;

  signals:
    void DblClick();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    TBevel outer_;
    TBevel inner_;
    QString caption_;
};

// An image control: shows its picture at natural size from its top-left corner, never scaled;
// what lies beyond its own size is cut off. Reports the mouse in its own coordinates.
class TImage : public QWidget {
    Q_OBJECT
  public:
    explicit TImage(QWidget* parent);
    void SetPicture(const QImage& picture);
    const QImage& Picture() const { return picture_; }

  signals:
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void MouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void DblClick();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    QImage picture_;
};

// The memo. Its text crosses to and from code page 936 here; lines are separated by CR LF in
// the byte form. Changed() fires whenever the text changes, by the user or by the program, and
// not when the program sets the text it already holds.
class TMemo : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit TMemo(QWidget* parent);
    // Replaces the text with code page 936 bytes.
    void SetText(const std::string& cp936);
    // Replaces the text with a text that may hold characters code page 936 cannot.
    void SetShownText(const QString& text);
    // Adds one line at the end.
    void AddLine(const std::string& cp936);
    void Clear();
    // The whole text in code page 936, lines joined by CR LF. False when a character of the text
    // has no code page 936 form.
    bool Text(std::string& cp936) const;

  signals:
    void Changed();

  private:
    QString text_; // the text as last reported, so that setting the same text is no change
};

// The new-frame id box: an editable combo box whose typed letters become upper case and whose
// list stays sorted (letter case ignored).
class TNewTagBox : public QComboBox {
    Q_OBJECT
  public:
    explicit TNewTagBox(QWidget* parent);
    // Inserts an item at its sorted place.
    void AddSorted(const QString& item);
    // Replaces the list with `items` in the order AddSorted would give them, in one change of
    // the list rather than one per item.
    void SetSortedItems(QStringList items);
};

// The file-name box: read-only (its text can be selected, not changed), with a double-click
// event.
class TReadOnlyEdit : public QLineEdit {
    Q_OBJECT
  public:
    explicit TReadOnlyEdit(QWidget* parent);

  signals:
    void DblClick();

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};
