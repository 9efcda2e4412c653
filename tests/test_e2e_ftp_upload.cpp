// The FTP after-task against a real FTP server on 127.0.0.1: the program is
// pointed at it through the test build's port seam, with short pauses.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "FtpTestServer.h"
#include "MaruboSandbox.h"
#include "SampleRecording.h"
#include "ScriptedFtpServer.h"

using testsupport::FtpServerKind;
using testsupport::FtpTestServer;
using testsupport::MaruboSandbox;
using testsupport::RunOutcome;
using testsupport::TempDir;

namespace {

namespace fs = std::filesystem;

// One task that writes "in/work/a.mp4" (the recording program, "-o") or
// copies a recording there ("cp", no option), and an after-task set "up".
std::string settings(const std::string& program, const std::string& steps, const std::string& remotePath,
                     const std::string& user, const std::string& password) {
    const std::string outOption = program == "cp" ? "" : "-o";
    return R"({"GENERAL": {"VALID_TS": true},
      "TASKLIST": [{"AVAILABLE": true, "REGEX": "", "PROGRAM": ")" + program +
           R"(", "OUTFILEOPT": ")" + outOption + R"(",
        "OUTFILEPATH": "${InPath}work/${InBaseName}.mp4", "AFTER_TASK": "up"}],
      "AFTER_TASK": {"up": )" + steps + R"(},
      "FTP_LIST": {"server": {"ADDRESS": "127.0.0.1", "REMOTEPATH": )" + testsupport::jsonString(remotePath) +
           R"(, "ID": )" + testsupport::jsonString(user) + R"(, "PASS": )" + testsupport::jsonString(password) + "}}}";
}

// Counted rather than compared whole: the server logs the end of its own
// start-up probe whenever it gets to it.
int sessionsOpened(const std::string& serverLog) {
    int count = 0;
    for (std::size_t at = serverLog.find("session opened"); at != std::string::npos;
         at = serverLog.find("session opened", at + 1))
        ++count;
    return count;
}

void pointAt(MaruboSandbox& box, const FtpTestServer& server) {
    box.setEnvironment("MARUBO_FTP_TEST_PORT", std::to_string(server.port()));
    box.setEnvironment("MARUBO_FTP_TEST_PAUSE_MS", "10");
}

std::string replaceRoot(std::string text, const MaruboSandbox& box) {
    const std::size_t at = text.find("@R@");
    if (at != std::string::npos) text.replace(at, 3, box.root());
    return text;
}

struct UploadCase {
    const char* name;
    const char* steps;
    std::string remotePath;
    bool rightPassword;
    const char* storedAs;                    // below the server root; null: nothing stored
    std::vector<const char*> logged;         // messages, in this order
    bool connects;
    FtpServerKind kind = FtpServerKind::Pyftpdlib;
    const char* waiting = nullptr;  // already on the server under `storedAs`
};

const std::vector<UploadCase> kUploads = {
    {"a relative remote path is entered and prefixed", R"({"1:FTP": "server"})", "rec", true,
     "rec/rec/a.mp4",
     {"FTP LOGIN : '127.0.0.1'", "FTP UPLOAD FROM     : @R@/in/work/a.mp4",
      "FTP UPLOAD SUCCESS  : ftp://127.0.0.1rec/a.mp4", "[SUCCESS] [FTP UP   ] : ftp://127.0.0.1rec/a.mp4"},
     true},
    {"an empty remote path uploads into the logon folder", R"({"1:FTP": "server"})", "", true, "a.mp4",
     {"FTP LOGIN : '127.0.0.1'", "FTP UPLOAD SUCCESS  : ftp://127.0.0.1/a.mp4"}, true},
    // vsftpd answers SIZE before TYPE I: an upload in resume mode would
    // append to the older file.
    {"an older, smaller file of the same name is replaced, never appended to", R"({"1:FTP": "server"})", "/up", true,
     "up/a.mp4", {"FTP UPLOAD SUCCESS  : ftp://127.0.0.1/up/a.mp4"}, true, FtpServerKind::Vsftpd, "old"},
    {"a refused logon: three attempts, then the set ends before its delete",
     R"({"1:FTP": "server", "2:DELETE": "${OutFullPath}"})", "/up", false, nullptr,
     {"FTP LOGIN FAILED : 3", "FTP LOGIN FAILED : 2", "FTP LOGIN FAILED : 1", "FTP LOGIN ABORT",
      "-> ERR_FTP_LOGIN"},
     true},
    {"a missing file", R"({"1:DELETE": "${OutFullPath}", "2:FTP": "server"})", "/up", true, nullptr,
     {"FTP file not found : @R@/in/work/a.mp4", "-> ERR_FTP_UPLOAD"}, false},
    {"a line break in the remote path never reaches the server", R"({"1:FTP": "server"})", "up\r\nDELE a.mp4",
     true, nullptr, {"FTP UPLOAD ABORT : ftp://127.0.0.1up??DELE a.mp4/a.mp4", "-> ERR_FTP_UPLOAD"}, false},
    {"a NUL in the remote path", R"({"1:FTP": "server"})", std::string("up\0/../x", 8), true, nullptr,
     {"FTP UPLOAD ABORT : ftp://127.0.0.1up/a.mp4", "-> ERR_FTP_UPLOAD"}, false},
};

}  // namespace

TEST(E2eFtpUpload, Uploads) {
    for (const UploadCase& c : kUploads) {
        SCOPED_TRACE(c.name);
        TempDir root;
        fs::create_directories(root.file("rec/rec"));  // the relative path's folder
        fs::create_directories(root.file("up"));       // vsftpd writes only below the root
        if (c.waiting != nullptr) testsupport::writeFile(root.file(c.storedAs), c.waiting);
        FtpTestServer server(c.kind, {root.path()});
        MaruboSandbox box;
        pointAt(box, server);
        box.writeSettings(settings("@REC@", replaceRoot(c.steps, box), c.remotePath, server.user(),
                                   c.rightPassword ? server.password() : "wrong"));
        const std::string serverLogBefore = server.log();

        const RunOutcome r = box.run({box.addInput("a.ts")});
        EXPECT_EQ(0, r.exitCode);
        const bool uploaded = c.storedAs != nullptr;
        EXPECT_TRUE(r.logged(uploaded ? "after task all success." : "after task failed."));
        std::vector<std::string> m = r.messages();
        auto at = m.begin();
        for (const char* message : c.logged) {
            at = std::find(at, m.end(), replaceRoot(message, box));
            EXPECT_NE(m.end(), at) << message;
        }
        if (c.storedAs != nullptr) {
            EXPECT_EQ("output", testsupport::readFile(root.file(c.storedAs)));
        } else {
            EXPECT_FALSE(fs::exists(root.file("a.mp4")) || fs::exists(root.file("up/a.mp4")));
        }
        if (c.connects && !uploaded) {
            EXPECT_EQ("output", testsupport::readFile(box.file("in/work/a.mp4"))) << "a failed upload ends the set";
        }
        if (!c.connects) {
            EXPECT_EQ(sessionsOpened(serverLogBefore), sessionsOpened(server.log())) << "no connection is made";
        }
    }
}

TEST(E2eFtpUpload, RecordingOutputGoesIntoItsTitleFolderWhole) {
    TempDir root;
    FtpTestServer server(FtpServerKind::Pyftpdlib, {root.path()});
    MaruboSandbox box;
    pointAt(box, server);
    box.writeSettings(settings("cp", R"({"1:FTP": "server"})", "/${Title}", server.user(), server.password()));
    const std::string input = box.file("in/anime.ts");
    fs::create_directories(box.file("in"));
    const recgen::Bytes recording = testsupport::sampleTransportStream(testsupport::lateNightAnime());
    ASSERT_TRUE(recgen::writeFile(input, recording));

    const RunOutcome r = box.run({input});
    EXPECT_EQ(0, r.exitCode) << r.output;
    const std::string stored = testsupport::readFile(root.file("まほうの森/anime.mp4"));
    EXPECT_TRUE(stored == std::string(recording.begin(), recording.end())) << "the upload arrived damaged";
    EXPECT_TRUE(r.logged("FTP MAKE DIR : '/まほうの森/'", "INFO "));
    EXPECT_TRUE(r.logged("[SUCCESS] [FTP UP   ] : ftp://127.0.0.1/まほうの森/anime.mp4", "INFO "));
    const std::string size = std::to_string(recording.size());
    EXPECT_EQ(1, r.countPrefix("Transfer : 100.00% " + size + "/" + size + "bytes "));
    EXPECT_NE(std::string::npos, r.output.find("\rTransfer : 100.00% " + size + "/" + size + "bytes ")) << r.output;
    EXPECT_TRUE(r.logged("after task all success.", "INFO "));
}

namespace {

using testsupport::FtpExchange;
using Script = std::vector<FtpExchange>;

FtpExchange reply(const std::string& text) { return FtpExchange::reply(text); }

// A logon, then MKD and CWD of "/up/", then TYPE I and PORT; `store`
// answers the STOR or APPE that follows.
Script attempt(const std::vector<FtpExchange>& beforeType, FtpExchange store) {
    Script script = {reply("331 Password.\r\n"), reply("230 Logged on.\r\n"), reply("250 Here.\r\n"),
                     reply("550 Exists.\r\n"), reply("250 Here.\r\n")};
    script.insert(script.end(), beforeType.begin(), beforeType.end());
    for (const char* text : {"200 Type set.\r\n", "200 Port ok.\r\n"}) script.push_back(reply(text));
    script.push_back(std::move(store));
    return script;
}

FtpExchange storedThenHungUp() {
    FtpExchange exchange = FtpExchange::receive("150 Go.\r\n", "");
    exchange.close = true;
    return exchange;
}

// 150, then the server dies before it reads a byte. A server that stores
// into a temporary file still has the older file under the name.
FtpExchange acceptedThenDied() {
    FtpExchange exchange = FtpExchange::send("150 Go.\r\n", "", "");
    exchange.close = true;
    return exchange;
}

FtpExchange serviceReadyInAMinute() {
    FtpExchange exchange = reply("120 Service ready in 1 minute.\r\n");
    exchange.pieces.push_back("220 Ready.\r\n");
    exchange.pause = std::chrono::milliseconds(50);
    return exchange;
}

Script storedAgain() { return attempt({}, FtpExchange::receive("150 Go.\r\n", "226 Stored.\r\n")); }

// Every attempt stores from byte 0: no SIZE and no APPE, and the last STOR
// carries the whole file ("output"), after what the failed ones sent.
struct RetryCase {
    const char* name;
    FtpExchange firstStore;  // answers the first attempt's STOR
    Script retries;          // the server's side of the attempts after it
    int stores;              // STOR commands, each after its own TYPE I
    const char* received;    // all the data the server was sent
    FtpExchange greeting = reply("220 Ready.\r\n");  // on every connection
};

const std::vector<RetryCase> kRetries = {
    {"the server hangs up at STOR: the retry logs on again and stores anew", FtpExchange::hangUp(), storedAgain(), 2,
     "output"},
    {"the server hangs up after taking the data: the retry stores it anew", storedThenHungUp(), storedAgain(), 2,
     "outputoutput"},
    {"a new session's 120 is no answer to the lost STOR", FtpExchange::hangUp(), storedAgain(), 2, "output",
     serviceReadyInAMinute()},
    {"the server took up STOR and died: the retry stores anew, not onto the older file", acceptedThenDied(),
     storedAgain(), 2, "output"},
    // The third attempt logs on anew too; this script refuses it.
    {"the retry's logon is refused: nothing is stored in a session not logged on", FtpExchange::hangUp(),
     {reply("331 Password.\r\n"), reply("530 Not logged in.\r\n")}, 1, ""},
};

}  // namespace

TEST(E2eFtpUpload, RetryAfterTheControlConnectionDropped) {
    for (const RetryCase& c : kRetries) {
        SCOPED_TRACE(c.name);
        Script script = attempt({}, c.firstStore);
        script.insert(script.end(), c.retries.begin(), c.retries.end());
        testsupport::ScriptedFtpServer server(c.greeting, script);
        MaruboSandbox box;
        box.setEnvironment("MARUBO_FTP_TEST_PORT", std::to_string(server.port()));
        box.setEnvironment("MARUBO_FTP_TEST_PAUSE_MS", "10");
        box.writeSettings(settings("@REC@", R"({"1:FTP": "server"})", "/up", "u", "p"));

        const RunOutcome r = box.run({box.addInput("a.ts")});
        EXPECT_EQ(0, r.exitCode);
        EXPECT_TRUE(r.logged("FTP UPLOAD FAILED : 3"));
        const bool uploaded = c.stores > 1;
        EXPECT_EQ(uploaded ? 2 : 1, r.countPrefix("FTP LOGIN : '127.0.0.1'")) << r.output;
        EXPECT_TRUE(r.logged(uploaded ? "FTP UPLOAD SUCCESS  : ftp://127.0.0.1/up/a.mp4"
                                      : "FTP UPLOAD ABORT : ftp://127.0.0.1/up/a.mp4"))
            << r.output;
        const std::vector<std::string> commands = server.commands();
        EXPECT_EQ(c.stores, std::count(commands.begin(), commands.end(), "STOR /up/a.mp4"));
        EXPECT_EQ(c.stores, std::count(commands.begin(), commands.end(), "TYPE I"));
        for (const std::string& command : commands) {
            EXPECT_NE("SIZE", command.substr(0, 4));
            EXPECT_NE("APPE", command.substr(0, 4));
        }
        EXPECT_EQ(c.received, server.dataReceived());
    }
}
