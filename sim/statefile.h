#pragma once
// The state of the simulated modules as a text file that can be read, edited and fed back:
//
//   module=1
//   config=<200 hex digits>
//   switching=<320 hex digits>
//   availability=<40 hex digits>
//   counters=<936 hex digits>
//   module=2
//   ...
//
// Blank lines and lines starting with '#' are skipped; lines before the first "module=" belong
// to module 1; a part that is left out keeps what the module already has.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/simmodule.h"

std::string FormatState(const std::vector<ModuleState>& modules);

// One entry per module 1..moduleCount. On a malformed text returns nothing and says why, with
// the line number, in `error`.
std::optional<std::vector<ModuleState>> ParseState(std::string_view text, int moduleCount,
                                                   std::string* error);
