#pragma once
// A plain POSIX TCP client for talking to kestrel-sim from tests: no Qt event loop, and the
// time of every read is kept so that split and delayed answers can be told apart.
#include <QByteArray>
#include <chrono>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

class SimClient {
  public:
    SimClient(const std::string& address, uint16_t port);
    ~SimClient();
    SimClient(const SimClient&) = delete;
    SimClient& operator=(const SimClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    bool send(const QByteArray& bytes);
    // Half-closes the connection: the module sees the end of the requests, answers what it has
    // and closes, so a read until the close gets exactly the answers.
    void finishSending();
    void close();

    struct Chunk {
        int size = 0;
        std::chrono::steady_clock::time_point at;
    };
    struct Received {
        QByteArray bytes;
        std::vector<Chunk> chunks;
        bool closed = false;  // the module closed the connection (or it failed)
    };
    // Reads until `size` bytes have come, the module closes, or `timeoutMs` has passed.
    Received receive(int timeoutMs, int size = INT_MAX);

  private:
    int fd_ = -1;
};

// Connects, sends the request, half-closes and returns everything until the module closes.
QByteArray Exchange(const std::string& address, uint16_t port, const QByteArray& request,
                    int timeoutMs = 3000);
