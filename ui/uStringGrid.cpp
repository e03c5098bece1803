#include "uStringGrid.h"

#include "CodePage.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

constexpr int kBytesRole = Qt::UserRole;

// A cell shows one line: line breaks of a long text show as blanks.
QString CellDisplay(const std::string& cp936) {
    QString text = QString::fromStdString(platform::Cp936ToUtf8(cp936));
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

// Cells draw their text the way a string grid does: two pixels from the left edge, cut off at
// the right edge rather than shortened with an ellipsis, so that a four-letter id fits the
// narrow id column.
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
        const QRect area = cell.rect.adjusted(2, 0, -1, 0);
        painter->save();
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
    const int current = Row();
    setRowCount(rows - 1);
    // Qt leaves a removed current row without a successor of its choosing; the grid's rule is
    // the last remaining row.
    SetRow(std::min(current, rows - 1));
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
    return row < 0 ? 1 : row + 1;
}

void TStringGrid::SetRow(int row) {
    if (row < 1 || row >= RowCount()) return;
    setCurrentCell(row - 1, columnCount() > 1 ? 1 : 0);
    SelectCurrentRow();
}

void TStringGrid::SelectCurrentRow() {
    if (currentRow() < 0) return;
    selectionModel()->select(currentIndex(),
                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TStringGrid::SetColumnWidth(int column, int width) {
    setColumnWidth(column, width);
}

void TStringGrid::mousePressEvent(QMouseEvent* event) {
    QTableWidget::mousePressEvent(event);
    if (indexAt(event->position().toPoint()).isValid()) {
        SelectCurrentRow();
        emit Click();
    }
}

void TStringGrid::keyPressEvent(QKeyEvent* event) {
    const int before = currentRow();
    QTableWidget::keyPressEvent(event);
    if (currentRow() != before) emit Click();
}

void ClearGridRows(TStringGrid& grid) {
    for (int row = 1; row < grid.RowCount(); ++row)
        for (int column = 0; column < grid.columnCount(); ++column)
            grid.SetCells(column, row, {});
    grid.SetRowCount(2);
}
