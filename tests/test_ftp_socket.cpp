// The blocking sockets under the FTP client: every wait bounded, failures
// raised with the operation's word and errno, no SIGPIPE, close-on-exec
// handles, the HTTP-line reader and the datagram operations.
#include "BlockingSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

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
struct ConnectedPair {
    explicit ConnectedPair(std::unique_ptr<CBlockingSocket> acceptedInto = std::make_unique<CBlockingSocket>())
        : accepted(std::move(acceptedInto)) {
        listener.Create(SOCK_STREAM);
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
