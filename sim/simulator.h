#pragma once
// The TCP side of the simulator: one listening endpoint per module, a thread per listener and
// a thread per connection, each connection served until the client closes it.
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/simmodule.h"

constexpr uint16_t kDefaultModulePort = 65530;
constexpr int kDefaultReadTimeoutMs = 5000;

struct Endpoint {
    Ipv4 ip{};
    uint16_t port = kDefaultModulePort;  // 0: any free port
};

std::string EndpointText(const Ipv4& ip, uint16_t port);
// "ADDRESS" or "ADDRESS:PORT" with a dotted IPv4 address and a port 0..65535.
std::optional<Endpoint> ParseEndpoint(std::string_view text);

struct SimulatorOptions {
    bool quiet = false;
    // Longest wait for a whole request (and for the next one on an idle connection).
    int readTimeoutMs = kDefaultReadTimeoutMs;
    // Counters move only when clock().advance() is called.
    bool manualClock = false;
    // Keep every request received (SimModule::requests()); off, only their counts.
    bool recordRequests = true;
    // Receives each log line; standard output when empty.
    std::function<void(const std::string&)> log;
};

class Simulator {
  public:
    // Modules are seeded in pairs: endpoints 1 and 2 are A and B of one pair, 3 and 4 of the
    // next; a module left without a partner points its session 1 at 127.0.0.2 (or 127.0.0.1).
    explicit Simulator(std::vector<Endpoint> endpoints, SimulatorOptions options = {});
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Binds every endpoint, then starts serving. On failure nothing keeps running.
    bool start(std::string* error = nullptr);
    // Closes every socket, silent connections included, and joins every thread. Idempotent.
    void stop();

    int moduleCount() const { return static_cast<int>(modules_.size()); }
    SimModule& module(int index) { return *modules_.at(static_cast<size_t>(index)); }
    const Endpoint& endpoint(int index) const { return endpoints_.at(static_cast<size_t>(index)); }
    // The port a module listens on; the real one once started, also when asked for port 0.
    uint16_t port(int index) const { return ports_.at(static_cast<size_t>(index)); }
    SimClock& clock() { return *clock_; }

    void setMisbehaviour(uint8_t type, Misbehaviour how);  // every module
    void setRate(int rate);                                // every module
    // Connections accepted and not yet closed.
    int openConnections() const;

    bool loadState(const std::string& path, std::string* error);
    bool saveState(const std::string& path, std::string* error) const;

  private:
    struct Connection {
        int fd = -1;
        int module = 0;
        std::string peer;
        std::thread thread;
        std::atomic<bool> finished{false};
    };
    enum class ReadResult { Ok, Closed, TimedOut, Stopped, Failed };

    void acceptLoop(int index);
    void serve(Connection& connection);
    ReadResult readExact(int fd, uint8_t* into, size_t size, size_t* got) const;
    bool pause(int ms) const;
    void waitForCloseOrStop(int fd) const;
    void reapFinished();
    void log(const Connection& connection, const char* direction, const std::string& what);

    const std::vector<Endpoint> endpoints_;
    const SimulatorOptions options_;
    const std::shared_ptr<SimClock> clock_;
    std::vector<std::unique_ptr<SimModule>> modules_;
    std::vector<uint16_t> ports_;
    std::vector<int> listeners_;
    std::vector<std::thread> acceptThreads_;
    // Written once to stop; never read, so it stays readable for every poll that watches it.
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::mutex lifecycle_;
    bool started_ = false;
    bool stopped_ = false;
    mutable std::mutex connectionsMutex_;
    std::list<std::unique_ptr<Connection>> connections_;
    std::mutex logMutex_;
};
