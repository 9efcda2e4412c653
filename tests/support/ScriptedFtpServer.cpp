#include "ScriptedFtpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace testsupport {

namespace {

// No wait of the server is longer than this, so a test whose client went
// astray ends instead of hanging.
constexpr int kWaitMs = 10000;

int listenOnLoopback(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return fd;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

FtpExchange FtpExchange::reply(std::string text) {
    FtpExchange exchange;
    exchange.pieces.push_back(std::move(text));
    return exchange;
}

FtpExchange FtpExchange::split(const std::string& text, std::size_t pieceSize, std::chrono::milliseconds pause) {
    FtpExchange exchange;
    exchange.pause = pause;
    for (std::size_t at = 0; at < text.size(); at += pieceSize) exchange.pieces.push_back(text.substr(at, pieceSize));
    return exchange;
}

FtpExchange FtpExchange::send(std::string preliminary, std::string bytes, std::string final) {
    FtpExchange exchange = reply(std::move(preliminary));
    exchange.data = Data::Send;
    exchange.dataBytes = std::move(bytes);
    exchange.finalReply = std::move(final);
    return exchange;
}

FtpExchange FtpExchange::receive(std::string preliminary, std::string final) {
    FtpExchange exchange = reply(std::move(preliminary));
    exchange.data = Data::Receive;
    exchange.finalReply = std::move(final);
    return exchange;
}

ScriptedFtpServer::ScriptedFtpServer(FtpExchange greeting, std::vector<FtpExchange> script)
    : m_greeting(std::move(greeting)), m_script(std::move(script)) {
    if (::pipe2(m_wake, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    m_listen = listenOnLoopback(m_port);
    m_thread = std::thread([this] { run(); });
}

ScriptedFtpServer::~ScriptedFtpServer() {
    const char stop = 1;
    if (::write(m_wake[1], &stop, 1) != 1) std::perror("ScriptedFtpServer wake");
    m_thread.join();
    ::close(m_listen);
    if (m_dataListen >= 0) ::close(m_dataListen);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

std::vector<std::string> ScriptedFtpServer::commands() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

std::string ScriptedFtpServer::dataReceived() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dataReceived;
}

// 1 when fd is readable, 0 on time-out, -1 once the server is told to stop.
int ScriptedFtpServer::waitReadable(int fd, int timeoutMs) {
    for (;;) {
        pollfd watch[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int ready = ::poll(watch, 2, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || watch[1].revents != 0) return -1;
        return ready == 0 ? 0 : 1;
    }
}

void ScriptedFtpServer::run() {
    if (waitReadable(m_listen, -1) != 1) return;
    const int connection = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) return;
    serve(connection);
    ::close(connection);
}

void ScriptedFtpServer::serve(int connection) {
    if (!perform(connection, m_greeting)) return;
    for (std::size_t index = 0;; ++index) {
        std::string line;
        if (!readCommandLine(connection, line)) return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_commands.push_back(line);
        }
        notePortCommand(line);
        FtpExchange exchange;
        if (index < m_script.size()) {
            exchange = m_script[index];
        } else {
            exchange = FtpExchange::reply(line.compare(0, 4, "QUIT") == 0 ? "221 Bye.\r\n" : "500 Unscripted.\r\n");
        }
        if (!perform(connection, std::move(exchange))) return;
    }
}

bool ScriptedFtpServer::perform(int connection, FtpExchange exchange) {
    for (std::size_t i = 0; i < exchange.pieces.size(); ++i) {
        if (i > 0 && !pauseFor(exchange.pause)) return false;
        if (!openDataListener(exchange.pieces[i]) || !sendAll(connection, exchange.pieces[i])) return false;
    }
    if (!exchange.repeat.empty()) {
        while (sendAll(connection, exchange.repeat)) {
        }
        return false;
    }
    if (exchange.data == FtpExchange::Data::Send || exchange.data == FtpExchange::Data::Receive) {
        const int data = openDataConnection();
        if (data < 0) return false;
        if (exchange.data == FtpExchange::Data::Send) {
            sendAll(data, exchange.dataBytes);
        } else {
            char block[65536];
            while (waitReadable(data, kWaitMs) == 1) {
                const ssize_t n = ::recv(data, block, sizeof block, 0);
                if (n <= 0) break;
                std::lock_guard<std::mutex> lock(m_mutex);
                m_dataReceived.append(block, static_cast<std::size_t>(n));
            }
        }
        ::close(data);
    }
    if (!exchange.finalReply.empty() && !sendAll(connection, exchange.finalReply)) return false;
    return !exchange.close;
}

bool ScriptedFtpServer::readCommandLine(int connection, std::string& line) {
    for (;;) {
        const std::size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            line = m_pending.substr(0, end);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            m_pending.erase(0, end + 1);
            return true;
        }
        if (waitReadable(connection, kWaitMs) != 1) return false;
        char block[4096];
        const ssize_t n = ::recv(connection, block, sizeof block, 0);
        if (n <= 0) return false;
        m_pending.append(block, static_cast<std::size_t>(n));
    }
}

bool ScriptedFtpServer::sendAll(int connection, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        pollfd watch[2] = {{connection, POLLOUT, 0}, {m_wake[0], POLLIN, 0}};
        const int ready = ::poll(watch, 2, kWaitMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || watch[1].revents != 0) return false;
        const ssize_t n = ::send(connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool ScriptedFtpServer::pauseFor(std::chrono::milliseconds pause) {
    if (pause.count() <= 0) return true;
    pollfd watch{m_wake[0], POLLIN, 0};
    return ::poll(&watch, 1, static_cast<int>(pause.count())) == 0;
}

bool ScriptedFtpServer::openDataListener(std::string& piece) {
    if (piece.find("{PASV}") == std::string::npos && piece.find("{PORT}") == std::string::npos) return true;
    if (m_dataListen >= 0) ::close(m_dataListen);
    std::uint16_t port = 0;
    m_dataListen = listenOnLoopback(port);
    const std::string portText = std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
    replaceAll(piece, "{PASV}", "127,0,0,1," + portText);
    replaceAll(piece, "{PORT}", portText);
    return true;
}

void ScriptedFtpServer::notePortCommand(const std::string& line) {
    unsigned h[6] = {};
    if (std::sscanf(line.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &h[4], &h[5]) != 6) return;
    m_portAddress = (h[0] << 24) | (h[1] << 16) | (h[2] << 8) | h[3];
    m_portPort = static_cast<std::uint16_t>((h[4] << 8) | h[5]);
    if (m_dataListen >= 0) ::close(m_dataListen);
    m_dataListen = -1;
}

int ScriptedFtpServer::openDataConnection() {
    if (m_dataListen >= 0) {
        if (waitReadable(m_dataListen, kWaitMs) != 1) return -1;
        const int data = ::accept4(m_dataListen, nullptr, nullptr, SOCK_CLOEXEC);
        ::close(m_dataListen);
        m_dataListen = -1;
        return data;
    }
    const int data = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(m_portAddress);
    address.sin_port = htons(m_portPort);
    if (data < 0 || ::connect(data, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (data >= 0) ::close(data);
        return -1;
    }
    return data;
}

}  // namespace testsupport
