// A small blocking HTTP/1.1 client for one GET per object: the constructor
// connects, Get sends the request and reads the whole answer, Close lets the
// socket go. The programme calendar is its only user.
//
// The calendar answers over plain HTTP, so every server is untrusted: each
// wait has a time limit and the header and body have size caps. All of them
// can be changed through Options (tests use short ones).
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

class LightHttpClient {
public:
    struct RequestHeader {
        std::string host;        // connected to, and sent as the "Host" line
        std::string url;         // request target; empty means "/"
        std::string user_agent;  // sent as the "User-Agent" line
    };

    struct Response {
        int status = 0;           // state_code as a number, 0 without leading digits
        std::string version;      // first word of the status line
        std::string state_code;   // second word
        std::string phrase;       // third word only
        std::unordered_map<std::string, std::string> header;  // exact names, last one wins
        std::string raw_response_header;  // status line and header lines, each with CRLF
        std::string content;      // body, chunk framing removed
    };

    struct Options {
        std::uint16_t port = 80;
        std::chrono::milliseconds connectTimeout{15000};
        // The longest silence between two pieces of the answer.
        std::chrono::milliseconds receiveTimeout{30000};
        // The whole exchange, from the request to the last byte of the answer.
        std::chrono::milliseconds totalTimeout{120000};
        std::size_t maxHeaderBytes = 64 * 1024;
        std::uint64_t maxBodyBytes = 16 * 1024 * 1024;
    };

    explicit LightHttpClient(RequestHeader header);
    LightHttpClient(RequestHeader header, const Options& options);
    // Closes a socket that Close did not: a Get that throws skips the
    // caller's Close.
    ~LightHttpClient();
    LightHttpClient(const LightHttpClient&) = delete;
    LightHttpClient& operator=(const LightHttpClient&) = delete;

    // Throws std::runtime_error (or std::invalid_argument for a malformed
    // length or chunk size) when the answer cannot be had; the socket is
    // closed by then.
    Response Get(RequestHeader header);
    void Close();

private:
    using Clock = std::chrono::steady_clock;

    void close();
    Response RecvHtml();
    // Sends the whole text; returns the byte count, or what the failed send
    // returned.
    int write(const std::string& text);
    // One send or recv, after waiting (within the limits) until the socket
    // is ready. A result of 0 or less closes the socket, and errno then
    // tells why (ETIMEDOUT for a wait that ran out, EBADF without a socket).
    int send(const char* data, std::size_t size);
    int recv(char* buffer, std::size_t size);
    // False when the host does not resolve to an IPv4 address.
    static bool getaddr(const std::string& host, in_addr& address);
    // False without a socket or when the host does not resolve; a connect
    // that fails or outlasts its limit closes the socket.
    bool connect(const std::string& host, std::uint16_t port);
    // Appends what one recv brings to `out`; returns the byte count, or
    // throws the receive failure.
    std::size_t recvInto(std::string& out);
    [[noreturn]] void fail(const std::string& message);
    [[noreturn]] void failReceive(int errorCode);
    // The shared rule of send and recv: `call` is retried while the socket
    // is only not ready yet.
    template <typename Call>
    int transfer(short events, Call call);
    // 0 once the socket is ready for `events`, else the error (ETIMEDOUT
    // when `until` passes first).
    int await(short events, Clock::time_point until) const;
    // Milliseconds to wait for the next event, bounded by both limits;
    // 0 once the deadline has passed.
    int waitBudget() const;

    int m_socket = -1;
    Options m_options;
    Clock::time_point m_deadline;
};
