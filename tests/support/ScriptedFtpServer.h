// A stand-in FTP server for tests: a thread listening on 127.0.0.1 (or
// another loopback address) on a port the system picks, serving one control
// connection from a script. It plays what real servers do not: replies cut
// across reads or run together, replies that never end, data connections
// that never come, odd PASV addresses. It keeps every command line it read
// and every byte the client sent over a data connection.
#pragma once

#include "LoopbackListener.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// What the server does after one command (or, for the greeting, at once).
struct FtpExchange {
    enum class Data { None, Send, Receive, NeverConnect, SendForever };

    // Sent in order, `pause` apart. In a piece, "{PASV}" becomes
    // "127,0,0,1,p1,p2" and "{PORT}" "p1,p2" of a data listener the server
    // opens for the next data command.
    std::vector<std::string> pieces;
    std::chrono::milliseconds pause{0};
    // When not empty: after the pieces, sent over and over until the client
    // goes away or the server stops.
    std::string repeat;
    // After the pieces, the data connection (to the last PORT address, or
    // from the client to the PASV listener): send `dataBytes` and close,
    // send it over and over until the client closes, receive until the
    // client closes, or never open one.
    Data data = Data::None;
    std::string dataBytes;
    // When not 0: receive only this many bytes, then close.
    std::size_t receiveLimit = 0;
    // For Data::Receive, a slow reader (a slow link, as the client sees
    // it): the data socket's receive buffer (SO_RCVBUF; 0 leaves the
    // system's), set before the connection to a PORT address is made so
    // that it holds from the handshake; a pause after each read of at most
    // 64 KiB, the last one included; and once `stallAfter` bytes are in
    // (when not 0), one pause of `stall` before reading on.
    struct Throttle {
        int receiveBuffer = 0;
        std::chrono::milliseconds readPause{0};
        std::size_t stallAfter = 0;
        std::chrono::milliseconds stall{0};
    } throttle;
    // For Data::Receive: once the client has ended the data connection,
    // keep it open until the next command has been read, as a server does
    // that ends it only at ABOR.
    bool holdData = false;
    // Before the data connection to a PORT address, one from 127.0.0.2
    // that waits until the client closes it.
    bool strangerFirst = false;
    // After the pieces, this many connections from 127.0.0.2 to the last
    // PORT address, 500 ms apart and each closed at once, played on a
    // thread of their own while the script goes on.
    int strangers = 0;
    // Sent once the data connection has closed.
    std::string finalReply;
    // After all of the above, end the control connection.
    bool close = false;

    static FtpExchange reply(std::string text);
    static FtpExchange split(const std::string& text, std::size_t pieceSize, std::chrono::milliseconds pause);
    static FtpExchange send(std::string preliminary, std::string bytes, std::string final);
    static FtpExchange receive(std::string preliminary, std::string final);
    // Ends the control connection without a word.
    static FtpExchange hangUp();
};

class ScriptedFtpServer {
public:
    // `greeting` runs on every connection; script[i] answers the i-th
    // command line, counted over the connections one after another.
    // Commands beyond the script get "500 Unscripted.", QUIT "221 Bye."
    // The server listens on, and connects from, `address`.
    ScriptedFtpServer(FtpExchange greeting, std::vector<FtpExchange> script, std::string address = "127.0.0.1");
    // Stops serving (cutting the connection) and joins the thread.
    ~ScriptedFtpServer();
    ScriptedFtpServer(const ScriptedFtpServer&) = delete;
    ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

    std::uint16_t port() const { return m_listener.port(); }
    // The command lines read so far, without their CR LF.
    std::vector<std::string> commands() const;
    // Everything the client sent over data connections, in order.
    std::string dataReceived() const;
    // What the connections from 127.0.0.2 received; "-" when the client
    // did not close them.
    std::string strangerReceived() const;
    // Of the last data connection that received: when its first byte was
    // read, when it ended (the client's end read, or the receive limit
    // reached), and when its stall began. Default (zero) when none.
    struct ReceiveTimes {
        std::chrono::steady_clock::time_point firstByte{};
        std::chrono::steady_clock::time_point end{};
        std::chrono::steady_clock::time_point stalled{};
    };
    ReceiveTimes receiveTimes() const;

private:
    void run();
    void serve(int connection);
    bool perform(int connection, FtpExchange exchange);
    bool readCommandLine(int connection, std::string& line);
    bool openDataListener(std::string& piece);
    // receiveBuffer: SO_RCVBUF of a connection to a PORT address, 0 for the system's.
    int openDataConnection(int receiveBuffer = 0);
    void receiveData(int data, const FtpExchange& exchange);
    int connectToPortAddress(const char* from, int receiveBuffer = 0);
    void playStrangers(int count);
    void playStranger();
    void notePortCommand(const std::string& line);

    FtpExchange m_greeting;
    std::vector<FtpExchange> m_script;
    std::string m_address;
    LoopbackListener m_listener;
    int m_dataListen = -1;
    std::uint32_t m_portAddress = 0;  // the last PORT command's address and port, host order
    std::uint16_t m_portPort = 0;
    std::string m_pending;  // bytes read past the last command line
    mutable std::mutex m_mutex;
    std::vector<std::string> m_commands;
    std::string m_dataReceived;
    std::string m_strangerReceived;
    ReceiveTimes m_receiveTimes;
    int m_heldData = -1;  // a data connection kept open until the next command
    std::size_t m_next = 0;  // the script's next exchange
    std::thread m_thread;
    std::thread m_strangers;
};

}  // namespace testsupport
