// The tag grid as a string grid: rows numbered from 0 with row 0 the fixed header row, cells
// addressed by column and row, code page 936 text in every cell, one current row. Qt's table
// shows row 0 as its header and the other rows as its rows (grid row r is table row r - 1).
#pragma once

#include <QTableWidget>
#include <string>

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

    // The current row, 1 .. RowCount() - 1.
    int Row() const;
    // Makes `row` current without a Click.
    void SetRow(int row);

    void SetColumnWidth(int column, int width);

  signals:
    // The user selected a row with the mouse or moved the current row with the keyboard.
    void Click();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void SelectCurrentRow();
};

// Empties the data rows and shrinks the grid to its header row and one empty data row.
void ClearGridRows(TStringGrid& grid);
