#pragma once
// What each simulated module received, one letter a request: "A:crw B:r".
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "sim/simulator.h"

inline QString RequestLetters(Simulator& sim, int modules,
                              const std::function<char(const std::vector<uint8_t>&)>& letter) {
    QStringList out;
    for (int m = 0; m < modules; ++m) {
        QString letters;
        for (const auto& r : sim.module(m).requests())
            letters += QLatin1Char(letter(r));
        if (!letters.isEmpty())
            out << QString(QLatin1Char(char('A' + m))) + ':' + letters;
    }
    return out.join(' ');
}
