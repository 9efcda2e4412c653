#include "LoopbackListener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace testsupport {

int listenOnLoopback(std::uint16_t& port, const char* dotted) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t length = sizeof address;
    if (fd < 0 || ::inet_pton(AF_INET, dotted, &address.sin_addr) != 1 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error(std::string("cannot listen on ") + dotted);
    }
    port = ntohs(address.sin_port);
    return fd;
}

LoopbackListener::LoopbackListener(const char* address) {
    if (::pipe2(m_wake, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    try {
        m_listen = listenOnLoopback(m_port, address);
    } catch (...) {
        ::close(m_wake[0]);
        ::close(m_wake[1]);
        throw;
    }
}

LoopbackListener::~LoopbackListener() {
    ::close(m_listen);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

void LoopbackListener::stop() {
    const char stop = 1;
    if (::write(m_wake[1], &stop, 1) != 1) std::perror("LoopbackListener wake");
}

int LoopbackListener::accept(int flags) {
    for (;;) {
        if (waitReadable(m_listen, -1) != 1) return -1;
        const int connection = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | flags);
        if (connection >= 0) return connection;
    }
}

int LoopbackListener::waitReadable(int fd, int timeoutMs) const {
    for (;;) {
        pollfd watch[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int ready = ::poll(watch, 2, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || watch[1].revents != 0) return -1;
        return ready == 0 ? 0 : 1;
    }
}

bool LoopbackListener::sendAll(int connection, const std::string& bytes, int timeoutMs) const {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        pollfd watch[2] = {{connection, POLLOUT, 0}, {m_wake[0], POLLIN, 0}};
        const int ready = ::poll(watch, 2, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || watch[1].revents != 0) return false;
        const ssize_t n = ::send(connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool LoopbackListener::pauseFor(std::chrono::milliseconds pause) const {
    if (pause.count() <= 0) return true;
    pollfd watch{m_wake[0], POLLIN, 0};
    return ::poll(&watch, 1, static_cast<int>(pause.count())) == 0;
}

}  // namespace testsupport
