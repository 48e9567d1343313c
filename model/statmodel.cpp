#include "model/statmodel.h"

#include <QStringBuilder>

#include "model/bytes.h"

const QStringList kSessionRowHeadings = {
    QStringLiteral("S1 Local"),   QStringLiteral("S1 Transit"), QStringLiteral("S2 Local"),
    QStringLiteral("S2 Transit"), QStringLiteral("S3 Local"),   QStringLiteral("S3 Transit"),
    QStringLiteral("S4 Local"),   QStringLiteral("S4 Transit"), QStringLiteral("S5 Local"),
    QStringLiteral("S5 Transit"), QStringLiteral("S6 Local"),   QStringLiteral("S6 Transit")};
const QStringList kSessionColumnHeadings = {
    QStringLiteral("SortLost(1)"), QStringLiteral("Udf(1)"),      QStringLiteral("Reject(1)"),
    QStringLiteral("PIB(1)"),      QStringLiteral("SortLost(2)"), QStringLiteral("Udf(2)"),
    QStringLiteral("Reject(2)"),   QStringLiteral("PIB(2)")};
const QStringList kTotalsRowHeadings = {QStringLiteral("Loc"), QStringLiteral("Tr")};
const QStringList kTotalsColumnHeadings = {
    QStringLiteral("TxPLIS"), QStringLiteral("TxToNetwork(1)"), QStringLiteral("TxToPLIS"),
    QStringLiteral("RxPLIS"), QStringLiteral("TxToNetwork(2)")};

namespace {

struct ColumnCounters {
    int first;
    int second;  // -1: the column shows one counter
};

// Columns 1..8 of the session table; SortLost adds the two halves of a pair.
constexpr ColumnCounters kSessionColumnCounters[] = {
    {CounterIndex::SortLostLow1, CounterIndex::SortLostHigh1},
    {CounterIndex::Udf1, -1},
    {CounterIndex::Reject1, -1},
    {CounterIndex::Pib1, -1},
    {CounterIndex::SortLostLow2, CounterIndex::SortLostHigh2},
    {CounterIndex::Udf2, -1},
    {CounterIndex::Reject2, -1},
    {CounterIndex::Pib2, -1},
};

// Columns 1..5 of the totals table.
constexpr int kTotalsColumnCounters[] = {TotalsIndex::TxPlis, TotalsIndex::TxToNetwork1,
                                         TotalsIndex::TxToPlis, TotalsIndex::RxPlis,
                                         TotalsIndex::TxToNetwork2};

const QString kLogBlockEnd = QString(33, QLatin1Char('*'));

}  // namespace

CellSource SessionCellSource(int column, int row) {
    const int session = (row + 1) / 2;
    const bool transit = row % 2 == 0;
    const ColumnCounters& c = kSessionColumnCounters[column - 1];
    return {StatCounterOffset(transit, session, c.first),
            c.second < 0 ? -1 : StatCounterOffset(transit, session, c.second)};
}

int TotalsCellOffset(int column, int row) {
    return StatTotalOffset(row == 2, kTotalsColumnCounters[column - 1]);
}

uint16_t SessionCellValue(const StatisticsBlock& block, int column, int row) {
    const CellSource source = SessionCellSource(column, row);
    uint16_t value = GetU16(block.data() + source.first);
    if (source.second >= 0)
        value = static_cast<uint16_t>(value + GetU16(block.data() + source.second));
    return value;
}

uint16_t TotalsCellValue(const StatisticsBlock& block, int column, int row) {
    return GetU16(block.data() + TotalsCellOffset(column, row));
}

QString CounterText(uint16_t value) {
    return QString::number(value);
}

void ShowTotals(const StatisticsBlock& block, StatCells& totals) {
    for (int r = 1; r < StatTable::TotalsRows; ++r) {
        for (int c = 1; c < StatTable::TotalsColumns; ++c)
            totals.setCellText(c, r, CounterText(TotalsCellValue(block, c, r)));
    }
}

void ShowSessions(const StatisticsBlock& block, StatCells& sessions) {
    for (int r = 1; r < StatTable::SessionRows; ++r) {
        for (int c = 1; c < StatTable::SessionColumns; ++c)
            sessions.setCellText(c, r, CounterText(SessionCellValue(block, c, r)));
    }
}

QStringList RecordSessionChanges(const StatisticsBlock& block, StatCells& sessions) {
    QStringList changes;
    QString columnHeadings[StatTable::SessionColumns];
    for (int c = 1; c < StatTable::SessionColumns; ++c)
        columnHeadings[c] = sessions.cellText(c, 0);
    for (int r = 1; r < StatTable::SessionRows; ++r) {
        QString rowHeading;
        for (int c = 1; c < StatTable::SessionColumns; ++c) {
            const QString text = CounterText(SessionCellValue(block, c, r));
            if (text == sessions.cellText(c, r))
                continue;
            sessions.setCellText(c, r, text);
            if (rowHeading.isNull())
                rowHeading = sessions.cellText(0, r);
            changes << ChangeLine(rowHeading, columnHeadings[c], text);
        }
    }
    return changes;
}

void ZeroCells(StatCells& cells, int columns, int rows) {
    const QString zero = QStringLiteral("0");
    for (int r = 1; r < rows; ++r) {
        for (int c = 1; c < columns; ++c)
            cells.setCellText(c, r, zero);
    }
}

QString ChangeLine(const QString& rowHeading, const QString& columnHeading, const QString& text) {
    return rowHeading % QLatin1Char(' ') % columnHeading % QLatin1String(" = ") % text;
}

QStringList LogBlock(const QString& dateTimeText, const QStringList& changeLines) {
    QStringList block;
    block.reserve(changeLines.size() + 4);
    block << dateTimeText << QString();
    block << changeLines;
    block << kLogBlockEnd << QString();
    return block;
}

QString StatDateTimeText(const QDateTime& at, const QLocale& locale) {
    // The long time form may end in a time-zone name ("t"); everything else of it is kept, the
    // quoted literals included.
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString timeFormat;
    bool quoted = false;
    for (const QChar ch : format) {
        if (ch == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && ch == QLatin1Char('t'))
            continue;
        timeFormat += ch;
    }
    // A zone written in brackets, "(t)", would leave the brackets empty behind it.
    timeFormat.replace(QStringLiteral("()"), QString());
    timeFormat.replace(QStringLiteral("  "), QStringLiteral(" "));
    timeFormat = timeFormat.trimmed();
    return locale.toString(at.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(at.time(), timeFormat);
}

QString StatLogFileName(const QString& dateTimeText, const QString& address) {
    QString name = dateTimeText + QLatin1Char(' ') + address;
    name.replace(QLatin1Char('/'), QLatin1Char('.'));
    name.replace(QLatin1Char('\\'), QLatin1Char('.'));
    for (int i = 0; i < name.size(); ++i) {
        if (name[i] == QLatin1Char(' ')) {
            if (i > 0 && name[i - 1] == QLatin1Char('.'))
                name.remove(i, 1);
            else
                name[i] = QLatin1Char('_');
        }
        if (i < name.size() && name[i] == QLatin1Char(':'))
            name[i] = QLatin1Char('.');
    }
    return name;
}

QString StatWorkingFileName(const QString& logName) {
    return logName + QStringLiteral(".part");
}
