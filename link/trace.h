#pragma once
// The exchange trace: one line per exchange, written on the GUI thread as the exchange ends,
//   TIME ADDRESS:PORT COMMAND REQUEST-HEX ANSWER-HEX ROUND-TRIP-MS OUTCOME
// separated by one blank ("-" for an empty answer), into a file that is renamed to FILE.1 once it
// would grow past its cap. Off unless started; then it costs one line's formatting and write.
#include <QString>
#include <cstdint>

struct TcpConnection;

constexpr qint64 kDefaultTraceCapBytes = 10 * 1024 * 1024;

// Opens (appends to) FILE; false with the reason when it cannot be written.
bool StartTrace(const QString& path, qint64 capBytes = kDefaultTraceCapBytes,
                QString* error = nullptr);
void StopTrace();
bool TraceOn();

// How an exchange ended, as the trace names it.
enum class TraceOutcome { Answer, WrongAnswer, Closed, TimeOut, SendError, Abandoned };
const char* TraceOutcomeName(TraceOutcome outcome);

// The exchange's line; `answer` holds `length` bytes received (none for a time-out).
void TraceExchange(const TcpConnection& c, TraceOutcome outcome, const uint8_t* answer, int length);
