#pragma once
// One module's links per session, as the current-links window lists them for a selective reset.
#include <QString>
#include <array>

#include "model/configblock.h"
#include "model/switchblock.h"

// The texts of the choice column: a session chosen for the selective reset, and one that
// cannot be chosen.
inline const QString SelectMark = QStringLiteral("    V");
inline const QString NoSelectMark = QStringLiteral("    X");

struct LinkRow {
    QString destination;  // the destination address, "DISABLED" or "NO_LINK"
    QString choice;       // empty (may be chosen) or NoSelectMark
};
using LinkRows = std::array<LinkRow, kSessionCount>;

// Session n's row: not selected in the configuration, carrying a link on some port, or neither.
LinkRows CurrentLinkRows(const MuxSnapshot& snapshot);

// A double click on a choice cell: an empty cell is chosen, a chosen one is freed, anything
// else stays as it is.
QString ToggledChoice(const QString& cell);
