#include "LightHttpClient.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace {

// One recv never asks for more than this.
constexpr std::size_t kRecvBlock = 10240;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isWordSpace(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// atoi's reading of the status code, without atoi's undefined overflow:
// leading white space, an optional sign, then digits, held to the int range.
int statusNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && isWordSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<long long>(value * 10 + (text[i] - '0'), static_cast<long long>(INT_MAX) + 1);
    }
    if (negative) value = -value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// Reads up to three words of the status line.
void splitStatusLine(const std::string& line, std::string* words[3]) {
    std::size_t i = 0;
    for (int w = 0; w < 3; ++w) {
        while (i < line.size() && isWordSpace(line[i])) ++i;
        std::size_t start = i;
        while (i < line.size() && !isWordSpace(line[i])) ++i;
        *words[w] = line.substr(start, i - start);
    }
}

// value * base + digit, held at the largest 64-bit value instead of
// wrapping; the caller compares the result with its cap.
std::uint64_t appendDigit(std::uint64_t value, unsigned digit, unsigned base) {
    if (value > (UINT64_MAX - digit) / base) return UINT64_MAX;
    return value * base + digit;
}

}  // namespace

LightHttpClient::LightHttpClient(RequestHeader header) : LightHttpClient(std::move(header), Options()) {}

LightHttpClient::LightHttpClient(RequestHeader header, const Options& options) : m_options(options) {
    m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_socket < 0) {
        m_socket = -1;
        return;
    }
    // A host that does not resolve leaves the socket open and unconnected:
    // Get then fails on it.
    connect(header.host, m_options.port);
}

bool LightHttpClient::getaddr(const std::string& host, in_addr& address) {
    // A NUL would cut the name short and resolve a different host.
    if (host.find('\0') != std::string::npos) return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        if (found) ::freeaddrinfo(found);
        return false;
    }
    sockaddr_in first{};
    std::memcpy(&first, found->ai_addr, std::min<std::size_t>(sizeof first, found->ai_addrlen));
    ::freeaddrinfo(found);
    address = first.sin_addr;
    return true;
}

bool LightHttpClient::connect(const std::string& host, std::uint16_t port) {
    sockaddr_in address{};
    if (m_socket == -1 || !getaddr(host, address.sin_addr)) return false;
    address.sin_family = AF_INET;
    address.sin_port = htons(port);

    if (::connect(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
    // The socket does not block: the connect goes on in the background and
    // its outcome shows once the socket turns writable.
    int error = errno;
    if (error == EINPROGRESS || error == EINTR) error = await(POLLOUT, Clock::now() + m_options.connectTimeout);
    socklen_t length = sizeof error;
    if (error == 0 && ::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error == 0) return true;
    close();
    return false;
}

LightHttpClient::~LightHttpClient() { close(); }

void LightHttpClient::Close() { close(); }

void LightHttpClient::close() {
    if (m_socket != -1) {
        ::close(m_socket);
        m_socket = -1;
    }
}

LightHttpClient::Response LightHttpClient::Get(RequestHeader header) {
    m_deadline = Clock::now() + m_options.totalTimeout;
    if (header.url.empty()) header.url = "/";
    const std::string request = "GET " + header.url + " HTTP/1.1\r\nHost: " + header.host +
                                "\r\nAccept-Charset : utf-8\r\nConnection: keep-alive\r\nUser-Agent: " +
                                header.user_agent + "\r\nAccept: */*\r\n\r\n";
    // A failed send closes the socket; the receive that follows reports it.
    write(request);
    return RecvHtml();
}

int LightHttpClient::waitBudget() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now());
    if (left.count() <= 0) return 0;
    const auto budget = std::min(left, m_options.receiveTimeout);
    return static_cast<int>(std::clamp<long long>(budget.count(), 1, INT_MAX));
}

template <typename Call>
int LightHttpClient::transfer(short events, Call call) {
    if (m_socket == -1) {
        errno = EBADF;
        return -1;
    }
    // The silence limit counts from the start of this call, not from the
    // last wake-up that brought nothing.
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(waitBudget());
    ssize_t result = -1;
    for (;;) {
        if (const int error = await(events, until)) {
            errno = error;
            break;
        }
        result = call();
        if (result >= 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) break;
    }
    if (result <= 0) {
        const int error = errno;
        close();
        errno = error;
    }
    return static_cast<int>(result);
}

int LightHttpClient::await(short events, Clock::time_point until) const {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) return ETIMEDOUT;
        pollfd watch{m_socket, events, 0};
        const int ready = ::poll(&watch, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
        if (ready > 0) return 0;
        if (ready == 0) return ETIMEDOUT;
        if (errno != EINTR) return errno;
    }
}

int LightHttpClient::write(const std::string& text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        const int n = send(text.data() + sent, text.size() - sent);
        if (n <= 0) return n;
        sent += static_cast<std::size_t>(n);
    }
    return static_cast<int>(std::min<std::size_t>(sent, INT_MAX));
}

int LightHttpClient::send(const char* data, std::size_t size) {
    const std::size_t count = std::min<std::size_t>(size, INT_MAX);
    return transfer(POLLOUT, [&] { return ::send(m_socket, data, count, MSG_NOSIGNAL); });
}

int LightHttpClient::recv(char* buffer, std::size_t size) {
    const std::size_t count = std::min<std::size_t>(size, INT_MAX);
    return transfer(POLLIN, [&] { return ::recv(m_socket, buffer, count, 0); });
}

std::size_t LightHttpClient::recvInto(std::string& out) {
    std::array<char, kRecvBlock> block;
    const int n = recv(block.data(), block.size());
    if (n <= 0) failReceive(n == 0 ? 0 : errno);
    out.append(block.data(), static_cast<std::size_t>(n));
    return static_cast<std::size_t>(n);
}

void LightHttpClient::fail(const std::string& message) {
    close();
    throw std::runtime_error(message);
}

// No close here: the recv that failed has let the socket go already, and
// that is the one place the rule lives.
void LightHttpClient::failReceive(int errorCode) {
    throw std::runtime_error("Recieve error. Error code:" + std::to_string(errorCode));
}

LightHttpClient::Response LightHttpClient::RecvHtml() {
    Response response;

    // Header: the end mark is looked for only in what is new (plus three
    // bytes that may hold its start), and the header may not outgrow its cap.
    std::string received;
    std::size_t headerEnd = std::string::npos;
    std::size_t searchFrom = 0;
    for (;;) {
        recvInto(received);
        headerEnd = received.find("\r\n\r\n", searchFrom);
        if (headerEnd != std::string::npos) break;
        if (received.size() >= m_options.maxHeaderBytes)
            fail("Response header is longer than " + std::to_string(m_options.maxHeaderBytes) + " bytes.");
        searchFrom = received.size() >= 3 ? received.size() - 3 : 0;
    }
    if (headerEnd + 4 > m_options.maxHeaderBytes)
        fail("Response header is longer than " + std::to_string(m_options.maxHeaderBytes) + " bytes.");
    response.content = received.substr(headerEnd + 4);
    received.resize(headerEnd + 2);
    response.raw_response_header = std::move(received);
    const std::string& raw = response.raw_response_header;

    // Status line. The raw header ends with CR LF, so every line has one.
    std::size_t lineEnd = raw.find("\r\n");
    std::string* words[3] = {&response.version, &response.state_code, &response.phrase};
    splitStatusLine(raw.substr(0, lineEnd), words);
    response.status = statusNumber(response.state_code);

    for (std::size_t pos = lineEnd + 2; pos < raw.size(); pos = lineEnd + 2) {
        lineEnd = raw.find("\r\n", pos);
        const std::string line = raw.substr(pos, lineEnd - pos);
        const std::size_t separator = line.size() < 2 ? std::string::npos : line.find(": ");
        if (separator == std::string::npos) fail("Can not parse the line:" + line);
        response.header[line.substr(0, separator)] = line.substr(separator + 2);
    }

    const std::uint64_t maxBody = m_options.maxBodyBytes;
    const std::string tooLarge = "Response body is longer than " + std::to_string(maxBody) + " bytes.";
    std::string& content = response.content;

    auto length = response.header.find("Content-Length");
    if (length != response.header.end()) {
        // Digits only: no sign, no trailing junk, and no value past the cap
        // (which also keeps the arithmetic from overflowing).
        const std::string& text = length->second;
        std::size_t first = 0;
        std::size_t last = text.size();
        while (first < last && isBlank(text[first])) ++first;
        while (last > first && isBlank(text[last - 1])) --last;
        std::uint64_t announced = 0;
        bool digitsOnly = first < last;
        for (std::size_t i = first; i < last && digitsOnly; ++i) {
            digitsOnly = text[i] >= '0' && text[i] <= '9';
            if (digitsOnly) announced = appendDigit(announced, static_cast<unsigned>(text[i] - '0'), 10);
        }
        if (!digitsOnly) {
            close();
            throw std::invalid_argument("Field Content-Length is not a number:" + text);
        }
        if (announced > maxBody) fail(tooLarge);
        std::int64_t remain = static_cast<std::int64_t>(announced) - static_cast<std::int64_t>(content.size());
        if (remain < 0) fail("Field Content-Length is less than real content length.");
        while (remain > 0) {
            remain -= static_cast<std::int64_t>(recvInto(content));
            if (remain < 0) fail("Field Content-Length is less than real content length.");
        }
        return response;
    }

    auto coding = response.header.find("Transfer-Encoding");
    if (coding == response.header.end() || coding->second != "chunked") {
        // The body is what came with the header; the cap holds for it too.
        if (content.size() > maxBody) fail(tooLarge);
        return response;
    }

    // Chunked: `pending` holds what is received and not yet decoded from
    // `pos` on; the decoded part is dropped before each receive.
    std::string pending = std::move(content);
    content.clear();
    std::size_t pos = 0;
    auto receiveMore = [&](std::size_t& searchFrom) {
        pending.erase(0, pos);
        searchFrom -= std::min(searchFrom, pos);
        pos = 0;
        recvInto(pending);
    };
    for (;;) {
        std::size_t searchFrom = pos;
        std::size_t sizeEnd;
        while ((sizeEnd = pending.find("\r\n", searchFrom)) == std::string::npos) {
            if (pending.size() - pos > m_options.maxHeaderBytes)
                fail("Chunk size line is longer than " + std::to_string(m_options.maxHeaderBytes) + " bytes.");
            searchFrom = std::max(pos, pending.empty() ? 0 : pending.size() - 1);
            receiveMore(searchFrom);
        }
        const std::string sizeLine = pending.substr(pos, sizeEnd - pos);
        pos = sizeEnd + 2;

        // Hexadecimal digits, then nothing or a chunk extension.
        std::size_t i = 0;
        while (i < sizeLine.size() && isBlank(sizeLine[i])) ++i;
        const std::size_t digitsStart = i;
        std::uint64_t size = 0;
        for (; i < sizeLine.size() && hexValue(sizeLine[i]) >= 0; ++i)
            size = appendDigit(size, static_cast<unsigned>(hexValue(sizeLine[i])), 16);
        if (i == digitsStart || (i < sizeLine.size() && sizeLine[i] != ';' && !isBlank(sizeLine[i]))) {
            close();
            throw std::invalid_argument("Chunk size is not a number:" + sizeLine);
        }
        if (size > maxBody - content.size()) fail(tooLarge);

        // The chunk data and the CR LF after it.
        while (pending.size() - pos < size + 2) {
            std::size_t unused = 0;
            receiveMore(unused);
        }
        content.append(pending, pos, static_cast<std::size_t>(size));
        pos += static_cast<std::size_t>(size) + 2;
        if (size == 0) return response;
    }
}
