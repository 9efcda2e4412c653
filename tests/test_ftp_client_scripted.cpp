// The FTP client against a scripted server, for what real servers do not do:
// odd greetings, replies cut or run together, replies that never end,
// firewall logons, data connections that never come, SIZE replies that must
// not become offsets, PASV replies malformed or naming another host, and
// arguments that would smuggle in a command.
#include "FTPCallBackClass.h"
#include "FTPClient.h"
#include "FTPFileStatus.h"
#include "FtpClientRecorder.h"
#include "ScriptedFtpServer.h"
#include "TestLog.h"
#include "TestPaths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <thread>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using nsFTP::CFTPClient;
using nsFTP::FTP_ERROR;
using nsFTP::FTP_NOTOK;
using nsFTP::FTP_OK;
using testsupport::FtpClientRecorder;
using testsupport::FtpExchange;
using testsupport::ScriptedFtpServer;
using testsupport::TempDir;

namespace {

using Script = std::vector<FtpExchange>;
using Commands = std::vector<std::string>;

const nsFTP::CRepresentation kImage(nsFTP::CType::Image(), nsFTP::CTypeFormat());

FtpExchange reply(const std::string& text) { return FtpExchange::reply(text); }

// USER, PASS and the closing CWD of a direct logon, answered.
Script withLogon(Script rest) {
    Script script = {reply("331 Password.\r\n"), reply("230 Logged on.\r\n"), reply("250 Here.\r\n")};
    script.insert(script.end(), rest.begin(), rest.end());
    return script;
}

const Commands kLogonCommands = {"USER u", "PASS p", "CWD /"};

// A scripted server with a client, one-second waits, and a recorder.
class Scripted {
public:
    explicit Scripted(Script script, FtpExchange greeting = reply("220 Ready.\r\n"), unsigned int bufferSize = 2048,
                      const std::string& serverAddress = "127.0.0.1",
                      std::shared_ptr<nsSocket::IBlockingSocket> socket = nsSocket::CreateDefaultBlockingSocketInstance())
        : address(serverAddress),
          server(std::move(greeting), std::move(script), serverAddress),
          client(std::move(socket), 1, bufferSize, 0, "/") {
        client.AttachObserver(&recorder);
    }
    ~Scripted() { client.DetachObserver(&recorder); }

    bool login(nsFTP::CLogonInfo info) { return client.Login(info); }
    bool login() { return client.Login(nsFTP::CLogonInfo(address, server.port(), "u", "p", "a")); }
    // The commands the server read after the logon.
    Commands afterLogon() const {
        Commands all = server.commands();
        return all.size() <= kLogonCommands.size() ? Commands() : Commands(all.begin() + kLogonCommands.size(), all.end());
    }

    std::string address;
    ScriptedFtpServer server;
    FtpClientRecorder recorder;
    CFTPClient client;
};

// Seconds `call` took.
template <typename Call>
double secondsFor(Call call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// ---------------------------------------------------------------- replies

struct ReplyCase {
    const char* label;
    FtpExchange answer;      // the server's answer to MKD
    unsigned int responseWait;  // milliseconds
    int expected;
    std::string replyText;   // what OnResponse saw last; "" when no reply was complete
    std::string errorText;   // the one OnInternalError expected, "" for none
    bool connectedAfter;
    unsigned int timeout = 1;  // seconds
    double within = 0;         // seconds the call may take at most; 0: not checked
};

void PrintTo(const ReplyCase& param, std::ostream* out) { *out << param.label; }

FtpExchange endless(const std::string& first, const std::string& again) {
    FtpExchange exchange = reply(first);
    exchange.repeat = again;
    return exchange;
}

// Sent 30 ms apart, so each arrives in a read of its own.
FtpExchange pieces(std::vector<std::string> texts) {
    FtpExchange exchange;
    exchange.pieces = std::move(texts);
    exchange.pause = std::chrono::milliseconds(30);
    return exchange;
}

// After the first line, a byte every 100 ms.
FtpExchange dripping(const std::string& first, const std::string& rest) {
    FtpExchange exchange = FtpExchange::split(rest, 1, std::chrono::milliseconds(100));
    exchange.pieces.insert(exchange.pieces.begin(), first);
    return exchange;
}

FtpExchange silence() { return FtpExchange(); }

const ReplyCase kReplyCases[] = {
    {"Created", reply("257 \"/d\" created.\r\n"), 0, FTP_OK, "257 \"/d\" created.", "", true},
    {"Refused", reply("550 No.\r\n"), 0, FTP_NOTOK, "550 No.", "", true},
    {"Intermediate", reply("350 More.\r\n"), 0, FTP_ERROR, "350 More.", "", true},
    {"MultiLineJoined", reply("257-Welcome\r\n257-Second\r\n257 Ready\r\n"), 0, FTP_OK,
     "257-Welcome\r\n257-Second\r\n257 Ready", "", true},
    {"MultiLineKeepsOtherCodesAsText", reply("257-A\r\n230 Other\r\n257-More\r\n 257 x\r\n257 End\r\n"), 0, FTP_OK,
     "257-A\r\n230 Other\r\n257-More\r\n 257 x\r\n257 End", "", true},
    {"FourCharacterFirstLine", reply("257-\r\n257 End\r\n"), 0, FTP_OK, "257-\r\n257 End", "", true},
    {"LoneLineFeedKept", reply("257 Done.\n"), 0, FTP_OK, "257 Done.\n", "", true},
    {"FirstDigitZero", reply("099 Odd.\r\n"), 0, FTP_ERROR, "099 Odd.", "", true},
    {"SecondDigitSix", reply("260 Odd.\r\n"), 0, FTP_ERROR, "260 Odd.", "", true},
    {"SplitAcrossReads", pieces({"257-First\r\n", "257-Second\r\n", "257 End\r\n"}), 0, FTP_OK,
     "257-First\r\n257-Second\r\n257 End", "", true},
    {"SplitWithResponseWait", pieces({"257-First\r\n", "257 End\r\n"}), 100, FTP_OK, "257-First\r\n257 End", "",
     true},
    // A never-ending reply is cut at 1 MiB like a failed read.
    {"MultiLineNeverEnds", endless("257-Start\r\n", std::string(1000, 'x') + "\r\n"), 0, FTP_ERROR, "",
     "Receive error 0x0000005a", false},
    // The whole reply, response waits included, within one time-out.
    {"NeverEndsWithResponseWait", endless("257-Start\r\n", std::string(1000, 'x') + "\r\n"), 100, FTP_ERROR, "",
     "Receive timeout error 0x0000006e", false},
    {"DripsPastTheTimeOut", dripping("257-Start\r\n", std::string(30, 'x') + "\r\n257 End\r\n"), 0, FTP_ERROR, "",
     "Receive timeout error 0x0000006e", false, 1, 2.5},
    // Hang checks: the response waits and every line's read share one deadline.
    {"ResponseWaitCutAtTheDeadline", reply("257-Start\r\n"), 4000, FTP_ERROR, "", "Receive timeout error 0x0000006e",
     false, 1, 2.5},
    {"LinesTooSlowForTheTimeOut", FtpExchange::split("257-1\r\n257-2\r\n257-3\r\n257-4\r\n257-5\r\n257 6\r\n", 7,
                                                     std::chrono::milliseconds(400)),
     0, FTP_ERROR, "", "Receive timeout error 0x0000006e", false, 1, 2.5},
    {"LateLineThenSilence", FtpExchange::split("257-A\r\n257-B\r\n", 7, std::chrono::milliseconds(2500)), 0, FTP_ERROR,
     "", "Receive timeout error 0x0000006e", false, 3, 4.5},
    {"Silent", silence(), 0, FTP_ERROR, "", "Receive timeout error 0x0000006e", false},
    // A closed connection reads as nothing and is closed on this side too.
    {"HungUp", FtpExchange::hangUp(), 0, FTP_ERROR, "", "", false},
};

class ReplyReading : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyReading, MakeDirectoryResultAndReport) {
    const ReplyCase& param = GetParam();
    Scripted scripted(withLogon({param.answer}));
    ASSERT_TRUE(scripted.login());
    scripted.client.setUiResponseWait(param.responseWait);
    scripted.client.setUiTimeout(param.timeout);
    const std::size_t repliesBefore = scripted.recorder.replies.size();

    const double seconds = secondsFor([&] { EXPECT_EQ(scripted.client.MakeDirectory("d"), param.expected); });
    if (param.within > 0) {
        EXPECT_LT(seconds, param.within);
    }
    const std::vector<std::string>& replies = scripted.recorder.replies;
    EXPECT_EQ(replies.size() > repliesBefore ? replies.back() : std::string(), param.replyText);
    if (param.errorText.empty()) {
        EXPECT_TRUE(scripted.recorder.errors.empty()) << scripted.recorder.errorTexts();
    } else {
        ASSERT_EQ(scripted.recorder.errors.size(), 1u) << scripted.recorder.errorTexts();
        EXPECT_EQ(scripted.recorder.errors[0].text, param.errorText);
        EXPECT_EQ(scripted.recorder.errors[0].file, "../ftp/FTPClient");
        EXPECT_EQ(scripted.recorder.errors[0].line, 1276u);
    }
    EXPECT_EQ(scripted.client.IsConnected(), param.connectedAfter);
}

INSTANTIATE_TEST_SUITE_P(Replies, ReplyReading, ::testing::ValuesIn(kReplyCases),
                         [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.label); });

// Without a response wait, a chunk without its line feed is a line of its
// own; the rest of the reply arrives as the next line.
TEST(ReplyReadingQuirks, ChunkWithoutLineFeedIsALineOfItsOwn) {
    Scripted scripted(withLogon({FtpExchange::split("257 Made.\r\n", 5, std::chrono::milliseconds(500)),
                                 reply("250 Fine.\r\n")}));
    ASSERT_TRUE(scripted.login());
    EXPECT_EQ(scripted.client.MakeDirectory("d"), FTP_OK);
    EXPECT_EQ(scripted.recorder.replies.back(), "257 M");
}

// A time-out of 0 still reads a reply that is already there.
TEST(ReplyReadingQuirks, ZeroTimeOutReadsAWaitingReply) {
    FtpExchange late = pieces({"250 Here.\r\n", "257-Made\r\n257 End\r\n"});
    late.pause = std::chrono::milliseconds(200);
    Scripted scripted(withLogon({late}));
    ASSERT_TRUE(scripted.login());
    EXPECT_EQ(scripted.client.ChangeWorkingDirectory("a"), FTP_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    scripted.client.setUiTimeout(0);
    EXPECT_EQ(scripted.client.MakeDirectory("b"), FTP_OK) << scripted.recorder.errorTexts();
    EXPECT_EQ(scripted.recorder.replies.back(), "257-Made\r\n257 End");
}

// Several replies in one read are queued and consumed one per command.
TEST(ReplyReadingQuirks, SeveralRepliesInOneRead) {
    FtpExchange both = reply("120 Soon.\r\n220 Ready.\r\n");
    Scripted scripted(withLogon({reply("250 A.\r\n257 B.\r\n"), reply("500 Stale.\r\n")}), both);
    ASSERT_TRUE(scripted.login());
    EXPECT_EQ(scripted.client.ChangeWorkingDirectory("a"), FTP_OK);
    // The second reply of that read answers the next command, before the server hears it.
    EXPECT_EQ(scripted.client.MakeDirectory("b"), FTP_OK);
    EXPECT_EQ(scripted.recorder.replies.back(), "257 B.");
}

// ---------------------------------------------------------------- logon

struct LogonCase {
    const char* label;
    nsFTP::CFirewallType type;
    FtpExchange greeting;
    Script replies;
    Commands expected;
    bool loggedOn;
    bool deadEnd;  // "Logon failed." reported
};

void PrintTo(const LogonCase& param, std::ostream* out) { *out << param.label; }

// Firewall logons connect to the firewall (the scripted server); the remote
// host text names the real host with its port, as 2121 is not 21.
const std::string kRemote = "remote.example:2121";

FtpExchange ready() { return reply("220 Ready.\r\n"); }

const LogonCase kLogonCases[] = {
    {"None", nsFTP::CFirewallType::None(), ready(),
     {reply("331 p\r\n"), reply("332 a\r\n"), reply("230 ok\r\n"), reply("250 ok\r\n")},
     {"USER u", "PASS p", "ACCT a", "CWD /"}, true, false},
    {"SiteHostName", nsFTP::CFirewallType::SiteHostName(), ready(),
     {reply("331 p\r\n"), reply("230 ok\r\n"), reply("331 site\r\n"), reply("331 p\r\n"), reply("332 a\r\n"),
      reply("230 ok\r\n"), reply("250 ok\r\n")},
     {"USER fu", "PASS fp", "SITE " + kRemote, "USER u", "PASS p", "ACCT a", "CWD /"}, true, false},
    {"UserAfterLogon", nsFTP::CFirewallType::UserAfterLogon(), ready(),
     {reply("331 p\r\n"), reply("230 ok\r\n"), reply("331 p\r\n"), reply("332 a\r\n"), reply("230 ok\r\n"),
      reply("250 ok\r\n")},
     {"USER fu", "PASS fp", "USER u@" + kRemote, "PASS p", "ACCT a", "CWD /"}, true, false},
    {"ProxyOpen", nsFTP::CFirewallType::ProxyOpen(), ready(),
     {reply("220 open\r\n"), reply("331 p\r\n"), reply("332 a\r\n"), reply("230 ok\r\n"), reply("250 ok\r\n")},
     {"OPEN " + kRemote, "USER u", "PASS p", "ACCT a", "CWD /"}, true, false},
    {"Transparent", nsFTP::CFirewallType::Transparent(), ready(),
     {reply("331 p\r\n"), reply("230 ok\r\n"), reply("331 p\r\n"), reply("332 a\r\n"), reply("230 ok\r\n"),
      reply("250 ok\r\n")},
     {"USER fu", "PASS fp", "USER u", "PASS p", "ACCT a", "CWD /"}, true, false},
    {"UserWithNoLogon", nsFTP::CFirewallType::UserWithNoLogon(), ready(),
     {reply("331 p\r\n"), reply("332 a\r\n"), reply("230 ok\r\n"), reply("250 ok\r\n")},
     {"USER u@" + kRemote, "PASS p", "ACCT a", "CWD /"}, true, false},
    {"UserFireIDatRemotehost", nsFTP::CFirewallType::UserFireIDatRemotehost(), ready(),
     {reply("331 p\r\n"), reply("230 ok\r\n"), reply("331 p\r\n"), reply("332 a\r\n"), reply("230 ok\r\n"),
      reply("250 ok\r\n")},
     {"USER fu@" + kRemote, "PASS fp", "USER u", "PASS p", "ACCT a", "CWD /"}, true, false},
    {"UserRemoteIDatRemoteHostFireID", nsFTP::CFirewallType::UserRemoteIDatRemoteHostFireID(), ready(),
     {reply("331 p\r\n"), reply("332 a\r\n"), reply("230 ok\r\n"), reply("250 ok\r\n")},
     {"USER u@" + kRemote + " fu", "PASS p", "ACCT a", "CWD /"}, true, false},
    {"UserRemoteIDatFireIDatRemoteHost", nsFTP::CFirewallType::UserRemoteIDatFireIDatRemoteHost(), ready(),
     {reply("331 p\r\n"), reply("332 a\r\n"), reply("230 ok\r\n"), reply("250 ok\r\n")},
     {"USER u@fu@" + kRemote, "PASS p@fp", "ACCT a", "CWD /"}, true, false},
    // The table's dead ends and refusals.
    {"SiteAnswered2xxIsDeadEnd", nsFTP::CFirewallType::SiteHostName(), ready(),
     {reply("331 p\r\n"), reply("230 ok\r\n"), reply("200 site\r\n")}, {"USER fu", "PASS fp", "SITE " + kRemote},
     false, true},
    {"UserRemoteFireIdAnswered2xxIsDeadEnd", nsFTP::CFirewallType::UserRemoteIDatRemoteHostFireID(), ready(),
     {reply("230 ok\r\n")}, {"USER u@" + kRemote + " fu"}, false, true},
    {"AccountAnswered3xxIsDeadEnd", nsFTP::CFirewallType::None(), ready(),
     {reply("331 p\r\n"), reply("332 a\r\n"), reply("332 again\r\n")}, {"USER u", "PASS p", "ACCT a"}, false, true},
    {"UserRefused", nsFTP::CFirewallType::None(), ready(), {reply("530 No.\r\n")}, {"USER u"}, false, false},
    {"UserAloneLogsOn", nsFTP::CFirewallType::None(), ready(), {reply("230 ok\r\n"), reply("250 ok\r\n")},
     {"USER u", "CWD /"}, true, false},
    {"FinalCwdRefused", nsFTP::CFirewallType::None(), ready(), {reply("230 ok\r\n"), reply("550 no\r\n")},
     {"USER u", "CWD /"}, false, false},
    {"GreetingRefused", nsFTP::CFirewallType::None(), reply("421 Busy.\r\n"), {}, {}, false, false},
    {"GreetingAfter120", nsFTP::CFirewallType::None(), pieces({"120 Soon.\r\n", "220 Ready.\r\n"}),
     {reply("230 ok\r\n"), reply("250 ok\r\n")}, {"USER u", "CWD /"}, true, false},
};

class Logon : public ::testing::TestWithParam<LogonCase> {};

TEST_P(Logon, ExactCommandSequence) {
    const LogonCase& param = GetParam();
    Scripted scripted(param.replies, param.greeting);
    const bool direct = param.type == nsFTP::CFirewallType::None();
    // A direct logon connects to the host itself; a firewall logon to the firewall.
    const nsFTP::CLogonInfo info(direct ? "127.0.0.1" : "remote.example", direct ? scripted.server.port() : 2121, "u",
                                 "p", "a", "127.0.0.1", "fu", "fp", scripted.server.port(), param.type);
    EXPECT_EQ(scripted.login(info), param.loggedOn) << scripted.recorder.errorTexts();
    EXPECT_EQ(scripted.recorder.commands, param.expected);
    const bool reported = !scripted.recorder.errors.empty() && scripted.recorder.errors.back().text == "Logon failed." &&
                          scripted.recorder.errors.back().line == 542u;
    EXPECT_EQ(reported, param.deadEnd) << scripted.recorder.errorTexts();
    EXPECT_EQ(scripted.client.LastLogonInfo().FwType(), param.type);
}

INSTANTIATE_TEST_SUITE_P(FirewallTypes, Logon, ::testing::ValuesIn(kLogonCases),
                         [](const ::testing::TestParamInfo<LogonCase>& info) { return std::string(info.param.label); });

TEST(LogonFailures, NoServerListeningReportsConnectFailure) {
    std::uint16_t port = 0;
    {
        ScriptedFtpServer gone(reply("220 x\r\n"), {});
        port = gone.port();
    }
    CFTPClient client(nsSocket::CreateDefaultBlockingSocketInstance(), 1, 2048, 0, "/");
    FtpClientRecorder recorder;
    client.AttachObserver(&recorder);
    EXPECT_FALSE(client.Login(nsFTP::CLogonInfo("127.0.0.1", port, "u", "p", "")));
    ASSERT_EQ(recorder.errors.size(), 1u);
    EXPECT_EQ(recorder.errors[0].text, "Connect error 0x0000006f");
    EXPECT_EQ(recorder.errors[0].line, 398u);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(client.Logout(), FTP_ERROR);
    EXPECT_TRUE(recorder.commands.empty());
    client.DetachObserver(&recorder);
}

// ---------------------------------------------------------------- arguments

struct ArgumentCase {
    const char* label;
    std::string argument;
};

void PrintTo(const ArgumentCase& param, std::ostream* out) { *out << param.label; }

const ArgumentCase kSmuggledArguments[] = {
    {"CrLf", "d\r\nDELE precious"},
    {"LineFeed", "d\nDELE precious"},
    {"CarriageReturn", "d\rDELE precious"},
    {"Nul", std::string("d\0DELE precious", 15)},
};

class SmuggledCommand : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(SmuggledCommand, RefusedBeforeAnythingIsSent) {
    TempDir local;
    testsupport::writeFile(local.file("f"), "data");
    Scripted scripted(withLogon({reply("200 Noop.\r\n")}));
    ASSERT_TRUE(scripted.login());
    const std::string& argument = GetParam().argument;

    EXPECT_EQ(scripted.client.MakeDirectory(argument), FTP_ERROR);
    EXPECT_EQ(scripted.client.Delete(argument), FTP_ERROR);
    EXPECT_EQ(scripted.client.Rename(argument, "x"), FTP_ERROR);
    EXPECT_FALSE(scripted.client.UploadFile(local.file("f"), argument, false, kImage, false));
    EXPECT_EQ(scripted.client.Noop(), FTP_OK);  // the connection is still in step
    EXPECT_EQ(scripted.afterLogon(), Commands({"NOOP"}));
    EXPECT_TRUE(scripted.client.IsConnected());
    ASSERT_FALSE(scripted.recorder.errors.empty());
    EXPECT_NE(scripted.recorder.errors[0].text.find("CR, LF or NUL"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Arguments, SmuggledCommand, ::testing::ValuesIn(kSmuggledArguments),
                         [](const ::testing::TestParamInfo<ArgumentCase>& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------- simple commands

struct SimpleCase {
    const char* label;
    std::function<int(const CFTPClient&)> call;
    Script replies;
    Commands expected;
    int result;
};

void PrintTo(const SimpleCase& param, std::ostream* out) { *out << param.label; }

const int kRecordSize = 512;

const SimpleCase kSimpleCases[] = {
    {"RmdDone", [](const CFTPClient& c) { return c.RemoveDirectoryA("d"); }, {reply("250 ok\r\n")}, {"RMD d"}, FTP_OK},
    {"RmdRefused", [](const CFTPClient& c) { return c.RemoveDirectoryA("d"); }, {reply("550 no\r\n")}, {"RMD d"},
     FTP_NOTOK},
    {"RmdIntermediate", [](const CFTPClient& c) { return c.RemoveDirectoryA("d"); }, {reply("350 eh\r\n")}, {"RMD d"},
     FTP_ERROR},
    {"RmdEmpty", [](const CFTPClient& c) { return c.RemoveDirectoryA(""); }, {}, {}, FTP_ERROR},
    {"MkdEmpty", [](const CFTPClient& c) { return c.MakeDirectory(""); }, {}, {}, FTP_ERROR},
    {"Site", [](const CFTPClient& c) { return c.SiteParameters("CHMOD 644 f"); }, {reply("200 ok\r\n")},
     {"SITE CHMOD 644 f"}, FTP_OK},
    {"HelpBare", [](const CFTPClient& c) { return c.Help(""); }, {reply("214 help\r\n")}, {"HELP"}, FTP_OK},
    {"StatBare", [](const CFTPClient& c) { return c.Status(""); }, {reply("211 fine\r\n")}, {"STAT"}, FTP_OK},
    {"Smnt", [](const CFTPClient& c) { return c.StructureMount("/m"); }, {reply("502 no\r\n")}, {"SMNT /m"}, FTP_NOTOK},
    {"Stru", [](const CFTPClient& c) { return c.FileStructure(nsFTP::CStructure::Record()); }, {reply("200 ok\r\n")},
     {"STRU R"}, FTP_OK},
    {"Mode", [](const CFTPClient& c) { return c.TransferMode(nsFTP::CTransferMode::Block()); }, {reply("504 no\r\n")},
     {"MODE B"}, FTP_NOTOK},
    {"Allo", [](const CFTPClient& c) { return c.Allocate(1000); }, {reply("200 ok\r\n")}, {"ALLO 1000"}, FTP_OK},
    {"AlloRecord", [](const CFTPClient& c) { return c.Allocate(1000, &kRecordSize); }, {reply("200 ok\r\n")},
     {"ALLO 1000 R 512"}, FTP_OK},
    {"AlloNegative", [](const CFTPClient& c) { return c.Allocate(-1); }, {reply("200 ok\r\n")}, {"ALLO 4294967295"},
     FTP_OK},
    {"RenameDone", [](const CFTPClient& c) { return c.Rename("a", "b"); }, {reply("350 go\r\n"), reply("250 ok\r\n")},
     {"RNFR a", "RNTO b"}, FTP_OK},
    {"RenameFromAnswered2xx", [](const CFTPClient& c) { return c.Move("a", "b"); }, {reply("250 eh\r\n")}, {"RNFR a"},
     FTP_ERROR},
    {"RenameFromRefused", [](const CFTPClient& c) { return c.Rename("a", "b"); }, {reply("550 no\r\n")}, {"RNFR a"},
     FTP_NOTOK},
    {"RenameToRefused", [](const CFTPClient& c) { return c.Rename("a", "b"); }, {reply("350 go\r\n"), reply("553 no\r\n")},
     {"RNFR a", "RNTO b"}, FTP_NOTOK},
    {"ReinAfter120", [](const CFTPClient& c) { return c.Reinitialize(); }, {reply("120 wait\r\n220 ready\r\n")},
     {"REIN"}, FTP_OK},
    {"ReinAfter120Refused", [](const CFTPClient& c) { return c.Reinitialize(); },
     {pieces({"120 wait\r\n", "421 gone\r\n"})}, {"REIN"}, FTP_ERROR},
    {"AbortIdle", [](const CFTPClient& c) { return c.Abort(); }, {reply("226 ok\r\n")}, {"ABOR"}, FTP_OK},
    {"AbortIdleRefused", [](const CFTPClient& c) { return c.Abort(); }, {reply("500 no\r\n")}, {"ABOR"}, FTP_NOTOK},
    {"RestIntermediate", [](const CFTPClient& c) { return c.Restart(5000000000ULL); }, {reply("350 ok\r\n")},
     {"REST 5000000000"}, FTP_OK},
    {"RestAnswered2xx", [](const CFTPClient& c) { return c.Restart(1); }, {reply("200 eh\r\n")}, {"REST 1"}, FTP_ERROR},
    {"Port", [](const CFTPClient& c) { return c.DataPort("192.168.0.5", 515); }, {reply("200 ok\r\n")},
     {"PORT 192,168,0,5,2,3"}, FTP_OK},
    {"TypeLocalByte", [](const CFTPClient& c) { return c.RepresentationType(nsFTP::CRepresentation(nsFTP::CType::LocalByte()), 8); },
     {reply("200 ok\r\n")}, {"TYPE L 8"}, FTP_OK},
    {"TypeAsciiTelnet", [](const CFTPClient& c) {
         return c.RepresentationType(nsFTP::CRepresentation(nsFTP::CType::ASCII(), nsFTP::CTypeFormat::TelnetFormat()));
     },
     {reply("200 ok\r\n")}, {"TYPE A T"}, FTP_OK},
};

class SimpleCommands : public ::testing::TestWithParam<SimpleCase> {};

TEST_P(SimpleCommands, CommandLineAndResult) {
    const SimpleCase& param = GetParam();
    Scripted scripted(withLogon(param.replies));
    ASSERT_TRUE(scripted.login());
    EXPECT_EQ(param.call(scripted.client), param.result);
    EXPECT_EQ(scripted.recorder.commandsNamed("USER").size(), 1u);
    EXPECT_EQ(Commands(scripted.recorder.commands.begin() + kLogonCommands.size(), scripted.recorder.commands.end()),
              param.expected);
}

INSTANTIATE_TEST_SUITE_P(Commands, SimpleCommands, ::testing::ValuesIn(kSimpleCases),
                         [](const ::testing::TestParamInfo<SimpleCase>& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------- modification time

struct MdtmCase {
    const char* label;
    std::string answer;
    int result;
    std::string text;
};

void PrintTo(const MdtmCase& param, std::ostream* out) { *out << param.label; }

const MdtmCase kMdtmCases[] = {
    {"Plain", "213 20240102030405\r\n", FTP_OK, "20240102030405"},
    {"Fraction", "213 20240102030405.678\r\n", FTP_OK, "20240102030405"},
    {"TooShort", "213 2024010203\r\n", FTP_ERROR, ""},
    {"ErrorOfTimeLength", "550 No such file!!\r\n", FTP_NOTOK, "No such file!!"},
    {"WrongLength", "213 202401020304056\r\n", FTP_ERROR, ""},
};

class ModificationTime : public ::testing::TestWithParam<MdtmCase> {};

TEST_P(ModificationTime, TextAndCalendarForms) {
    const MdtmCase& param = GetParam();
    Scripted scripted(withLogon({reply(param.answer), reply(param.answer)}));
    ASSERT_TRUE(scripted.login());
    std::string text = "stale";
    EXPECT_EQ(scripted.client.FileModificationTime("f", text), param.result);
    EXPECT_EQ(text, param.text);
    tm when{};
    when.tm_wday = 6;
    EXPECT_EQ(scripted.client.FileModificationTime("f", when), param.result);
    if (param.result == FTP_OK) {
        EXPECT_EQ(when.tm_year, 124);
        EXPECT_EQ(when.tm_mon, 0);
        EXPECT_EQ(when.tm_mday, 2);
        EXPECT_EQ(when.tm_hour, 3);
        EXPECT_EQ(when.tm_min, 4);
        EXPECT_EQ(when.tm_sec, 5);
    } else {
        EXPECT_EQ(when.tm_year, 0);
    }
    EXPECT_EQ(when.tm_wday, 0);
}

INSTANTIATE_TEST_SUITE_P(Mdtm, ModificationTime, ::testing::ValuesIn(kMdtmCases),
                         [](const ::testing::TestParamInfo<MdtmCase>& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------- PASV replies

struct PasvCase {
    const char* label;
    std::string answer;
    int result;
    std::uint32_t address;  // expected when the result is FTP_OK
    unsigned short port;
};

void PrintTo(const PasvCase& param, std::ostream* out) { *out << param.label; }

constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr std::uint32_t kUntouched = 0xDEADBEEF;

const PasvCase kPasvCases[] = {
    {"Plain", "227 Entering Passive Mode (127,0,0,1,4,1)\r\n", FTP_OK, kLoopback, 1025},
    {"TextAfterParenthesis", "227 Entering Passive Mode (127,0,0,1,255,255). Go\r\n", FTP_OK, kLoopback, 65535},
    // A server may not send the client to another host: its own address is used.
    {"OtherHost", "227 Entering Passive Mode (10,0,0,1,4,1)\r\n", FTP_OK, kLoopback, 1025},
    {"BlankInside", "227 Entering Passive Mode (127, 0,0,1,4,1)\r\n", FTP_ERROR, kUntouched, 0},
    {"NoClosingParenthesis", "227 Entering Passive Mode (127,0,0,1,4,1\r\n", FTP_ERROR, kUntouched, 0},
    {"NoParenthesis", "227 Entering Passive Mode 127,0,0,1,4,1\r\n", FTP_ERROR, kUntouched, 0},
    {"FiveNumbers", "227 (127,0,0,1,4)\r\n", FTP_ERROR, kUntouched, 0},
    {"SevenNumbers", "227 (127,0,0,1,4,1,9)\r\n", FTP_ERROR, kUntouched, 0},
    {"AddressAbove255", "227 (127,0,256,1,4,1)\r\n", FTP_ERROR, kUntouched, 0},
    {"PortAbove255", "227 (127,0,0,1,4,256)\r\n", FTP_ERROR, kUntouched, 0},
    {"EmptyNumber", "227 (127,0,0,1,,1)\r\n", FTP_ERROR, kUntouched, 0},
    {"FourDigits", "227 (127,0,0,1,0004,1)\r\n", FTP_ERROR, kUntouched, 0},
    {"HugeNumber", "227 (99999999999999999999,0,0,1,4,1)\r\n", FTP_ERROR, kUntouched, 0},
    {"Letter", "227 (127,0,0,x,4,1)\r\n", FTP_ERROR, kUntouched, 0},
    {"Negative", "227 (127,0,0,-1,4,1)\r\n", FTP_ERROR, kUntouched, 0},
    {"Refused", "500 No passive here.\r\n", FTP_NOTOK, kUntouched, 0},
};

class PassiveReply : public ::testing::TestWithParam<PasvCase> {};

TEST_P(PassiveReply, AddressChecked) {
    const PasvCase& param = GetParam();
    Scripted scripted(withLogon({reply(param.answer)}));
    ASSERT_TRUE(scripted.login());
    std::uint32_t address = kUntouched;
    unsigned short port = 0;
    EXPECT_EQ(scripted.client.Passive(address, port), param.result);
    EXPECT_EQ(address, param.address);
    EXPECT_EQ(port, param.port);
}

INSTANTIATE_TEST_SUITE_P(Pasv, PassiveReply, ::testing::ValuesIn(kPasvCases),
                         [](const ::testing::TestParamInfo<PasvCase>& info) { return std::string(info.param.label); });

// A malformed PASV reply ends the transfer before any data command.
TEST(PassiveTransfer, MalformedReplySendsNoDataCommand) {
    Scripted scripted(withLogon({reply("213 5\r\n"), reply("200 Type set.\r\n"), reply("227 (127,0,0,1,4)\r\n")}));
    ASSERT_TRUE(scripted.login());
    nsFTP::COutputStream sink("\r\n", "sink");
    EXPECT_FALSE(scripted.client.DownloadFile("f", sink, kImage, true));
    EXPECT_EQ(scripted.afterLogon(), Commands({"SIZE f", "TYPE I", "PASV"}));
}

// The data connection goes to the control connection's peer, whatever host
// the reply names.
TEST(PassiveTransfer, ReplyNamingAnotherHostStillReachesTheServer) {
    Scripted scripted(withLogon({reply("213 7\r\n"), reply("200 Type set.\r\n"),
                                 reply("227 Entering Passive Mode (192,0,2,99,{PORT})\r\n"),
                                 FtpExchange::send("150 Here.\r\n", "payload", "226 Done.\r\n")}));
    ASSERT_TRUE(scripted.login());
    nsFTP::COutputStream sink("\r\n", "sink");
    EXPECT_TRUE(scripted.client.DownloadFile("f", sink, kImage, true)) << scripted.recorder.errorTexts();
    EXPECT_EQ(sink.GetBuffer(), "payload");
}

// ---------------------------------------------------------------- data connections

TEST(ActiveTransfer, PreliminaryReplyWithoutConnectionEndsAfterTheTimeOut) {
    TempDir local;
    testsupport::writeFile(local.file("f"), "data");
    FtpExchange never = reply("150 Opening.\r\n");
    never.data = FtpExchange::Data::NeverConnect;
    Scripted scripted(withLogon({reply("550 No file.\r\n"), reply("200 Type set.\r\n"), reply("200 Port ok.\r\n"), never,
                                 reply("425 No connection.\r\n226 ABOR done.\r\n"), reply("200 Noop.\r\n")}));
    ASSERT_TRUE(scripted.login());
    EXPECT_FALSE(scripted.client.UploadFile(local.file("f"), "f", false, kImage, false));
    ASSERT_EQ(scripted.recorder.errors.size(), 1u) << scripted.recorder.errorTexts();
    EXPECT_EQ(scripted.recorder.errors[0].text, "Accept error 0x0000006e");
    EXPECT_EQ(scripted.recorder.errors[0].line, 978u);
    EXPECT_FALSE(scripted.client.IsTransferringData());
    // The STOR still owes its final reply: ABOR collects it with its own.
    EXPECT_EQ(scripted.client.Noop(), FTP_OK);
    EXPECT_EQ(scripted.afterLogon().back(), "NOOP");
}

TEST(ActiveTransfer, DataCommandRefusedSendsNothingAndReadsNoFinalReply) {
    TempDir local;
    testsupport::writeFile(local.file("f"), "data");
    Scripted scripted(withLogon({reply("550 No file.\r\n"), reply("200 Type set.\r\n"), reply("200 Port ok.\r\n"),
                                 reply("550 Denied.\r\n"), reply("200 Noop.\r\n")}));
    ASSERT_TRUE(scripted.login());
    EXPECT_FALSE(scripted.client.UploadFile(local.file("f"), "f", false, kImage, false));
    EXPECT_EQ(scripted.recorder.bytesSent, 0);
    EXPECT_EQ(scripted.client.Noop(), FTP_OK);
    EXPECT_EQ(scripted.server.dataReceived(), "");
}

TEST(ActiveTransfer, TypeRefusedEndsBeforeAnyDataConnection) {
    Scripted scripted(withLogon({reply("213 3\r\n"), reply("504 No.\r\n")}));
    ASSERT_TRUE(scripted.login());
    nsFTP::COutputStream sink("\r\n", "sink");
    EXPECT_FALSE(scripted.client.DownloadFile("f", sink, kImage, false));
    EXPECT_EQ(scripted.afterLogon(), Commands({"SIZE f", "TYPE I"}));
}

// On 127.0.0.3 the server is not at the client's own address (127.0.0.1):
// the check must be against the control connection's peer.
TEST(ActiveTransfer, ConnectionFromAnotherHostIsTurnedAway) {
    for (const char* serverAddress : {"127.0.0.1", "127.0.0.3"}) {
        SCOPED_TRACE(serverAddress);
        TempDir local;
        testsupport::writeFile(local.file("f"), "data");
        FtpExchange store = FtpExchange::receive("150 Go.\r\n", "226 Stored.\r\n");
        store.strangerFirst = true;
        Scripted scripted(withLogon({reply("550 No file.\r\n"), reply("200 Type set.\r\n"),
                                     reply("200 Port ok.\r\n"), store}),
                          reply("220 Ready.\r\n"), 2048, serverAddress);
        ASSERT_TRUE(scripted.login());
        EXPECT_TRUE(scripted.client.UploadFile(local.file("f"), "f", false, kImage, false))
            << scripted.recorder.errorTexts();
        EXPECT_EQ(scripted.recorder.commandsNamed("PORT").at(0).rfind("PORT 127,0,0,1,", 0), 0u);
        EXPECT_EQ(scripted.server.strangerReceived(), "");
        EXPECT_EQ(scripted.server.dataReceived(), "data");
    }
}

// A socket whose every accept starts late, as on a busy machine: strangers
// queue up on the listener meanwhile.
class LateAcceptSocket : public nsSocket::CBlockingSocket {
public:
    nsSocket::IBlockingSocket* CreateInstance() const override { return new LateAcceptSocket; }
    bool Accept(nsSocket::IBlockingSocket& sConnect, sockaddr* psa, int nSecs) const override {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        return CBlockingSocket::Accept(sConnect, psa, nSecs);
    }
};

// Strangers half a second apart never stretch the wait beyond its one
// time-out: not when they keep coming, nor when they are still queued at
// the deadline (with every accept 0.6 s late, eight of them keep the queue
// full until about 5.4 s, and the wait must end at the first one dropped
// after the deadline).
TEST(ActiveTransfer, StrangersDoNotStretchTheWait) {
    struct Row {
        int strangers;
        bool lateAccepts;
        unsigned int timeout;
        double within;
    };
    for (const Row& row : {Row{10, false, 2, 4.5}, Row{8, true, 1, 2.5}}) {
        SCOPED_TRACE(row.lateAccepts ? "still queued at the deadline" : "coming all along");
        TempDir local;
        testsupport::writeFile(local.file("f"), "data");
        FtpExchange never = reply("150 Opening.\r\n");
        never.data = FtpExchange::Data::NeverConnect;
        never.strangers = row.strangers;
        std::shared_ptr<nsSocket::IBlockingSocket> socket = nsSocket::CreateDefaultBlockingSocketInstance();
        if (row.lateAccepts) socket = std::make_shared<LateAcceptSocket>();
        Scripted scripted(withLogon({reply("550 No file.\r\n"), reply("200 Type set.\r\n"),
                                     reply("200 Port ok.\r\n"), never,
                                     reply("425 No connection.\r\n226 ABOR done.\r\n")}),
                          reply("220 Ready.\r\n"), 2048, "127.0.0.1", socket);
        ASSERT_TRUE(scripted.login());
        scripted.client.setUiTimeout(row.timeout);
        EXPECT_LT(secondsFor([&] {
                      EXPECT_FALSE(scripted.client.UploadFile(local.file("f"), "f", false, kImage, false));
                  }),
                  row.within);
        ASSERT_EQ(scripted.recorder.errors.size(), 1u) << scripted.recorder.errorTexts();
        EXPECT_EQ(scripted.recorder.errors[0].text, "Accept error 0x0000006e");
    }
}

// A transfer is only done when the server's final reply says so.
struct TransferEndCase {
    const char* label;
    bool upload;
    FtpExchange dataCommandAnswer;
    bool connectedAfter;
    std::string abortAnswer = "";  // "" when no ABOR is due
    bool dataArrives = true;       // an upload's data all reached the server
};

void PrintTo(const TransferEndCase& param, std::ostream* out) { *out << param.label; }

// The server reads the first `bytes` of the upload, closes the data
// connection on the rest, and still says it stored the file. It closes
// 300 ms after its last read: long after its system acknowledged all of the
// small file, so only the wait for its close can tell the client.
FtpExchange takesOnly(std::size_t bytes) {
    FtpExchange exchange = FtpExchange::receive("150 Go.\r\n", "226 Stored.\r\n");
    exchange.receiveLimit = bytes;
    exchange.throttle.readPause = std::chrono::milliseconds(300);
    return exchange;
}

// vsftpd's answer to a stalled upload, after which it hangs up.
FtpExchange dataTimeout() {
    FtpExchange exchange = FtpExchange::receive("150 Go.\r\n", "421 Data timeout. Reconnect. Sorry.\r\n");
    exchange.close = true;
    return exchange;
}

const TransferEndCase kTransferEnds[] = {
    {"UploadStorageFull", true, FtpExchange::receive("150 Go.\r\n", "452 Insufficient storage.\r\n"), true},
    {"DownloadLocalError", false, FtpExchange::send("150 Go.\r\n", "payload", "451 Local error.\r\n"), true},
    // The server hangs up at STOR: the connection is gone on this side too,
    // so a caller knows to log on again.
    {"ControlDroppedAtStore", true, FtpExchange::hangUp(), false},
    // All of the file fits in the socket buffers; the server's close with
    // bytes unread resets the data connection.
    {"UploadCutShortDespite226", true, takesOnly(3), true, "226 ABOR done.\r\n", false},
    // A caller that retries must log on again rather than spend an attempt
    // on a connection the server closed.
    {"ServerClosesWith421", true, dataTimeout(), false},
};

class TransferEnd : public ::testing::TestWithParam<TransferEndCase> {};

TEST_P(TransferEnd, FailsUnlessTheFinalReplyIsPositive) {
    const TransferEndCase& param = GetParam();
    TempDir local;
    testsupport::writeFile(local.file("f"), "payload");
    Script script = {reply("550 None.\r\n"), reply("200 Type set.\r\n"), reply("200 Port ok.\r\n"),
                     param.dataCommandAnswer};
    if (!param.abortAnswer.empty()) script.push_back(reply(param.abortAnswer));
    script.push_back(reply("200 Noop.\r\n"));
    Scripted scripted(withLogon(script));
    ASSERT_TRUE(scripted.login());
    nsFTP::COutputStream sink("\r\n", "sink");
    EXPECT_FALSE(param.upload ? scripted.client.UploadFile(local.file("f"), "f", false, kImage, false)
                              : scripted.client.DownloadFile("f", sink, kImage, false));
    EXPECT_EQ(scripted.client.IsConnected(), param.connectedAfter);
    EXPECT_EQ(scripted.client.Noop(), param.connectedAfter ? FTP_OK : FTP_ERROR);
    // The end of sending is notified when the data arrived, whatever the
    // final reply; not when it did not.
    if (param.upload && !scripted.recorder.sendingEvents.empty()) {
        EXPECT_EQ(scripted.recorder.sendingEvents.back().rfind("End", 0) == 0, param.dataArrives)
            << scripted.recorder.sendingEvents.back();
    }
}

INSTANTIATE_TEST_SUITE_P(FinalReplies, TransferEnd, ::testing::ValuesIn(kTransferEnds),
                         [](const ::testing::TestParamInfo<TransferEndCase>& info) {
                             return std::string(info.param.label);
                         });

// ---------------------------------------------------------------- uploads over a slow link

// A server behind a slow link: a 64 KiB receive buffer, read 64 KiB at a
// time every 50 ms (under 1 MB/s), against a client with a one-second
// time-out whose socket queues megabytes. The client waits on its full
// buffer during the writes, and for the bytes queued at the last write to
// arrive, each far longer than the time-out, while the transfer keeps
// moving: that is no failure. A server that stops reading for longer than
// the time-out (3 s) is one, within a time-out of its stop.
struct SlowLinkCase {
    const char* label;
    std::size_t fileSize;
    std::size_t stallAfter;  // bytes the server reads before it stops for 3 s; 0: it never does
};

void PrintTo(const SlowLinkCase& param, std::ostream* out) { *out << param.label; }

const SlowLinkCase kSlowLinks[] = {
    {"KeepsMovingAndSucceeds", 5000000, 0},
    // Most of the file is still to be written when the server stops,
    {"StallDuringTheWrites", 6000000, 262144},
    // or all of it is written, queued on the client's side.
    {"StallAfterTheLastWrite", 2000000, 262144},
};

// The rate of a closing "Transfer :" line in bytes per second.
double loggedRate(const std::string& log) {
    const std::size_t at = log.find("bytes ");
    if (at == std::string::npos) return -1;
    char* end = nullptr;
    const double figure = std::strtod(log.c_str() + at + 6, &end);
    const std::string unit(end);
    if (unit.rfind("Mbyte/sec.", 0) == 0) return figure * 1e6;
    if (unit.rfind("Kbyte/sec.", 0) == 0) return figure * 1e3;
    return figure;
}

class SlowLink : public ::testing::TestWithParam<SlowLinkCase> {};

TEST_P(SlowLink, FailsOnlyWhenTheTransferStops) {
    const SlowLinkCase& param = GetParam();
    TempDir local;
    std::string payload(param.fileSize, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('a' + i % 23);
    testsupport::writeFile(local.file("f"), payload);
    FtpExchange store = FtpExchange::receive("150 Go.\r\n", "226 Stored.\r\n");
    store.throttle.receiveBuffer = 65536;
    store.throttle.readPause = std::chrono::milliseconds(50);
    store.throttle.stallAfter = param.stallAfter;
    store.throttle.stall = std::chrono::seconds(3);
    Scripted scripted(withLogon({reply("550 None.\r\n"), reply("200 Type set.\r\n"), reply("200 Port ok.\r\n"), store,
                                 reply("226 ABOR done.\r\n")}));
    ASSERT_TRUE(scripted.login());
    scripted.client.setUiTimeout(1);
    FTPCallBackClass progress;
    scripted.client.AttachObserver(&progress);
    const std::string logPath = local.file("upload.log");
    testsupport::startTestLog(logPath, false, false);
    testing::internal::CaptureStdout();
    const bool uploaded = scripted.client.UploadFile(local.file("f"), "f", false, kImage, false);
    const std::string console = testing::internal::GetCapturedStdout();
    testsupport::endTestLog();
    scripted.client.DetachObserver(&progress);
    const ScriptedFtpServer::ReceiveTimes times = scripted.server.receiveTimes();
    const std::vector<std::string> sending = scripted.recorder.sendingEvents;
    ASSERT_FALSE(sending.empty());
    EXPECT_EQ(sending[0], "Begin after 0 blocks");

    if (param.stallAfter == 0) {
        EXPECT_TRUE(uploaded) << scripted.recorder.errorTexts();
        EXPECT_TRUE(scripted.recorder.errors.empty()) << scripted.recorder.errorTexts();
        EXPECT_TRUE(scripted.server.dataReceived() == payload)
            << "the server got " << scripted.server.dataReceived().size() << " bytes";
        const std::string total = std::to_string(payload.size());
        EXPECT_EQ(sending, std::vector<std::string>({"Begin after 0 blocks",
                                                     "End " + total + " after " +
                                                         std::to_string(scripted.recorder.blocksSent) + " blocks"}));
        // The rate the progress observer logs and prints is the one the
        // server saw: its bytes from its first to the data connection's end.
        const double serverRate = static_cast<double>(payload.size()) /
                                  std::chrono::duration<double>(times.end - times.firstByte).count();
        ASSERT_NE(console.rfind('\r'), std::string::npos);
        const std::size_t lastStart = console.rfind('\r') + 1;
        const std::string last = console.substr(lastStart, console.find('\n', lastStart) - lastStart);
        EXPECT_EQ(last.rfind("Transfer : 100.00% " + total + "/" + total + "bytes ", 0), 0u) << last;
        const double ratio = loggedRate(last) / serverRate;
        EXPECT_GE(ratio, 0.75) << last << ", the server saw " << serverRate << " bytes/s";
        EXPECT_LE(ratio, 1.25) << last << ", the server saw " << serverRate << " bytes/s";
        const std::vector<std::string> log = testsupport::splitLines(testsupport::readFile(logPath));
        ASSERT_EQ(log.size(), 1u);
        EXPECT_NE(log[0].find(last.substr(0, last.size() - 3)), std::string::npos)
            << "the log holds the closing console line without its blanks: " << log[0];
    } else {
        EXPECT_FALSE(uploaded);
        ASSERT_FALSE(scripted.recorder.errors.empty());
        const FtpClientRecorder::Error& error = scripted.recorder.errors[0];
        EXPECT_EQ(error.text, "Send timeout error 0x0000006e");
        EXPECT_EQ(error.line, 1099u);
        ASSERT_NE(times.stalled, std::chrono::steady_clock::time_point());
        const double afterStop = std::chrono::duration<double>(error.at - times.stalled).count();
        EXPECT_GE(afterStop, 0.8) << "failed before a time-out without progress";
        EXPECT_LE(afterStop, 2.0) << "failed later than a time-out (and a second) after the server stopped";
        EXPECT_EQ(sending.size(), 1u) << "no end of sending for a failed upload";
    }
}

INSTANTIATE_TEST_SUITE_P(Uploads, SlowLink, ::testing::ValuesIn(kSlowLinks),
                         [](const ::testing::TestParamInfo<SlowLinkCase>& info) {
                             return std::string(info.param.label);
                         });

// ---------------------------------------------------------------- resume decisions

struct ResumeCase {
    const char* label;
    bool resume;
    bool unique;
    std::string sizeReply;  // "" when no SIZE is expected
    Commands expected;      // after the logon
    std::size_t sentFrom;   // the offset in the local file the data starts at
};

void PrintTo(const ResumeCase& param, std::ostream* out) { *out << param.label; }

// The local file has 3,000 bytes.
const ResumeCase kResumeCases[] = {
    {"RemoteAbsent", true, false, "550 No such file.\r\n", {"SIZE r", "TYPE I", "PORT *", "STOR r"}, 0},
    // A refusal whose text starts with digits is no size.
    {"RefusalWithNumber", true, false, "550 1000 is not a file.\r\n", {"SIZE r", "TYPE I", "PORT *", "STOR r"}, 0},
    {"RemotePart", true, false, "213 1000\r\n", {"SIZE r", "TYPE I", "PORT *", "APPE r"}, 1000},
    {"RemoteComplete", true, false, "213 3000\r\n", {"SIZE r", "TYPE I", "PORT *", "APPE r"}, 3000},
    // A larger remote file is not the start of this one: sent again from 0.
    {"RemoteLarger", true, false, "213 5000\r\n", {"SIZE r", "TYPE I", "PORT *", "STOR r"}, 0},
    {"UniqueRemoteAbsent", true, true, "550 No.\r\n", {"SIZE r", "TYPE I", "PORT *", "STOU r"}, 0},
    {"ResumeOff", false, false, "", {"TYPE I", "PORT *", "STOR r"}, 0},
    {"ResumeOffUnique", false, true, "", {"TYPE I", "PORT *", "STOU r"}, 0},
};

class UploadResume : public ::testing::TestWithParam<ResumeCase> {};

TEST_P(UploadResume, CommandAndOffset) {
    const ResumeCase& param = GetParam();
    TempDir local;
    std::string payload;
    for (int i = 0; i < 3000; ++i) payload += static_cast<char>('a' + i % 23);
    testsupport::writeFile(local.file("f"), payload);
    Script script;
    if (!param.sizeReply.empty()) script.push_back(reply(param.sizeReply));
    script.push_back(reply("200 Type set.\r\n"));
    script.push_back(reply("200 Port ok.\r\n"));
    script.push_back(FtpExchange::receive("150 Go.\r\n", "226 Stored.\r\n"));
    Scripted scripted(withLogon(script));
    ASSERT_TRUE(scripted.login());
    scripted.client.SetResumeMode(param.resume);

    EXPECT_TRUE(scripted.client.UploadFile(local.file("f"), "r", param.unique, kImage, false))
        << scripted.recorder.errorTexts();
    Commands seen = scripted.afterLogon();
    for (std::string& line : seen) {
        if (line.compare(0, 5, "PORT ") == 0) line = "PORT *";
    }
    EXPECT_EQ(seen, param.expected);
    EXPECT_TRUE(scripted.server.dataReceived() == payload.substr(param.sentFrom));
    EXPECT_EQ(scripted.recorder.events.front(), "PreSend " + local.file("f") + " -> r 3000");
}

INSTANTIATE_TEST_SUITE_P(Uploads, UploadResume, ::testing::ValuesIn(kResumeCases),
                         [](const ::testing::TestParamInfo<ResumeCase>& info) { return std::string(info.param.label); });

// Recordings pass 4 GiB: sizes and offsets stay whole in every interface.
TEST(LargeFiles, OffsetsBeyondFourGiB) {
    TempDir local;
    const long long size = 5LL * 1024 * 1024 * 1024 + 120;  // sparse: costs no disk
    {
        std::FILE* file = std::fopen(local.file("big.ts").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(::ftruncate(fileno(file), size), 0);
        std::fclose(file);
    }
    Scripted scripted(withLogon({reply("213 5368709120\r\n"), reply("200 Type set.\r\n"), reply("200 Port ok.\r\n"),
                                 FtpExchange::receive("150 Go.\r\n", "226 Stored.\r\n")}));
    ASSERT_TRUE(scripted.login());
    EXPECT_TRUE(scripted.client.UploadFile(local.file("big.ts"), "big.ts", false, kImage, false))
        << scripted.recorder.errorTexts();
    EXPECT_EQ(scripted.recorder.commandsNamed("APPE"), Commands({"APPE big.ts"}));
    EXPECT_EQ(scripted.server.dataReceived(), std::string(120, '\0'));
    EXPECT_EQ(scripted.recorder.events.front(), "PreSend " + local.file("big.ts") + " -> big.ts 5368709240");
    long long remote = 0;
    EXPECT_EQ(scripted.client.FileSize("big.ts", remote), FTP_NOTOK);  // unscripted: 500 with no number
    EXPECT_EQ(remote, 0);
}

// A buffer of no bytes still moves the whole file, in the smallest blocks.
TEST(LargeFiles, ZeroBufferSizeStillSendsEverything) {
    TempDir local;
    testsupport::writeFile(local.file("f"), "0123456789");
    Scripted scripted(withLogon({reply("550 None.\r\n"), reply("200 Type set.\r\n"), reply("200 Port ok.\r\n"),
                                 FtpExchange::receive("150 Go.\r\n", "226 Stored.\r\n")}),
                      reply("220 Ready.\r\n"), 0);
    ASSERT_TRUE(scripted.login());
    EXPECT_TRUE(scripted.client.UploadFile(local.file("f"), "f", false, kImage, false));
    EXPECT_EQ(scripted.server.dataReceived(), "0123456789");
    EXPECT_EQ(scripted.recorder.blocksSent, 5);
}

TEST(DownloadResume, RestartAtLocalSizeOnlyWhenThereIsOne) {
    for (const std::size_t localSize : {std::size_t(0), std::size_t(500)}) {
        TempDir local;
        testsupport::writeFile(local.file("f"), std::string(localSize, 'a'));
        Script script = {reply("213 505\r\n"), reply("200 Type set.\r\n"), reply("200 Port ok.\r\n")};
        if (localSize != 0) script.push_back(reply("350 Restarting.\r\n"));
        script.push_back(FtpExchange::send("150 Go.\r\n", "bbbbb", "226 Sent.\r\n"));
        Scripted scripted(withLogon(script));
        ASSERT_TRUE(scripted.login());
        EXPECT_TRUE(scripted.client.DownloadFile("r", local.file("f"), kImage, false)) << scripted.recorder.errorTexts();
        EXPECT_EQ(scripted.recorder.commandsNamed("REST"),
                  localSize == 0 ? Commands() : Commands({"REST " + std::to_string(localSize)}));
        EXPECT_EQ(testsupport::readFile(local.file("f")), std::string(localSize, 'a') + "bbbbb");
        EXPECT_EQ(scripted.recorder.events.front(), "PreReceive r -> " + local.file("f") + " 505");
    }
}

// ---------------------------------------------------------------- listings

TEST(Listing, LinesPrefixedAndUnfinishedLastLineDropped) {
    Scripted scripted(withLogon({reply("200 Type set.\r\n"), reply("200 Port ok.\r\n"),
                                 FtpExchange::send("150 Here.\r\n", "a.ts\r\nb.ts\r\nc.t", "226 Done.\r\n")}));
    ASSERT_TRUE(scripted.login());
    std::vector<std::string> names = {"old"};
    EXPECT_TRUE(scripted.client.NameList("/rec/", names, false));
    EXPECT_EQ(names, std::vector<std::string>({"/rec/a.ts", "/rec/b.ts"}));
    EXPECT_EQ(scripted.afterLogon()[0], "TYPE A");
    EXPECT_EQ(scripted.afterLogon()[2], "NLST /rec/");
}

TEST(Listing, FailedListingLeavesTheListAlone) {
    Scripted scripted(withLogon({reply("200 Type set.\r\n"), reply("200 Port ok.\r\n"), reply("450 Busy.\r\n")}));
    ASSERT_TRUE(scripted.login());
    std::vector<std::string> names = {"old"};
    EXPECT_FALSE(scripted.client.List("/", names, false));
    EXPECT_EQ(names, std::vector<std::string>({"old"}));
}

TEST(Listing, EndlessListingIsCutAtTheCap) {
    FtpExchange endlessListing = reply("150 Here.\r\n");
    endlessListing.data = FtpExchange::Data::SendForever;
    endlessListing.dataBytes = std::string(65536, 'x') + "\r\n";
    endlessListing.finalReply = "426 Cut.\r\n";
    Scripted scripted(withLogon({reply("200 Type set.\r\n"), reply("200 Port ok.\r\n"), endlessListing,
                                 reply("226 Aborted.\r\n"), reply("200 Noop.\r\n")}));
    ASSERT_TRUE(scripted.login());
    std::vector<std::string> names = {"old"};
    EXPECT_FALSE(scripted.client.NameList("/", names, false));
    EXPECT_EQ(names, std::vector<std::string>({"old"}));
    ASSERT_EQ(scripted.recorder.errors.size(), 1u) << scripted.recorder.errorTexts();
    EXPECT_EQ(scripted.recorder.errors[0].text, "NLST listing passed 16 MiB and was cut off.");
    EXPECT_EQ(scripted.afterLogon()[3], "ABOR");
    EXPECT_EQ(scripted.client.Noop(), FTP_OK);
}

// Listings right at the caps, into file statuses. 16 MiB of empty lines is
// exactly the byte cap and makes no entry; one-letter names make entries
// fastest. One byte or one entry more cuts the listing off.
struct ListingCapCase {
    const char* label;
    std::string line;  // sent `count` times, then `tail`
    std::size_t count;
    std::string tail;
    std::size_t entries;  // when it passes
    std::string error;    // "" when it passes
};

void PrintTo(const ListingCapCase& param, std::ostream* out) { *out << param.label; }

constexpr std::size_t kEntryCap = CFTPClient::kMaxListingEntries;

const ListingCapCase kListingCaps[] = {
    {"EmptyLinesUpToTheByteCap", "\r\n", CFTPClient::kMaxListingBytes / 2, "", 0, ""},
    {"OneByteMore", "\r\n", CFTPClient::kMaxListingBytes / 2, "x", 0, "NLST listing passed 16 MiB and was cut off."},
    {"NamesUpToTheEntryCap", "a\r\n", kEntryCap, "\r\n", kEntryCap, ""},
    {"OneNameMore", "a\r\n", kEntryCap + 1, "", 0, "NLST listing passed 1048576 entries and was cut off."},
};

class ListingCap : public ::testing::TestWithParam<ListingCapCase> {};

TEST_P(ListingCap, PassesOrIsCutWithTheListUnchanged) {
    const ListingCapCase& param = GetParam();
    std::string listing;
    for (std::size_t i = 0; i < param.count; ++i) listing += param.line;
    Scripted scripted(withLogon({reply("200 Type set.\r\n"), reply("200 Port ok.\r\n"),
                                 FtpExchange::send("150 Here.\r\n", listing + param.tail, "226 Done.\r\n"),
                                 reply("226 Aborted.\r\n")}));
    ASSERT_TRUE(scripted.login());
    using Entries = std::vector<std::shared_ptr<nsFTP::CFTPFileStatus>>;
    const Entries before = {std::make_shared<nsFTP::CFTPFileStatus>()};
    Entries entries = before;
    EXPECT_EQ(scripted.client.NameList("/", entries, false), param.error.empty());
    EXPECT_EQ(scripted.recorder.errorTexts(), param.error.empty() ? "" : param.error + " (1145)\n");
    if (param.error.empty()) {
        EXPECT_EQ(entries.size(), param.entries);
    } else {
        EXPECT_EQ(entries, before);
    }
}

INSTANTIATE_TEST_SUITE_P(Caps, ListingCap, ::testing::ValuesIn(kListingCaps),
                         [](const ::testing::TestParamInfo<ListingCapCase>& info) { return std::string(info.param.label); });

// A listing into file statuses has an entry, with the path given, for each
// line the listing parser reads, and none for a line it cannot read, even
// one it had begun to fill before it gave up.
struct ParsedListingCase {
    const char* label;
    std::string listing;
    std::vector<std::string> names;
};

void PrintTo(const ParsedListingCase& param, std::ostream* out) { *out << param.label; }

const std::string kUnixLine = "-rw-r--r-- 1 owner group 5 Jan 1 2001 a.ts\r\n";

const ParsedListingCase kParsedListings[] = {
    {"JunkAfterAFile", kUnixLine + "not a listing line\r\n", {"a.ts"}},
    {"LsTotalFirst", "total 8\r\n" + kUnixLine, {"a.ts"}},
    {"OnlyJunk", "x\r\nhello world\r\n", {}},
    {"EachFormatAmongLinesCutShort",
     "+i1,s3,\tb.ts\r\n+i2,s3\r\n03-15-05 08:30PM <DIR> rec\r\n03-15-05 08:30PM\r\n"
     "LOGS.DIR;1 1 8-SEP-2005 16:09 [A]\r\nX.DIR;1\r\n" + kUnixLine + "-rw-r--r-- 1 owner group 5 Jan\r\n",
     {"b.ts", "rec", "LOGS", "a.ts"}},
};

class ParsedListing : public ::testing::TestWithParam<ParsedListingCase> {};

TEST_P(ParsedListing, EntriesOnlyForLinesTheParserReads) {
    const ParsedListingCase& param = GetParam();
    Scripted scripted(withLogon({reply("200 Type set.\r\n"), reply("200 Port ok.\r\n"),
                                 FtpExchange::send("150 Here.\r\n", param.listing, "226 Done.\r\n")}));
    ASSERT_TRUE(scripted.login());
    std::vector<std::shared_ptr<nsFTP::CFTPFileStatus>> entries = {std::make_shared<nsFTP::CFTPFileStatus>()};
    EXPECT_TRUE(scripted.client.List("/rec/", entries, false)) << scripted.recorder.errorTexts();
    std::vector<std::string> names;
    for (const auto& entry : entries) {
        names.push_back(entry->Name());
        EXPECT_EQ(entry->Path(), "/rec/");
    }
    EXPECT_EQ(names, param.names);
}

INSTANTIATE_TEST_SUITE_P(Parsed, ParsedListing, ::testing::ValuesIn(kParsedListings),
                         [](const ::testing::TestParamInfo<ParsedListingCase>& info) {
                             return std::string(info.param.label);
                         });

// ---------------------------------------------------------------- abort

// Aborts from inside the block notification, as a progress observer would.
class AbortingRecorder : public FtpClientRecorder {
public:
    explicit AbortingRecorder(const CFTPClient& client) : m_client(client) {}
    void OnBytesReceived(const nsFTP::TByteVector& buffer, long long count) override {
        FtpClientRecorder::OnBytesReceived(buffer, count);
        m_client.Abort();
    }
    void OnBytesSent(const nsFTP::TByteVector& buffer, long long count) override {
        FtpClientRecorder::OnBytesSent(buffer, count);
        m_client.Abort();
    }

private:
    const CFTPClient& m_client;
};

// How servers end a cut transfer: the data command's own final reply once
// the data connection closed, then ABOR's answer. The client closes the
// data connection first (the server here, like vsftpd, reads ABOR only
// after that) and reads both, so the next command reads its own reply.
struct AbortCase {
    const char* label;
    bool upload;
    std::string transferEnd;   // sent once the data connection closed
    std::string abortAnswer;   // "" for none at all
    bool connectedAfter;
    // The server keeps the data connection open until it reads ABOR: an
    // aborted upload must not wait for its close.
    bool serverHoldsData = false;
};

void PrintTo(const AbortCase& param, std::ostream* out) { *out << param.label; }

const AbortCase kAbortCases[] = {
    {"UploadTakenForComplete", true, "226 Stored.\r\n", "225 No transfer to ABOR.\r\n", true},
    {"UploadSeenCut", true, "", "426 Aborted.\r\n226 ABOR done.\r\n", true},
    {"UploadDataHeldOpenUntilAbor", true, "", "426 Aborted.\r\n226 ABOR done.\r\n", true, true},
    {"DownloadSeenCut", false, "426 Failure writing.\r\n", "225 No transfer to ABOR.\r\n", true},
    {"DownloadNothingLeftToReport", false, "", "225 ABOR done.\r\n", true},
    {"PreliminaryPassedOver", false, "", "150 Still.\r\n426 Cut.\r\n226 Done.\r\n", true},
    // Never out of step: no answer within the time-out costs the connection.
    {"AbortNeverAnswered", false, "226 Sent.\r\n", "", false},
};

class AbortDuringTransfer : public ::testing::TestWithParam<AbortCase> {};

TEST_P(AbortDuringTransfer, NextCommandReadsItsOwnReply) {
    const AbortCase& param = GetParam();
    TempDir local;
    const std::string payload(9000, 'z');
    testsupport::writeFile(local.file("f"), payload);
    Script script = {reply(param.upload ? "550 None.\r\n" : "213 9000\r\n"), reply("200 Type set.\r\n"),
                     reply("200 Port ok.\r\n")};
    script.push_back(param.upload ? FtpExchange::receive("150 Go.\r\n", param.transferEnd)
                                  : FtpExchange::send("150 Go.\r\n", payload, param.transferEnd));
    script.back().holdData = param.serverHoldsData;
    script.push_back(param.abortAnswer.empty() ? silence() : reply(param.abortAnswer));
    script.push_back(reply("200 Noop.\r\n"));
    Scripted scripted(withLogon(script));
    ASSERT_TRUE(scripted.login());
    AbortingRecorder aborting(scripted.client);
    scripted.client.AttachObserver(&aborting);
    scripted.client.setUiTimeout(param.connectedAfter ? 2 : 1);
    nsFTP::COutputStream sink("\r\n", "sink");
    const double seconds = secondsFor([&] {
        EXPECT_FALSE(param.upload ? scripted.client.UploadFile(local.file("f"), "f", false, kImage, false)
                                  : scripted.client.DownloadFile("f", sink, kImage, false));
    });
    scripted.client.DetachObserver(&aborting);
    if (param.serverHoldsData) {
        // No wait after the data of an aborted upload: it ends at once,
        // with nothing to report.
        EXPECT_LT(seconds, 1.0);
        EXPECT_TRUE(aborting.errors.empty()) << aborting.errorTexts();
    }
    EXPECT_FALSE(scripted.client.IsTransferringData());
    EXPECT_EQ(scripted.client.IsConnected(), param.connectedAfter);
    EXPECT_EQ(scripted.client.Noop(), param.connectedAfter ? FTP_OK : FTP_ERROR);

    Commands seen = scripted.afterLogon();
    if (seen.size() > 2) seen[2] = seen[2].substr(0, 4);
    Commands expected = {"SIZE f", "TYPE I", "PORT", param.upload ? "STOR f" : "RETR f", "ABOR"};
    if (param.connectedAfter) expected.push_back("NOOP");
    EXPECT_EQ(seen, expected);
    if (param.upload) {
        // The block the stream filled after the abort is not written.
        EXPECT_EQ(aborting.blocksSent, 1);
        EXPECT_EQ(aborting.sendingEvents, std::vector<std::string>({"Begin after 0 blocks"}))
            << "no end of sending for an aborted upload";
        EXPECT_TRUE(scripted.server.dataReceived() == payload.substr(0, 2048));
    } else {
        // One more block is received after the abort: counted, not delivered.
        EXPECT_EQ(aborting.blocksReceived, 1);
        EXPECT_EQ(sink.GetBuffer().size(), static_cast<std::size_t>(aborting.bytesReceived));
        ASSERT_EQ(aborting.endReceivingTotals.size(), 1u);
        EXPECT_GT(aborting.endReceivingTotals[0], aborting.bytesReceived);
    }
}

INSTANTIATE_TEST_SUITE_P(Aborts, AbortDuringTransfer, ::testing::ValuesIn(kAbortCases),
                         [](const ::testing::TestParamInfo<AbortCase>& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------- server to server

// When one side of a server-to-server transfer fails, the other side's
// replies are still read (its final reply, or ABOR's answers when its data
// command is under way), so both connections stay in step.
struct RelayCase {
    const char* label;
    std::string retrAnswer;        // the source's answers to RETR
    Script targetAfterStor;        // the target's answers from STOR on, before NOOP
    Commands targetExpected;       // the target's commands from STOR on
};

void PrintTo(const RelayCase& param, std::ostream* out) { *out << param.label; }

const RelayCase kRelayCases[] = {
    {"SourceRefuses", "550 No such file.\r\n",
     {reply("150 Go.\r\n"), reply("425 No data.\r\n226 ABOR done.\r\n")}, {"STOR b", "ABOR", "NOOP"}},
    {"SourceCutAfterStart", "150 Go.\r\n426 Cut.\r\n", {pieces({"150 Go.\r\n", "226 Stored.\r\n"})}, {"STOR b", "NOOP"}},
};

class ServerToServerFailure : public ::testing::TestWithParam<RelayCase> {};

TEST_P(ServerToServerFailure, BothConnectionsStayInStep) {
    const RelayCase& param = GetParam();
    Scripted source(withLogon({reply("200 Type set.\r\n"), reply("227 Entering Passive Mode ({PASV})\r\n"),
                               reply(param.retrAnswer), reply("200 Noop.\r\n")}));
    Script targetScript = {reply("200 Type set.\r\n"), reply("200 Port ok.\r\n")};
    targetScript.insert(targetScript.end(), param.targetAfterStor.begin(), param.targetAfterStor.end());
    targetScript.push_back(reply("200 Noop.\r\n"));
    Scripted target(withLogon(targetScript));
    ASSERT_TRUE(source.login());
    ASSERT_TRUE(target.login());
    EXPECT_FALSE(CFTPClient::TransferFile(source.client, "a", target.client, "b", kImage, true));
    EXPECT_EQ(source.client.Noop(), FTP_OK);
    EXPECT_EQ(target.client.Noop(), FTP_OK);
    EXPECT_EQ(source.recorder.replies.back(), "200 Noop.");
    EXPECT_EQ(target.recorder.replies.back(), "200 Noop.");
    const Commands seen = target.afterLogon();
    EXPECT_EQ(Commands(seen.begin() + std::min<std::size_t>(2, seen.size()), seen.end()), param.targetExpected);
}

INSTANTIATE_TEST_SUITE_P(Relays, ServerToServerFailure, ::testing::ValuesIn(kRelayCases),
                         [](const ::testing::TestParamInfo<RelayCase>& info) { return std::string(info.param.label); });

}  // namespace
