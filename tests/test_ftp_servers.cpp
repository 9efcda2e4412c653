// The real FTP servers the FTP tests run against, driven by curl as a peer
// client: logon, listing, upload into a new folder, download, SIZE and
// MDTM, in passive and active mode, and nothing left running afterwards.
#include "FtpTestServer.h"
#include "TestPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

using testsupport::CurlResult;
using testsupport::FtpServerKind;
using testsupport::FtpTestServer;
using testsupport::TempDir;
using testsupport::runCurl;

namespace {

struct ServerCase {
    const char* label;
    FtpServerKind kind;
    bool active;
};

void PrintTo(const ServerCase& param, std::ostream* out) { *out << param.label; }

class FtpServers : public ::testing::TestWithParam<ServerCase> {};

std::vector<std::string> with(std::vector<std::string> arguments, const FtpTestServer& server, bool active) {
    arguments.insert(arguments.begin(), {"-u", server.user() + ":" + server.password()});
    if (active) arguments.insert(arguments.begin(), {"-P", "127.0.0.1"});
    else arguments.insert(arguments.begin(), "--ftp-pasv");
    return arguments;
}

void expectOk(const CurlResult& result, const std::string& what, const FtpTestServer& server) {
    EXPECT_EQ(result.exitCode, 0) << what << ": " << result.errors << "\n--- server log ---\n" << server.log();
}

TEST_P(FtpServers, LogOnListTransferAndStop) {
    const ServerCase& param = GetParam();
    TempDir root;
    TempDir local;
    testsupport::writeFile(root.file("hello.txt"), "hello\n");
    std::filesystem::create_directory(root.file("sub"));  // vsftpd writes only below the root
    const std::string payload(70000, 'x');
    testsupport::writeFile(local.file("payload"), payload + "end");
    std::uint16_t port = 0;
    {
        FtpTestServer server(param.kind, {root.path()});
        port = server.port();

        expectOk(runCurl(with({"--ftp-create-dirs", "-T", local.file("payload"), server.url("/sub/new/up%20load.bin")},
                              server, param.active)),
                 "upload into a new folder", server);
        EXPECT_TRUE(testsupport::readFile(root.file("sub/new/up load.bin")) == payload + "end")
            << "upload arrived damaged";

        const CurlResult names = runCurl(with({"--list-only", server.url("/")}, server, param.active));
        expectOk(names, "name list", server);
        EXPECT_NE(names.output.find("hello.txt"), std::string::npos) << names.output;
        EXPECT_NE(names.output.find("sub"), std::string::npos) << names.output;

        const CurlResult listing = runCurl(with({server.url("/sub/new/")}, server, param.active));
        expectOk(listing, "LIST of a subfolder", server);
        EXPECT_NE(listing.output.find("70003"), std::string::npos) << listing.output;
        EXPECT_NE(listing.output.find("up load.bin"), std::string::npos) << listing.output;

        const CurlResult download = runCurl(with({server.url("/sub/new/up%20load.bin")}, server, param.active));
        expectOk(download, "download", server);
        EXPECT_TRUE(download.output == payload + "end") << "download of " << download.output.size() << " bytes differs";

        const CurlResult head = runCurl(with({"-I", server.url("/hello.txt")}, server, param.active));
        expectOk(head, "SIZE and MDTM", server);
        EXPECT_NE(head.output.find("Content-Length: 6"), std::string::npos) << head.output;
        EXPECT_NE(head.output.find("Last-Modified:"), std::string::npos) << head.output;
    }
    const CurlResult gone = runCurl({"--list-only", "ftp://127.0.0.1:" + std::to_string(port) + "/"});
    EXPECT_EQ(gone.exitCode, 7) << "the server still answers after it was stopped";
}

INSTANTIATE_TEST_SUITE_P(Kinds, FtpServers,
                         ::testing::Values(ServerCase{"PyftpdlibPassive", FtpServerKind::Pyftpdlib, false},
                                           ServerCase{"PyftpdlibActive", FtpServerKind::Pyftpdlib, true},
                                           ServerCase{"VsftpdPassive", FtpServerKind::Vsftpd, false},
                                           ServerCase{"VsftpdActive", FtpServerKind::Vsftpd, true}),
                         [](const ::testing::TestParamInfo<ServerCase>& info) {
                             return std::string(info.param.label);
                         });

TEST(FtpServerLogon, PyftpdlibRefusesAWrongPassword) {
    TempDir root;
    FtpTestServer server(FtpServerKind::Pyftpdlib, {root.path(), "marubo", "secret"});
    const CurlResult result = runCurl({"--list-only", "-u", "marubo:wrong", server.url("/")});
    EXPECT_EQ(result.exitCode, 67) << result.errors;  // curl: login denied
}

TEST(FtpServerLogon, MissingRootIsACleanFailure) {
    EXPECT_THROW(FtpTestServer(FtpServerKind::Pyftpdlib, {"/nonexistent/marubo-ftp-root"}), std::runtime_error);
}

}  // namespace
