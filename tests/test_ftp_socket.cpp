// The blocking sockets under the FTP client: every wait bounded, failures
// raised with the operation's word and errno, no SIGPIPE, close-on-exec
// handles, the end of sending (the peer's close and every byte
// acknowledged, waited for as long as they keep coming), the HTTP-line
// reader and the datagram operations.
#include "BlockingSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

using nsSocket::CBlockingSocket;
using nsSocket::CBlockingSocketException;
using nsSocket::CHttpBlockingSocket;
using nsSocket::CSockAddr;

namespace {

// ---------------------------------------------------------------- messages

struct MessageCase {
    const char* word;
    int error;
    unsigned int room;
    bool fits;
    const char* text;
};

const MessageCase kMessageCases[] = {
    {"Connect", 0x6f, 25, true, "Connect error 0x0000006f"},
    {"Connect", 0x6f, 24, false, ""},
    {"Connect", 0, 14, true, "Connect error"},
    {"Connect", 0, 13, false, ""},
    {"Receive timeout", 110, 512, true, "Receive timeout error 0x0000006e"},
};

TEST(SocketException, MessageAndTheRoomItNeeds) {
    for (const MessageCase& c : kMessageCases) {
        const CBlockingSocketException exception(c.word, c.error);
        char buffer[512];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(exception.GetErrorMessage(buffer, c.room, nullptr), c.fits) << c.word << " " << c.room;
        if (c.fits) {
            EXPECT_STREQ(buffer, c.text);
            EXPECT_EQ(exception.GetErrorMessage(), c.text);
        } else {
            EXPECT_EQ(buffer[0], '#') << "a message that does not fit must leave the buffer alone";
        }
    }
}

// ---------------------------------------------------------------- stream sockets

// A listener on 127.0.0.1, a client connected to it and the accepted end.
// With `receiveBuffer` (not 0), the accepted end's SO_RCVBUF, set on the
// listener so that it holds from the handshake.
struct ConnectedPair {
    explicit ConnectedPair(std::unique_ptr<CBlockingSocket> acceptedInto = std::make_unique<CBlockingSocket>(),
                           int receiveBuffer = 0)
        : accepted(std::move(acceptedInto)) {
        listener.Create(SOCK_STREAM);
        if (receiveBuffer > 0) {
            EXPECT_EQ(::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer), 0);
        }
        listener.Bind(CSockAddr("127.0.0.1", 0));
        listener.Listen();
        listener.GetSockAddr(address);
        client.Create(SOCK_STREAM);
        client.Connect(address, 2);
        CSockAddr peer;
        EXPECT_TRUE(listener.Accept(*accepted, peer, 2));
        EXPECT_EQ(peer.DottedDecimal(), "127.0.0.1");
    }
    CSockAddr address;
    CBlockingSocket listener;
    CBlockingSocket client;
    std::unique_ptr<CBlockingSocket> accepted;
};

// Runs `operation`, which must raise `word` with errno `error`.
template <typename Operation>
void expectFailure(Operation operation, const std::string& word, int error) {
    try {
        operation();
        ADD_FAILURE() << "no exception, expected " << word;
    } catch (const CBlockingSocketException& exception) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%s error 0x%08x", word.c_str(), static_cast<unsigned>(error));
        EXPECT_EQ(exception.GetErrorMessage(), expected);
    }
}

TEST(StreamSocket, WritesReceivesAndSeesTheClose) {
    ConnectedPair pair;
    EXPECT_FALSE(pair.accepted->CheckReadability());
    EXPECT_EQ(pair.client.Write("0123456789", 10, 1), 10);
    char buffer[32] = {};
    int total = 0;
    while (total < 10) total += pair.accepted->Receive(buffer + total, sizeof buffer - total, 1);
    EXPECT_EQ(std::string(buffer, 10), "0123456789");
    CSockAddr own;
    CSockAddr peer;
    pair.client.GetSockAddr(own);
    pair.accepted->GetPeerAddr(peer);
    EXPECT_EQ(own.Port(), peer.Port());
    pair.client.Close();
    pair.client.Close();  // a second close does nothing
    EXPECT_TRUE(pair.accepted->CheckReadability());
    EXPECT_EQ(pair.accepted->Receive(buffer, sizeof buffer, 1), 0);
}

TEST(StreamSocket, HandlesAreCloseOnExec) {
    ConnectedPair pair;
    for (const CBlockingSocket* socket : {&pair.listener, &pair.client, pair.accepted.get()}) {
        EXPECT_NE(::fcntl(*socket, F_GETFD) & FD_CLOEXEC, 0);
    }
}

TEST(StreamSocket, EveryWaitIsBounded) {
    ConnectedPair pair;
    char buffer[16];
    expectFailure([&] { pair.accepted->Receive(buffer, sizeof buffer, 1); }, "Receive timeout", ETIMEDOUT);
    // A peer that reads nothing fills the buffers; the write then gives up.
    const std::string lots(64 * 1024 * 1024, 'x');
    expectFailure([&] { pair.client.Write(lots.data(), static_cast<int>(lots.size()), 1); }, "Send timeout", ETIMEDOUT);
    CBlockingSocket unused;
    expectFailure([&] { pair.listener.Accept(unused, CSockAddr(), 1); }, "Accept", ETIMEDOUT);
}

TEST(StreamSocket, FailuresNameTheOperation) {
    std::uint16_t port = 0;
    {
        ConnectedPair gone;
        port = gone.address.Port();
    }
    CBlockingSocket refused;
    refused.Create(SOCK_STREAM);
    expectFailure([&] { refused.Connect(CSockAddr("127.0.0.1", port), 1); }, "Connect", ECONNREFUSED);

    // Writing to a peer that is gone raises "Send" instead of killing the process with SIGPIPE.
    ConnectedPair pair;
    pair.accepted->Close();
    const std::string block(65536, 'x');
    expectFailure(
        [&] {
            for (int i = 0; i < 100; ++i) pair.client.Write(block.data(), static_cast<int>(block.size()), 1);
        },
        "Send", EPIPE);
    pair.client.Cleanup();
    EXPECT_EQ(static_cast<nsSocket::SOCKET>(pair.client), nsSocket::INVALID_SOCKET);
}

TEST(StreamSocket, HostNamesAndNumbers) {
    CBlockingSocket socket;
    const CSockAddr numeric = socket.GetHostByName("127.0.0.1", 21);
    EXPECT_EQ(numeric.DottedDecimal(), "127.0.0.1");
    EXPECT_EQ(numeric.Port(), 21);
    EXPECT_EQ(numeric.sin_family, AF_INET);
    EXPECT_EQ(socket.GetHostByName("localhost", 2121).IPAddr(), 0x7F000001u);
    EXPECT_THROW(socket.GetHostByName("", 21), CBlockingSocketException);
    EXPECT_EQ(CSockAddr("no address", 1).IPAddr(), 0u);
    EXPECT_EQ(CSockAddr(0xC0A80005UL, 515).DottedDecimal(), "192.168.0.5");
}

// ---------------------------------------------------------------- the end of sending

// What the peer does while the client finishes sending. The peer's thread
// gets the accepted socket; whatever it leaves open is closed once the
// client's FinishSending has returned.
enum class Peer {
    ReadsAllAndCloses,
    // Reads a little at a time through a small buffer: far slower than the
    // client queued its bytes, yet always moving.
    ReadsSlowlyAndCloses,
    ReadsAllNeverCloses,
    // Reads nothing and closes: its system resets the connection.
    ClosesUnread,
    // Reads nothing through a tiny buffer and ends its sending side, the
    // socket left open: most bytes stay unacknowledged after its close.
    HalfClosesUnread,
    // As HalfClosesUnread, then resets the connection (SO_LINGER 0) 300 ms later.
    HalfClosesUnreadThenResets,
};

struct FinishCase {
    const char* label;
    Peer peer;
    int bytes;          // the client writes them before FinishSending
    int timeout;        // FinishSending's
    const char* error;  // the exception's text; "" for none
    double minSeconds, maxSeconds;  // FinishSending's time
};

void PrintTo(const FinishCase& param, std::ostream* out) { *out << param.label; }

const FinishCase kFinishCases[] = {
    {"PeerTakesAllAndCloses", Peer::ReadsAllAndCloses, 100000, 3, "", 0, 0.5},
    // 150 kB read at 2 KiB every 20 ms (about 100 kB/s) take well over
    // the one-second time-out: it counts from the last progress.
    {"SlowPeerThatKeepsReading", Peer::ReadsSlowlyAndCloses, 150000, 1, "", 1.2, 10},
    {"PeerNeverCloses", Peer::ReadsAllNeverCloses, 100000, 1, "Receive timeout error 0x0000006e", 0.9, 2},
    {"ResetByAPeerThatReadNothing", Peer::ClosesUnread, 100000, 3, "Receive error 0x00000068", 0.1, 1},
    // Its close ends the wait for the close, not the wait for the bytes.
    {"BytesUnacknowledgedAfterThePeersClose", Peer::HalfClosesUnread, 60000, 1, "Send timeout error 0x0000006e",
     0.9, 2},
    // A failure after the peer's close is the failure, at once, not a time-out.
    {"ResetAfterThePeersClose", Peer::HalfClosesUnreadThenResets, 60000, 3, "Send error 0x00000068", 0.25, 1.5},
};

class FinishSending : public ::testing::TestWithParam<FinishCase> {};

TEST_P(FinishSending, WaitsForTheBytesToArriveAndTheClose) {
    const FinishCase& param = GetParam();
    const bool fSmallBuffer = param.peer == Peer::ReadsSlowlyAndCloses || param.peer == Peer::HalfClosesUnread ||
                              param.peer == Peer::HalfClosesUnreadThenResets;
    ConnectedPair pair(std::make_unique<CBlockingSocket>(), fSmallBuffer ? 4096 : 0);
    const std::string bytes(static_cast<std::size_t>(param.bytes), 'u');
    ASSERT_EQ(pair.client.Write(bytes.data(), param.bytes, 1), param.bytes);

    CBlockingSocket& peer = *pair.accepted;
    std::size_t received = 0;
    std::thread peerThread([&] {
        char block[65536];
        const auto readAll = [&](std::size_t most, int pauseMs) {
            for (;;) {
                const ssize_t n = ::recv(peer, block, most, 0);
                if (n <= 0) return;
                received += static_cast<std::size_t>(n);
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            }
        };
        switch (param.peer) {
            case Peer::ReadsAllAndCloses:
                readAll(sizeof block, 0);
                peer.Close();
                break;
            case Peer::ReadsSlowlyAndCloses:
                readAll(2048, 20);
                peer.Close();
                break;
            case Peer::ReadsAllNeverCloses:
                readAll(sizeof block, 0);
                break;
            case Peer::ClosesUnread:
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                peer.Close();
                break;
            case Peer::HalfClosesUnread:
                ::shutdown(peer, SHUT_WR);
                break;
            case Peer::HalfClosesUnreadThenResets: {
                ::shutdown(peer, SHUT_WR);
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                const linger reset{1, 0};
                ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                peer.Close();
                break;
            }
        }
    });

    std::string error;
    const auto start = std::chrono::steady_clock::now();
    try {
        pair.client.FinishSending(param.timeout);
    } catch (const CBlockingSocketException& exception) {
        error = exception.GetErrorMessage();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    pair.client.Close();
    peerThread.join();

    EXPECT_EQ(error, param.error);
    EXPECT_GE(seconds, param.minSeconds);
    EXPECT_LE(seconds, param.maxSeconds);
    if (param.error[0] == '\0') {
        EXPECT_EQ(received, bytes.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Ends, FinishSending, ::testing::ValuesIn(kFinishCases),
                         [](const ::testing::TestParamInfo<FinishCase>& info) {
                             return std::string(info.param.label);
                         });

// ---------------------------------------------------------------- HTTP lines

struct HttpPair : ConnectedPair {
    HttpPair() : ConnectedPair(std::make_unique<CHttpBlockingSocket>()) {}
    CHttpBlockingSocket& http() { return static_cast<CHttpBlockingSocket&>(*accepted); }
};

TEST(HttpSocket, HeaderLinesThenTheRest) {
    HttpPair pair;
    const std::string response = "HTTP/1.1 200 OK\r\nA-Rather-Long-Header: value\r\n\r\nbody bytes";
    pair.client.Write(response.data(), static_cast<int>(response.size()), 1);
    pair.client.Close();
    char line[20];
    EXPECT_EQ(pair.http().ReadHttpHeaderLine(line, sizeof line, 1), 17);
    EXPECT_STREQ(line, "HTTP/1.1 200 OK\r\n");
    // A line longer than the caller's room is cut; the next call starts at the next line.
    EXPECT_EQ(pair.http().ReadHttpHeaderLine(line, sizeof line, 1), 19);
    EXPECT_STREQ(line, "A-Rather-Long-Heade");
    EXPECT_EQ(pair.http().ReadHttpHeaderLine(line, sizeof line, 1), 2);
    char body[64] = {};
    EXPECT_EQ(pair.http().ReadHttpResponse(body, sizeof body, 1), 10);
    EXPECT_STREQ(body, "body bytes");
}

TEST(HttpSocket, LinesItCannotGiveAreFailures) {
    struct Case {
        const char* label;
        std::string bytes;
    };
    const Case cases[] = {
        {"LoneLineFeed", "HTTP/1.1 200 OK\n"},
        {"NoLineFeedInAFullBuffer", std::string(1500, 'h')},
        {"PeerClosedMidLine", "HTTP/1.1"},
    };
    for (const Case& c : cases) {
        HttpPair pair;
        pair.client.Write(c.bytes.data(), static_cast<int>(c.bytes.size()), 1);
        pair.client.Close();
        char line[2000];
        EXPECT_THROW(pair.http().ReadHttpHeaderLine(line, sizeof line, 1), CBlockingSocketException) << c.label;
    }
}

// ---------------------------------------------------------------- datagrams

TEST(DatagramSocket, SendsReceivesAndWaitsBounded) {
    CBlockingSocket receiver;
    receiver.Create(SOCK_DGRAM);
    receiver.Bind(CSockAddr("127.0.0.1", 0));
    CSockAddr to;
    receiver.GetSockAddr(to);
    CBlockingSocket sender;
    sender.Create(SOCK_DGRAM);
    sender.Bind(CSockAddr("127.0.0.1", 0));
    CSockAddr from;
    sender.GetSockAddr(from);

    EXPECT_EQ(sender.SendDatagram("ping", 4, to, 1), 4);
    char buffer[16] = {};
    CSockAddr seen;
    EXPECT_EQ(receiver.ReceiveDatagram(buffer, sizeof buffer, seen, 1), 4);
    EXPECT_STREQ(buffer, "ping");
    EXPECT_EQ(seen.Port(), from.Port());
    expectFailure([&] { receiver.ReceiveDatagram(buffer, sizeof buffer, seen, 1); }, "Receive timeout", ETIMEDOUT);
}

}  // namespace
