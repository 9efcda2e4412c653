// The FTP client's value types: command lines, reply codes, the firewall
// list, the two-way observer registration and the text streams.
#include "FTPClient.h"
#include "FTPDataTypes.h"
#include "TestPaths.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using nsFTP::CCommand;

namespace {

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

TEST(FirewallType, GetAllTypesReplacesTheList) {
    std::vector<nsFTP::CFirewallType> types(12);
    nsFTP::CFirewallType::GetAllTypes(types);
    ASSERT_EQ(types.size(), 9u);
    EXPECT_EQ(types[0], nsFTP::CFirewallType::ftNone);
    EXPECT_EQ(types[8].AsStorageString(), "USER_REMOTEID@FIREID@REMOTEHOST");
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
