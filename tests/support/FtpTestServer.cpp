#include "FtpTestServer.h"

#include "CStringList.h"
#include "TestPaths.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <random>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kStartLimit = 10s;
constexpr auto kStopGrace = 2s;
constexpr int kStartAttempts = 3;
constexpr const char* kVsftpdUser = "anonymous";
constexpr const char* kVsftpdPassword = "marubo@example.com";
// vsftpd drops to this user for anonymous sessions; its package makes it.
// vsftpd changes into its home before the chroot, so "nobody" (home
// /nonexistent) does not do.
constexpr const char* kVsftpdRunAs = "ftp";

// pyftpdlib with one user who may do everything in the root. GMT times,
// as a server on another machine would give them.
constexpr const char* kPyftpdlibScript = R"PY(
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
root, user, password, port, banner = sys.argv[1:6]
logging.basicConfig(level=logging.INFO, stream=sys.stderr)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
class Handler(FTPHandler):
    pass
Handler.authorizer = authorizer
Handler.banner = banner
Handler.timeout = 60
Handler.auth_failed_timeout = 0.1  # a refused logon answers at once
Handler.use_gmt_times = True
server = FTPServer(("127.0.0.1", int(port)), Handler)
server.serve_forever()
)PY";

// A port nobody listens on right now. Another process may take it before
// the server binds it: the start then fails and is retried, and the
// greeting's banner tells our server from a stranger.
std::uint16_t freePort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool ok = probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (probe >= 0) ::close(probe);
    if (!ok) throw std::runtime_error(std::string("cannot find a free port: ") + std::strerror(errno));
    return ntohs(address.sin_port);
}

std::string uniqueBanner() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    return "marubo-test-ftp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
           std::to_string(random());
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void becomeChild(char* const* args, const char* outPath, const char* errPath, bool ownGroup,
                              pid_t parent) {
    if (ownGroup) {
        ::setpgid(0, 0);
        // A test that crashes or is killed must not leave its server behind.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
    }
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outPath, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath, O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(127);
    // The test program may ignore or block signals; the server starts clean.
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &plain, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(args[0], args, environ);
    ::_exit(127);
}

// Starts argv[0] (an absolute path) with stdin from /dev/null and stdout and
// stderr into files; with `ownGroup` the child leads a new process group so
// that it and everything it forks can be stopped together, and it dies with
// the calling thread.
pid_t spawn(const std::vector<std::string>& argv, const std::string& outPath, const std::string& errPath,
            bool ownGroup) {
    const CStringList args(argv);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(errno));
    if (pid == 0) becomeChild(args.data(), outPath.c_str(), errPath.c_str(), ownGroup, parent);
    return pid;
}

// True once `pid` has ended, without reaping it: while it stays a zombie
// its number (and its group's) cannot be given to another process.
bool hasEnded(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

bool waitEnded(pid_t pid, Clock::duration limit) {
    const auto until = Clock::now() + limit;
    while (!hasEnded(pid)) {
        if (Clock::now() >= until) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Stops the child and whatever it forked, then reaps it.
void stopChild(pid_t pid, bool ownGroup) {
    const pid_t target = ownGroup ? -pid : pid;
    ::kill(target, SIGTERM);
    waitEnded(pid, kStopGrace);
    ::kill(target, SIGKILL);  // stragglers of the group, or a child that ignored SIGTERM
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

// Reads the first reply line from 127.0.0.1:port; "" when nobody answers.
std::string greeting(std::uint16_t port) {
    const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) return "";
    timeval wait{2, 0};
    ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    std::string line;
    if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        char block[512];
        while (line.find('\n') == std::string::npos && line.size() < 4096) {
            const ssize_t n = ::recv(sock, block, sizeof block, 0);
            if (n <= 0) break;
            line.append(block, static_cast<std::size_t>(n));
        }
        ::send(sock, "QUIT\r\n", 6, MSG_NOSIGNAL);
    }
    ::close(sock);
    return line;
}

// vsftpd works in the root as an unprivileged user, but refuses to serve
// anonymous sessions from a root that user may write to: the root stays
// ours (readable to all), everything below it becomes the server's.
void handOver(const std::string& root, const std::string& userName) {
    const passwd* account = ::getpwnam(userName.c_str());
    if (account == nullptr) throw std::runtime_error("no system user " + userName + " for vsftpd");
    if (!std::filesystem::is_directory(account->pw_dir)) {
        throw std::runtime_error("vsftpd needs the home folder of " + userName + " (" + account->pw_dir + ")");
    }
    if (::chmod(root.c_str(), 0755) != 0) {
        throw std::runtime_error("cannot open " + root + " to vsftpd: " + std::strerror(errno));
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (::lchown(entry.path().c_str(), account->pw_uid, account->pw_gid) != 0) {
            throw std::runtime_error("cannot hand " + entry.path().string() + " to " + userName + ": " +
                                     std::strerror(errno));
        }
    }
}

}  // namespace

void PrintTo(FtpServerKind kind, std::ostream* out) {
    *out << (kind == FtpServerKind::Vsftpd ? "vsftpd" : "pyftpdlib");
}

FtpTestServer::FtpTestServer(FtpServerKind kind, FtpServerOptions options)
    : m_kind(kind), m_options(std::move(options)), m_state(std::make_unique<TempDir>()) {
    if (!std::filesystem::is_directory(m_options.root)) {
        throw std::runtime_error("FTP test server: root folder " + m_options.root + " does not exist");
    }
    if (m_kind == FtpServerKind::Vsftpd) {
        m_options.user = kVsftpdUser;
        m_options.password = kVsftpdPassword;
        handOver(m_options.root, kVsftpdRunAs);
        std::filesystem::create_directory(m_state->file("empty"));
    }
    std::string failure;
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (startOnce(failure)) return;
    }
    const std::string name = m_kind == FtpServerKind::Vsftpd ? "vsftpd" : "pyftpdlib";
    throw std::runtime_error("FTP test server (" + name + ") did not start: " + failure + "\n--- server log ---\n" +
                             log());
}

FtpTestServer::~FtpTestServer() { stop(); }

std::string FtpTestServer::url(const std::string& path) const {
    return "ftp://127.0.0.1:" + std::to_string(m_port) + path;
}

std::string FtpTestServer::log() const {
    return readFile(m_state->file("server.log")) + readFile(m_state->file("vsftpd.log"));
}

bool FtpTestServer::startOnce(std::string& failure) {
    m_port = freePort();
    m_banner = uniqueBanner();
    if (m_kind == FtpServerKind::Vsftpd) writeVsftpdConfig();
    m_pid = spawn(commandLine(), "/dev/null", m_state->file("server.log"), true);
    if (awaitGreeting(failure)) return true;
    stop();
    return false;
}

std::vector<std::string> FtpTestServer::commandLine() const {
    if (m_kind == FtpServerKind::Vsftpd) return {"/usr/sbin/vsftpd", m_state->file("vsftpd.conf")};
    return {"/usr/bin/python3", "-c", kPyftpdlibScript, m_options.root, m_options.user, m_options.password,
            std::to_string(m_port), m_banner};
}

// Anonymous sessions with every write right, chrooted into the root; no
// namespaces or seccomp (containers refuse them); short idle limits so a
// forgotten session cannot linger.
void FtpTestServer::writeVsftpdConfig() const {
    const std::string config =
        "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" + std::to_string(m_port) +
        "\nbackground=NO\n"
        "anonymous_enable=YES\nlocal_enable=NO\nno_anon_password=NO\nanon_root=" + m_options.root +
        "\nftp_username=" + kVsftpdRunAs + "\nnopriv_user=nobody" +
        "\nwrite_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\nanon_other_write_enable=YES\n"
        "anon_umask=022\nanon_world_readable_only=NO\n"
        "secure_chroot_dir=" + m_state->file("empty") +
        "\nconnect_from_port_20=NO\nport_enable=YES\npasv_enable=YES\n"
        "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\ntcp_wrappers=NO\ndirmessage_enable=NO\n"
        "use_localtime=NO\nidle_session_timeout=60\ndata_connection_timeout=30\n"
        "xferlog_enable=YES\nxferlog_std_format=NO\nlog_ftp_protocol=YES\nvsftpd_log_file=" +
        m_state->file("vsftpd.log") + "\nftpd_banner=" + m_banner + "\n";
    writeFile(m_state->file("vsftpd.conf"), config);
}

bool FtpTestServer::awaitGreeting(std::string& failure) {
    const auto until = Clock::now() + kStartLimit;
    while (Clock::now() < until) {
        if (hasEnded(m_pid)) {
            failure = "the server ended at once (port " + std::to_string(m_port) + ")";
            return false;
        }
        const std::string line = greeting(m_port);
        if (line.rfind("220", 0) == 0 && line.find(m_banner) != std::string::npos) return true;
        if (!line.empty()) {
            failure = "another server answers on port " + std::to_string(m_port) + ": " + line;
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    failure = "no greeting within " + std::to_string(kStartLimit.count()) + " s";
    return false;
}

void FtpTestServer::stop() {
    if (m_pid <= 0) return;
    stopChild(m_pid, true);
    m_pid = -1;
}

CurlResult runCurl(const std::vector<std::string>& arguments, int limitSeconds) {
    TempDir scratch;
    std::vector<std::string> argv = {"/usr/bin/curl", "-sS", "--max-time", std::to_string(limitSeconds)};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    CurlResult result;
    const auto start = Clock::now();
    const pid_t pid = spawn(argv, scratch.file("out"), scratch.file("err"), false);
    const bool ended = waitEnded(pid, std::chrono::seconds(limitSeconds + 10));
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (ended) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    } else {
        stopChild(pid, false);
    }
    result.output = readFile(scratch.file("out"));
    result.errors = readFile(scratch.file("err"));
    return result;
}

}  // namespace testsupport
