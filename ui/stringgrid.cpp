#include "ui/stringgrid.h"

#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

class CellDelegate : public QStyledItemDelegate {
  public:
    explicit CellDelegate(StringGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const int column = index.column();
        const int row = index.row();
        const bool fixed = column == 0 || row == 0;
        const QPalette& pal = option.palette;
        painter->save();
        if (fixed) {
            painter->fillRect(option.rect, pal.color(QPalette::Button));
            painter->setPen(pal.color(QPalette::Mid));
            painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
            painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
        } else {
            const bool selected = option.state & QStyle::State_Selected;
            painter->fillRect(
                option.rect, selected ? pal.color(QPalette::Highlight) : pal.color(QPalette::Base));
        }
        const StringGrid::CellLook look = grid_->cellLook(column, row);
        QFont font = option.font;
        if (look.bold)
            font.setBold(true);
        painter->setFont(font);
        QColor color = look.color.isValid() ? look.color : pal.color(QPalette::WindowText);
        if (!fixed && (option.state & QStyle::State_Selected) && !look.color.isValid())
            color = pal.color(QPalette::HighlightedText);
        painter->setPen(color);
        painter->setClipRect(option.rect);
        const QRect textRect =
            option.rect.adjusted(StringGrid::kTextInset, StringGrid::kTextInset, 0, 0);
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }

  private:
    StringGrid* grid_;
};

}  // namespace

StringGrid::StringGrid(const QString& name, int columns, int rows, QWidget* parent)
    : QTableWidget(rows, columns, parent) {
    setObjectName(name);
    // Cells are sized in whole pixels per column; the tables' texts are set a point smaller than
    // the controls so that every heading and port name fits its column.
    QFont small = font();
    small.setPointSize(kFontPointSize);
    setFont(small);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setMinimumSectionSize(1);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new CellDelegate(this));
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            auto* item = new QTableWidgetItem();
            if (r == 0 || c == 0)
                item->setFlags(Qt::ItemIsEnabled);
            setItem(r, c, item);
        }
    }
    if (rows > 1 && columns > 1)
        setCurrentCell(1, 1);
}

QString StringGrid::cellText(int column, int row) const {
    const QTableWidgetItem* it = item(row, column);
    return it ? it->text() : QString();
}

void StringGrid::setCellText(int column, int row, const QString& text) {
    QTableWidgetItem* it = item(row, column);
    if (!it)
        return;
    it->setText(text);
    if (batching_)
        batchCells_ |= QRect(column, row, 1, 1);
}

void StringGrid::beginBatch() {
    batching_ = true;
    batchCells_ = QRect();
    model()->blockSignals(true);
}

void StringGrid::endBatch() {
    if (!batching_)
        return;
    batching_ = false;
    model()->blockSignals(false);
    if (batchCells_.isEmpty())
        return;
    emit model()->dataChanged(model()->index(batchCells_.top(), batchCells_.left()),
                              model()->index(batchCells_.bottom(), batchCells_.right()));
}

void StringGrid::setColumnWidths(const QList<int>& widths) {
    for (int c = 0; c < widths.size() && c < columnCount(); ++c)
        setColumnWidth(c, widths[c]);
}

void StringGrid::setUniformSizes(int columnWidth, int rowHeight) {
    for (int c = 0; c < columnCount(); ++c)
        setColumnWidth(c, columnWidth);
    for (int r = 0; r < rowCount(); ++r)
        setRowHeight(r, rowHeight);
}

void StringGrid::setCellLook(std::function<CellLook(int, int, const QString&)> look) {
    look_ = std::move(look);
    viewport()->update();
}

StringGrid::CellLook StringGrid::cellLook(int column, int row) const {
    return look_ ? look_(column, row, cellText(column, row)) : CellLook{};
}

QSize StringGrid::wholeSize() const {
    int width = 0;
    for (int c = 0; c < columnCount(); ++c)
        width += columnWidth(c);
    int height = 0;
    for (int r = 0; r < rowCount(); ++r)
        height += rowHeight(r);
    const int frame = 2 * frameWidth();
    return {width + frame, height + frame};
}
