// The simulated module on any stream of request bytes, cut into requests as its server cuts
// them, and the simulator's command line on any arguments.
#include <memory>
#include <string>
#include <vector>

#include "link/protocol.h"
#include "sim/cmdline.h"
#include "sim/simmodule.h"
#include "tests/fuzz/harness.h"

namespace {

void Requests(const uint8_t* data, size_t size) {
    ModuleSeed seed;
    seed.ownIp = {127, 0, 0, 1};
    seed.partnerIp = {127, 0, 0, 2};
    seed.controlPort = 65530;
    SimModule module(seed, std::make_shared<SimClock>(true));
    size_t at = 0;
    while (size - at >= kHeaderSize) {
        const size_t length = static_cast<size_t>(RequestLength(data[at + 1]));
        if (size - at < length)
            break;  // the server waits for the rest and then gives up
        const std::vector<uint8_t> request(data + at, data + at + length);
        at += length;
        const SimModule::Reply reply = module.handle(request);
        const std::vector<uint8_t>& answer = reply.bytes;
        if (IsKnownCommand(request[0], request[1])) {
            FuzzCheck(answer.size() == static_cast<size_t>(AnswerLength(request[0], request[1])),
                      "a known command is answered in full");
        } else {
            FuzzCheck(answer.size() == kHeaderSize && answer[1] == AnswerUnsupported,
                      "anything else is answered as unsupported");
        }
        FuzzCheck(answer[0] == request[0], "the answer carries the request's group");
    }
}

void CommandLine(const uint8_t* data, size_t size) {
    // Arguments are separated by zero bytes, as in argv.
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back() += static_cast<char>(data[i]);
    }
    std::string error;
    const auto line = ParseCommandLine(args, &error);
    if (!line)
        FuzzCheck(!error.empty(), "a refused command line says why");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte tells the stream of requests from a command line.
    if (data[0] & 1)
        CommandLine(data + 1, size - 1);
    else
        Requests(data + 1, size - 1);
    return 0;
}
