#include "model/configcodec.h"

#include "link/codecs.h"
#include "model/bytes.h"

const std::array<OptionInfo, kOptionCount>& Options() {
    static const std::array<OptionInfo, kOptionCount> options{{
        {QStringLiteral("p1 pp"), QStringLiteral("Приоритет первого порта"), PriorityPort1,
         QStringLiteral("Высокий"), QStringLiteral("Низкий")},
        {QStringLiteral("p2 pp"), QStringLiteral("Приоритет второго порта"), PriorityPort2,
         QStringLiteral("Высокий"), QStringLiteral("Низкий")},
        {QStringLiteral("p3 pp"), QStringLiteral("Приоритет третьего порта"), PriorityPort3,
         QStringLiteral("Высокий"), QStringLiteral("Низкий")},
        {QStringLiteral("pv 12"), QStringLiteral("Связь \"Порт1-Порт2\""), LinkPort1Port2,
         QStringLiteral("Включено"), QStringLiteral("Выключено")},
        {QStringLiteral("flow control"), QStringLiteral("Flow control"), FlowControl,
         QStringLiteral("Включен"), QStringLiteral("Выключен")},
    }};
    return options;
}

void EncodeConfig(const ConfigTexts& texts, ConfigBlock& block) {
    ConfigBlock b = block;  // committed only when every text has converted
    b[ConfigOffset::ConfigMarker] = kConfigMarkerByte;
    b[ConfigOffset::ConfigMarker + 1] = kConfigMarkerByte;
    IpTextToBytes(texts.localIp, &b[ConfigOffset::LocalIp]);
    MacTextToBytes(texts.localMac, &b[ConfigOffset::LocalMac]);
    IpTextToBytes(texts.subnetwork, &b[ConfigOffset::Subnetwork]);
    IpTextToBytes(texts.gateway, &b[ConfigOffset::Gateway]);
    PutU16(&b[ConfigOffset::ControlPort], static_cast<uint16_t>(TextToInt(texts.controlPort)));
    for (int i = 0; i < kSessionCount; ++i) {
        const SessionSettings& s = texts.sessions[i];
        uint8_t* r = &b[SessionRecordOffset(i)];
        r[SessionOffset::Enable] = s.Enabled;
        // The high byte means nothing to the module and goes out as 0 in every record, also in
        // one adopted from a read whose module left something there.
        r[SessionOffset::Tos + 1] = 0;
        if (s.Enabled == 0)
            continue;
        PutU16(r + SessionOffset::LocalPort, static_cast<uint16_t>(TextToInt(s.LocalPort)));
        PutU16(r + SessionOffset::DestinationPort,
               static_cast<uint16_t>(TextToInt(s.DestinationPort)));
        PutU16(r + SessionOffset::Tos, BitsTextToByte(s.Tos));
        IpTextToBytes(s.DestinationIp, r + SessionOffset::DestinationIp);
    }
    uint32_t flags = GetU32(&b[ConfigOffset::OptionFlags]);
    for (int k = 0; k < kOptionCount; ++k) {
        const OptionInfo& o = Options()[k];
        if (texts.optionValues[k] == o.setText) {
            flags |= o.mask;
        } else {
            flags &= ~o.mask;
        }
    }
    PutU32(&b[ConfigOffset::OptionFlags], flags);
    block = b;
}

DecodedConfig DecodeConfig(const ConfigBlock& b) {
    DecodedConfig d;
    d.localIp = IpBytesToText(&b[ConfigOffset::LocalIp]);
    d.localMac = MacBytesToText(&b[ConfigOffset::LocalMac]);
    d.subnetwork = IpBytesToText(&b[ConfigOffset::Subnetwork]);
    d.gateway = IpBytesToText(&b[ConfigOffset::Gateway]);
    d.controlPort = WordToText(GetU16(&b[ConfigOffset::ControlPort]));
    for (int i = 0; i < kSessionCount; ++i) {
        const uint8_t* r = &b[SessionRecordOffset(i)];
        DecodedSession& s = d.sessions[i];
        s.selected = r[SessionOffset::Enable] == 1;
        s.destinationIp = IpBytesToText(r + SessionOffset::DestinationIp);
        s.localPort = WordToText(GetU16(r + SessionOffset::LocalPort));
        s.destinationPort = WordToText(GetU16(r + SessionOffset::DestinationPort));
        s.tos = ByteToBitsText(r[SessionOffset::Tos]);  // the high byte means nothing
    }
    const uint32_t flags = GetU32(&b[ConfigOffset::OptionFlags]);
    for (int k = 0; k < kOptionCount; ++k) {
        const OptionInfo& o = Options()[k];
        d.optionValues[k] = (flags & o.mask) ? o.setText : o.clearText;
    }
    return d;
}

void AdoptReadConfig(const ConfigBlock& read, ConfigBlock& outgoing) {
    outgoing = read;
    outgoing[ConfigOffset::Spare] = 0;
    outgoing[ConfigOffset::Spare + 1] = 0;
    for (int i = 0; i < kSessionCount; ++i)
        outgoing[SessionRecordOffset(i) + SessionOffset::Spare] = 0;
}
