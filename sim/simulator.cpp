#include "sim/simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "link/protocol.h"
#include "sim/hex.h"
#include "sim/statefile.h"

namespace {

constexpr Ipv4 kLonePartner = {127, 0, 0, 2};
constexpr Ipv4 kLonePartnerOfPartner = {127, 0, 0, 1};
constexpr int kListenBacklog = 16;
// After a failed accept (out of descriptors, say) wait a little instead of spinning.
constexpr int kAcceptRetryMs = 50;

std::string Timestamp() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char text[40];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03ld", now.tv_nsec / 1000000);
    return text;
}

std::string PeerText(const sockaddr_in& address) {
    Ipv4 ip{};
    std::memcpy(ip.data(), &address.sin_addr.s_addr, ip.size());
    return EndpointText(ip, ntohs(address.sin_port));
}

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool SendAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

ModuleSeed SeedFor(const std::vector<Endpoint>& endpoints, size_t index) {
    ModuleSeed seed;
    seed.ownIp = endpoints[index].ip;
    seed.controlPort = endpoints[index].port;
    seed.number = static_cast<int>(index + 1);
    seed.role = index % 2 == 0 ? ModuleRole::A : ModuleRole::B;
    const size_t partner = index ^ 1;
    if (partner < endpoints.size()) {
        seed.partnerIp = endpoints[partner].ip;
    } else {
        seed.partnerIp = seed.ownIp == kLonePartner ? kLonePartnerOfPartner : kLonePartner;
    }
    return seed;
}

}  // namespace

std::string EndpointText(const Ipv4& ip, uint16_t port) {
    return std::to_string(ip[0]) + '.' + std::to_string(ip[1]) + '.' + std::to_string(ip[2]) + '.' +
           std::to_string(ip[3]) + ':' + std::to_string(port);
}

std::optional<Endpoint> ParseEndpoint(std::string_view text) {
    Endpoint endpoint;
    const size_t colon = text.find(':');
    const std::string address(text.substr(0, colon));
    in_addr parsed{};
    // inet_pton takes exactly four decimal octets, which is what the module's fields hold.
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1)
        return std::nullopt;
    std::memcpy(endpoint.ip.data(), &parsed.s_addr, endpoint.ip.size());
    if (colon != std::string_view::npos) {
        const auto port = ParseNumber(text.substr(colon + 1), 65535);
        if (!port)
            return std::nullopt;
        endpoint.port = static_cast<uint16_t>(*port);
    }
    return endpoint;
}

Simulator::Simulator(std::vector<Endpoint> endpoints, SimulatorOptions options)
    : endpoints_(std::move(endpoints)),
      options_(std::move(options)),
      clock_(std::make_shared<SimClock>(options_.manualClock)) {
    for (size_t i = 0; i < endpoints_.size(); ++i) {
        modules_.push_back(std::make_unique<SimModule>(SeedFor(endpoints_, i), clock_));
        modules_.back()->setRecording(options_.recordRequests);
        ports_.push_back(endpoints_[i].port);
    }
}

Simulator::~Simulator() {
    stop();
}

bool Simulator::start(std::string* error) {
    std::lock_guard lifecycle(lifecycle_);
    const auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        for (int& fd : listeners_)
            CloseFd(fd);
        listeners_.clear();
        CloseFd(wakeRead_);
        CloseFd(wakeWrite_);
        return false;
    };
    if (started_)
        return fail("the simulator has already been started");
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0)
        return fail(std::string("pipe: ") + std::strerror(errno));
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];

    for (size_t i = 0; i < endpoints_.size(); ++i) {
        const std::string where = EndpointText(endpoints_[i].ip, endpoints_[i].port);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
        if (fd < 0)
            return fail("cannot open a socket for " + where + ": " + std::strerror(errno));
        listeners_.push_back(fd);
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(endpoints_[i].port);
        std::memcpy(&address.sin_addr.s_addr, endpoints_[i].ip.data(), endpoints_[i].ip.size());
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd, kListenBacklog) != 0) {
            return fail("cannot listen on " + where + ": " + std::strerror(errno));
        }
        socklen_t length = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        ports_[i] = ntohs(address.sin_port);
        // A module reports the port it is controlled on.
        if (endpoints_[i].port == 0)
            modules_[i]->setControlPort(ports_[i]);
    }
    started_ = true;
    for (size_t i = 0; i < listeners_.size(); ++i) {
        acceptThreads_.emplace_back(&Simulator::acceptLoop, this, static_cast<int>(i));
    }
    return true;
}

void Simulator::stop() {
    std::lock_guard lifecycle(lifecycle_);
    if (!started_ || stopped_)
        return;
    stopped_ = true;
    const char signal = 1;
    while (::write(wakeWrite_, &signal, 1) < 0 && errno == EINTR) {
    }
    for (std::thread& thread : acceptThreads_)
        thread.join();
    acceptThreads_.clear();
    for (int& fd : listeners_)
        CloseFd(fd);
    // No listener is left to add connections, so the list can be taken whole.
    std::list<std::unique_ptr<Connection>> remaining;
    {
        std::lock_guard lock(connectionsMutex_);
        remaining.swap(connections_);
    }
    for (auto& connection : remaining)
        connection->thread.join();
    CloseFd(wakeRead_);
    CloseFd(wakeWrite_);
}

void Simulator::acceptLoop(int index) {
    const int listener = listeners_[static_cast<size_t>(index)];
    for (;;) {
        pollfd watched[2] = {{listener, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (watched[1].revents != 0)
            break;
        reapFinished();
        if ((watched[0].revents & POLLIN) == 0)
            continue;
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd =
            ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd < 0) {
            if (pause(kAcceptRetryMs))
                break;
            continue;
        }
        // Each send must leave as its own segment, or a split answer would be merged again.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        connection->module = index;
        connection->peer = PeerText(peer);
        Connection& served = *connection;
        std::lock_guard lock(connectionsMutex_);
        connections_.push_back(std::move(connection));
        served.thread = std::thread(&Simulator::serve, this, std::ref(served));
    }
}

void Simulator::reapFinished() {
    std::list<std::unique_ptr<Connection>> done;
    {
        std::lock_guard lock(connectionsMutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if ((*it)->finished.load()) {
                auto next = std::next(it);
                done.splice(done.end(), connections_, it);
                it = next;
            } else {
                ++it;
            }
        }
    }
    for (auto& connection : done)
        connection->thread.join();
}

int Simulator::openConnections() const {
    std::lock_guard lock(connectionsMutex_);
    int open = 0;
    for (const auto& connection : connections_)
        open += connection->finished.load() ? 0 : 1;
    return open;
}

void Simulator::serve(Connection& connection) {
    SimModule& module = *modules_[static_cast<size_t>(connection.module)];
    const int fd = connection.fd;
    for (;;) {
        std::vector<uint8_t> request(kHeaderSize);
        size_t got = 0;
        ReadResult result = readExact(fd, request.data(), request.size(), &got);
        if (result == ReadResult::Ok) {
            request.resize(static_cast<size_t>(RequestLength(request[1])));
            size_t more = 0;
            result =
                readExact(fd, request.data() + kHeaderSize, request.size() - kHeaderSize, &more);
            got += more;
        }
        if (result != ReadResult::Ok) {
            if (got > 0) {
                log(connection, "->",
                    "incomplete request, " + std::to_string(got) +
                        " bytes: " + FrameForLog(request.data(), got));
            }
            if (result == ReadResult::TimedOut)
                log(connection, "--", "read time-out, closing");
            break;
        }
        log(connection, "->", FrameForLog(request.data(), request.size()));

        const SimModule::Reply reply = module.handle(request);
        const std::vector<uint8_t>& answer = reply.bytes;
        bool keepServing = true;
        switch (reply.how.kind) {
            case MisbehaviourKind::Silent:
                log(connection, "--", "no answer (silent), holding the connection");
                waitForCloseOrStop(fd);
                keepServing = false;
                break;
            case MisbehaviourKind::Close:
                log(connection, "--", "closing without an answer");
                keepServing = false;
                break;
            case MisbehaviourKind::Delay:
                if (pause(reply.how.ms)) {
                    keepServing = false;
                    break;
                }
                log(connection, "<-", FrameForLog(answer.data(), answer.size()));
                keepServing = SendAll(fd, answer.data(), answer.size());
                break;
            case MisbehaviourKind::Split: {
                const size_t first = answer.size() / 2;
                log(connection, "<-",
                    FrameForLog(answer.data(), answer.size()) + " in two parts (" +
                        std::to_string(first) + " + " + std::to_string(answer.size() - first) +
                        " bytes, " + std::to_string(reply.how.ms) + " ms apart)");
                keepServing = SendAll(fd, answer.data(), first) && !pause(reply.how.ms) &&
                              SendAll(fd, answer.data() + first, answer.size() - first);
                break;
            }
            case MisbehaviourKind::Cut:
                // The module did the work; its answer breaks off and the connection goes.
                log(connection, "<-",
                    FrameForLog(answer.data(), answer.size()) + " cut there, closing");
                SendAll(fd, answer.data(), answer.size());
                keepServing = false;
                break;
            case MisbehaviourKind::Normal:
            case MisbehaviourKind::Unsupported:
            case MisbehaviourKind::Group:
            case MisbehaviourKind::Random:  // resolved by the module
                log(connection, "<-", FrameForLog(answer.data(), answer.size()));
                keepServing = SendAll(fd, answer.data(), answer.size());
                break;
        }
        if (!keepServing)
            break;
    }
    CloseFd(connection.fd);
    connection.finished.store(true);
}

Simulator::ReadResult Simulator::readExact(int fd, uint8_t* into, size_t size, size_t* got) const {
    using std::chrono::steady_clock;
    const auto deadline = steady_clock::now() + std::chrono::milliseconds(options_.readTimeoutMs);
    *got = 0;
    while (*got < size) {
        const auto now = steady_clock::now();
        if (now >= deadline)
            return ReadResult::TimedOut;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        pollfd watched[2] = {{fd, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        const int ready = ::poll(watched, 2, static_cast<int>(left));
        if (ready < 0 && errno != EINTR)
            return ReadResult::Failed;
        if (ready <= 0)
            continue;
        if (watched[1].revents != 0)
            return ReadResult::Stopped;
        const ssize_t received = ::recv(fd, into + *got, size - *got, 0);
        if (received == 0)
            return ReadResult::Closed;
        if (received < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return ReadResult::Failed;
        }
        *got += static_cast<size_t>(received);
    }
    return ReadResult::Ok;
}

// Sleeps for `ms`; true when the simulator is stopping meanwhile.
bool Simulator::pause(int ms) const {
    using std::chrono::steady_clock;
    const auto deadline = steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto now = steady_clock::now();
        if (now >= deadline)
            return false;
        // Rounded up: a pause must never come out shorter than asked.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        pollfd wake = {wakeRead_, POLLIN, 0};
        const int ready = ::poll(&wake, 1, static_cast<int>(left));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

void Simulator::waitForCloseOrStop(int fd) const {
    uint8_t discarded[256];
    for (;;) {
        pollfd watched[2] = {{fd, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (watched[1].revents != 0)
            return;
        const ssize_t received = ::recv(fd, discarded, sizeof discarded, 0);
        if (received == 0 || (received < 0 && errno != EINTR && errno != EAGAIN))
            return;
    }
}

void Simulator::log(const Connection& connection, const char* direction, const std::string& what) {
    if (options_.quiet)
        return;
    const size_t index = static_cast<size_t>(connection.module);
    const std::string line = Timestamp() + ' ' + connection.peer + ' ' + direction + ' ' +
                             EndpointText(endpoints_[index].ip, ports_[index]) + "  " + what;
    std::lock_guard lock(logMutex_);
    if (options_.log) {
        options_.log(line);
    } else {
        std::fputs((line + '\n').c_str(), stdout);
        std::fflush(stdout);
    }
}

void Simulator::setMisbehaviour(uint8_t type, Misbehaviour how) {
    for (auto& module : modules_)
        module->setMisbehaviour(type, how);
}

void Simulator::setRate(int rate) {
    for (auto& module : modules_)
        module->setRate(rate);
}

bool Simulator::loadState(const std::string& path, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    if (file)
        text << file.rdbuf();
    if (!file || file.bad()) {
        if (error)
            *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string why;
    const auto states = ParseState(text.str(), moduleCount(), &why);
    if (!states) {
        if (error)
            *error = path + ": " + why;
        return false;
    }
    for (size_t i = 0; i < states->size(); ++i)
        modules_[i]->apply((*states)[i]);
    return true;
}

bool Simulator::saveState(const std::string& path, std::string* error) const {
    std::vector<ModuleState> states;
    for (const auto& module : modules_)
        states.push_back(module->state());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << FormatState(states);
    file.close();
    if (!file) {
        if (error)
            *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
