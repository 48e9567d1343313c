#pragma once
// Every counter a statistics answer reports under one stable name, for the programs that hand them
// to scripts and monitoring: the 96 cells of the session table and the 10 totals, in table order.
#include <QString>
#include <vector>

#include "model/statblock.h"

struct StatColumn {
    QString name;     // "s1_local_sortlost_1", "loc_txplis"
    QString session;  // "1".."6", empty for a total
    QString section;  // "local" or "transit"
    QString counter;  // "sortlost", "udf", "reject", "pib"; "txplis", "rxplis", "txtonetwork",
                      // "txtoplis"
    QString path;     // "1" or "2", empty for a counter of no path
    bool total = false;
    int column = 0, row = 0;  // the cell in its table
};

const std::vector<StatColumn>& StatColumns();
uint16_t StatColumnValue(const StatisticsBlock& block, const StatColumn& column);
