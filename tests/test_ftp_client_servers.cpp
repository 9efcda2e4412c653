// The FTP client against real servers (pyftpdlib and vsftpd on 127.0.0.1):
// logon, directories, uploads and downloads in both data-connection modes
// with every byte compared, resume after a cut, SIZE, MDTM and listings.
#include "FTPClient.h"
#include "FTPFileStatus.h"
#include "FtpClientRecorder.h"
#include "FtpTestServer.h"
#include "TestPaths.h"

#include <gtest/gtest.h>

#include <sys/time.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <ostream>
#include <string>
#include <thread>
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

void PrintTo(const ServerCase& param, std::ostream* out) { *out << param.label; }

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
    explicit ServedClient(FtpServerKind kind, unsigned int bufferSize = 2048)
        : owned(std::make_unique<CFTPClient>(nsSocket::CreateDefaultBlockingSocketInstance(), 10, bufferSize, 0, "/")),
          client(owned.get()) {
        std::filesystem::create_directory(root.file("sub"));
        server = std::make_unique<FtpTestServer>(kind, testsupport::FtpServerOptions{root.path()});
        client->setUiTimeout(5);
        client->AttachObserver(&recorder);
    }
    ~ServedClient() { client->DetachObserver(&recorder); }
    bool login() {
        return client->Login(nsFTP::CLogonInfo(nsHelper::CCnv::ConvertToTString("127.0.0.1"), server->port(),
                                               server->user(), server->password(), ""));
    }
    std::string diagnosis() const { return recorder.errorTexts() + "--- server log ---\n" + server->log(); }

    TempDir root;
    TempDir local;
    FtpClientRecorder recorder;
    std::unique_ptr<FtpTestServer> server;
    std::unique_ptr<CFTPClient> owned;
    CFTPClient* client = nullptr;
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

// Cuts a transfer after `blocks` data blocks, as a progress observer that
// calls Abort would. An upload is cut only once the server has stored some
// of it (waited for, bounded): a server that reads ABOR before the end of
// the data connection drops what it has not read yet, which under load can
// be everything.
class CuttingRecorder : public FtpClientRecorder {
public:
    CuttingRecorder(const CFTPClient& client, long long blocks, std::string storedFile = std::string())
        : m_client(client), m_blocks(blocks), m_storedFile(std::move(storedFile)) {}
    void OnBytesSent(const nsFTP::TByteVector& buffer, long long count) override {
        FtpClientRecorder::OnBytesSent(buffer, count);
        if (blocksSent != m_blocks) return;
        std::error_code error;
        for (int i = 0; i < 1000 && std::filesystem::file_size(m_storedFile, error) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_client.Abort();
    }
    void OnBytesReceived(const nsFTP::TByteVector& buffer, long long count) override {
        FtpClientRecorder::OnBytesReceived(buffer, count);
        if (blocksReceived == m_blocks) m_client.Abort();
    }

private:
    const CFTPClient& m_client;
    long long m_blocks;
    std::string m_storedFile;
};

// An upload cut half-way leaves part of the file on the server; the next
// upload on the same connection, as the after-task's retry makes it, finds
// that part by SIZE and appends the rest. vsftpd reads ABOR only once the
// data connection has ended: had the client waited for ABOR's reply first,
// the time-out would have cost the connection and the retry.
TEST_P(FtpClientServers, UploadResumesAfterACut) {
    const ServerCase& param = GetParam();
    ServedClient served(param.kind);
    const std::string payload = payloadOf(3 * 1024 * 1024 + 17, 2);
    testsupport::writeFile(served.local.file("rec.ts"), payload);
    ASSERT_TRUE(served.login()) << served.diagnosis();
    // pyftpdlib answers SIZE only in binary mode; the upload asks SIZE before it sets the type.
    EXPECT_EQ(served.client->RepresentationType(kImage), nsFTP::FTP_OK);
    {
        CuttingRecorder cutter(*served.client, 200, served.root.file("sub/rec.ts"));
        served.client->AttachObserver(&cutter);
        EXPECT_FALSE(served.client->UploadFile(served.local.file("rec.ts"), "/sub/rec.ts", false, kImage, param.passive));
        served.client->DetachObserver(&cutter);
        EXPECT_EQ(cutter.blocksSent, 200);
        EXPECT_EQ(cutter.commandsNamed("ABOR").size(), 1u);
    }
    const std::size_t left = testsupport::readFile(served.root.file("sub/rec.ts")).size();
    ASSERT_GT(left, 0u);
    ASSERT_LT(left, payload.size());

    const long long sentBefore = served.recorder.bytesSent;
    ASSERT_TRUE(served.client->UploadFile(served.local.file("rec.ts"), "/sub/rec.ts", false, kImage, param.passive))
        << served.diagnosis();
    EXPECT_EQ(served.recorder.commandsNamed("APPE"), std::vector<std::string>({"APPE /sub/rec.ts"}));
    EXPECT_EQ(served.recorder.bytesSent - sentBefore, static_cast<long long>(payload.size() - left));
    EXPECT_TRUE(testsupport::readFile(served.root.file("sub/rec.ts")) == payload) << "resumed upload differs";
}

// A download cut half-way is continued on the same connection with REST at
// the local size.
TEST_P(FtpClientServers, DownloadResumesAfterACut) {
    const ServerCase& param = GetParam();
    ServedClient served(param.kind);
    const std::string payload = payloadOf(3 * 1024 * 1024 + 5, 3);
    testsupport::writeFile(served.root.file("sub/rec.ts"), payload);
    ASSERT_TRUE(served.login()) << served.diagnosis();
    {
        CuttingRecorder cutter(*served.client, 100);
        served.client->AttachObserver(&cutter);
        EXPECT_FALSE(served.client->DownloadFile("/sub/rec.ts", served.local.file("rec.ts"), kImage, param.passive));
        served.client->DetachObserver(&cutter);
    }
    const std::size_t kept = testsupport::readFile(served.local.file("rec.ts")).size();
    ASSERT_GT(kept, 0u);
    ASSERT_LT(kept, payload.size());

    ASSERT_TRUE(served.client->DownloadFile("/sub/rec.ts", served.local.file("rec.ts"), kImage, param.passive))
        << served.diagnosis();
    EXPECT_EQ(served.recorder.commandsNamed("REST"), std::vector<std::string>({"REST " + std::to_string(kept)}));
    EXPECT_TRUE(testsupport::readFile(served.local.file("rec.ts")) == payload) << "resumed download differs";
}

// SIZE, MDTM, MKD, CWD, PWD and the listings, each against what is on disk.
TEST_P(FtpClientServers, QueriesAndListings) {
    const ServerCase& param = GetParam();
    ServedClient served(param.kind);
    testsupport::writeFile(served.root.file("sub/a.ts"), std::string(1234, 'a'));
    testsupport::writeFile(served.root.file("sub/b.ts"), "");
    std::filesystem::create_directory(served.root.file("sub/dir"));
    const timeval when[2] = {{1704164645, 0}, {1704164645, 0}};  // 2024-01-02 03:04:05 UTC
    ASSERT_EQ(::utimes(served.root.file("sub/a.ts").c_str(), when), 0);
    ASSERT_TRUE(served.login()) << served.diagnosis();
    EXPECT_EQ(served.client->RepresentationType(kImage), nsFTP::FTP_OK);

    long long size = -7;
    EXPECT_EQ(served.client->FileSize("/sub/a.ts", size), nsFTP::FTP_OK);
    EXPECT_EQ(size, 1234);
    EXPECT_EQ(served.client->FileSize("/sub/none.ts", size), nsFTP::FTP_NOTOK);
    tm modified{};
    EXPECT_EQ(served.client->FileModificationTime("/sub/a.ts", modified), nsFTP::FTP_OK);
    EXPECT_EQ(std::vector<int>({modified.tm_year, modified.tm_mon, modified.tm_mday, modified.tm_hour, modified.tm_min,
                                modified.tm_sec}),
              std::vector<int>({124, 0, 2, 3, 4, 5}));
    // A refusal too short to hold a time reads as no time at all.
    EXPECT_EQ(served.client->FileModificationTime("/sub/none.ts", modified), nsFTP::FTP_ERROR);

    EXPECT_EQ(served.client->MakeDirectory("/sub/dir"), nsFTP::FTP_NOTOK);  // exists
    EXPECT_EQ(served.client->ChangeWorkingDirectory("/sub/none"), nsFTP::FTP_NOTOK);
    EXPECT_EQ(served.client->ChangeWorkingDirectory("/sub"), nsFTP::FTP_OK);
    EXPECT_EQ(served.client->PrintWorkingDirectory(), nsFTP::FTP_OK);
    EXPECT_NE(served.recorder.replies.back().find("\"/sub\""), std::string::npos) << served.recorder.replies.back();

    std::vector<std::string> names;
    ASSERT_TRUE(served.client->NameList("", names, param.passive)) << served.diagnosis();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, std::vector<std::string>({"a.ts", "b.ts", "dir"}));

    std::vector<std::shared_ptr<nsFTP::CFTPFileStatus>> entries;
    ASSERT_TRUE(served.client->List("/sub/", entries, param.passive)) << served.diagnosis();
    std::map<std::string, std::pair<long long, bool>> seen;
    for (const auto& entry : entries) {
        EXPECT_EQ(entry->Path(), "/sub/");
        seen[entry->Name()] = {entry->Size(), entry->IsCwdPossible()};
    }
    const std::map<std::string, std::pair<long long, bool>> expected = {
        {"a.ts", {1234, false}}, {"b.ts", {0, false}}, {"dir", {seen["dir"].first, true}}};
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(served.recorder.errors.empty()) << served.diagnosis();
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpClientServers, ::testing::ValuesIn(kServerCases),
                         [](const ::testing::TestParamInfo<ServerCase>& info) { return std::string(info.param.label); });

// Server to server: the source sends straight to the target, in both
// directions of the passive side.
TEST(ServerToServer, FileGoesFromOneServerToTheOther) {
    ServedClient source(FtpServerKind::Pyftpdlib);
    ServedClient target(FtpServerKind::Pyftpdlib);
    const std::string payload = payloadOf(200000, 6);
    testsupport::writeFile(source.root.file("sub/a.ts"), payload);
    ASSERT_TRUE(source.login()) << source.diagnosis();
    ASSERT_TRUE(target.login()) << target.diagnosis();
    EXPECT_TRUE(source.client->DownloadFile("/sub/a.ts", *target.client, "/sub/b.ts", kImage, true))
        << source.diagnosis() << target.diagnosis();
    EXPECT_TRUE(target.client->UploadFile(*source.client, "/sub/a.ts", "/sub/c.ts", kImage, true))
        << source.diagnosis() << target.diagnosis();
    EXPECT_TRUE(testsupport::readFile(target.root.file("sub/b.ts")) == payload);
    EXPECT_TRUE(testsupport::readFile(target.root.file("sub/c.ts")) == payload);
}

// ---------------------------------------------------------------- local files

struct LocalErrorCase {
    const char* label;
    bool upload;
    std::string local;  // "$" is the scratch folder
    std::string error;  // the system text reported
    std::uint32_t line;
};

void PrintTo(const LocalErrorCase& param, std::ostream* out) { *out << param.label; }

const LocalErrorCase kLocalErrorCases[] = {
    {"UploadOfMissingFile", true, "$/none.ts", "No such file or directory", 757},
    {"UploadOfFolder", true, "$", "Is a directory", 757},
    // Reading the process's own memory from address 0 fails half-way in.
    {"UploadOfUnreadableFile", true, "/proc/self/mem", "Input/output error", 1099},
    {"DownloadIntoMissingFolder", false, "$/none/x.ts", "No such file or directory", 698},
    {"DownloadOntoFullDisk", false, "/dev/full", "No space left on device", 1145},
};

class LocalFiles : public ::testing::TestWithParam<LocalErrorCase> {};

// A local file that cannot be read or written fails the transfer with the
// system's text, never passes a truncated file for a whole one.
TEST_P(LocalFiles, ErrorsFailTheTransfer) {
    const LocalErrorCase& param = GetParam();
    ServedClient served(FtpServerKind::Pyftpdlib, 65536);
    testsupport::writeFile(served.root.file("sub/rec.ts"), payloadOf(300000, 4));
    std::string local = param.local;
    if (local[0] == '$') local = served.local.path() + local.substr(1);
    ASSERT_TRUE(served.login()) << served.diagnosis();

    const bool done = param.upload ? served.client->UploadFile(local, "/sub/up.ts", false, kImage, true)
                                   : served.client->DownloadFile("/sub/rec.ts", local, kImage, true);
    EXPECT_FALSE(done);
    ASSERT_FALSE(served.recorder.errors.empty());
    EXPECT_EQ(served.recorder.errors[0].text, param.error);
    EXPECT_EQ(served.recorder.errors[0].line, param.line);
    EXPECT_FALSE(served.client->IsTransferringData());
    // The failure leaves the connection in step: the next upload on it works.
    const std::string again = payloadOf(100000, 7);
    testsupport::writeFile(served.local.file("again.ts"), again);
    EXPECT_TRUE(served.client->UploadFile(served.local.file("again.ts"), "/sub/again.ts", false, kImage, true))
        << served.diagnosis();
    EXPECT_TRUE(testsupport::readFile(served.root.file("sub/again.ts")) == again);
}

INSTANTIATE_TEST_SUITE_P(Errors, LocalFiles, ::testing::ValuesIn(kLocalErrorCases),
                         [](const ::testing::TestParamInfo<LocalErrorCase>& info) { return std::string(info.param.label); });

// TYPE goes out when the representation changes and again on a new
// connection; a 64 KiB buffer moves the same bytes as the small one.
TEST(TypeNegotiation, SentOncePerConnectionAndRepresentation) {
    ServedClient served(FtpServerKind::Pyftpdlib, 65536);
    const std::string payload = payloadOf(1000003, 5);
    testsupport::writeFile(served.local.file("a.ts"), payload);
    ASSERT_TRUE(served.login()) << served.diagnosis();
    EXPECT_TRUE(served.client->UploadFile(served.local.file("a.ts"), "/sub/a.ts", false, kImage, true));
    EXPECT_TRUE(served.client->UploadFile(served.local.file("a.ts"), "/sub/b.ts", false, kImage, false));
    std::vector<std::string> names;
    EXPECT_TRUE(served.client->NameList("/sub", names, true));
    EXPECT_TRUE(served.client->DownloadFile("/sub/b.ts", served.local.file("b.ts"), kImage, true));
    EXPECT_EQ(served.recorder.commandsNamed("TYPE"), std::vector<std::string>({"TYPE I", "TYPE A", "TYPE I"}));
    ASSERT_TRUE(served.login()) << served.diagnosis();
    EXPECT_TRUE(served.client->UploadFile(served.local.file("a.ts"), "/sub/c.ts", false, kImage, false));
    EXPECT_EQ(served.recorder.commandsNamed("TYPE").size(), 4u);
    for (const char* name : {"sub/a.ts", "sub/b.ts", "sub/c.ts"}) {
        EXPECT_TRUE(testsupport::readFile(served.root.file(name)) == payload) << name;
    }
    EXPECT_TRUE(testsupport::readFile(served.local.file("b.ts")) == payload);
    EXPECT_EQ(served.recorder.blocksSent, 3 * ((1000003 + 65535) / 65536));
}

}  // namespace
