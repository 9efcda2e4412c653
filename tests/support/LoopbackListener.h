// The plumbing the stand-in servers share: a socket listening on 127.0.0.1
// on a port the system picks, and a wake pipe that the serving thread
// watches in every wait, so that stopping the server never hangs on a
// client that went astray.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace testsupport {

// A socket listening on a loopback address (127.0.0.1 unless given) on a
// port the system picks (set into `port`); throws when there is none.
int listenOnLoopback(std::uint16_t& port, const char* address = "127.0.0.1");

class LoopbackListener {
public:
    explicit LoopbackListener(const char* address = "127.0.0.1");
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    std::uint16_t port() const { return m_port; }
    // Ends every wait below, now and later; the serving thread can then
    // be joined.
    void stop();

    // The next connection (accept4 `flags`), or -1 once stopped.
    int accept(int flags);
    // 1 when fd is readable (or closed), 0 on time-out (timeoutMs < 0:
    // none), -1 once stopped.
    int waitReadable(int fd, int timeoutMs) const;
    // Each returns false once the peer is gone, the time-out has passed or
    // the listener is stopped.
    bool sendAll(int connection, const std::string& bytes, int timeoutMs) const;
    bool pauseFor(std::chrono::milliseconds pause) const;

private:
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    std::uint16_t m_port = 0;
};

}  // namespace testsupport
