#include "uStringGrid.h"

#include "CodePage.h"

#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

constexpr int kBytesRole = Qt::UserRole;
// A cell's text starts two pixels in and stops one pixel short of the grid line.
constexpr int kTextLeft = 2;
constexpr int kTextRight = 1;

// A cell shows one line: line breaks of a long text show as blanks.
QString CellDisplay(const std::string& cp936) {
    QString text = QString::fromStdString(platform::Cp936ToUtf8(cp936));
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

// Cells draw their text the way a string grid does: two pixels from the left edge, cut off at
// the right edge rather than shortened with an ellipsis, in the font of their column.
class TCellDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        const QString text = cell.text;
        cell.text.clear();
        const QStyle* style = cell.widget ? cell.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, cell.widget);
        const QPalette::ColorGroup group =
            !(cell.state & QStyle::State_Enabled) ? QPalette::Disabled
            : (cell.state & QStyle::State_Active) ? QPalette::Active
                                                  : QPalette::Inactive;
        const QRect area = cell.rect.adjusted(kTextLeft, 0, -kTextRight, 0);
        painter->save();
        painter->setFont(cell.font);
        painter->setClipRect(area);
        painter->setPen(cell.palette.color(group, cell.state & QStyle::State_Selected
                                                      ? QPalette::HighlightedText
                                                      : QPalette::Text));
        painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        painter->restore();
    }
};

} // namespace

TStringGrid::TStringGrid(int columns, QWidget* parent) : QTableWidget(1, columns, parent) {
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(kRowHeight);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setFixedHeight(kRowHeight);
    horizontalHeader()->setMinimumSectionSize(1);
    for (int c = 0; c < columns; ++c)
        setHorizontalHeaderItem(c, new QTableWidgetItem);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setItemDelegate(new TCellDelegate(this));
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The current row stays marked while the focus is elsewhere: it is what the commands act on.
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight,
               p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText,
               p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);
    SetRow(1);
}

void TStringGrid::SetRowCount(int rows) {
    rows = std::max(rows, 2);
    ++programMoves_;
    const int current = currentRow() < 0 ? 1 : currentRow() + 1;
    setRowCount(rows - 1);
    // Qt leaves a removed current row without a successor of its choosing; the grid's rule is
    // the last remaining row.
    SetRow(std::min(current, rows - 1));
    --programMoves_;
}

std::string TStringGrid::Cells(int column, int row) const {
    const QTableWidgetItem* cell = row == 0 ? horizontalHeaderItem(column) : item(row - 1, column);
    if (!cell) return {};
    return cell->data(kBytesRole).toByteArray().toStdString();
}

void TStringGrid::SetCells(int column, int row, const std::string& cp936) {
    QTableWidgetItem* cell = row == 0 ? horizontalHeaderItem(column) : item(row - 1, column);
    if (!cell) {
        cell = new QTableWidgetItem;
        // Column 0 is the fixed column: it looks like the header.
        if (column == 0) cell->setBackground(palette().color(QPalette::Button));
        if (column < static_cast<int>(columnFonts_.size())) cell->setFont(columnFonts_[column]);
        setItem(row - 1, column, cell);
    }
    cell->setData(kBytesRole, QByteArray::fromStdString(cp936));
    cell->setText(CellDisplay(cp936));
}

void TStringGrid::SetCells(int column, int row, const std::string& cp936, const QString& shown) {
    SetCells(column, row, cp936);
    if (QTableWidgetItem* cell = row == 0 ? horizontalHeaderItem(column) : item(row - 1, column))
        cell->setText(shown);
}

int TStringGrid::Row() const {
    const int row = currentRow();
    return row >= 0 && selectionModel()->isRowSelected(row, {}) ? row + 1 : 0;
}

std::string TStringGrid::SelectedCells(int column) const {
    const int row = Row();
    return row > 0 ? Cells(column, row) : std::string();
}

void TStringGrid::SetRow(int row) {
    if (row < 1 || row >= RowCount()) return;
    ++programMoves_;
    setCurrentCell(row - 1, columnCount() > 1 ? 1 : 0);
    SelectCurrentRow();
    --programMoves_;
}

void TStringGrid::SelectCurrentRow() {
    if (currentRow() < 0) return;
    selectionModel()->select(currentIndex(),
                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TStringGrid::SetColumnWidth(int column, int width) {
    setColumnWidth(column, width);
}

void TStringGrid::SetColumnFont(int column, const QFont& font) {
    if (column >= static_cast<int>(columnFonts_.size()))
        columnFonts_.resize(column + 1, this->font());
    columnFonts_[column] = font;
    for (int row = 0; row < rowCount(); ++row)
        if (QTableWidgetItem* cell = item(row, column)) cell->setFont(font);
}

int TStringGrid::TextRoom(int column) const {
    return columnWidth(column) - (showGrid() ? 1 : 0) - kTextLeft - kTextRight;
}

// Every move of the current row passes here, whatever caused it: Qt's mouse press, drag, keys
// and auto-scroll all move it through the selection model.
void TStringGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableWidget::currentChanged(current, previous);
    SelectCurrentRow();
    if (programMoves_ == 0 && current.isValid() && current.row() != previous.row()) emit Click();
}

// The current row is always drawn as selected: a press on the empty area or Ctrl with a click
// must not take the mark off the row the commands act on.
void TStringGrid::selectionChanged(const QItemSelection& selected,
                                   const QItemSelection& deselected) {
    QTableWidget::selectionChanged(selected, deselected);
    if (programMoves_ == 0 && currentRow() >= 0 &&
        !selectionModel()->isRowSelected(currentRow(), {}))
        SelectCurrentRow();
}

QItemSelectionModel::SelectionFlags TStringGrid::selectionCommand(const QModelIndex& index,
                                                                  const QEvent* event) const {
    if (!index.isValid()) return QItemSelectionModel::NoUpdate;
    const QItemSelectionModel::SelectionFlags command =
        QTableWidget::selectionCommand(index, event);
    if (command & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))
        return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
    return command;
}

void TStringGrid::mousePressEvent(QMouseEvent* event) {
    const int before = currentRow();
    QTableWidget::mousePressEvent(event);
    // A press on the row that was current already moves nothing, yet it selects that row.
    const QModelIndex pressed = indexAt(event->position().toPoint());
    if (pressed.isValid() && pressed.row() == before) emit Click();
}

void ClearGridRows(TStringGrid& grid) {
    for (int row = 1; row < grid.RowCount(); ++row)
        for (int column = 0; column < grid.columnCount(); ++column)
            grid.SetCells(column, row, {});
    grid.SetRowCount(2);
}
