// Writes the seed corpus of every fuzz target from the answers of a simulated pair (A on
// 127.0.0.1, B on 127.0.0.2): make_corpus DIR creates DIR/<target>/<seed>.
#include <QString>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/codecs.h"
#include "link/protocol.h"
#include "model/configblock.h"
#include "model/switchblock.h"
#include "sim/simulator.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

fs::path g_root;

void Seed(const std::string& target, const std::string& name, const Bytes& bytes) {
    const fs::path dir = g_root / target;
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Ask(SimModule& module, uint8_t group, uint8_t type, const Bytes& payload = {}) {
    Bytes request = {group, type};
    request.insert(request.end(), payload.begin(), payload.end());
    request.resize(static_cast<size_t>(RequestLength(type)), 0);
    return module.answer(request);
}

Bytes Payload(const Bytes& answer) {
    return Bytes(answer.begin() + kHeaderSize, answer.end());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus DIR\n");
        return 2;
    }
    g_root = argv[1];
    SimulatorOptions options;
    options.manualClock = true;  // the same corpus every time
    Simulator pair({Endpoint{{127, 0, 0, 1}, 65530}, Endpoint{{127, 0, 0, 2}, 65530}}, options);
    SimModule& a = pair.module(0);
    SimModule& b = pair.module(1);

    const Bytes connect = Ask(a, GroupConfig, CmdConnect);
    const Bytes config = Ask(a, GroupConfig, CmdReadConfig);
    const Bytes written = Ask(a, GroupConfig, CmdWriteConfig, Payload(config));
    const Bytes unsupported = Ask(a, GroupConfig, 3);
    const Bytes statistics = Ask(a, GroupStatistics, CmdReadStatistics);
    const Bytes cleared = Ask(a, GroupStatistics, CmdClearStatistics);
    const Bytes switchingA = Ask(a, GroupSwitching, CmdReadSwitching);
    const Bytes switchingB = Ask(b, GroupSwitching, CmdReadSwitching);
    const Bytes switchWritten =
        Ask(a, GroupSwitching, CmdWriteSwitching,
            Bytes(switchingA.begin() + kHeaderSize + SnapshotOffset::Switching,
                  switchingA.begin() + kHeaderSize + SnapshotOffset::Availability));

    // Counters three seconds on, as the automatic mode asks for them.
    pair.clock().advance(std::chrono::seconds(3));
    const Bytes statisticsLater = Ask(a, GroupStatistics, CmdReadStatistics);
    pair.clock().advance(std::chrono::seconds(3));
    const Bytes statisticsB = Ask(b, GroupStatistics, CmdReadStatistics);

    // ParseAnswer: the first byte picks settings read (0), settings write (1), switching (2),
    // current links (3), statistics read in single (4) and automatic mode (5), and clear (6).
    Seed("parse_answer", "settings-read-config", Join({{0}, config}));
    Seed("parse_answer", "settings-read-unsupported", Join({{0}, unsupported}));
    Seed("parse_answer", "settings-read-connect", Join({{0}, connect}));
    Seed("parse_answer", "settings-write-config", Join({{1}, written}));
    Seed("parse_answer", "settings-write-statistics", Join({{1}, statistics}));
    Seed("parse_answer", "switching-pair", Join({{2}, Payload(switchingA), switchingB}));
    Seed("parse_answer", "switching-written", Join({{2}, Payload(switchingA), switchWritten}));
    Seed("parse_answer", "current-links-A", Join({{3}, switchingA}));
    Seed("parse_answer", "current-links-B", Join({{3}, switchingB}));
    Seed("parse_answer", "current-links-cleared", Join({{3}, cleared}));
    Seed("parse_answer", "statistics-single", Join({{4}, statistics}));
    Seed("parse_answer", "statistics-single-unsupported", Join({{4}, unsupported}));
    Seed("parse_answer", "statistics-automatic-A", Join({{5}, statistics}));
    Seed("parse_answer", "statistics-automatic-A-later", Join({{5}, statisticsLater}));
    Seed("parse_answer", "statistics-automatic-B", Join({{5}, statisticsB}));
    Seed("parse_answer", "statistics-cleared", Join({{6}, cleared}));
    Seed("parse_answer", "statistics-clear-answered-by-read", Join({{6}, statistics}));
    // Answers that break off, and one of another group: the window must hear nothing of them.
    Seed("parse_answer", "settings-read-cut",
         Join({{0}, Bytes(config.begin(), config.begin() + 51)}));
    Seed("parse_answer", "statistics-single-cut",
         Join({{4}, Bytes(statistics.begin(), statistics.end() - 1)}));
    Seed("parse_answer", "current-links-foreign-group",
         Join({{3}, {GroupStatistics, CmdReadSwitching}, Payload(switchingA)}));
    Seed("parse_answer", "statistics-foreign-group",
         Join({{4}, {3}, Bytes(statistics.begin() + 1, statistics.end())}));

    // The cross-check: address of A, address of B, snapshot of A, snapshot of B.
    Seed("crosscheck", "pair",
         Join({{127, 0, 0, 1, 127, 0, 0, 2},
               Payload(switchingA),
               Payload(switchingB)}));
    Seed("crosscheck", "swapped",
         Join({{127, 0, 0, 2, 127, 0, 0, 1},
               Payload(switchingB),
               Payload(switchingA)}));
    Seed("crosscheck", "same-module",
         Join({{127, 0, 0, 1, 127, 0, 0, 2},
               Payload(switchingA),
               Payload(switchingA)}));

    // The codecs: the texts the settings window shows for A's configuration, and the address
    // and port of a command.
    const uint8_t* block = config.data() + kHeaderSize;
    const auto show = [&](const QString& text, const std::string& name) {
        Seed("codecs", name, Text(text.toStdString()));
    };
    show(IpBytesToText(block + ConfigOffset::LocalIp), "local-ip");
    show(IpBytesToText(block + ConfigOffset::Gateway), "gateway");
    show(MacBytesToText(block + ConfigOffset::LocalMac), "mac");
    show(WordToText(static_cast<uint16_t>(block[ConfigOffset::ControlPort] |
                                          block[ConfigOffset::ControlPort + 1] << 8)),
         "control-port");
    show(ByteToBitsText(block[ConfigOffset::OptionFlags]), "option-bits");
    Seed("codecs", "command-address", Join({Text("127.0.0.1"), {0}, Text("65530")}));
    Seed("codecs", "leading-zeros", Join({Text("010.000.000.001"), {0}, Text("00080")}));

    // The settings store: what ./run writes, and an operator's file with comments and odd lines.
    Seed("inistore", "run",
         Text("[ConnectionSettings]\nMuxIp=127.0.0.1\nMuxPort=65530\n[Statistic]\n"
              "MuxIp0=127.0.0.1\nMuxPort0=65530\n[SwitchSettings]\nCountA=1\nItemIndexA=0\n"
              "IpA0=127.0.0.1\nPortA0=65530\nCountB=1\nIpB0=127.0.0.2\n"));
    Seed("inistore", "edited",
         Text("; kept by hand\r\n\r\n[ConnectionSettings]\r\n  MuxIp = 10.0.0.1 \r\nMuxIp=dup\r\n"
              "garbage line\r\n[broken\r\n[Statistic]\r\n=novalue\r\nMuxPort0"));

    // The simulator: a connection's worth of requests (first byte 0), a command line (1).
    Bytes requests = {0};
    for (uint8_t type :
         {CmdConnect, CmdReadConfig, CmdReadStatistics, CmdClearStatistics, CmdReadSwitching}) {
        const uint8_t group = type <= CmdWriteConfig       ? GroupConfig
                              : type <= CmdClearStatistics ? GroupStatistics
                                                           : GroupSwitching;
        requests.push_back(group);
        requests.push_back(type);
    }
    requests.push_back(GroupConfig);
    requests.push_back(CmdWriteConfig);
    requests.insert(requests.end(), config.begin() + kHeaderSize, config.end());
    Seed("sim_request", "every-command", requests);
    Seed("sim_request", "unknown", Bytes{0, 7, 9, 3, 255, 1});
    Seed("sim_request", "command-line",
         Join({{1},
               Text("--quiet"),
               {0},
               Text("--misbehave"),
               {0},
               Text("2:read-config=split:50"),
               {0},
               Text("--rate"),
               {0},
               Text("3"),
               {0},
               Text("127.0.0.1:0"),
               {0},
               Text("127.0.0.2")}));
    return 0;
}
