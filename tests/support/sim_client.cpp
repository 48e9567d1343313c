#include "support/sim_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

SimClient::SimClient(const std::string& address, uint16_t port) {
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &remote.sin_addr) != 1)
        return;
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd_ < 0)
        return;
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0)
        close();
}

SimClient::~SimClient() {
    close();
}

void SimClient::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool SimClient::send(const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (fd_ >= 0 && left > 0) {
        const ssize_t sent = ::send(fd_, data, static_cast<size_t>(left), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        left -= sent;
    }
    return fd_ >= 0;
}

void SimClient::finishSending() {
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_WR);
}

SimClient::Received SimClient::receive(int timeoutMs, int size) {
    using std::chrono::steady_clock;
    Received received;
    const auto deadline = steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[4096];
    while (fd_ >= 0 && received.bytes.size() < size) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady_clock::now())
                .count();
        if (left <= 0)
            break;
        pollfd watched = {fd_, POLLIN, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        const qsizetype wanted = std::min<qsizetype>(size - received.bytes.size(), sizeof buffer);
        const ssize_t got = ::recv(fd_, buffer, static_cast<size_t>(wanted), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            received.closed = true;
            break;
        }
        received.bytes.append(buffer, got);
        received.chunks.push_back({static_cast<int>(got), steady_clock::now()});
    }
    return received;
}

QByteArray Exchange(const std::string& address, uint16_t port, const QByteArray& request,
                    int timeoutMs) {
    SimClient client(address, port);
    if (!client.send(request))
        return {};
    client.finishSending();
    return client.receive(timeoutMs).bytes;
}
