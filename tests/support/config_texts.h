#pragma once
// The settings window's texts for a configuration as read, as the window would show them: what a
// test hands the settings flow for a write without a window.
#include "model/configcodec.h"

inline ConfigTexts TextsOf(const ConfigBlock& block) {
    const DecodedConfig d = DecodeConfig(block);
    ConfigTexts t{d.localIp, d.localMac, d.subnetwork, d.gateway, d.controlPort, {}, {}};
    for (int i = 0; i < kSessionCount; ++i) {
        const DecodedSession& s = d.sessions[i];
        t.sessions[i] = {uint8_t(s.selected ? 1 : 0), s.destinationIp, s.destinationPort,
                         s.localPort, s.tos};
    }
    t.optionValues = d.optionValues;
    return t;
}
