#pragma once
// The commands of kestrel-cli, each on the window-free flows the utility's windows drive.
#include <QByteArray>
#include <QList>
#include <QTextStream>

#include "headless/modulelink.h"

class StderrShell;

namespace Exit {
constexpr int Done = 0;
constexpr int Failed = 1;  // the analysis, or the read-back after a write
constexpr int Usage = 2;
constexpr int WouldChange = 3;  // a change asked without --yes
constexpr int Unreachable = 4;  // a module unreachable, silent or answering wrongly
}  // namespace Exit

// Every command's answer is given up `ms` after its request left (three seconds unless told).
void SetAnswerTimeoutMs(int ms);
// Flushes `out` and standard output: `code`, or Exit::Failed (said on standard error) when what
// was printed did not all reach them, so that a script never takes a cut output for a whole one.
int FinishOutput(int code, QTextStream& out);

int ConfigRead(const ModuleAddress& module, bool json, QTextStream& out);
// `identity` lets the write change the module's own address and MAC, which a file read from
// another module would otherwise copy, leaving two modules with one address on a network.
int ConfigWrite(const ModuleAddress& module, const QByteArray& file, bool yes, bool identity,
                QTextStream& out);
int StatsClear(const QList<ModuleAddress>& modules, bool yes, QTextStream& out);
int Switching(const ModuleAddress& a, const ModuleAddress& b, bool json, QTextStream& out,
              StderrShell& shell);
