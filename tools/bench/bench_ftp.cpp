// FTP transfer rates: the client uploads and downloads one large file to a
// local real server, in active and passive mode, with the after-task's
// 2,048-byte buffer and with a 64 KiB buffer; curl moves the same file to
// the same server beside it. Prints the rates and their ratios to curl's.
//
//   bench_ftp [MiB=256] [vsftpd|pyftpdlib]
//
// A self-timing program: it is built with the benchmarks but run by hand.
#include "FTPClient.h"
#include "FtpTestServer.h"
#include "TestPaths.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

using testsupport::FtpServerKind;
using testsupport::FtpTestServer;

namespace {

using Clock = std::chrono::steady_clock;

const nsFTP::CRepresentation kImage(nsFTP::CType::Image(), nsFTP::CTypeFormat());

void writeSource(const std::string& path, std::size_t bytes) {
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 random(7);
    std::vector<std::uint64_t> block(1 << 16);
    for (std::size_t written = 0; written < bytes;) {
        for (auto& word : block) word = random();
        const std::size_t n = std::min(bytes - written, block.size() * sizeof(std::uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        written += n;
    }
}

// Seconds the call took, or a negative number when it failed.
template <typename Call>
double timed(Call call) {
    const auto start = Clock::now();
    if (!call()) return -1;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Bench {
    FtpTestServer& server;
    testsupport::TempDir& local;
    std::string source;
    std::size_t bytes;

    bool sameSize(const std::string& path) const {
        std::error_code error;
        return std::filesystem::file_size(path, error) == bytes && !error;
    }

    double client(bool upload, bool passive, unsigned int bufferSize) {
        const std::string target = local.file("down.bin");
        std::filesystem::remove(target);
        const std::string remote = "/sub/up.bin";
        // Timed like curl's run: logon, transfer and logout.
        const double seconds = timed([&] {
            nsFTP::CFTPClient ftp(nsSocket::CreateDefaultBlockingSocketInstance(), 10, bufferSize, 0, "/");
            ftp.setUiTimeout(100);
            ftp.SetResumeMode(false);
            if (!ftp.Login(nsFTP::CLogonInfo("127.0.0.1", server.port(), server.user(), server.password(), ""))) {
                return false;
            }
            const bool done = upload ? ftp.UploadFile(source, remote, false, kImage, passive)
                                     : ftp.DownloadFile("/sub/source.bin", target, kImage, passive);
            ftp.Logout();
            return done;
        });
        const bool complete = upload ? sameSize(server.root() + remote) : sameSize(target);
        std::filesystem::remove(upload ? server.root() + remote : target);
        return complete ? seconds : -1;
    }

    double curl(bool upload, bool passive) {
        const std::string target = local.file("down.bin");
        std::filesystem::remove(target);
        std::vector<std::string> arguments = {"-u", server.user() + ":" + server.password()};
        if (passive) {
            arguments.push_back("--ftp-pasv");
        } else {
            arguments.insert(arguments.end(), {"-P", "127.0.0.1"});
        }
        if (upload) {
            arguments.insert(arguments.end(), {"-T", source, server.url("/sub/up.bin")});
        } else {
            arguments.insert(arguments.end(), {"-o", target, server.url("/sub/source.bin")});
        }
        const double seconds = timed([&] { return testsupport::runCurl(arguments).exitCode == 0; });
        const std::string written = upload ? server.root() + "/sub/up.bin" : target;
        const bool complete = sameSize(written);
        std::filesystem::remove(written);
        return complete ? seconds : -1;
    }
};

double rate(std::size_t bytes, double seconds) { return seconds > 0 ? bytes / seconds / (1024.0 * 1024.0) : 0; }

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mebibytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const bool python = argc > 2 && std::string(argv[2]) == "pyftpdlib";
    if (mebibytes == 0) {
        std::fprintf(stderr, "usage: bench_ftp [MiB] [vsftpd|pyftpdlib]\n");
        return 2;
    }
    testsupport::TempDir root;
    testsupport::TempDir local;
    std::filesystem::create_directory(root.file("sub"));
    const std::size_t bytes = mebibytes * 1024 * 1024;
    writeSource(root.file("sub/source.bin"), bytes);
    std::filesystem::copy_file(root.file("sub/source.bin"), local.file("source.bin"));

    FtpTestServer server(python ? FtpServerKind::Pyftpdlib : FtpServerKind::Vsftpd, {root.path()});
    Bench bench{server, local, local.file("source.bin"), bytes};
    std::printf("%zu MiB through %s on 127.0.0.1 (MiB/s; ratio to curl)\n", mebibytes, python ? "pyftpdlib" : "vsftpd");
    std::printf("%-10s %-8s %10s %16s %16s\n", "direction", "mode", "curl", "client 2048 B", "client 64 KiB");
    bool failed = false;
    for (const bool upload : {true, false}) {
        for (const bool passive : {false, true}) {
            const double curlRate = rate(bytes, bench.curl(upload, passive));
            const double small = rate(bytes, bench.client(upload, passive, 2048));
            const double large = rate(bytes, bench.client(upload, passive, 65536));
            failed = failed || curlRate == 0 || small == 0 || large == 0;
            std::printf("%-10s %-8s %10.1f %9.1f (%4.2f) %9.1f (%4.2f)\n", upload ? "upload" : "download",
                        passive ? "passive" : "active", curlRate, small, curlRate > 0 ? small / curlRate : 0, large,
                        curlRate > 0 ? large / curlRate : 0);
        }
    }
    if (failed) std::printf("a transfer failed (rate 0)\n");
    return failed ? 1 : 0;
}
