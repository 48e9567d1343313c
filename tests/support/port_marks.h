#pragma once
// What a port matrix should show, as rows of '.' (free), 'V' (link) and 'X' (blocked), row 1
// first, built up line by line.
#include <QString>
#include <QStringList>

#include "model/portmodel.h"
#include "ui/stringgrid.h"

class ExpectMarks {
  public:
    explicit ExpectMarks(int lines) : rows_(lines, QString(lines, QLatin1Char('.'))) {}
    ExpectMarks& blockRow(int r) {
        for (QChar& ch : rows_[r - 1])
            ch = QLatin1Char('X');
        return *this;
    }
    ExpectMarks& blockColumn(int c) {
        for (QString& row : rows_)
            row[c - 1] = QLatin1Char('X');
        return *this;
    }
    // A link, with the free cells of its row and column blocked.
    ExpectMarks& link(int c, int r) {
        for (int a = 0; a < rows_.size(); ++a) {
            if (rows_[r - 1][a] == QLatin1Char('.'))
                rows_[r - 1][a] = QLatin1Char('X');
            if (rows_[a][c - 1] == QLatin1Char('.'))
                rows_[a][c - 1] = QLatin1Char('X');
        }
        rows_[r - 1][c - 1] = QLatin1Char('V');
        return *this;
    }
    ExpectMarks& cell(int c, int r, char mark) {
        rows_[r - 1][c - 1] = QLatin1Char(mark);
        return *this;
    }
    operator QStringList() const { return rows_; }

  private:
    QStringList rows_;
};

// What a port matrix shows, in the same notation; '?' for any other text.
inline QStringList GridMarks(const StringGrid* grid) {
    QStringList rows;
    for (int r = 1; r < grid->rowCount(); ++r) {
        QString row;
        for (int c = 1; c < grid->columnCount(); ++c) {
            const QString text = grid->cellText(c, r);
            row += text == LinkMark ? 'V' : text == BlockMark ? 'X' : text.isEmpty() ? '.' : '?';
        }
        rows << row;
    }
    return rows;
}
