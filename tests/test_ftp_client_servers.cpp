// The FTP client against real servers (pyftpdlib and vsftpd on 127.0.0.1):
// logon, directories, uploads and downloads in both data-connection modes
// with every byte compared, resume after a cut, SIZE, MDTM and listings.
#include "FTPClient.h"
#include "FtpClientRecorder.h"
#include "FtpTestServer.h"
#include "TestPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

using nsFTP::CFTPClient;
using testsupport::FtpClientRecorder;
using testsupport::FtpServerKind;
using testsupport::FtpTestServer;
using testsupport::TempDir;

namespace {

// Bytes every value of which occurs, in an order a shifted copy cannot match.
std::string payloadOf(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random() & 0xFF);
    return bytes;
}

const nsFTP::CRepresentation kImage(nsFTP::CType::Image(), nsFTP::CTypeFormat());

struct ServerCase {
    const char* label;
    FtpServerKind kind;
    bool passive;
};

const ServerCase kServerCases[] = {
    {"pyftpdlib_active", FtpServerKind::Pyftpdlib, false},
    {"pyftpdlib_passive", FtpServerKind::Pyftpdlib, true},
    {"vsftpd_active", FtpServerKind::Vsftpd, false},
    {"vsftpd_passive", FtpServerKind::Vsftpd, true},
};

// A served root with the folder "sub" made before the server starts (vsftpd
// writes only below the root), a local scratch folder, a running server and
// a client with a recorder attached, logged on.
class ServedClient {
public:
    explicit ServedClient(FtpServerKind kind, unsigned int bufferSize = 2048) {
        std::filesystem::create_directory(root.file("sub"));
        server = std::make_unique<FtpTestServer>(kind, testsupport::FtpServerOptions{root.path()});
        client = std::make_unique<CFTPClient>(nsSocket::CreateDefaultBlockingSocketInstance(), 10, bufferSize, 0, "/");
        client->AttachObserver(&recorder);
        client->setUiTimeout(5);
    }
    ~ServedClient() {
        if (client) client->DetachObserver(&recorder);
    }
    bool login() {
        return client->Login(nsFTP::CLogonInfo(nsHelper::CCnv::ConvertToTString("127.0.0.1"), server->port(),
                                               server->user(), server->password(), ""));
    }
    std::string diagnosis() const { return recorder.errorTexts() + "--- server log ---\n" + server->log(); }

    TempDir root;
    TempDir local;
    FtpClientRecorder recorder;
    std::unique_ptr<FtpTestServer> server;
    std::unique_ptr<CFTPClient> client;
};

class FtpClientServers : public ::testing::TestWithParam<ServerCase> {};

// The after-task's way: MKD, CWD, upload a file larger than 4 MiB with a
// 2,048-byte buffer, then fetch it back into another file.
TEST_P(FtpClientServers, UploadIntoNewFolderAndDownloadBack) {
    const ServerCase& param = GetParam();
    ServedClient served(param.kind);
    const std::string payload = payloadOf(4 * 1024 * 1024 + 4321, 1);
    testsupport::writeFile(served.local.file("rec.ts"), payload);

    ASSERT_TRUE(served.login()) << served.diagnosis();
    EXPECT_EQ(served.client->MakeDirectory("/sub/new/"), nsFTP::FTP_OK) << served.diagnosis();
    EXPECT_EQ(served.client->ChangeWorkingDirectory("/sub/new/"), nsFTP::FTP_OK);
    ASSERT_TRUE(served.client->UploadFile(served.local.file("rec.ts"), "/sub/new/rec.ts", false, kImage, param.passive))
        << served.diagnosis();
    EXPECT_TRUE(testsupport::readFile(served.root.file("sub/new/rec.ts")) == payload) << "upload arrived damaged";
    EXPECT_EQ(served.recorder.bytesSent, static_cast<long long>(payload.size()));
    const std::string size = std::to_string(payload.size());
    const std::vector<std::string> uploadEvents = {
        "PreSend " + served.local.file("rec.ts") + " -> /sub/new/rec.ts " + size,
        "PostSend " + served.local.file("rec.ts") + " -> /sub/new/rec.ts " + size};
    EXPECT_EQ(served.recorder.events, uploadEvents);

    ASSERT_TRUE(served.client->DownloadFile("/sub/new/rec.ts", served.local.file("back.ts"), kImage, param.passive))
        << served.diagnosis();
    EXPECT_TRUE(testsupport::readFile(served.local.file("back.ts")) == payload) << "download arrived damaged";
    EXPECT_EQ(served.recorder.bytesReceived, static_cast<long long>(payload.size()));
    EXPECT_EQ(served.client->Logout(), nsFTP::FTP_OK);
    EXPECT_FALSE(served.client->IsConnected());
    EXPECT_TRUE(served.recorder.errors.empty()) << served.diagnosis();
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpClientServers, ::testing::ValuesIn(kServerCases),
                         [](const ::testing::TestParamInfo<ServerCase>& info) { return std::string(info.param.label); });

}  // namespace
