#include "simulator/window/StringGrid.h"

#include <QHeaderView>
#include <QScrollBar>

StringGrid::StringGrid(int columns, int rows, QWidget* parent) : QTableWidget(rows - 1, columns - 1, parent) {
  // The fixed row and column are the table's own headers, left without text.
  QStringList empty;
  for (int c = 1; c < columns; ++c) empty << QString();
  setHorizontalHeaderLabels(empty);
  empty.clear();
  for (int r = 1; r < rows; ++r) empty << QString();
  setVerticalHeaderLabels(empty);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setHighlightSections(false);
  verticalHeader()->setHighlightSections(false);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setWordWrap(false);
  // The corner is a fixed cell like the others, edged like the headers.
  setCornerButtonEnabled(false);
  setStyleSheet(
      QStringLiteral("QTableCornerButton::section { background: palette(button);"
                     " border: none; border-right: 1px solid palette(mid);"
                     " border-bottom: 1px solid palette(mid); }"));
  // Disabled, the grid is a display: its text stays readable.
  QPalette p = palette();
  for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
    p.setColor(QPalette::Disabled, role, p.color(QPalette::Active, role));
  setPalette(p);
}

QString StringGrid::Cells(int column, int row) const {
  if (column < 1 || row < 1) return QString();
  const QTableWidgetItem* cell = item(row - 1, column - 1);
  return cell ? cell->text() : QString();
}

void StringGrid::SetCells(int column, int row, const QString& text) {
  if (column < 1 || row < 1 || column > columnCount() || row > rowCount()) return;
  QTableWidgetItem* cell = item(row - 1, column - 1);
  if (!cell) {
    if (text.isEmpty()) return;
    setItem(row - 1, column - 1, new QTableWidgetItem(text));
  } else if (cell->text() != text) {
    cell->setText(text);
  }
}

void StringGrid::SetVisibleRows(int visibleRows) {
  for (int r = 0; r < rowCount(); ++r) {
    const bool hide = r + 1 >= visibleRows;
    if (isRowHidden(r) != hide) setRowHidden(r, hide);
  }
}

int StringGrid::VisibleRows() const {
  int n = 1;
  for (int r = 0; r < rowCount(); ++r)
    if (!isRowHidden(r)) ++n;
  return n;
}

void StringGrid::SetCellSize(int width, int height) {
  horizontalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setMinimumSectionSize(1);
  horizontalHeader()->setDefaultSectionSize(width);
  verticalHeader()->setDefaultSectionSize(height);
  horizontalHeader()->setFixedHeight(height);
  verticalHeader()->setFixedWidth(width);
}

QSize StringGrid::FullSize() const {
  const int frame = 2 * frameWidth();
  const int w = verticalHeader()->width() + columnCount() * horizontalHeader()->defaultSectionSize() + frame;
  const int h = horizontalHeader()->height() + (VisibleRows() - 1) * verticalHeader()->defaultSectionSize() + frame;
  return QSize(w, h);
}
