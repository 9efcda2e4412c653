#include "ScriptedFtpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace testsupport {

namespace {

// No wait of the server is longer than this, so a test whose client went
// astray ends instead of hanging.
constexpr int kWaitMs = 10000;

// A connection from `from` (any address when null) to `to`:`port`, host
// order; with a receive buffer of `receiveBuffer` bytes when not 0.
int connectFrom(const char* from, std::uint32_t to, std::uint16_t port, int receiveBuffer = 0) {
    const int data = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (data >= 0 && receiveBuffer > 0) {
        ::setsockopt(data, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (from != nullptr) ::inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(to);
    address.sin_port = htons(port);
    if (data < 0 || (from != nullptr && ::bind(data, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) ||
        ::connect(data, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (data >= 0) ::close(data);
        return -1;
    }
    return data;
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

FtpExchange FtpExchange::hangUp() {
    FtpExchange exchange;
    exchange.close = true;
    return exchange;
}

ScriptedFtpServer::ScriptedFtpServer(FtpExchange greeting, std::vector<FtpExchange> script, std::string address)
    : m_greeting(std::move(greeting)),
      m_script(std::move(script)),
      m_address(std::move(address)),
      m_listener(m_address.c_str()) {
    m_thread = std::thread([this] { run(); });
}

ScriptedFtpServer::~ScriptedFtpServer() {
    m_listener.stop();
    m_thread.join();
    if (m_strangers.joinable()) m_strangers.join();
    if (m_dataListen >= 0) ::close(m_dataListen);
    if (m_heldData >= 0) ::close(m_heldData);
}

std::vector<std::string> ScriptedFtpServer::commands() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

std::string ScriptedFtpServer::dataReceived() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dataReceived;
}

std::string ScriptedFtpServer::strangerReceived() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strangerReceived;
}

ScriptedFtpServer::ReceiveTimes ScriptedFtpServer::receiveTimes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_receiveTimes;
}

void ScriptedFtpServer::run() {
    for (;;) {
        const int connection = m_listener.accept(0);
        if (connection < 0) return;
        serve(connection);
        ::close(connection);
        if (m_heldData >= 0) ::close(m_heldData);
        m_heldData = -1;
        m_pending.clear();
    }
}

void ScriptedFtpServer::serve(int connection) {
    if (!perform(connection, m_greeting)) return;
    for (;;) {
        const std::size_t index = m_next++;
        std::string line;
        if (!readCommandLine(connection, line)) return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_commands.push_back(line);
        }
        if (m_heldData >= 0) {
            ::close(m_heldData);
            m_heldData = -1;
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
        if (i > 0 && !m_listener.pauseFor(exchange.pause)) return false;
        if (!openDataListener(exchange.pieces[i])) return false;
        if (!m_listener.sendAll(connection, exchange.pieces[i], kWaitMs)) return false;
    }
    if (exchange.strangers > 0) playStrangers(exchange.strangers);
    if (!exchange.repeat.empty()) {
        while (m_listener.sendAll(connection, exchange.repeat, kWaitMs)) {
        }
        return false;
    }
    if (exchange.data == FtpExchange::Data::Send || exchange.data == FtpExchange::Data::Receive ||
        exchange.data == FtpExchange::Data::SendForever) {
        if (exchange.strangerFirst) playStranger();
        const int data = openDataConnection(exchange.throttle.receiveBuffer);
        if (data < 0) return false;
        if (exchange.data == FtpExchange::Data::Send) {
            m_listener.sendAll(data, exchange.dataBytes, kWaitMs);
        } else if (exchange.data == FtpExchange::Data::SendForever) {
            while (m_listener.sendAll(data, exchange.dataBytes, kWaitMs)) {
            }
        } else {
            receiveData(data, exchange);
        }
        if (exchange.data == FtpExchange::Data::Receive && exchange.holdData) {
            m_heldData = data;
        } else {
            ::close(data);
        }
    }
    if (!exchange.finalReply.empty() && !m_listener.sendAll(connection, exchange.finalReply, kWaitMs)) return false;
    return !exchange.close;
}

void ScriptedFtpServer::receiveData(int data, const FtpExchange& exchange) {
    using Clock = std::chrono::steady_clock;
    const FtpExchange::Throttle& throttle = exchange.throttle;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_receiveTimes = ReceiveTimes();
    }
    char block[65536];
    std::size_t wanted = exchange.receiveLimit != 0 ? exchange.receiveLimit : SIZE_MAX;
    std::size_t total = 0;
    bool fStalled = false;
    while (wanted > 0 && m_listener.waitReadable(data, kWaitMs) == 1) {
        const ssize_t n = ::recv(data, block, std::min(sizeof block, wanted), 0);
        if (n <= 0) break;
        wanted -= static_cast<std::size_t>(n);
        total += static_cast<std::size_t>(n);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_receiveTimes.firstByte == Clock::time_point()) m_receiveTimes.firstByte = Clock::now();
            m_dataReceived.append(block, static_cast<std::size_t>(n));
        }
        if (throttle.stallAfter != 0 && !fStalled && total >= throttle.stallAfter) {
            fStalled = true;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_receiveTimes.stalled = Clock::now();
            }
            if (!m_listener.pauseFor(throttle.stall)) break;
        }
        if (!m_listener.pauseFor(throttle.readPause)) break;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_receiveTimes.end = Clock::now();
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
        if (m_listener.waitReadable(connection, kWaitMs) != 1) return false;
        char block[4096];
        const ssize_t n = ::recv(connection, block, sizeof block, 0);
        if (n <= 0) return false;
        m_pending.append(block, static_cast<std::size_t>(n));
    }
}

bool ScriptedFtpServer::openDataListener(std::string& piece) {
    if (piece.find("{PASV}") == std::string::npos && piece.find("{PORT}") == std::string::npos) return true;
    if (m_dataListen >= 0) ::close(m_dataListen);
    std::uint16_t port = 0;
    m_dataListen = listenOnLoopback(port, m_address.c_str());
    const std::string portText = std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
    std::string address = m_address;
    replaceAll(address, ".", ",");
    replaceAll(piece, "{PASV}", address + "," + portText);
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

int ScriptedFtpServer::openDataConnection(int receiveBuffer) {
    if (m_dataListen >= 0) {
        if (m_listener.waitReadable(m_dataListen, kWaitMs) != 1) return -1;
        const int data = ::accept4(m_dataListen, nullptr, nullptr, SOCK_CLOEXEC);
        ::close(m_dataListen);
        m_dataListen = -1;
        return data;
    }
    return connectToPortAddress(m_address.c_str(), receiveBuffer);
}

// From the given local address, or any when null.
int ScriptedFtpServer::connectToPortAddress(const char* from, int receiveBuffer) {
    return connectFrom(from, m_portAddress, m_portPort, receiveBuffer);
}

void ScriptedFtpServer::playStrangers(int count) {
    if (m_strangers.joinable()) m_strangers.join();
    m_strangers = std::thread([this, count, to = m_portAddress, port = m_portPort] {
        for (int i = 0; i < count && m_listener.pauseFor(std::chrono::milliseconds(i == 0 ? 0 : 500)); ++i) {
            const int stranger = connectFrom("127.0.0.2", to, port);
            if (stranger >= 0) ::close(stranger);
        }
    });
}

void ScriptedFtpServer::playStranger() {
    const int stranger = connectToPortAddress("127.0.0.2");
    std::string received = "-";
    if (stranger >= 0) {
        char block[4096];
        while (m_listener.waitReadable(stranger, kWaitMs) == 1) {
            const ssize_t n = ::recv(stranger, block, sizeof block, 0);
            if (n <= 0) {
                received.erase(0, 1);
                break;
            }
            received.append(block, static_cast<std::size_t>(n));
        }
        ::close(stranger);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strangerReceived += received;
}

}  // namespace testsupport
