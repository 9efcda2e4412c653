// The HTTP client against a local server: the request it sends, the three
// ways an answer can be framed, and servers that misbehave. Limits are
// short here so that every failure comes quickly.
#include "CannedHttpServer.h"
#include "LightHttpClient.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using testsupport::CannedAnswer;
using testsupport::CannedHttpServer;
using testsupport::chunkedAnswer;
using testsupport::contentLengthAnswer;
using namespace std::chrono_literals;

namespace {

// Short enough for the hostile cases to end soon, long enough that a loaded
// machine (sanitizers, parallel tests) never turns a prompt answer into a
// time-out.
LightHttpClient::Options quick(std::uint16_t port) {
    LightHttpClient::Options options;
    options.port = port;
    options.connectTimeout = 2000ms;
    options.receiveTimeout = 1000ms;
    options.totalTimeout = 3000ms;
    return options;
}

// For answers that should come whole: limits no loaded machine reaches.
LightHttpClient::Options patient(std::uint16_t port) {
    LightHttpClient::Options options = quick(port);
    options.receiveTimeout = 10000ms;
    options.totalTimeout = 30000ms;
    return options;
}

LightHttpClient::RequestHeader request(const std::string& url = "/rss2.php?start=202103312330&end=202104010030&alt=json") {
    return {"127.0.0.1", url, "marubo-test/1.0"};
}

LightHttpClient::Response fetch(const LightHttpClient::Options& options,
                                const LightHttpClient::RequestHeader& header = request()) {
    LightHttpClient client(header, options);
    LightHttpClient::Response response = client.Get(header);
    client.Close();
    return response;
}

LightHttpClient::Response fetch(const CannedAnswer& answer) {
    CannedHttpServer server(answer);
    return fetch(patient(server.port()));
}

// The failure of one exchange, as "<kind>: <message>"; "none" when it worked.
std::string failureOf(const std::function<void()>& exchange) {
    try {
        exchange();
    } catch (const std::invalid_argument& e) {
        return std::string("invalid_argument: ") + e.what();
    } catch (const std::runtime_error& e) {
        return std::string("runtime_error: ") + e.what();
    }
    return "none";
}

std::string failureOf(const CannedAnswer& answer, LightHttpClient::Options options = {}) {
    CannedHttpServer server(answer);
    LightHttpClient::Options actual = quick(server.port());
    actual.maxHeaderBytes = options.maxHeaderBytes;
    actual.maxBodyBytes = options.maxBodyBytes;
    return failureOf([&] { fetch(actual); });
}

const std::string kReceiveError = "runtime_error: Recieve error. Error code:";

// A target far larger than the socket buffers, so its send has to wait.
const std::string kHugeTarget = "/" + std::string(8 * 1024 * 1024, 'a');

long long msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// The number the next socket gets: the lowest one free.
int nextDescriptor() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::close(fd);
    return fd;
}

// A listener on 127.0.0.1 that never accepts: its queue of `backlog`
// connections completes in the kernel, and nothing is ever read.
int idleListener(int backlog, sockaddr_in& address) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener, backlog), 0);
    EXPECT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    return listener;
}

}  // namespace

TEST(LightHttpClientRequest, SendsExactlyTheFixedRequestBytes) {
    CannedHttpServer server(std::vector<CannedAnswer>{CannedAnswer::whole(contentLengthAnswer("x"))});
    fetch(patient(server.port()), {"localhost", "/rss2.php?start=1&end=2&alt=json", "Agent/5.0 (X; Y)"});
    fetch(patient(server.port()), {"127.0.0.1", "", "A"});
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0],
              "GET /rss2.php?start=1&end=2&alt=json HTTP/1.1\r\n"
              "Host: localhost\r\n"
              "Accept-Charset : utf-8\r\n"
              "Connection: keep-alive\r\n"
              "User-Agent: Agent/5.0 (X; Y)\r\n"
              "Accept: */*\r\n"
              "\r\n");
    // An empty target is sent as "/".
    EXPECT_EQ(requests[1],
              "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept-Charset : utf-8\r\n"
              "Connection: keep-alive\r\nUser-Agent: A\r\nAccept: */*\r\n\r\n");
}

TEST(LightHttpClientRequest, ConnectsOnlyToAHostThatResolves) {
    CannedHttpServer server(CannedAnswer::whole(contentLengthAnswer("x")));
    // A name that cannot resolve, and one cut short by a NUL, never connect
    // anywhere: Get fails without a socket.
    for (const std::string& host : {std::string("no such host"), std::string("127.0.0.1\0evil", 14)}) {
        SCOPED_TRACE(host);
        LightHttpClient::RequestHeader header{host, "/", "A"};
        EXPECT_EQ(failureOf([&] { fetch(quick(server.port()), header); }), kReceiveError + std::to_string(EBADF));
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST(LightHttpClientRequest, NothingListeningIsAReceiveFailure) {
    std::uint16_t port;
    {
        CannedHttpServer gone(CannedAnswer{});
        port = gone.port();
    }
    EXPECT_EQ(failureOf([&] { fetch(quick(port)); }), kReceiveError + std::to_string(EBADF));
    // The refused socket is let go at once, not only by Close.
    const int expected = nextDescriptor();
    LightHttpClient refused(request(), quick(port));
    EXPECT_EQ(nextDescriptor(), expected);
}

TEST(LightHttpClientRequest, ConnectGivesUpAfterItsLimit) {
    // A listener whose queue is full and never accepted drops further
    // connection attempts, so the connect can only end by its limit.
    sockaddr_in address;
    const int listener = idleListener(0, address);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    LightHttpClient::Options options = quick(ntohs(address.sin_port));
    options.connectTimeout = 300ms;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf([&] { fetch(options); }), kReceiveError + std::to_string(EBADF));
    // The attempt really waited, and for the shortened limit, not for any
    // longer one of its own.
    EXPECT_GE(msSince(started), 250);
    EXPECT_LT(msSince(started), 1500);
    for (int fd : fillers) ::close(fd);
    ::close(listener);
}

TEST(LightHttpClientRequest, APeerThatNeverReadsEndsTheSendByItsLimit) {
    sockaddr_in address;
    const int listener = idleListener(4, address);
    // The send waits no longer than the silence limit, then lets the socket go.
    EXPECT_EQ(failureOf([&] { fetch(quick(ntohs(address.sin_port)), request(kHugeTarget)); }),
              kReceiveError + std::to_string(EBADF));
    ::close(listener);
}

TEST(LightHttpClientRequest, APeerThatResetsDoesNotKillTheProcess) {
    CannedAnswer reset;
    reset.resetAtOnce = true;
    CannedHttpServer server(reset);
    // The send is still going when the reset arrives; failing, it lets the
    // socket go, so the receive finds none.
    EXPECT_EQ(failureOf([&] { fetch(quick(server.port()), request(kHugeTarget)); }),
              kReceiveError + std::to_string(EBADF));
}

TEST(LightHttpClientAnswer, ContentLengthBodyWithStatusAndHeaders) {
    const auto response = fetch(CannedAnswer::whole(
        "HTTP/1.1 200 OK\r\nContent-Length: 11\r\nX-Twice: first\r\nX-Twice: last  \r\nX-Empty: \r\n\r\nhello world"));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.version, "HTTP/1.1");
    EXPECT_EQ(response.state_code, "200");
    EXPECT_EQ(response.phrase, "OK");
    EXPECT_EQ(response.content, "hello world");
    EXPECT_EQ(response.header.at("Content-Length"), "11");
    EXPECT_EQ(response.header.at("X-Twice"), "last  ");
    EXPECT_EQ(response.header.at("X-Empty"), "");
    EXPECT_EQ(response.raw_response_header,
              "HTTP/1.1 200 OK\r\nContent-Length: 11\r\nX-Twice: first\r\nX-Twice: last  \r\nX-Empty: \r\n");
}

TEST(LightHttpClientAnswer, PiecesSplitAnywhereGiveTheSameAnswer) {
    const std::string text = contentLengthAnswer(std::string("bin\0ary", 7) + "{\"items\":[]}");
    for (std::size_t piece : {1u, 3u, 7u}) {
        SCOPED_TRACE(piece);
        const auto response = fetch(CannedAnswer::split(text, piece, 1ms));
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(response.content, std::string("bin\0ary", 7) + "{\"items\":[]}");
    }
    // The end of the header straddling two pieces.
    const std::string header = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r";
    CannedAnswer straddle;
    straddle.pieces = {header, "\nok"};
    straddle.pause = 20ms;
    EXPECT_EQ(fetch(straddle).content, "ok");
}

TEST(LightHttpClientAnswer, ChunkedInOneAndManyPieces) {
    const std::string text = chunkedAnswer({"hello", " world", std::string(300, 'z')});
    const std::string expected = "hello world" + std::string(300, 'z');
    EXPECT_EQ(fetch(CannedAnswer::whole(text)).content, expected);
    EXPECT_EQ(fetch(CannedAnswer::split(text, 1, 0ms)).content, expected);
    EXPECT_EQ(fetch(CannedAnswer::split(text, 5, 1ms)).content, expected);

    // A chunk extension is ignored; upper- and lower-case digits both count.
    const auto extended = fetch(CannedAnswer::whole(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;name=value\r\nhello\r\nA\r\n0123456789\r\n0\r\n\r\n"));
    EXPECT_EQ(extended.content, "hello0123456789");
    EXPECT_EQ(extended.header.at("Transfer-Encoding"), "chunked");
}

TEST(LightHttpClientAnswer, WithoutFramingTheBodyIsWhatCameWithTheHeader) {
    // The header and the body in one piece, and nothing after: the answer is
    // returned without waiting for the server to close.
    CannedAnswer open = CannedAnswer::whole("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nall there is");
    open.holdOpen = true;
    EXPECT_EQ(fetch(open).content, "all there is");

    // Names and the coding are compared exactly.
    EXPECT_EQ(fetch(CannedAnswer::whole("HTTP/1.1 200 OK\r\ncontent-length: 99\r\n\r\nshort")).content, "short");
    EXPECT_EQ(fetch(CannedAnswer::whole("HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"))
                  .content,
              "5\r\nhello\r\n0\r\n\r\n");
}

TEST(LightHttpClientAnswer, ErrorStatusIsReturnedLikeAnyOther) {
    const auto response = fetch(CannedAnswer::whole(contentLengthAnswer("missing", "HTTP/1.1 404 Not Found")));
    EXPECT_EQ(response.status, 404);
    EXPECT_EQ(response.state_code, "404");
    EXPECT_EQ(response.phrase, "Not");
    EXPECT_EQ(response.content, "missing");

    const auto odd = fetch(CannedAnswer::whole("HTTP/1.0 99999999999999\r\n\r\n"));
    EXPECT_EQ(odd.status, 2147483647);
    EXPECT_EQ(odd.phrase, "");
    EXPECT_EQ(fetch(CannedAnswer::whole("garbage\r\n\r\n")).status, 0);
}

TEST(LightHttpClientAnswer, FailuresOfTheAnswerItself) {
    EXPECT_EQ(failureOf(CannedAnswer::whole("HTTP/1.1 200 OK\r\nContent-Type:text/html\r\n\r\n")),
              "runtime_error: Can not parse the line:Content-Type:text/html");
    EXPECT_EQ(failureOf(CannedAnswer::whole("HTTP/1.1 200 OK\r\nX\r\n\r\n")), "runtime_error: Can not parse the line:X");
    EXPECT_EQ(failureOf(CannedAnswer::whole("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\ntoo long")),
              "runtime_error: Field Content-Length is less than real content length.");
    CannedAnswer more;
    more.pieces = {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nab", "cdef"};
    more.pause = 20ms;
    EXPECT_EQ(failureOf(more), "runtime_error: Field Content-Length is less than real content length.");
    // Closed before the announced length: the peer's orderly close.
    EXPECT_EQ(failureOf(CannedAnswer::whole("HTTP/1.1 200 OK\r\nContent-Length: 30\r\n\r\nshort")),
              kReceiveError + "0");
}

namespace {

struct HostileCase {
    const char* name;  // a time-limit case is named by it: letters only
    CannedAnswer answer;
    std::string failure;
    // Time-limit cases: the limit on the whole exchange (the silence limit
    // is 300 ms throughout).
    std::chrono::milliseconds totalTimeout{800};
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

const std::string kOk = "HTTP/1.1 200 OK\r\n";
const std::string kChunked = kOk + "Transfer-Encoding: chunked\r\n\r\n";
const std::string kTimedOut = kReceiveError + std::to_string(ETIMEDOUT);

CannedAnswer fallingSilent(std::string start) {
    CannedAnswer answer = CannedAnswer::whole(std::move(start));
    answer.holdOpen = true;
    return answer;
}

CannedAnswer dripping(std::string start, std::string drip) {
    CannedAnswer answer;
    answer.pieces = {std::move(start)};
    answer.repeat = std::move(drip);
    answer.pause = 50ms;
    return answer;
}

// Servers that keep the client waiting: each ends only by a time limit,
// so each is a test of its own and they run side by side.
std::vector<HostileCase> waitingServers() {
    CannedAnswer silent;
    silent.holdOpen = true;
    CannedAnswer waitingForMore = CannedAnswer::whole(kOk + "Content-Length: 10\r\n\r\nabc");
    waitingForMore.holdOpen = true;
    return {
        {"Silent", silent, kTimedOut},
        {"StopsShortOfTheLength", waitingForMore, kTimedOut},
        {"DripsTheHeader", dripping(kOk, "X"), kTimedOut},
        {"DripsTheBody", dripping(kOk + "Content-Length: 100000\r\n\r\n", "b"), kTimedOut},
        {"DripsChunks", dripping(kChunked, "1\r\nc\r\n"), kTimedOut},
        // A whole exchange that may last long does not let a silence last
        // longer than the silence limit.
        {"FallsSilentInTheHeader", fallingSilent(kOk + "Content-"), kTimedOut, 20000ms},
        {"FallsSilentInTheBody", fallingSilent(kOk + "Content-Length: 10\r\n\r\nabc"), kTimedOut, 20000ms},
        {"FallsSilentInAChunk", fallingSilent(kChunked + "5\r\nhel"), kTimedOut, 20000ms},
    };
}

}  // namespace

class LightHttpClientTimeLimit : public ::testing::TestWithParam<HostileCase> {};

TEST_P(LightHttpClientTimeLimit, EndsTheExchange) {
    CannedHttpServer server(GetParam().answer);
    // Each case can only end by a time limit, however loaded the machine:
    // short limits cannot turn a prompt answer into a time-out here. The
    // drips come more often than the silence limit, so only the limit on
    // the whole exchange ends them; a silence is ended by its own limit.
    LightHttpClient::Options options = quick(server.port());
    options.receiveTimeout = 300ms;
    options.totalTimeout = GetParam().totalTimeout;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf([&] { fetch(options); }), GetParam().failure);
    EXPECT_LT(msSince(started), 2500);
}

INSTANTIATE_TEST_SUITE_P(Servers, LightHttpClientTimeLimit, ::testing::ValuesIn(waitingServers()),
                         [](const ::testing::TestParamInfo<HostileCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(LightHttpClientHostile, EveryOtherServerGetsAFailureWithinTheCaps) {
    CannedAnswer endlessHeader;
    endlessHeader.pieces = {kOk};
    endlessHeader.repeat = "X-Filler: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n";
    CannedAnswer noHeaderEnd = CannedAnswer::whole(kOk + std::string(1024 * 1024, 'a'));
    noHeaderEnd.holdOpen = true;
    CannedAnswer endlessSizeLine;
    endlessSizeLine.pieces = {kChunked};
    endlessSizeLine.repeat = std::string(1000, '1');

    const std::string headerTooLong = "runtime_error: Response header is longer than 65536 bytes.";
    const std::string bodyTooLong = "runtime_error: Response body is longer than 16777216 bytes.";
    const std::vector<HostileCase> cases = {
        {"endless header", endlessHeader, headerTooLong},
        {"1 MiB without a header end", noHeaderEnd, headerTooLong},
        {"endless chunk size line", endlessSizeLine, "runtime_error: Chunk size line is longer than 65536 bytes."},
        {"length abc", CannedAnswer::whole(kOk + "Content-Length: abc\r\n\r\n"),
         "invalid_argument: Field Content-Length is not a number:abc"},
        {"length -1", CannedAnswer::whole(kOk + "Content-Length: -1\r\n\r\n"),
         "invalid_argument: Field Content-Length is not a number:-1"},
        {"length +5", CannedAnswer::whole(kOk + "Content-Length: +5\r\n\r\nabcde"),
         "invalid_argument: Field Content-Length is not a number:+5"},
        {"length 5x", CannedAnswer::whole(kOk + "Content-Length: 5x\r\n\r\nabcde"),
         "invalid_argument: Field Content-Length is not a number:5x"},
        {"length empty", CannedAnswer::whole(kOk + "Content-Length: \r\n\r\n"),
         "invalid_argument: Field Content-Length is not a number:"},
        {"length 2147483647", CannedAnswer::whole(kOk + "Content-Length: 2147483647\r\n\r\n"), bodyTooLong},
        {"length past 64 bits", CannedAnswer::whole(kOk + "Content-Length: 999999999999999999999999\r\n\r\n"),
         bodyTooLong},
        {"chunk -5", CannedAnswer::whole(kChunked + "-5\r\nhello\r\n0\r\n\r\n"),
         "invalid_argument: Chunk size is not a number:-5"},
        {"chunk empty", CannedAnswer::whole(kChunked + "\r\nhello\r\n0\r\n\r\n"),
         "invalid_argument: Chunk size is not a number:"},
        {"chunk zz", CannedAnswer::whole(kChunked + "zz\r\nhello\r\n0\r\n\r\n"),
         "invalid_argument: Chunk size is not a number:zz"},
        {"chunk 0x5", CannedAnswer::whole(kChunked + "0x5\r\nhello\r\n0\r\n\r\n"),
         "invalid_argument: Chunk size is not a number:0x5"},
        {"chunk FFFFFFFF", CannedAnswer::whole(kChunked + "FFFFFFFF\r\nhello\r\n0\r\n\r\n"), bodyTooLong},
        {"chunk past 64 bits", CannedAnswer::whole(kChunked + "FFFFFFFFFFFFFFFFFFFFFFFF\r\nhello\r\n"), bodyTooLong},
        {"close in mid-chunk", CannedAnswer::whole(kChunked + "10\r\nonly part"), kReceiveError + "0"},
        {"close before the last chunk", CannedAnswer::whole(kChunked + "5\r\nhello\r\n"), kReceiveError + "0"},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(failureOf(c.answer), c.failure);
    }
}

TEST(LightHttpClientHostile, AFailedAnswerLetsTheSocketGoAtOnce) {
    const std::vector<HostileCase> cases = {
        {"closed in the header", CannedAnswer::whole(kOk + "Content-Length: 30\r\n"), kReceiveError + "0"},
        {"closed in the body", CannedAnswer::whole(kOk + "Content-Length: 30\r\n\r\nshort"), kReceiveError + "0"},
        {"closed in a chunk", CannedAnswer::whole(kChunked + "10\r\nonly part"), kReceiveError + "0"},
        {"broken header line", CannedAnswer::whole(kOk + "broken\r\n\r\n"),
         "runtime_error: Can not parse the line:broken"},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.name);
        CannedHttpServer server(c.answer);
        const int expected = nextDescriptor();
        // The client outlives the failure: neither Close nor the destructor
        // can be what let its socket go.
        LightHttpClient client(request(), quick(server.port()));
        EXPECT_EQ(failureOf([&] { client.Get(request()); }), c.failure);
        EXPECT_EQ(nextDescriptor(), expected);
    }
}

TEST(LightHttpClientHostile, CapsCanBeTightened) {
    LightHttpClient::Options shortHeader;
    shortHeader.maxHeaderBytes = 64;
    const std::string header = "HTTP/1.1 200 OK\r\nX-Long: " + std::string(35, 'l') + "\r\n\r\n";
    ASSERT_EQ(header.size(), 64u);
    EXPECT_EQ(failureOf(CannedAnswer::whole(header), shortHeader), "none");
    EXPECT_EQ(failureOf(CannedAnswer::whole(header.substr(0, 17) + "X: 1\r\n" + header.substr(17)), shortHeader),
              "runtime_error: Response header is longer than 64 bytes.");
    LightHttpClient::Options small;
    small.maxBodyBytes = 10;
    EXPECT_EQ(failureOf(CannedAnswer::whole(contentLengthAnswer(std::string(11, 'b'))), small),
              "runtime_error: Response body is longer than 10 bytes.");
    const std::string tooLong = "runtime_error: Response body is longer than 10 bytes.";
    const std::vector<HostileCase> bodies = {
        // Chunks that are each small but together too long.
        {"chunks together too long", CannedAnswer::whole(chunkedAnswer({"123456", "789012"})), tooLong},
        // Without framing, the body is what came with the header.
        {"unframed too long", CannedAnswer::whole(kOk + "\r\n" + std::string(11, 'u')), tooLong},
        {"unframed at the cap", CannedAnswer::whole(kOk + "\r\n" + std::string(10, 'u')), "none"},
        {"other coding too long",
         CannedAnswer::whole(kOk + "Transfer-Encoding: gzip\r\n\r\n" + std::string(11, 'g')), tooLong},
    };
    for (const HostileCase& c : bodies) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(failureOf(c.answer, small), c.failure);
    }
    // At the caps exactly, the answer is whole.
    CannedHttpServer server(CannedAnswer::whole(contentLengthAnswer(std::string(10, 'b'))));
    LightHttpClient::Options exact = patient(server.port());
    exact.maxBodyBytes = 10;
    EXPECT_EQ(fetch(exact).content, std::string(10, 'b'));
}

TEST(LightHttpClientHostile, CloseIsSafeInEveryState) {
    CannedHttpServer server(CannedAnswer::whole("HTTP/1.1 200 OK\r\nbroken\r\n\r\n"));
    LightHttpClient client(request(), quick(server.port()));
    EXPECT_THROW(client.Get(request()), std::runtime_error);
    client.Close();
    client.Close();
    // Without a socket, Get fails at once.
    EXPECT_EQ(failureOf([&] { client.Get(request()); }), kReceiveError + std::to_string(EBADF));
}
