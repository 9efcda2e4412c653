// FTP transfer rates: the client uploads and downloads one large file to a
// local real server, in active and passive mode, with the after-task's
// 2,048-byte buffer and with a 64 KiB buffer; curl moves the same file to
// the same server beside it. Each cell (direction, mode, buffer) runs the
// client and curl by turns (client, curl, client, curl, ...) `runs` times
// each and prints their median rates, min-max, and the ratio of the medians.
// curl's time limit grows with the file: 10 s plus the size at 4 MiB/s.
//
//   bench_ftp [MiB=256] [vsftpd|pyftpdlib] [runs=5, at least 5]
//
// A self-timing program: it is built with the benchmarks but run by hand.
#include "FTPClient.h"
#include "FtpTestServer.h"
#include "TestPaths.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using testsupport::FtpServerKind;
using testsupport::FtpTestServer;

namespace {

using Clock = std::chrono::steady_clock;

const nsFTP::CRepresentation kImage(nsFTP::CType::Image(), nsFTP::CTypeFormat());

constexpr unsigned int kMinRuns = 5;
// curl's --max-time: a fixed allowance plus the file at a rate far below
// any local transfer, so a slow run on a busy machine is measured, not cut.
constexpr double kCurlBaseSeconds = 10;
constexpr double kCurlFloorMiBPerSecond = 4;

unsigned int curlLimitSeconds(std::size_t mebibytes) {
    return static_cast<unsigned int>(kCurlBaseSeconds + mebibytes / kCurlFloorMiBPerSecond + 0.999);
}

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
    unsigned int curlLimit;  // seconds

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
        const testsupport::CurlResult result = testsupport::runCurl(arguments, static_cast<int>(curlLimit));
        const std::string written = upload ? server.root() + "/sub/up.bin" : target;
        const bool complete = sameSize(written);
        std::filesystem::remove(written);
        if (result.exitCode != 0 || !complete) {
            std::fprintf(stderr, "curl %s %s failed: %s\n", upload ? "upload" : "download",
                         passive ? "passive" : "active", result.errors.c_str());
            return -1;
        }
        return result.seconds;
    }
};

double rate(std::size_t bytes, double seconds) { return seconds > 0 ? bytes / seconds / (1024.0 * 1024.0) : 0; }

// Rates (MiB/s) of the runs that succeeded, and how many failed.
struct Samples {
    std::vector<double> rates;
    unsigned int failures = 0;

    void add(double rateOrZero) {
        if (rateOrZero > 0) {
            rates.push_back(rateOrZero);
        } else {
            ++failures;
        }
    }
    // Median of the successful runs (mean of the middle two for an even count); 0 when none.
    double median() const {
        if (rates.empty()) return 0;
        std::vector<double> sorted = rates;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t middle = sorted.size() / 2;
        return sorted.size() % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
    }
    double min() const { return rates.empty() ? 0 : *std::min_element(rates.begin(), rates.end()); }
    double max() const { return rates.empty() ? 0 : *std::max_element(rates.begin(), rates.end()); }
};

// "median [min-max]", or "failed" when no run succeeded.
std::string summary(const Samples& samples) {
    if (samples.rates.empty()) return "failed";
    char text[64];
    std::snprintf(text, sizeof text, "%7.1f [%6.1f-%6.1f]", samples.median(), samples.min(), samples.max());
    return text;
}

bool parseCount(const char* text, unsigned long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && text[0] != '-';
}

int usage() {
    std::fprintf(stderr, "usage: bench_ftp [MiB=256] [vsftpd|pyftpdlib] [runs=5, at least %u]\n", kMinRuns);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long mebibytes = 256;
    unsigned long runs = kMinRuns;
    const std::string kind = argc > 2 ? argv[2] : "vsftpd";
    if (argc > 4 || (argc > 1 && (!parseCount(argv[1], mebibytes) || mebibytes == 0)) ||
        (kind != "vsftpd" && kind != "pyftpdlib") ||
        (argc > 3 && (!parseCount(argv[3], runs) || runs < kMinRuns))) {
        return usage();
    }
    const bool python = kind == "pyftpdlib";
    testsupport::TempDir root;
    testsupport::TempDir local;
    std::filesystem::create_directory(root.file("sub"));
    const std::size_t bytes = mebibytes * 1024 * 1024;
    writeSource(root.file("sub/source.bin"), bytes);
    std::filesystem::copy_file(root.file("sub/source.bin"), local.file("source.bin"));

    FtpTestServer server(python ? FtpServerKind::Pyftpdlib : FtpServerKind::Vsftpd, {root.path()});
    Bench bench{server, local, local.file("source.bin"), bytes, curlLimitSeconds(mebibytes)};
    std::printf("%lu MiB through %s on 127.0.0.1; %lu runs per cell, client and curl by turns; curl --max-time %u s\n",
                mebibytes, kind.c_str(), runs, bench.curlLimit);
    std::printf("MiB/s as median [min-max]; ratio = client median / curl median\n");
    std::printf("%-9s %-8s %-9s %-23s %-23s %6s\n", "direction", "mode", "buffer", "client", "curl", "ratio");
    bool failed = false;
    for (const bool upload : {true, false}) {
        for (const bool passive : {false, true}) {
            for (const unsigned int bufferSize : {2048u, 65536u}) {
                Samples client;
                Samples curl;
                for (unsigned long run = 0; run < runs; ++run) {
                    client.add(rate(bytes, bench.client(upload, passive, bufferSize)));
                    curl.add(rate(bytes, bench.curl(upload, passive)));
                }
                failed = failed || client.failures > 0 || curl.failures > 0;
                const bool both = !client.rates.empty() && !curl.rates.empty();
                std::printf("%-9s %-8s %-9s %-23s %-23s %6.2f", upload ? "upload" : "download",
                            passive ? "passive" : "active", bufferSize == 2048 ? "2048 B" : "64 KiB",
                            summary(client).c_str(), summary(curl).c_str(),
                            both ? client.median() / curl.median() : 0.0);
                if (client.failures > 0 || curl.failures > 0) {
                    std::printf("  (failed runs: client %u, curl %u; medians of the rest)", client.failures,
                                curl.failures);
                }
                std::printf("\n");
                std::fflush(stdout);
            }
        }
    }
    if (failed) std::printf("a transfer failed\n");
    return failed ? 1 : 0;
}
