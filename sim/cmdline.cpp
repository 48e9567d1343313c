#include "sim/cmdline.h"

#include "sim/commands.h"

namespace {

constexpr int kMaxRate = 1000;
constexpr int kMaxReadTimeoutMs = 3600 * 1000;

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
    for (size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::optional<std::string> inlineValue;
        if (option.rfind("--", 0) == 0 && option.find('=') != std::string::npos) {
            inlineValue = option.substr(option.find('=') + 1);
            option.resize(option.find('='));
        }
        const auto value = [&]() -> std::optional<std::string> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < args.size())
                return args[++i];
            return std::nullopt;
        };
        if (option == "-h" || option == "--help") {
            line.help = true;
        } else if (option == "--version") {
            line.version = true;
        } else if (option == "-q" || option == "--quiet") {
            line.quiet = true;
        } else if (option == "--misbehave") {
            const auto text = value();
            if (!text)
                return fail("--misbehave needs [N:]TYPE=MODE");
            const auto rule = ParseMisbehaveRule(*text);
            if (!rule)
                return fail("bad misbehaviour rule \"" + *text + "\"");
            line.rules.push_back(*rule);
        } else if (option == "--state" || option == "--save") {
            const auto path = value();
            if (!path || path->empty())
                return fail(option + " needs a file name");
            (option == "--state" ? line.stateFile : line.saveFile) = *path;
        } else if (option == "--rate") {
            const auto text = value();
            const auto rate = text ? ParseNumber(*text, kMaxRate) : std::nullopt;
            if (!rate)
                return fail("--rate needs a whole number 0.." + std::to_string(kMaxRate));
            line.rate = *rate;
        } else if (option == "--read-timeout") {
            const auto text = value();
            const auto ms = text ? ParseNumber(*text, kMaxReadTimeoutMs) : std::nullopt;
            if (!ms || *ms == 0)
                return fail("--read-timeout needs a number of milliseconds");
            line.readTimeoutMs = *ms;
        } else if (!option.empty() && option[0] == '-') {
            return fail("unknown option " + args[i]);
        } else {
            const auto endpoint = ParseEndpoint(option);
            if (!endpoint)
                return fail("bad address \"" + option + "\", expected ADDRESS[:PORT]");
            line.endpoints.push_back(*endpoint);
        }
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
    return R"(Usage: kestrel-sim [options] [ADDRESS[:PORT] ...]

Simulates Kestrel network modules for the configuration utility. Each ADDRESS[:PORT]
is one module that listens on its own TCP endpoint; without any, one module listens on
127.0.0.1:65530. PORT defaults to 65530; 0 takes any free port (the port in use is
printed at start). Endpoints 1 and 2 are the pair A and B: session 1 of each points at
the other's address and both agree on a few links, while a port of A is switched over
session 3 and a port of B names a port of A that does not name it back; endpoints 3 and 4
form the next pair.
A module without a partner points its session 1 at 127.0.0.2.

Every module answers all seven commands, keeps what is written to it and returns it on
the next read; its statistics counters grow every second until they are cleared.

Options:
  -h, --help             Show this text and exit.
  --version              Print the version and exit.
  -q, --quiet            No log line per request and answer (they go to standard output:
                         local time, client address:port, direction, module, bytes).
  --misbehave [N:]TYPE=MODE
                         Mistreat one command type on every module, or only on module N
                         (1 = first endpoint). May be given many times; a later rule wins.
                         TYPE is a command name: connect, read-config, write-config,
                         read-statistics, clear-statistics, read-switching,
                         write-switching; or a type number 0..255; or all.
  --state FILE           Load the modules' state from FILE before listening.
  --save FILE            Write the modules' state to FILE when stopping.
  --rate N               Counters grow N times as fast (default 1; 0 stops them).
  --read-timeout MS      Close a connection that has not sent a whole request within
                         MS milliseconds (default 5000).

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

Examples (the pair A and B the utility expects):
  kestrel-sim 127.0.0.1:65530 127.0.0.2:65530
  kestrel-sim --misbehave 2:read-switching=silent 127.0.0.1:65530 127.0.0.2:65530
      B never answers a switching read.
  kestrel-sim --misbehave 1:all=delay:1000 --misbehave read-statistics=split:500 \
      127.0.0.1:65530 127.0.0.2:65530
      A answers a second late, except statistics reads, which both split in two.
  kestrel-sim --misbehave 1:read-switching=cut:150 127.0.0.1:65530 127.0.0.2:65530
      A's switching answer breaks off after 150 of its 282 bytes.
  kestrel-sim --misbehave all=random:7 127.0.0.1:65530 127.0.0.2:65530
      Every request meets one of the misbehaviours, chosen by the seed 7.
  kestrel-sim --state pair.txt --save pair.txt 127.0.0.1:65530 127.0.0.2:65530
      Starts from the saved pair and keeps its changes for the next run.

State file: text lines "module=N" followed by "config=", "switching=",
"availability=" and "counters=" with the blocks in hexadecimal; a part left out keeps
the module's starting value.

Stops on SIGINT or SIGTERM. Exit status: 0 after a clean stop, 1 when an address cannot
be bound or the state cannot be saved, 2 on bad arguments or an unreadable state file.
)";
}
