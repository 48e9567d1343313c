#include "sim/cmdline.h"

#include <QCommandLineParser>
#include <QStringList>

#include "sim/commands.h"

namespace {

constexpr int kMaxRate = 1000;
constexpr int kMaxReadTimeoutMs = 3600 * 1000;

// The parser both reads the options and writes their part of --help, so the two never differ.
void DefineOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(R"(
Simulates Kestrel network modules for the configuration utility. Each ADDRESS[:PORT]
is one module that listens on its own TCP endpoint; without any, one module listens on
127.0.0.1:65530. PORT defaults to 65530; 0 takes any free port (the port in use is
printed at start). Endpoints 1 and 2 are the pair A and B: session 1 of each points at
the other's address and both agree on a few links, while a port of A is switched over
session 3 and a port of B names a port of A that does not name it back; endpoints 3 and 4
form the next pair.
A module without a partner points its session 1 at 127.0.0.2.

Every module answers all seven commands, keeps what is written to it and returns it on
the next read; its statistics counters grow every second until they are cleared.)"));
    struct Option {
        QStringList names;
        const char* description;
        const char* valueName;
    };
    const Option options[] = {
        {{"h", "help"}, "Show this text and exit.", nullptr},
        {{"version"}, "Print the version and exit.", nullptr},
        {{"q", "quiet"},
         "No log line per request and answer (they go to standard output: local time, client "
         "address:port, direction, module, bytes).",
         nullptr},
        {{"misbehave"},
         "Mistreat one command type on every module, or only on module N (1 = first endpoint). "
         "May be given many times; a later rule wins. TYPE is a command name: connect, "
         "read-config, write-config, read-statistics, clear-statistics, read-switching, "
         "write-switching; or a type number 0..255; or all.",
         "[N:]TYPE=MODE"},
        {{"state"}, "Load the modules' state from FILE before listening.", "FILE"},
        {{"save"}, "Write the modules' state to FILE when stopping.", "FILE"},
        {{"rate"}, "Counters grow N times as fast (default 1; 0 stops them).", "N"},
        {{"read-timeout"},
         "Close a connection that has not sent a whole request within MS milliseconds "
         "(default 5000).",
         "MS"},
    };
    for (const Option& option : options) {
        parser.addOption(QCommandLineOption(option.names, QString::fromUtf8(option.description),
                                            QString::fromUtf8(option.valueName)));
    }
    parser.addPositionalArgument(QStringLiteral("ADDRESS[:PORT]"),
                                 QStringLiteral("One simulated module per endpoint."),
                                 QStringLiteral("[ADDRESS[:PORT] ...]"));
}

}  // namespace

std::optional<MisbehaveRule> ParseMisbehaveRule(std::string_view text) {
    MisbehaveRule rule;
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    std::string_view target = text.substr(0, equals);
    const size_t colon = target.find(':');
    if (colon != std::string_view::npos) {
        const auto module = ParseNumber(target.substr(0, colon), 65535);
        if (!module || *module == 0)
            return std::nullopt;
        rule.module = *module;
        target = target.substr(colon + 1);
    }
    if (target != "all") {
        rule.type = ParseCommandType(target);
        if (!rule.type)
            return std::nullopt;
    }
    const auto how = ParseMisbehaviour(text.substr(equals + 1));
    if (!how)
        return std::nullopt;
    rule.how = *how;
    return rule;
}

std::optional<SimCommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                               std::string* error) {
    SimCommandLine line;
    const auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QCommandLineParser parser;
    DefineOptions(parser);
    // The parser skips the first argument as the program's name.
    QStringList arguments{QStringLiteral("kestrel-sim")};
    for (const std::string& arg : args)
        arguments << QString::fromLocal8Bit(arg.data(), static_cast<qsizetype>(arg.size()));
    if (!parser.parse(arguments))
        return fail(parser.errorText().toStdString());
    const auto value = [&](const char* name) { return parser.value(name).toStdString(); };

    line.help = parser.isSet("help");
    line.version = parser.isSet("version");
    line.quiet = parser.isSet("quiet");
    for (const QString& text : parser.values("misbehave")) {
        const auto rule = ParseMisbehaveRule(text.toStdString());
        if (!rule)
            return fail("bad misbehaviour rule \"" + text.toStdString() + "\"");
        line.rules.push_back(*rule);
    }
    for (const char* option : {"state", "save"}) {
        if (parser.isSet(option) && value(option).empty())
            return fail(std::string("--") + option + " needs a file name");
    }
    line.stateFile = value("state");
    line.saveFile = value("save");
    if (parser.isSet("rate")) {
        const auto rate = ParseNumber(value("rate"), kMaxRate);
        if (!rate)
            return fail("--rate needs a whole number 0.." + std::to_string(kMaxRate));
        line.rate = *rate;
    }
    if (parser.isSet("read-timeout")) {
        const auto ms = ParseNumber(value("read-timeout"), kMaxReadTimeoutMs);
        if (!ms || *ms == 0)
            return fail("--read-timeout needs a number of milliseconds");
        line.readTimeoutMs = *ms;
    }
    for (const QString& text : parser.positionalArguments()) {
        const auto endpoint = ParseEndpoint(text.toStdString());
        if (!endpoint)
            return fail("bad address \"" + text.toStdString() + "\", expected ADDRESS[:PORT]");
        line.endpoints.push_back(*endpoint);
    }
    if (line.endpoints.empty())
        line.endpoints.push_back(Endpoint{{127, 0, 0, 1}});
    for (const MisbehaveRule& rule : line.rules) {
        if (rule.module > static_cast<int>(line.endpoints.size())) {
            return fail("--misbehave names module " + std::to_string(rule.module) +
                        " but there are " + std::to_string(line.endpoints.size()));
        }
    }
    return line;
}

void ApplyRules(Simulator& simulator, const std::vector<MisbehaveRule>& rules) {
    for (const MisbehaveRule& rule : rules) {
        for (int i = 0; i < simulator.moduleCount(); ++i) {
            if (rule.module != 0 && rule.module != i + 1)
                continue;
            if (rule.type) {
                simulator.module(i).setMisbehaviour(*rule.type, rule.how);
            } else {
                simulator.module(i).setMisbehaviourForAll(rule.how);
            }
        }
    }
}

std::string HelpText() {
    QCommandLineParser parser;
    DefineOptions(parser);
    // The parser's own first line names the program by how it was started, or not at all.
    QString text = parser.helpText();
    text.remove(0, text.indexOf('\n'));
    return "Usage: kestrel-sim [options] [ADDRESS[:PORT] ...]" + text.toStdString() + R"(
Misbehaviour modes (MODE):
  normal                 Answer as a module does.
  silent                 Read the request and never answer; keep the connection open
                         until the client closes it or the simulator stops.
  unsupported            Answer the request's group and 255 (command not supported).
  close                  Read the request, then close the connection without answering.
  split[:MS]             Send the answer in two TCP segments MS milliseconds apart
                         (default 200).
  delay:MS               Answer after MS milliseconds.
  random:SEED[:MS]       For every request pick one of the modes above at random:
                         normal, unsupported, silent, close, split (parts up to 20 ms
                         apart) or delay (up to MS milliseconds, default 200). The same
                         SEED gives every module the same sequence of choices again.
  cut:N                  Send only the first N bytes of the answer (0..2000), then
                         close the connection.
  group:G                Answer with the group byte G (0..255) instead of the request's.
Silent, close and unsupported do not carry out the command; split, delay, cut and group do.

Examples (an address without a port listens on 65530):
  kestrel-sim 127.0.0.1:65530 127.0.0.2:65530
      The pair A and B at the addresses the utility expects.

  kestrel-sim --misbehave 2:read-switching=silent 127.0.0.1 127.0.0.2
      B never answers a switching read.

  kestrel-sim --misbehave all=delay:1000 --misbehave connect=normal 127.0.0.1
      Every answer but the connect's comes a second late: a later rule wins.

  kestrel-sim --misbehave 1:read-switching=cut:150 127.0.0.1 127.0.0.2
      A's switching answer breaks off after 150 of its 282 bytes.

  kestrel-sim --misbehave all=random:7 127.0.0.1 127.0.0.2
      Every request meets one of the misbehaviours, chosen by the seed 7.

  kestrel-sim --state pair.txt --save pair.txt 127.0.0.1 127.0.0.2
      Starts from the saved pair and keeps its changes for the next run.

State file: text lines "module=N" followed by "config=", "switching=",
"availability=" and "counters=" with the blocks in hexadecimal; a part left out keeps
the module's starting value.

Stops on SIGINT or SIGTERM. Exit status: 0 after a clean stop, 1 when an address cannot
be bound or the state cannot be saved, 2 on bad arguments or an unreadable state file.
)";
}
