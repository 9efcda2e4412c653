// Real FTP servers for tests: pyftpdlib or vsftpd, started as child
// processes on 127.0.0.1 on a free port, serving a folder the test made,
// and stopped by their process id when the object goes away.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class TempDir;

enum class FtpServerKind { Pyftpdlib, Vsftpd };

// "pyftpdlib" or "vsftpd"; gtest prints test parameters with it.
void PrintTo(FtpServerKind kind, std::ostream* out);

struct FtpServerOptions {
    // The folder served as "/"; it must exist.
    std::string root;
    // pyftpdlib accepts this user with this password and full rights in the
    // root. vsftpd ignores both: it takes only anonymous logons (no system
    // user is made for a test), see FtpTestServer::user().
    std::string user = "marubo";
    std::string password = "secret";
};

class FtpTestServer {
public:
    // Starts the server and waits (at most about 10 s) until it greets with
    // its "220" line. Throws std::runtime_error, with the server's own log
    // in the text, when it cannot be started; nothing is left running then.
    // The server dies with the thread that made it, should the test die first.
    //
    // vsftpd serves anonymous sessions as the system user "ftp" (made by
    // its package) and refuses a root that user could write to. So the
    // root itself is left read-only to the server (made 0755), and
    // everything already in it is handed to "ftp": uploads, MKD, renames
    // and deletes work inside the folders the test made before the start,
    // not in the root itself. Files added later stay readable only.
    FtpTestServer(FtpServerKind kind, FtpServerOptions options);
    // SIGTERM to the server's process group, SIGKILL when it has not gone
    // within a short while, then reaped.
    ~FtpTestServer();
    FtpTestServer(const FtpTestServer&) = delete;
    FtpTestServer& operator=(const FtpTestServer&) = delete;

    FtpServerKind kind() const { return m_kind; }
    std::uint16_t port() const { return m_port; }
    const std::string& root() const { return m_options.root; }
    // The logon that works: the options' user and password for pyftpdlib;
    // "anonymous" with the password "marubo@example.com" for vsftpd.
    const std::string& user() const { return m_options.user; }
    const std::string& password() const { return m_options.password; }
    // "ftp://127.0.0.1:PORT" followed by `path` (which should start with "/").
    std::string url(const std::string& path = "/") const;
    // What the server logged so far (for failure messages).
    std::string log() const;

private:
    bool startOnce(std::string& failure);
    std::vector<std::string> commandLine() const;
    void writeVsftpdConfig() const;
    bool awaitGreeting(std::string& failure);
    void stop();

    FtpServerKind m_kind;
    FtpServerOptions m_options;
    std::unique_ptr<TempDir> m_state;  // config, log, the server's private folders
    std::string m_banner;             // proves the greeting comes from our child
    std::uint16_t m_port = 0;
    pid_t m_pid = -1;
};

struct CurlResult {
    int exitCode = -1;   // curl's exit code; -1 when it could not run or was killed
    std::string output;  // what curl wrote to stdout
    std::string errors;  // what curl wrote to stderr
    double seconds = 0;  // from its start to its end, to about a millisecond
};

// Runs /usr/bin/curl with the arguments (plus "-sS" and a time limit of
// `limitSeconds`), killing it should it outlive the limit. For driving the
// servers above from a peer client.
CurlResult runCurl(const std::vector<std::string>& arguments, int limitSeconds = 20);

}  // namespace testsupport
