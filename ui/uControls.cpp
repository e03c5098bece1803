#include "uControls.h"

#include "CodePage.h"
#include "uGlyphArt.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QValidator>
#include <algorithm>

// ---- TGlyphButton

namespace {

// The glyph of a left-edge button sits clear of the button's frame.
constexpr int kGlyphMargin = 4;
// A centred glyph and caption keep off the two-pixel raised edge of the face.
constexpr int kFaceEdge = 2;

} // namespace

TGlyphButton::TGlyphButton(const char* name, const QString& caption, TGlyphPlace place, int spacing,
                           bool speedButton, QWidget* parent)
    : QPushButton(caption, parent), place_(place), spacing_(spacing) {
    setObjectName(name);
    setIcon(GlyphIcon(QString::fromLatin1(name)));
    setIconSize(QSize(kGlyphSize, kGlyphSize));
    // In a dialog Qt would make buttons the target of the Enter key; these never are.
    setAutoDefault(false);
    setDefault(false);
    if (speedButton) setFocusPolicy(Qt::NoFocus);
}

int TGlyphButton::CaptionGap() const {
    if (place_ == TGlyphPlace::LeftEdge || text().isEmpty()) return spacing_;
    const int spare =
        width() - 2 * kFaceEdge - kGlyphSize - fontMetrics().horizontalAdvance(text());
    return std::clamp(spare, 1, spacing_);
}

int TGlyphButton::GlyphLeft() const {
    if (place_ == TGlyphPlace::LeftEdge) return kGlyphMargin;
    const int captionWidth =
        text().isEmpty() ? 0 : CaptionGap() + fontMetrics().horizontalAdvance(text());
    return (width() - kGlyphSize - captionWidth) / 2;
}

void TGlyphButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButtonBevel, option);

    // A pressed button shows its face one pixel down and right.
    const int shift = isDown() || isChecked() ? 1 : 0;
    const int left = GlyphLeft() + shift;
    const int top = (height() - kGlyphSize) / 2 + shift;
    const QPixmap glyph =
        icon().pixmap(QSize(kGlyphSize, kGlyphSize), isEnabled() ? QIcon::Normal : QIcon::Disabled);
    painter.drawPixmap(left, top, glyph);
    if (text().isEmpty()) return;
    const QRect captionRect(left + kGlyphSize + CaptionGap(), shift, width() - left - kGlyphSize,
                            height());
    style()->drawItemText(&painter, captionRect, Qt::AlignLeft | Qt::AlignVCenter, palette(),
                          isEnabled(), text(), QPalette::ButtonText);
}

// ---- TGroupBox

void TGroupBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    const int top = metrics.height() / 2;
    const QRect frame(0, top, width() - 2, height() - top - 2);
    painter.setPen(QColor(128, 128, 128));
    painter.drawRect(frame);
    painter.setPen(QColor(255, 255, 255));
    painter.drawRect(frame.translated(1, 1));
    if (title().isEmpty()) return;
    const QRect caption(8, 0, metrics.horizontalAdvance(title()), metrics.height());
    painter.fillRect(caption, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(caption, Qt::AlignLeft | Qt::AlignVCenter, title());
}

// ---- TBevelPanel

TBevelPanel::TBevelPanel(TBevel outer, TBevel inner, QWidget* parent)
    : QFrame(parent), outer_(outer), inner_(inner) {
    setAutoFillBackground(true);
}

void TBevelPanel::SetCaption(const QString& caption) {
    caption_ = caption;
    update();
}

void TBevelPanel::SetColor(const QColor& color) {
    QPalette p = palette();
    p.setColor(QPalette::Window, color);
    setPalette(p);
}

QColor TBevelPanel::Color() const {
    return palette().color(QPalette::Window);
}

int TBevelPanel::BevelWidth() const {
    return (outer_ != TBevel::None ? 1 : 0) + (inner_ != TBevel::None ? 1 : 0);
}

namespace {

void DrawBevel(QPainter& painter, const QRect& r, TBevelPanel::TBevel bevel) {
    const QColor light(255, 255, 255);
    const QColor shadow(128, 128, 128);
    const bool raised = bevel == TBevelPanel::TBevel::Raised;
    painter.setPen(raised ? light : shadow);
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(raised ? shadow : light);
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
}

} // namespace

void TBevelPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QRect r = rect();
    if (outer_ != TBevel::None) {
        DrawBevel(painter, r, outer_);
        r.adjust(1, 1, -1, -1);
    }
    if (inner_ != TBevel::None) DrawBevel(painter, r, inner_);
    if (!caption_.isEmpty()) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect(), Qt::AlignCenter, caption_);
    }
}

void TBevelPanel::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    emit DblClick();
}

// ---- TImage

TImage::TImage(QWidget* parent) : QWidget(parent) {}

void TImage::SetPicture(const QImage& picture) {
    picture_ = picture;
    update();
}

void TImage::paintEvent(QPaintEvent*) {
    if (picture_.isNull()) return;
    QPainter painter(this);
    painter.drawImage(0, 0, picture_);
}

void TImage::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    emit MouseDown(event->button(), event->modifiers(), at.x(), at.y());
}

void TImage::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    emit MouseMove(event->modifiers(), at.x(), at.y());
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    emit MouseUp(event->button(), event->modifiers(), at.x(), at.y());
}

void TImage::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    emit DblClick();
}

// ---- TMemo

namespace {

QString FromCp936(const std::string& bytes) {
    return QString::fromStdString(platform::Cp936ToUtf8(bytes));
}

// The memo keeps lines apart with '\n' only; CR LF and a lone CR both end a line.
QString MemoLines(const std::string& cp936) {
    QString text = FromCp936(cp936);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace

TMemo::TMemo(QWidget* parent) : QPlainTextEdit(parent) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Tab moves on to the next control; the memo's texts are tag values, not indented code.
    setTabChangesFocus(true);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        QString now = toPlainText();
        if (now == text_) return;
        text_ = std::move(now);
        emit Changed();
    });
}

void TMemo::SetText(const std::string& cp936) {
    const QString text = MemoLines(cp936);
    if (text == toPlainText()) return;
    setPlainText(text);
}

void TMemo::SetShownText(const QString& text) {
    if (text == toPlainText()) return;
    setPlainText(text);
}

void TMemo::AddLine(const std::string& cp936) {
    appendPlainText(MemoLines(cp936));
}

void TMemo::Clear() {
    if (!toPlainText().isEmpty()) clear();
}

bool TMemo::Text(std::string& cp936) const {
    QString text = toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return platform::Utf8ToCp936(text.toStdString(), cp936);
}

// ---- TNewTagBox

namespace {

class TUpperCaseValidator : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        return Acceptable;
    }
};

} // namespace

TNewTagBox::TNewTagBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    // Enter must not add the typed id to the list.
    setInsertPolicy(QComboBox::NoInsert);
    lineEdit()->setValidator(new TUpperCaseValidator(this));
}

namespace {

bool SortsBefore(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
}

} // namespace

void TNewTagBox::AddSorted(const QString& item) {
    int at = 0;
    while (at < count() && !SortsBefore(item, itemText(at)))
        ++at;
    insertItem(at, item);
}

void TNewTagBox::SetSortedItems(QStringList items) {
    std::stable_sort(items.begin(), items.end(), SortsBefore);
    clear();
    addItems(items);
}

// ---- TReadOnlyEdit

TReadOnlyEdit::TReadOnlyEdit(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
}

void TReadOnlyEdit::mouseDoubleClickEvent(QMouseEvent* event) {
    QLineEdit::mouseDoubleClickEvent(event);
    emit DblClick();
}
