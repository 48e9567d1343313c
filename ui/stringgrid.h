#pragma once
// A grid of texts whose heading row and heading column are ordinary cells (row 0, column 0)
// drawn as fixed headings. Cell (column c, row r) is item(r, c).
#include <QColor>
#include <QTableWidget>
#include <functional>

class StringGrid : public QTableWidget {
    Q_OBJECT
  public:
    StringGrid(const QString& name, int columns, int rows, QWidget* parent);

    QString cellText(int column, int row) const;
    void setCellText(int column, int row, const QString& text);
    void setColumnWidths(const QList<int>& widths);

    // Between these two, written cells are announced to the view as one change when the batch
    // ends, so that a table rewritten cell by cell is laid out and repainted once.
    void beginBatch();
    void endBatch();
    void setUniformSizes(int columnWidth, int rowHeight);

    struct CellLook {
        QColor color;  // invalid: the system's window-text colour
        bool bold = false;
    };
    // Owner drawing: chooses colour and weight of a cell's text.
    void setCellLook(std::function<CellLook(int column, int row, const QString& text)> look);
    CellLook cellLook(int column, int row) const;

    // Just large enough for every cell, so that no scroll bar appears.
    QSize wholeSize() const;

    static constexpr int kTextInset = 2;  // text drawn this far right of and below the corner
    static constexpr int kFontPointSize = 8;

  private:
    std::function<CellLook(int, int, const QString&)> look_;
    bool batching_ = false;
    QRect batchCells_;  // x column, y row; empty while nothing was written
};
