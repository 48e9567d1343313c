#pragma once
// A port matrix as rows of '.' (free), 'V' (link) and 'X' (blocked), row 1 first: written out
// by a test, or read off a window's grid.
#include <QString>
#include <QStringList>

#include "model/portmodel.h"

// The rows of a matrix written out literally, one after another, apart by blanks.
inline QStringList Rows(const char* written) {
    return QString::fromLatin1(written).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// What a window's grid shows, data cells only; '?' for any other text. A template, so that the
// model's tests need no widget header.
template <class Grid>
QStringList GridMarks(const Grid* grid) {
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
