#pragma once
// Between the settings window's texts and the 100-byte configuration block.
#include <QString>
#include <array>

#include "model/configblock.h"
#include "model/sessions.h"

// One of the five options the operator edits: its key in the option list and its texts.
struct OptionInfo {
    QString key;
    QString label;
    uint32_t mask;
    QString setText;    // the bit is set
    QString clearText;  // the bit is clear
};
constexpr int kOptionCount = 5;
// In the order the option list shows them and the encoder reads them.
const std::array<OptionInfo, kOptionCount>& Options();

// Everything of the settings window that a configuration write is made of.
struct ConfigTexts {
    QString localIp, localMac, subnetwork, gateway, controlPort;
    SessionTable sessions;
    std::array<QString, kOptionCount> optionValues;  // in the order of Options()
};

// Updates `block` for a write. A text that does not convert raises ConversionError and leaves
// `block` untouched. A deselected session keeps its other bytes; only its enable byte is 0.
void EncodeConfig(const ConfigTexts& texts, ConfigBlock& block);

struct DecodedSession {
    bool selected = false;  // the enable byte is exactly 1
    QString destinationIp, localPort, destinationPort, tos;
};
struct DecodedConfig {
    QString localIp, localMac, subnetwork, gateway, controlPort;
    std::array<DecodedSession, kSessionCount> sessions;
    std::array<QString, kOptionCount> optionValues;
};
DecodedConfig DecodeConfig(const ConfigBlock& block);

// After a configuration has been read: the next write starts from the block the module holds,
// so sessions that are not selected keep what the module reported. Spare areas are zeroed.
void AdoptReadConfig(const ConfigBlock& read, ConfigBlock& outgoing);
