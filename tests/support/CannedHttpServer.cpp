#include "CannedHttpServer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

namespace testsupport {

namespace {

// The request is read for at most this long, so a client that never sends
// one cannot hold the server.
constexpr int kRequestWaitMs = 5000;
constexpr std::size_t kRequestCap = 1024 * 1024;

// Waits for bytes from the client and reads them into `block`: their count,
// or 0 once the client is gone, the server stops or `until` passes
// (time_point::max(): never), or -1 on an error.
ssize_t receive(const LoopbackListener& listener, int connection, char* block, std::size_t size,
                std::chrono::steady_clock::time_point until) {
    for (;;) {
        int timeoutMs = -1;
        if (until != std::chrono::steady_clock::time_point::max()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (left.count() <= 0) return 0;
            timeoutMs = static_cast<int>(left.count());
        }
        if (listener.waitReadable(connection, timeoutMs) != 1) return 0;
        const ssize_t n = ::recv(connection, block, size, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return n;
    }
}

}  // namespace

CannedAnswer CannedAnswer::whole(std::string bytes) {
    CannedAnswer answer;
    answer.pieces.push_back(std::move(bytes));
    return answer;
}

CannedAnswer CannedAnswer::split(const std::string& bytes, std::size_t pieceSize, std::chrono::milliseconds pause) {
    CannedAnswer answer;
    answer.pause = pause;
    for (std::size_t at = 0; at < bytes.size(); at += pieceSize) answer.pieces.push_back(bytes.substr(at, pieceSize));
    return answer;
}

std::string contentLengthAnswer(const std::string& body, const std::string& statusLine) {
    return statusLine + "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

std::string chunkedAnswer(const std::vector<std::string>& chunks) {
    std::string text = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (const std::string& chunk : chunks) {
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
        text += size + chunk + "\r\n";
    }
    return text + "0\r\n\r\n";
}

CannedHttpServer::CannedHttpServer(CannedAnswer answer) : CannedHttpServer(std::vector<CannedAnswer>{std::move(answer)}) {}

CannedHttpServer::CannedHttpServer(std::vector<CannedAnswer> answers) : m_answers(std::move(answers)) {
    if (m_answers.empty()) m_answers.push_back(CannedAnswer());
    m_thread = std::thread([this] { run(); });
}

CannedHttpServer::~CannedHttpServer() {
    m_listener.stop();
    m_thread.join();
}

std::vector<std::string> CannedHttpServer::requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

bool CannedHttpServer::waitForConnectionsDone(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, limit, [&] { return m_done >= count; });
}

void CannedHttpServer::run() {
    for (std::size_t index = 0;; ++index) {
        const int connection = m_listener.accept(SOCK_NONBLOCK);
        if (connection < 0) return;
        serve(connection, m_answers[std::min(index, m_answers.size() - 1)]);
        ::close(connection);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_done;
        }
        m_changed.notify_all();
    }
}

void CannedHttpServer::serve(int connection, const CannedAnswer& answer) {
    if (answer.resetAtOnce) {
        const linger abort{1, 0};
        ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.emplace_back();
        return;
    }
    std::string request = readRequest(connection);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(std::move(request));
    }
    for (std::size_t i = 0; i < answer.pieces.size(); ++i) {
        if (i > 0 && !m_listener.pauseFor(answer.pause)) return;
        if (!m_listener.sendAll(connection, answer.pieces[i], -1)) return;
    }
    if (!answer.repeat.empty()) {
        for (;;) {
            if (!m_listener.pauseFor(answer.pause) || !m_listener.sendAll(connection, answer.repeat, -1)) return;
        }
    }
    if (answer.holdOpen) holdUntilClosed(connection);
}

std::string CannedHttpServer::readRequest(int connection) {
    std::string request;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestWaitMs);
    char block[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < kRequestCap) {
        const ssize_t n = receive(m_listener, connection, block, sizeof block, until);
        if (n <= 0) break;
        request.append(block, static_cast<std::size_t>(n));
    }
    return request;
}

void CannedHttpServer::holdUntilClosed(int connection) {
    char block[4096];  // whatever the client still sends is dropped
    while (receive(m_listener, connection, block, sizeof block, std::chrono::steady_clock::time_point::max()) > 0) {
    }
}

}  // namespace testsupport
