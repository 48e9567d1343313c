#pragma once
// What the fuzz targets share: one offscreen application per process with a main window on a
// scratch settings file, or no windows at all.
#include <QString>
#include <cstddef>
#include <cstdint>

class TMainForm;

// For targets without windows: the event log lines are counted, an error report aborts.
void FuzzWithoutWindows();
// Creates the application and the main window (hidden) on the first call; later calls return
// it. The event log lines are counted, an error report aborts.
TMainForm& FuzzMainForm();
// A folder of this process for scratch files, on a memory file system where there is one.
QString FuzzScratchDir();
// Runs what the event loop would run after an input.
void SettleAfterInput();
// Aborts with `what` when `ok` is false, so the fuzzer keeps the input that broke a rule.
void FuzzCheck(bool ok, const char* what);
