#include "model/statcolumns.h"

#include <QRegularExpression>

#include "model/statmodel.h"

namespace {

// "SortLost(1)" → counter "sortlost", path "1"; "TxPLIS" → "txplis", no path.
void SplitHeading(const QString& heading, QString& counter, QString& path) {
    static const QRegularExpression withPath(QStringLiteral("^(\\w+)\\((\\d)\\)$"));
    const auto m = withPath.match(heading);
    counter = (m.hasMatch() ? m.captured(1) : heading).toLower();
    path = m.hasMatch() ? m.captured(2) : QString();
}

std::vector<StatColumn> MakeColumns() {
    std::vector<StatColumn> columns;
    for (int r = 1; r < StatTable::SessionRows; ++r) {
        const QStringList row = kSessionRowHeadings[r - 1].toLower().split(QLatin1Char(' '));
        for (int c = 1; c < StatTable::SessionColumns; ++c) {
            StatColumn col;
            col.session = row[0].mid(1);
            col.section = row[1];
            SplitHeading(kSessionColumnHeadings[c - 1], col.counter, col.path);
            col.column = c;
            col.row = r;
            col.name = row[0] + QLatin1Char('_') + col.section + QLatin1Char('_') + col.counter +
                       (col.path.isEmpty() ? QString() : QLatin1Char('_') + col.path);
            columns.push_back(col);
        }
    }
    for (int r = 1; r < StatTable::TotalsRows; ++r) {
        for (int c = 1; c < StatTable::TotalsColumns; ++c) {
            StatColumn col;
            col.total = true;
            col.section = r == 1 ? QStringLiteral("local") : QStringLiteral("transit");
            SplitHeading(kTotalsColumnHeadings[c - 1], col.counter, col.path);
            col.column = c;
            col.row = r;
            col.name = kTotalsRowHeadings[r - 1].toLower() + QLatin1Char('_') + col.counter +
                       (col.path.isEmpty() ? QString() : QLatin1Char('_') + col.path);
            columns.push_back(col);
        }
    }
    return columns;
}

}  // namespace

const std::vector<StatColumn>& StatColumns() {
    static const std::vector<StatColumn> columns = MakeColumns();
    return columns;
}

uint16_t StatColumnValue(const StatisticsBlock& block, const StatColumn& column) {
    return column.total ? TotalsCellValue(block, column.column, column.row)
                        : SessionCellValue(block, column.column, column.row);
}
