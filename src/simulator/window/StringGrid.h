#pragma once
// A grid of text cells addressed by (column, row), with a fixed header column 0
// and header row 0 that hold no text. Rows beyond those in use can be hidden;
// hidden cells keep their text.

#include <QTableWidget>

class StringGrid : public QTableWidget {
  Q_OBJECT
public:
  // columns and rows count the fixed column and row.
  StringGrid(int columns, int rows, QWidget* parent = nullptr);

  int ColCount() const { return columnCount() + 1; }
  int RowCount() const { return rowCount() + 1; }
  // Empty for the fixed cells and for cells outside the grid.
  QString Cells(int column, int row) const;
  // Ignored for the fixed cells and for cells outside the grid.
  void SetCells(int column, int row, const QString& text);

  // Shows rows 1 to visibleRows - 1 and hides the others.
  void SetVisibleRows(int visibleRows);
  int VisibleRows() const;
  // Sets every cell to width × height pixels, the fixed ones included.
  void SetCellSize(int width, int height);
  // The frame size that shows all visible rows without a scroll bar.
  QSize FullSize() const;
};
