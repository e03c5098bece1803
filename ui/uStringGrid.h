// The tag grid as a string grid: rows numbered from 0 with row 0 the fixed header row, cells
// addressed by column and row, code page 936 text in every cell, one current row. Qt's table
// shows row 0 as its header and the other rows as its rows (grid row r is table row r - 1).
#pragma once

#include <QFont>
#include <QTableWidget>
#include <string>
#include <vector>

class TStringGrid : public QTableWidget {
    Q_OBJECT
  public:
    static constexpr int kRowHeight = 16;

    // `columns` columns, 2 rows (the header row and one data row).
    TStringGrid(int columns, QWidget* parent);

    // Rows including the header row; never less than 2.
    int RowCount() const { return rowCount() + 1; }
    // Shrinking moves a current row that is cut off onto the last remaining row; nothing fires.
    void SetRowCount(int rows);

    // The bytes of a cell, exactly as they were put there.
    std::string Cells(int column, int row) const;
    void SetCells(int column, int row, const std::string& cp936);
    // The bytes of a cell and, apart from them, what it shows (a text decoded from another
    // encoding than code page 936).
    void SetCells(int column, int row, const std::string& cp936, const QString& shown);

    // The current row, 1 .. RowCount() - 1: the one row drawn as selected. 0 when none is.
    int Row() const;
    // Column `column` of that row; empty when no row is selected.
    std::string SelectedCells(int column) const;
    // Makes `row` current without a Click.
    void SetRow(int row);

    void SetColumnWidth(int column, int width);
    // The font the cells of `column` are drawn in (the header keeps the grid's font), and the
    // width a cell of that column has for its text.
    void SetColumnFont(int column, const QFont& font);
    int TextRoom(int column) const;

  signals:
    // The user selected a row: a click, a drag across rows, a key, whatever moved the current
    // row, and also a click on the current row itself. The program's own moves give none.
    void Click();

  protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    void mousePressEvent(QMouseEvent* event) override;
    // Typed letters do not jump to a row.
    void keyboardSearch(const QString&) override {}

  private:
    void SelectCurrentRow();

    // Above 0 while the program moves the current row: no Click then.
    int programMoves_ = 0;
    std::vector<QFont> columnFonts_;
};

// Empties the data rows and shrinks the grid to its header row and one empty data row.
void ClearGridRows(TStringGrid& grid);
