// Blocking IPv4 sockets whose every wait is bounded by a number of seconds.
// Failures are raised as CBlockingSocketException, which names the failed
// operation and carries the errno of that moment.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>
#include <string>

namespace nsSocket {

typedef int SOCKET;
constexpr SOCKET INVALID_SOCKET = -1;

// Deliberately not derived from std::exception: a handler for standard
// exceptions must not swallow a socket failure.
class CBlockingSocketException {
public:
    CBlockingSocketException(const std::string& strMessage, int nError = 0);
    virtual ~CBlockingSocketException() = default;
    // "<operation> error 0x<errno in 8 hex digits>", or "<operation> error"
    // when the number is 0. Writes nothing and gives false when the text
    // and its closing zero do not fit in nMaxError bytes.
    virtual bool GetErrorMessage(char* lpstrError, unsigned int nMaxError, unsigned int* pnHelpContext = nullptr) const;
    virtual std::string GetErrorMessage(unsigned int* pnHelpContext = nullptr) const;
    int GetErrorNumber() const { return m_nError; }

private:
    int m_nError;
    std::string m_strMessage;
};

// An IPv4 address with its port; the address and port members are in host order.
class CSockAddr : public sockaddr_in {
public:
    CSockAddr();
    CSockAddr(const sockaddr& sa);
    CSockAddr(const sockaddr_in& sin);
    CSockAddr(unsigned long ulAddr, unsigned short ushPort = 0);
    // An unreadable dotted text gives the address 0.0.0.0.
    CSockAddr(const char* pchIP, unsigned short ushPort = 0);

    std::string DottedDecimal() const;
    unsigned short Port() const { return ntohs(sin_port); }
    unsigned long IPAddr() const { return ntohl(sin_addr.s_addr); }

    CSockAddr& operator=(const sockaddr& sa);
    CSockAddr& operator=(const sockaddr_in& sin);
    operator sockaddr() const;
    operator sockaddr*() { return reinterpret_cast<sockaddr*>(static_cast<sockaddr_in*>(this)); }
    operator const sockaddr*() const {
        return reinterpret_cast<const sockaddr*>(static_cast<const sockaddr_in*>(this));
    }
    operator sockaddr_in*() { return this; }
};

class IBlockingSocket {
public:
    virtual ~IBlockingSocket() = default;
    virtual IBlockingSocket* CreateInstance() const = 0;
    virtual void Create(int nType = SOCK_STREAM) = 0;
    // Waits at most nSecs for the connection.
    virtual void Connect(const sockaddr* psa, int nSecs) const = 0;
    virtual void Bind(const sockaddr* psa) const = 0;
    virtual void Listen() const = 0;
    virtual void Cleanup() = 0;
    // Waits at most nSecs for a peer; a time-out raises "Accept".
    virtual bool Accept(IBlockingSocket& sConnect, sockaddr* psa, int nSecs) const = 0;
    virtual void Close() = 0;
    // Sends all nSize bytes. A wait for room fails ("Send timeout") after
    // nSecs in which the peer acknowledged nothing.
    virtual int Write(const char* pch, int nSize, int nSecs) const = 0;
    virtual int Receive(char* pch, int nSize, int nSecs) const = 0;
    // Ends the sending side and waits until the peer has closed its side
    // and its system has acknowledged every byte sent; what it sends
    // meanwhile is dropped. The time-out nSecs counts from the last
    // progress, not from the last write: bytes acknowledged (the count of
    // unacknowledged bytes going down) or the peer's close. So a slow link
    // with much still queued succeeds as long as it keeps moving. A reset or
    // other failure raises "Receive" (before the peer's close) or "Send"
    // (after it). A whole time-out without progress raises "Send timeout"
    // while bytes are unacknowledged (a peer that stopped reading, or one
    // that closed leaving bytes untaken), "Receive timeout" when all is
    // acknowledged but the peer does not close.
    virtual void FinishSending(int nSecs) const = 0;
    virtual void GetPeerAddr(sockaddr* psa) const = 0;
    virtual void GetSockAddr(sockaddr* psa) const = 0;
    virtual operator SOCKET() const = 0;
    virtual bool CheckReadability() const = 0;
    virtual CSockAddr GetHostByName(const char* pchName, unsigned short ushPort = 0) = 0;
    virtual const char* GetHostByAddr(const sockaddr* psa) = 0;

protected:
    // Accept hands the new connection to another socket object through this.
    virtual void Attach(SOCKET hSocket) = 0;
    friend class CBlockingSocket;
};

class CBlockingSocket : public IBlockingSocket {
public:
    CBlockingSocket() = default;
    ~CBlockingSocket() override;
    CBlockingSocket(const CBlockingSocket&) = delete;
    CBlockingSocket& operator=(const CBlockingSocket&) = delete;

    IBlockingSocket* CreateInstance() const override;
    void Create(int nType = SOCK_STREAM) override;
    void Connect(const sockaddr* psa, int nSecs) const override;
    void Bind(const sockaddr* psa) const override;
    void Listen() const override;
    void Cleanup() override;
    bool Accept(IBlockingSocket& sConnect, sockaddr* psa, int nSecs) const override;
    void Close() override;
    int Write(const char* pch, int nSize, int nSecs) const override;
    int Receive(char* pch, int nSize, int nSecs) const override;
    void FinishSending(int nSecs) const override;
    void GetPeerAddr(sockaddr* psa) const override;
    void GetSockAddr(sockaddr* psa) const override;
    operator SOCKET() const override { return m_hSocket; }
    bool CheckReadability() const override;
    CSockAddr GetHostByName(const char* pchName, unsigned short ushPort = 0) override;
    // The name stays valid until the next look-up on this thread.
    const char* GetHostByAddr(const sockaddr* psa) override;

    int Send(const char* pch, int nSize, int nSecs) const;
    int SendDatagram(const char* pch, int nSize, const sockaddr* psa, int nSecs) const;
    int ReceiveDatagram(char* pch, int nSize, sockaddr* psa, int nSecs) const;

protected:
    void Attach(SOCKET hSocket) override;
    // Waits until the socket is readable (POLLIN) or writable (POLLOUT);
    // raises strTimeoutWord after nSecs.
    void WaitFor(short events, int nSecs, const char* pchTimeoutWord) const;
    // Waits until the socket takes more bytes; raises "Send timeout" after
    // nSecs in which the peer acknowledged nothing.
    void WaitWritable(int nSecs) const;
    void RequireOpen() const;

    SOCKET m_hSocket = INVALID_SOCKET;
};

// Reads an HTTP response: header lines first, then the rest.
class CHttpBlockingSocket : public CBlockingSocket {
public:
    enum { nSizeRecv = 1000 };
    CHttpBlockingSocket();
    ~CHttpBlockingSocket() override;

    // The next line, CR LF included, cut to nSize - 1 bytes and closed with
    // a zero. A line that does not end in CR LF, or one that fills the whole
    // read buffer, raises "ReadHeaderLine".
    int ReadHttpHeaderLine(char* pch, int nSize, int nSecs);
    // Whatever is buffered, then everything up to nSize bytes until the peer closes.
    int ReadHttpResponse(char* pch, int nSize, int nSecs);

private:
    char* m_pReadBuf;
    int m_nReadBuf = 0;
};

std::unique_ptr<IBlockingSocket> CreateDefaultBlockingSocketInstance();

}  // namespace nsSocket
