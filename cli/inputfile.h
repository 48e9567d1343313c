#pragma once
// The files kestrel-cli reads (a configuration to write, a list of modules) are small. A path to a
// device, a pipe or a huge file is a mistake, and reading it whole could hold the process for
// ever or take all its memory, so such a file is refused before it is read.
#include <QByteArray>
#include <QString>

constexpr qint64 kMaxInputFileBytes = 1024 * 1024;

// The whole of the regular file at `path` when it holds at most kMaxInputFileBytes; otherwise
// false with the reason.
bool ReadInputFile(const QString& path, QByteArray* data, QString* error);
