#pragma once
// What the statistics window shows of a StatisticsBlock and what it records of it: the texts of
// both tables' cells, the change lines of the automatic mode, the blocks of the text log and the
// name of the log file.
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "model/statblock.h"

namespace StatTable {
constexpr int SessionColumns = 9;  // heading column and eight counters
constexpr int SessionRows = 13;    // heading row and S1 Local .. S6 Transit
constexpr int TotalsColumns = 6;
constexpr int TotalsRows = 3;
}  // namespace StatTable

extern const QStringList kSessionRowHeadings;     // rows 1..12
extern const QStringList kSessionColumnHeadings;  // columns 1..8
extern const QStringList kTotalsRowHeadings;      // rows 1..2
extern const QStringList kTotalsColumnHeadings;   // columns 1..5

// Where a session-table cell (column 1..8, row 1..12) takes its value: one counter, or the 16-bit
// sum of two (`second` is -1 when there is no second one). Offsets into the StatisticsBlock.
struct CellSource {
    int first;
    int second;
};
CellSource SessionCellSource(int column, int row);
// Offset of the counter a totals-table cell (column 1..5, row 1..2) shows.
int TotalsCellOffset(int column, int row);

uint16_t SessionCellValue(const StatisticsBlock& block, int column, int row);
uint16_t TotalsCellValue(const StatisticsBlock& block, int column, int row);

// Every value as a plain unsigned decimal.
QString CounterText(uint16_t value);

// The cells of a table as the window holds them; the processing reads and writes them through
// this, so that it runs the same on a widget and on a plain array.
class StatCells {
  public:
    virtual ~StatCells() = default;
    virtual QString cellText(int column, int row) const = 0;
    virtual void setCellText(int column, int row, const QString& text) = 0;
};

// Writes the ten totals into their cells, whatever the cells held.
void ShowTotals(const StatisticsBlock& block, StatCells& totals);
// Writes every session cell.
void ShowSessions(const StatisticsBlock& block, StatCells& sessions);
// Writes only the session cells whose text changes and returns their change lines, in table
// order. The headings are read back from the table itself.
QStringList RecordSessionChanges(const StatisticsBlock& block, StatCells& sessions);
// Every data cell of a table "0" (a clear, before the module has answered).
void ZeroCells(StatCells& cells, int columns, int rows);

// "S3 Transit Udf(2) = 17".
QString ChangeLine(const QString& rowHeading, const QString& columnHeading, const QString& text);
// One answer's record in the log: the date-time text, an empty line, the change lines, the
// 33-asterisk line and an empty line.
QStringList LogBlock(const QString& dateTimeText, const QStringList& changeLines);

// The locale's short date, a blank, and the time with hours, minutes and seconds in the locale's
// form without a time-zone name.
QString StatDateTimeText(const QDateTime& at, const QLocale& locale = QLocale::system());

// The log file's name without extension, from a date-time text and the module address: blanks
// after a dot are dropped, other blanks become "_", ":" becomes "."; "/" and "\" become "." so
// that the name always stays a plain name in the current folder.
QString StatLogFileName(const QString& dateTimeText, const QString& address);
// The name of the working file that holds the log while the automatic mode runs.
QString StatWorkingFileName(const QString& logName);
// Both names are completed by this extension.
inline const QString kStatLogExtension = QStringLiteral(".txt");
