#include "sim/simmodule.h"

#include <algorithm>
#include <cstring>

#include "link/protocol.h"
#include "model/bytes.h"

namespace {

// The links a fresh pair agrees on, one of each kind the switching window distinguishes.
struct SeedLink {
    int groupA, channelA, groupB, channelB;
};
constexpr SeedLink kSeedLinks[] = {
    {0, 0, 0, 1},  // TMO1 of A with TMO2 of B
    {0, 2, 1, 3},  // TMO3 of A with transit TMO4 of B
    {0, 6, 1, 7},  // TF1 of A with transit TF2 of B
};
// One missing port per side, on neither end of a seeded link.
constexpr int kUnavailablePortA = PortIndex(1, 9);
constexpr int kUnavailablePortB = PortIndex(0, 5);
// Halves that the pair does not agree on: a port of A switched over the session towards the
// third module, and a port of B that names a port of A which names nothing back.
constexpr SeedLink kForeignLinkA = {1, 2, 0, 0};   // transit TMO3 of A
constexpr SeedLink kOneSidedLinkB = {0, 9, 0, 8};  // TF3 of B names TF4 of A

constexpr int kPartnerSession = 0;  // session 1
constexpr int kSpareSession = 2;    // session 3, enabled towards a third module
constexpr uint16_t kFirstUdpPort = 5001;
constexpr uint8_t kPartnerTos = 0xB8;
constexpr Ipv4 kThirdModuleIp = {192, 168, 10, 30};
constexpr Ipv4 kSubnetMask = {255, 255, 255, 0};
constexpr uint8_t kGatewayHost = 254;
// Locally administered, "KSIM", module number.
constexpr uint8_t kMacPrefix[] = {0x02, 0x4B, 0x53, 0x49, 0x4D};
// One bit the utility neither shows nor edits, so a round trip through it must carry it.
constexpr uint32_t kCarriedOptionBit = 0x00100000;
constexpr uint32_t kSeedOptions = PriorityPort1 | FlowControl | kCarriedOptionBit;
// The module's own bytes of every PortEntry: marked by module and port so that a block written
// back with anything changed there stands out.
constexpr uint8_t kCarriedModuleMark = 0xA0;
constexpr uint8_t kCarriedFill2 = 0x5A;
constexpr uint8_t kCarriedFill3 = 0xC3;
constexpr uint8_t kCarriedTailMark = 0xE0;
constexpr uint8_t kAvailable = 1;

// Per second at rate 1. Sessions 1 and 2 carry traffic; the rest stay at zero.
struct Growth {
    int counter;
    int local;
    int transit;
};
constexpr int kBusySessions[] = {1, 2};
constexpr Growth kSessionGrowth[] = {
    {CounterIndex::Pib1, 50, 20},
    {CounterIndex::Pib2, 48, 19},
    {CounterIndex::Udf1, 1, 0},
    {CounterIndex::SortLostHigh1, 0, 1},
};
constexpr Growth kTotalsGrowth[] = {
    {TotalsIndex::TxPlis, 100, 40},      {TotalsIndex::RxPlis, 98, 39},
    {TotalsIndex::TxToNetwork1, 50, 20}, {TotalsIndex::TxToNetwork2, 48, 19},
    {TotalsIndex::TxToPlis, 97, 38},
};

uint8_t CrossPathOf(int group) {
    return group == 0 ? CrossPathLocal : CrossPathTransit;
}

void PutEntry(SwitchingBlock& block, int port, uint8_t session, uint8_t channel,
              uint8_t crossPath) {
    uint8_t* entry = block.data() + PortEntryOffsetOf(port);
    entry[PortEntryOffset::LinkSession] = session;
    entry[PortEntryOffset::RemoteChannel] = channel;
    entry[PortEntryOffset::RemoteCrossPath] = crossPath;
}

void PutIp(uint8_t* at, const Ipv4& ip) {
    std::memcpy(at, ip.data(), ip.size());
}

void PutSession(ConfigBlock& config, int session, bool enabled, const Ipv4& destination,
                uint8_t tos) {
    uint8_t* record = config.data() + SessionRecordOffset(session);
    const auto port = static_cast<uint16_t>(kFirstUdpPort + session);
    PutU16(record + SessionOffset::LocalPort, port);
    PutU16(record + SessionOffset::DestinationPort, port);
    record[SessionOffset::Enable] = enabled ? 1 : 0;
    PutIp(record + SessionOffset::DestinationIp, destination);
    PutU16(record + SessionOffset::Tos, tos);
}

ConfigBlock SeedConfig(const ModuleSeed& seed) {
    ConfigBlock config{};
    config[ConfigOffset::ConfigMarker] = kConfigMarkerByte;
    config[ConfigOffset::ConfigMarker + 1] = kConfigMarkerByte;
    PutIp(config.data() + ConfigOffset::LocalIp, seed.ownIp);
    uint8_t* mac = config.data() + ConfigOffset::LocalMac;
    std::memcpy(mac, kMacPrefix, sizeof kMacPrefix);
    mac[sizeof kMacPrefix] = static_cast<uint8_t>(seed.number);
    PutIp(config.data() + ConfigOffset::Subnetwork, kSubnetMask);
    Ipv4 gateway = seed.ownIp;
    gateway.back() = kGatewayHost;
    PutIp(config.data() + ConfigOffset::Gateway, gateway);
    PutU16(config.data() + ConfigOffset::ControlPort, seed.controlPort);
    PutSession(config, kPartnerSession, true, seed.partnerIp, kPartnerTos);
    PutSession(config, kSpareSession, true, kThirdModuleIp, 0);
    PutU32(config.data() + ConfigOffset::OptionFlags, kSeedOptions);
    return config;
}

SwitchingBlock SeedSwitching(const ModuleSeed& seed) {
    SwitchingBlock block{};
    for (int port = 0; port < kPortCount; ++port) {
        uint8_t* entry = block.data() + PortEntryOffsetOf(port);
        entry[PortEntryOffset::CarriedHead] =
            static_cast<uint8_t>(kCarriedModuleMark + seed.number);
        entry[PortEntryOffset::CarriedHead + 1] = static_cast<uint8_t>(port + 1);
        entry[PortEntryOffset::CarriedHead + 2] = kCarriedFill2;
        entry[PortEntryOffset::CarriedHead + 3] = kCarriedFill3;
        entry[PortEntryOffset::CarriedTail] = static_cast<uint8_t>(kCarriedTailMark + port);
        PutEntry(block, port, 0, NoChannel, CrossPathNone);
    }
    const auto code = static_cast<uint8_t>(kFirstSessionCode + kPartnerSession);
    const auto putA = [&block](const SeedLink& link, uint8_t session) {
        PutEntry(block, PortIndex(link.groupA, link.channelA), session,
                 static_cast<uint8_t>(link.channelB), CrossPathOf(link.groupB));
    };
    const auto putB = [&block](const SeedLink& link, uint8_t session) {
        PutEntry(block, PortIndex(link.groupB, link.channelB), session,
                 static_cast<uint8_t>(link.channelA), CrossPathOf(link.groupA));
    };
    for (const SeedLink& link : kSeedLinks) {
        if (seed.role == ModuleRole::A)
            putA(link, code);
        else
            putB(link, code);
    }
    if (seed.role == ModuleRole::A)
        putA(kForeignLinkA, static_cast<uint8_t>(kFirstSessionCode + kSpareSession));
    else
        putB(kOneSidedLinkB, code);
    return block;
}

PortAvailabilityBlock SeedAvailability(const ModuleSeed& seed) {
    PortAvailabilityBlock availability{};
    availability.fill(kAvailable);
    availability[seed.role == ModuleRole::A ? kUnavailablePortA : kUnavailablePortB] = 0;
    return availability;
}

void AddToCounter(StatisticsBlock& block, int offset, uint64_t amount) {
    const uint64_t sum = GetU16(block.data() + offset) + amount;
    PutU16(block.data() + offset, static_cast<uint16_t>(sum & 0xFFFF));
}

}  // namespace

SimModule::SimModule(const ModuleSeed& seed, std::shared_ptr<const SimClock> clock)
    : clock_(std::move(clock)),
      config_(SeedConfig(seed)),
      switching_(SeedSwitching(seed)),
      availability_(SeedAvailability(seed)),
      tick_(clock_->now()),
      number_(seed.number) {}

std::vector<uint8_t> SimModule::answer(const std::vector<uint8_t>& request) {
    std::lock_guard lock(mutex_);
    return answerLocked(request);
}

SimModule::Reply SimModule::handle(const std::vector<uint8_t>& request) {
    std::lock_guard lock(mutex_);
    ++requestCount_;
    if (recording_)
        requests_.push_back(request);
    Reply reply;
    const uint8_t group = request.empty() ? 0 : request[0];
    const uint8_t type = request.size() < kHeaderSize ? 0 : request[1];
    reply.how = request.size() < kHeaderSize ? Misbehaviour{} : misbehaviour_[type];
    if (reply.how.kind == MisbehaviourKind::Random)
        reply.how = DrawMisbehaviour(chaos_, reply.how.ms);
    ++replies_[type][static_cast<size_t>(reply.how.kind)];
    switch (reply.how.kind) {
        case MisbehaviourKind::Silent:
        case MisbehaviourKind::Close:
            break;
        case MisbehaviourKind::Unsupported:
            reply.bytes = {group, AnswerUnsupported};
            break;
        case MisbehaviourKind::Normal:
        case MisbehaviourKind::Split:
        case MisbehaviourKind::Delay:
        case MisbehaviourKind::Random:  // already resolved above
            reply.bytes = answerLocked(request);
            break;
        case MisbehaviourKind::Cut:
            reply.bytes = answerLocked(request);
            if (reply.bytes.size() > static_cast<size_t>(reply.how.value))
                reply.bytes.resize(static_cast<size_t>(reply.how.value));
            break;
        case MisbehaviourKind::Group:
            reply.bytes = answerLocked(request);
            if (!reply.bytes.empty())
                reply.bytes[0] = static_cast<uint8_t>(reply.how.value);
            break;
    }
    return reply;
}

std::vector<uint8_t> SimModule::answerLocked(const std::vector<uint8_t>& request) {
    if (request.size() < kHeaderSize)
        return {};
    const uint8_t group = request[0];
    const uint8_t type = request[1];
    if (!IsKnownCommand(group, type) || request.size() < static_cast<size_t>(RequestLength(type))) {
        return {group, AnswerUnsupported};
    }
    std::vector<uint8_t> out(AnswerLength(group, type), 0);
    out[0] = group;
    out[1] = type;
    uint8_t* payload = out.data() + kHeaderSize;
    const uint8_t* incoming = request.data() + kHeaderSize;
    switch (type) {
        case CmdReadConfig:
            std::memcpy(payload, config_.data(), config_.size());
            break;
        case CmdWriteConfig:
            std::memcpy(config_.data(), incoming, config_.size());
            break;
        case CmdReadStatistics: {
            const StatisticsBlock counters = countersAt(clock_->now());
            std::memcpy(payload, counters.data(), counters.size());
            break;
        }
        case CmdClearStatistics:
            counters_.fill(0);
            tick_ = clock_->now();
            break;
        case CmdReadSwitching:
            std::memcpy(payload + SnapshotOffset::Config, config_.data(), config_.size());
            std::memcpy(payload + SnapshotOffset::Switching, switching_.data(), switching_.size());
            std::memcpy(payload + SnapshotOffset::Availability, availability_.data(),
                        availability_.size());
            break;
        case CmdWriteSwitching: {
            const SwitchingBlock before = switching_;
            std::memcpy(switching_.data(), incoming, switching_.size());
            if (writeWatcher_)
                writeWatcher_(before, switching_);
            break;
        }
        default:
            break;
    }
    return out;
}

StatisticsBlock SimModule::countersAt(SimClock::Clock::time_point now) const {
    StatisticsBlock block = counters_;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - tick_).count();
    if (seconds <= 0 || rate_ == 0)
        return block;
    const uint64_t ticks = static_cast<uint64_t>(seconds) * static_cast<uint64_t>(rate_);
    for (const bool transit : {false, true}) {
        for (const int session : kBusySessions) {
            for (const Growth& growth : kSessionGrowth) {
                AddToCounter(
                    block, StatCounterOffset(transit, session, growth.counter),
                    ticks * static_cast<uint64_t>(transit ? growth.transit : growth.local));
            }
        }
        for (const Growth& growth : kTotalsGrowth) {
            AddToCounter(block, StatTotalOffset(transit, growth.counter),
                         ticks * static_cast<uint64_t>(transit ? growth.transit : growth.local));
        }
    }
    return block;
}

// Folds the whole seconds gone by into counters_, keeping the fraction for later.
void SimModule::settleCounters(SimClock::Clock::time_point now) {
    counters_ = countersAt(now);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - tick_);
    if (seconds.count() > 0)
        tick_ += seconds;
}

namespace {
// Each module of a run draws its own sequence from the one seed given.
std::mt19937 ChaosGenerator(uint32_t seed, int module) {
    return std::mt19937(seed ^ (static_cast<uint32_t>(module) * 0x9E3779B9u));
}
}  // namespace

void SimModule::setMisbehaviour(uint8_t type, Misbehaviour how) {
    std::lock_guard lock(mutex_);
    misbehaviour_[type] = how;
    if (how.kind == MisbehaviourKind::Random)
        chaos_ = ChaosGenerator(how.seed, number_);
}

void SimModule::setMisbehaviourForAll(Misbehaviour how) {
    std::lock_guard lock(mutex_);
    misbehaviour_.fill(how);
    if (how.kind == MisbehaviourKind::Random)
        chaos_ = ChaosGenerator(how.seed, number_);
}

Misbehaviour SimModule::misbehaviour(uint8_t type) const {
    std::lock_guard lock(mutex_);
    return misbehaviour_[type];
}

void SimModule::setRate(int rate) {
    std::lock_guard lock(mutex_);
    settleCounters(clock_->now());
    rate_ = std::max(rate, 0);
}

int SimModule::rate() const {
    std::lock_guard lock(mutex_);
    return rate_;
}

ConfigBlock SimModule::config() const {
    std::lock_guard lock(mutex_);
    return config_;
}

SwitchingBlock SimModule::switching() const {
    std::lock_guard lock(mutex_);
    return switching_;
}

PortAvailabilityBlock SimModule::availability() const {
    std::lock_guard lock(mutex_);
    return availability_;
}

StatisticsBlock SimModule::statistics() const {
    std::lock_guard lock(mutex_);
    return countersAt(clock_->now());
}

void SimModule::setControlPort(uint16_t port) {
    std::lock_guard lock(mutex_);
    PutU16(config_.data() + ConfigOffset::ControlPort, port);
}

ModuleState SimModule::state() const {
    std::lock_guard lock(mutex_);
    return ModuleState{config_, switching_, availability_, countersAt(clock_->now())};
}

void SimModule::apply(const ModuleState& state) {
    std::lock_guard lock(mutex_);
    if (state.config)
        config_ = *state.config;
    if (state.switching)
        switching_ = *state.switching;
    if (state.availability)
        availability_ = *state.availability;
    if (state.counters) {
        counters_ = *state.counters;
        tick_ = clock_->now();
    }
}

std::vector<std::vector<uint8_t>> SimModule::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

size_t SimModule::requestCount() const {
    std::lock_guard lock(mutex_);
    return requestCount_;
}

void SimModule::setRecording(bool on) {
    std::lock_guard lock(mutex_);
    recording_ = on;
}

uint64_t SimModule::replies(uint8_t type, MisbehaviourKind kind) const {
    std::lock_guard lock(mutex_);
    return replies_[type][static_cast<size_t>(kind)];
}

void SimModule::setWriteWatcher(WriteWatcher watcher) {
    std::lock_guard lock(mutex_);
    writeWatcher_ = std::move(watcher);
}
