#pragma once
// The commands of kestrel-cli, each on the window-free flows the utility's windows drive.
#include <QByteArray>
#include <QList>
#include <QTextStream>

#include "cli/modulelink.h"

class StderrShell;

namespace Exit {
constexpr int Done = 0;
constexpr int Failed = 1;  // the analysis, or the read-back after a write
constexpr int Usage = 2;
constexpr int WouldChange = 3;  // a change asked without --yes
constexpr int Unreachable = 4;  // a module unreachable, silent or answering wrongly
}  // namespace Exit

int ConfigRead(const ModuleAddress& module, bool json, QTextStream& out);
int ConfigWrite(const ModuleAddress& module, const QByteArray& file, bool yes, QTextStream& out);
int StatsClear(const QList<ModuleAddress>& modules, bool yes, QTextStream& out);
int Switching(const ModuleAddress& a, const ModuleAddress& b, bool json, QTextStream& out,
              StderrShell& shell);
