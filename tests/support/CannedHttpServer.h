// A stand-in HTTP server for tests: a thread listening on 127.0.0.1 on a
// port the system picks, serving one canned answer per connection and
// keeping the bytes of every request it read. It also plays hostile
// servers: silent, dripping, endless, closing half-way.
#pragma once

#include "LoopbackListener.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// What the server does on one connection once it has read the request
// (up to its empty line, or whatever came within a few seconds).
struct CannedAnswer {
    // Sent in order, `pause` apart.
    std::vector<std::string> pieces;
    std::chrono::milliseconds pause{0};
    // When not empty: after the pieces, sent over and over, `pause` apart,
    // until the client goes away or the server stops.
    std::string repeat;
    // After the pieces: keep the connection open until the client closes
    // it or the server stops, instead of closing it at once.
    bool holdOpen = false;
    // Instead of all the above: reset the connection at once, without
    // reading the request (the client's send then meets a dead peer).
    bool resetAtOnce = false;

    // The whole text in one send, then close.
    static CannedAnswer whole(std::string bytes);
    // The text cut into pieces of `pieceSize` bytes, `pause` apart.
    static CannedAnswer split(const std::string& bytes, std::size_t pieceSize, std::chrono::milliseconds pause);
};

// "HTTP/1.1 200 OK" (or the given status line), a Content-Length header
// and the body.
std::string contentLengthAnswer(const std::string& body, const std::string& statusLine = "HTTP/1.1 200 OK");
// The chunks framed with their hexadecimal sizes, then the last chunk.
std::string chunkedAnswer(const std::vector<std::string>& chunks);

class CannedHttpServer {
public:
    // Connection i gets answers[i], the last answer for every further one.
    explicit CannedHttpServer(std::vector<CannedAnswer> answers);
    explicit CannedHttpServer(CannedAnswer answer);
    // Stops serving (cutting any connection still open) and joins the thread.
    ~CannedHttpServer();
    CannedHttpServer(const CannedHttpServer&) = delete;
    CannedHttpServer& operator=(const CannedHttpServer&) = delete;

    std::uint16_t port() const { return m_listener.port(); }
    // The request bytes of each connection so far, in order of arrival.
    std::vector<std::string> requests() const;
    // Waits up to `limit` until `count` connections have ended; false on time-out.
    bool waitForConnectionsDone(std::size_t count, std::chrono::milliseconds limit) const;

private:
    void run();
    void serve(int connection, const CannedAnswer& answer);
    void holdUntilClosed(int connection);
    std::string readRequest(int connection);

    std::vector<CannedAnswer> m_answers;
    LoopbackListener m_listener;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_requests;
    std::size_t m_done = 0;
    std::thread m_thread;
};

}  // namespace testsupport
