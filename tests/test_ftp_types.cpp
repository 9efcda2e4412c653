// The FTP client's value types: the command table and command lines, reply
// codes, firewall names, the logon record's defaults, the two-way observer
// registration and the text streams.
#include "FTPClient.h"
#include "FTPDataTypes.h"
#include "TestPaths.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using nsFTP::CCommand;

namespace {

struct CommandRow {
    CCommand::TCommandEnum command;
    const char* word;
    CCommand::TTypeEnum type;
};

const CommandRow kTable[] = {
    {CCommand::cmdABOR, "ABOR", CCommand::NonDatachannel}, {CCommand::cmdACCT, "ACCT", CCommand::NonDatachannel},
    {CCommand::cmdALLO, "ALLO", CCommand::NonDatachannel}, {CCommand::cmdAPPE, "APPE", CCommand::DatachannelWrite},
    {CCommand::cmdCDUP, "CDUP", CCommand::NonDatachannel}, {CCommand::cmdCWD, "CWD", CCommand::NonDatachannel},
    {CCommand::cmdDELE, "DELE", CCommand::NonDatachannel}, {CCommand::cmdHELP, "HELP", CCommand::NonDatachannel},
    {CCommand::cmdLIST, "LIST", CCommand::DatachannelRead}, {CCommand::cmdMDTM, "MDTM", CCommand::NonDatachannel},
    {CCommand::cmdMKD, "MKD", CCommand::NonDatachannel},   {CCommand::cmdMODE, "MODE", CCommand::NonDatachannel},
    {CCommand::cmdNLST, "NLST", CCommand::DatachannelRead}, {CCommand::cmdNOOP, "NOOP", CCommand::NonDatachannel},
    {CCommand::cmdOPEN, "OPEN", CCommand::NonDatachannel}, {CCommand::cmdPASS, "PASS", CCommand::NonDatachannel},
    {CCommand::cmdPASV, "PASV", CCommand::NonDatachannel}, {CCommand::cmdPORT, "PORT", CCommand::NonDatachannel},
    {CCommand::cmdPWD, "PWD", CCommand::NonDatachannel},   {CCommand::cmdQUIT, "QUIT", CCommand::NonDatachannel},
    {CCommand::cmdREIN, "REIN", CCommand::NonDatachannel}, {CCommand::cmdREST, "REST", CCommand::NonDatachannel},
    {CCommand::cmdRETR, "RETR", CCommand::DatachannelRead}, {CCommand::cmdRMD, "RMD", CCommand::NonDatachannel},
    {CCommand::cmdRNFR, "RNFR", CCommand::NonDatachannel}, {CCommand::cmdRNTO, "RNTO", CCommand::NonDatachannel},
    {CCommand::cmdSITE, "SITE", CCommand::NonDatachannel}, {CCommand::cmdSIZE, "SIZE", CCommand::NonDatachannel},
    {CCommand::cmdSMNT, "SMNT", CCommand::NonDatachannel}, {CCommand::cmdSTAT, "STAT", CCommand::NonDatachannel},
    {CCommand::cmdSTOR, "STOR", CCommand::DatachannelWrite}, {CCommand::cmdSTOU, "STOU", CCommand::DatachannelWrite},
    {CCommand::cmdSTRU, "STRU", CCommand::NonDatachannel}, {CCommand::cmdSYST, "SYST", CCommand::NonDatachannel},
    {CCommand::cmdTYPE, "TYPE", CCommand::NonDatachannel}, {CCommand::cmdUSER, "USER", CCommand::NonDatachannel},
};

TEST(CommandTable, EveryCommandItsWordAndDataChannel) {
    ASSERT_EQ(sizeof kTable / sizeof kTable[0], 36u);
    EXPECT_EQ(CCommand::CCmd2Info::GetInstance().size(), 36u);
    for (std::size_t i = 0; i < 36; ++i) {
        const CCommand command(kTable[i].command);
        EXPECT_EQ(static_cast<std::size_t>(command.AsEnum()), i);
        EXPECT_EQ(command.AsString(), kTable[i].word);
        EXPECT_EQ(command.GetExtendedInfo().GetType(), kTable[i].type) << kTable[i].word;
        EXPECT_EQ(command.IsDatachannelCommand(), kTable[i].type != CCommand::NonDatachannel) << kTable[i].word;
        EXPECT_EQ(command.GetExtendedInfo().GetCompleteServerStringSyntax().compare(0, command.AsString().size(),
                                                                                  command.AsString()),
                  0);
    }
    EXPECT_EQ(CCommand::MDTM().GetExtendedInfo().GetSpecification(), CCommand::RFC3659);
    EXPECT_EQ(CCommand::OPEN().GetExtendedInfo().GetSpecification(), CCommand::Unknown);
    EXPECT_EQ(CCommand::ALLO().GetExtendedInfo().GetNumberOfOptionalParameters(), 2u);
}

TEST(CommandLine, EmptyArgumentsAddNothing) {
    EXPECT_EQ(CCommand::MKD().AsString(nsFTP::CArg("")), "MKD");
    EXPECT_EQ(CCommand::MKD().AsString(nsFTP::CArg("a", "", "b")), "MKD a b");
    EXPECT_EQ(CCommand::STOU().AsString(nsFTP::CArg()), "STOU");
}

TEST(ReplyCode, FirstTwoDigitsChecked) {
    struct Case {
        const char* text;
        bool valid;
        const char* code;
    };
    const Case cases[] = {{"220 Ready", true, "220"}, {"22", false, ""},  {"250", true, "250"},
                          {"260 x", false, ""},       {"650 x", false, ""}, {"25x", true, "25x"},
                          {"099 x", false, ""}};
    for (const Case& c : cases) {
        nsFTP::CReply reply;
        EXPECT_EQ(reply.Set(c.text), c.valid) << c.text;
        EXPECT_STREQ(reply.Code().Value(), c.code) << c.text;
    }
    nsFTP::CReply reply;
    reply.Set("331 Password");
    EXPECT_FALSE(reply.Set("9"));  // too short to hold a code: the old one stays
    EXPECT_STREQ(reply.Code().Value(), "331");
    EXPECT_TRUE(reply.Code().IsPositiveIntermediateReply());
    EXPECT_TRUE(reply.Code().IsRefferingToAuthenticationAndAccounting());
}

TEST(FirewallType, NineTypesWithTheirNames) {
    std::vector<nsFTP::CFirewallType> types(3);
    nsFTP::CFirewallType::GetAllTypes(types);
    ASSERT_EQ(types.size(), 9u);
    EXPECT_EQ(types[0], nsFTP::CFirewallType::ftNone);
    EXPECT_EQ(types[0].AsDisplayString(), "no firewall");
    EXPECT_EQ(types[6].AsStorageString(), "USER_FIREID@REMOTEHOST");
    EXPECT_EQ(types[8].AsDisplayString(), "USER remoteID@fireID@remotehost");
}

TEST(LogonInfo, DefaultsAreAnAnonymousDirectLogon) {
    const nsFTP::CLogonInfo info;
    EXPECT_EQ(info.Username(), "anonymous");
    EXPECT_EQ(info.Password(), "");
    EXPECT_EQ(info.Hostport(), 21);
    EXPECT_EQ(info.FwPort(), 21);
    EXPECT_EQ(info.FwType(), nsFTP::CFirewallType::None());
    const nsFTP::CLogonInfo host("h", 2121, "u", "p", "a");
    EXPECT_EQ(host.Hostport(), 2121);
    EXPECT_EQ(host.FwType(), nsFTP::CFirewallType::None());
    EXPECT_EQ(host.FwHost(), "");
}

// ---------------------------------------------------------------- observers

TEST(ObserverRegistration, BothSidesAgreeWhateverIsDestroyedFirst) {
    auto client = std::make_unique<nsFTP::CFTPClient>(nsSocket::CreateDefaultBlockingSocketInstance(), 1, 16, 0, "/");
    auto observer = std::make_unique<nsFTP::CFTPClient::CNotification>();
    client->AttachObserver(observer.get());
    client->AttachObserver(observer.get());
    EXPECT_EQ(observer->size(), 1u);
    client->DetachObserver(observer.get());
    EXPECT_TRUE(observer->empty());

    client->AttachObserver(observer.get());
    client.reset();
    EXPECT_TRUE(observer->empty()) << "a destroyed client stays in its observer";

    client = std::make_unique<nsFTP::CFTPClient>(nsSocket::CreateDefaultBlockingSocketInstance(), 1, 16, 0, "/");
    client->AttachObserver(observer.get());
    observer.reset();
    // The failed connect is reported to the observers: none is left to call.
    EXPECT_FALSE(client->Login(nsFTP::CLogonInfo("127.0.0.1", 1, "u", "p", "")));
}

// ---------------------------------------------------------------- text helpers

TEST(TextHelpers, ReplaceStrResumesBehindEachReplacement) {
    struct Case {
        std::string text, from, to, expected;
    };
    const Case cases[] = {{"192.168.0.5,2,3", ".", ",", "192,168,0,5,2,3"},
                          {"aaa", "a", "aa", "aaaaaa"},
                          {"abc", "", "x", "abc"},
                          {"", ".", ",", ""}};
    for (Case c : cases) EXPECT_EQ(nsFTP::ReplaceStr(c.text, c.from, c.to), c.expected);
}

TEST(TextHelpers, LeadingNumbers) {
    EXPECT_EQ(nsHelper::CCnv::TStringToLong("  -42abc"), -42);
    EXPECT_EQ(nsHelper::CCnv::TStringToLong("x1"), 0);
    EXPECT_EQ(nsHelper::CCnv::ConvertToTString(nullptr), "");
    nsFTP::CMakeString text;
    text << std::string("n=") << 4294967295u;
    EXPECT_EQ(static_cast<std::string>(text), "n=4294967295");
}

TEST(OutputStream, LinesFromThePositionAndSharedCopies) {
    nsFTP::COutputStream stream("\r\n", "LIST");
    nsFTP::COutputStream copy = stream;
    stream.SetBuffer("one\r\ntwo\r\nthree");
    std::string line;
    copy.SetStartPosition();
    EXPECT_TRUE(copy.GetNextLine(line));
    EXPECT_EQ(line, "one");
    EXPECT_TRUE(stream.GetNextLine(line));
    EXPECT_EQ(line, "two");
    EXPECT_FALSE(stream.GetNextLine(line));
    EXPECT_EQ(line, "two");

    stream.SetLocalStreamOffset(1000);  // beyond the end: nothing more to send
    char block[8];
    std::size_t count = 99;
    stream.OnPreBytesSend(block, sizeof block, count);
    EXPECT_EQ(count, 0u);
    stream.SetLocalStreamOffset(10);
    stream.OnPreBytesSend(block, sizeof block, count);
    EXPECT_EQ(std::string(block, count), "three");
    EXPECT_EQ(stream.GetLocalStreamName(), "LIST");
}

TEST(LocalFile, ClosedFileIsAnEmptyStream) {
    nsFTP::CFile file;
    EXPECT_FALSE(file.Open("/nonexistent/x", "rb"));
    EXPECT_EQ(file.GetLocalStreamSize(), 0u);
    char block[4];
    std::size_t count = 9;
    EXPECT_TRUE(file.OnPreBytesSend(block, sizeof block, count));
    EXPECT_EQ(count, 0u);
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("f"), "12345");
    ASSERT_TRUE(file.Open(dir.file("f"), "rb"));
    EXPECT_EQ(file.GetLocalStreamSize(), 5u);
    file.SetLocalStreamOffset(3);
    EXPECT_TRUE(file.OnPreBytesSend(block, sizeof block, count));
    EXPECT_EQ(std::string(block, count), "45");
}

}  // namespace
