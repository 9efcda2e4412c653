#include "BlockingSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <thread>

namespace nsSocket {

namespace {

constexpr socklen_t kAddrLen = sizeof(sockaddr_in);

// poll in milliseconds for nSecs seconds, again after an interruption for
// the time left. Gives poll's result (0 on time-out).
int pollFor(pollfd& watch, int nSecs) {
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::seconds(std::max(nSecs, 0));
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        const int ready = ::poll(&watch, 1, static_cast<int>(std::clamp<long long>(left, 0, INT_MAX)));
        if (ready >= 0 || errno != EINTR) return ready;
    }
}

void throwErrno(const char* pchWord) { throw CBlockingSocketException(pchWord, errno); }

// An acknowledgement wakes no poll: the waits that count from the last one
// look at the unacknowledged count this often.
constexpr std::chrono::milliseconds kProgressSlice{20};

// The bytes written but not yet acknowledged by the peer's system, those
// not sent yet included (after a shutdown its FIN counts one).
int unacknowledgedBytes(int hSocket) {
    int count = 0;
    if (::ioctl(hSocket, SIOCOUTQ, &count) != 0) throwErrno("Send");
    return count;
}

// The time-out of a sending wait, counted from the last progress: the peer
// acknowledging bytes (the unacknowledged count going down), or whatever
// else the caller reports. So a wait on a slow link that keeps moving never
// times out, however much is still queued; a peer that takes nothing for
// the whole time-out does.
class SendProgress {
public:
    using Clock = std::chrono::steady_clock;

    SendProgress(int hSocket, int nSecs)
        : m_hSocket(hSocket),
          m_timeout(std::chrono::seconds(std::max(nSecs, 0))),
          m_last(Clock::now()),
          m_unacknowledged(unacknowledgedBytes(hSocket)) {}

    // The unacknowledged count now; fewer than at the last look is progress.
    int look() {
        const int count = unacknowledgedBytes(m_hSocket);
        if (count < m_unacknowledged) m_last = Clock::now();
        m_unacknowledged = count;
        return count;
    }
    void progressed() { m_last = Clock::now(); }
    // Milliseconds of the next wait: a slice, or less when the time-out
    // comes first; 0 once a whole time-out passed without progress.
    int nextWaitMs() const {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_last + m_timeout - Clock::now());
        if (left.count() <= 0) return 0;
        return static_cast<int>(std::min(left, kProgressSlice).count());
    }

private:
    int m_hSocket;
    Clock::duration m_timeout;
    Clock::time_point m_last;
    int m_unacknowledged;
};

// For getpeername and getsockname. Callers hand in a plain sockaddr,
// which an IPv4 address fills exactly.
void copyAddress(int hSocket, sockaddr* psa, int (*query)(int, sockaddr*, socklen_t*), const char* pchWord) {
    sockaddr_in address{};
    socklen_t length = kAddrLen;
    if (psa == nullptr || query(hSocket, reinterpret_cast<sockaddr*>(&address), &length) != 0) throwErrno(pchWord);
    std::memcpy(psa, &address, sizeof(sockaddr));
}

}  // namespace

// ---------------------------------------------------------------- exception

CBlockingSocketException::CBlockingSocketException(const std::string& strMessage, int nError)
    : m_nError(nError), m_strMessage(strMessage) {}

bool CBlockingSocketException::GetErrorMessage(char* lpstrError, unsigned int nMaxError, unsigned int*) const {
    const std::size_t room = m_strMessage.size() + (m_nError != 0 ? 18 : 7);
    if (lpstrError == nullptr || nMaxError < room) return false;
    if (m_nError != 0) {
        std::snprintf(lpstrError, nMaxError, "%s error 0x%08x", m_strMessage.c_str(), static_cast<unsigned>(m_nError));
    } else {
        std::snprintf(lpstrError, nMaxError, "%s error", m_strMessage.c_str());
    }
    return true;
}

std::string CBlockingSocketException::GetErrorMessage(unsigned int*) const {
    char text[512] = {};
    GetErrorMessage(text, sizeof text, nullptr);
    return text;
}

// ---------------------------------------------------------------- address

CSockAddr::CSockAddr() : sockaddr_in() { sin_family = AF_INET; }

CSockAddr::CSockAddr(const sockaddr& sa) : sockaddr_in() { *this = sa; }

CSockAddr::CSockAddr(const sockaddr_in& sin) : sockaddr_in(sin) {}

CSockAddr::CSockAddr(unsigned long ulAddr, unsigned short ushPort) : sockaddr_in() {
    sin_family = AF_INET;
    sin_port = htons(ushPort);
    sin_addr.s_addr = htonl(static_cast<uint32_t>(ulAddr));
}

CSockAddr::CSockAddr(const char* pchIP, unsigned short ushPort) : sockaddr_in() {
    sin_family = AF_INET;
    sin_port = htons(ushPort);
    if (pchIP == nullptr || ::inet_pton(AF_INET, pchIP, &sin_addr) != 1) sin_addr.s_addr = 0;
}

std::string CSockAddr::DottedDecimal() const {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &sin_addr, text, sizeof text);
    return text;
}

CSockAddr& CSockAddr::operator=(const sockaddr& sa) {
    std::memcpy(static_cast<sockaddr_in*>(this), &sa, std::min(sizeof(sockaddr), sizeof(sockaddr_in)));
    return *this;
}

CSockAddr& CSockAddr::operator=(const sockaddr_in& sin) {
    static_cast<sockaddr_in&>(*this) = sin;
    return *this;
}

CSockAddr::operator sockaddr() const {
    sockaddr sa;
    std::memcpy(&sa, static_cast<const sockaddr_in*>(this), sizeof sa);
    return sa;
}

// ---------------------------------------------------------------- socket

CBlockingSocket::~CBlockingSocket() { Cleanup(); }

IBlockingSocket* CBlockingSocket::CreateInstance() const { return new CBlockingSocket; }

void CBlockingSocket::RequireOpen() const {
    assert(m_hSocket != INVALID_SOCKET && "m_hSocket!=INVALID_SOCKET");
    // Without assertions a closed socket still fails cleanly, as EBADF.
    if (m_hSocket == INVALID_SOCKET) errno = EBADF;
}

void CBlockingSocket::Create(int nType) {
    assert(m_hSocket == INVALID_SOCKET && "m_hSocket==INVALID_SOCKET");
    Cleanup();
    m_hSocket = ::socket(AF_INET, nType | SOCK_CLOEXEC, 0);
    if (m_hSocket < 0) {
        m_hSocket = INVALID_SOCKET;
        throwErrno("Create");
    }
}

void CBlockingSocket::Attach(SOCKET hSocket) {
    Cleanup();
    m_hSocket = hSocket;
}

void CBlockingSocket::Connect(const sockaddr* psa, int nSecs) const {
    RequireOpen();
    assert(psa != nullptr && "psa != NULL");
    if (psa == nullptr) throw CBlockingSocketException("Connect", EFAULT);
    // Non-blocking for the connect alone, so that an unreachable host costs
    // at most the time-out; then blocking again, as the rest expects.
    const int flags = ::fcntl(m_hSocket, F_GETFL);
    if (flags < 0 || ::fcntl(m_hSocket, F_SETFL, flags | O_NONBLOCK) != 0) throwErrno("Connect");
    int error = 0;
    if (::connect(m_hSocket, psa, kAddrLen) != 0) {
        error = errno;
        if (error == EINPROGRESS || error == EINTR) {
            pollfd watch{m_hSocket, POLLOUT, 0};
            const int ready = pollFor(watch, nSecs);
            socklen_t length = sizeof error;
            if (ready == 0) {
                error = ETIMEDOUT;
            } else if (ready < 0) {
                error = errno;
            } else if (::getsockopt(m_hSocket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                error = errno;
            }
        }
    }
    ::fcntl(m_hSocket, F_SETFL, flags);
    if (error != 0) throw CBlockingSocketException("Connect", error);
}

void CBlockingSocket::Bind(const sockaddr* psa) const {
    RequireOpen();
    assert(psa != nullptr && "psa != NULL");
    if (psa == nullptr || ::bind(m_hSocket, psa, kAddrLen) != 0) throwErrno("Bind");
}

void CBlockingSocket::Listen() const {
    RequireOpen();
    if (::listen(m_hSocket, 5) != 0) throwErrno("Listen");
}

void CBlockingSocket::Cleanup() {
    if (m_hSocket != INVALID_SOCKET) ::close(m_hSocket);
    m_hSocket = INVALID_SOCKET;
}

bool CBlockingSocket::Accept(IBlockingSocket& sConnect, sockaddr* psa, int nSecs) const {
    RequireOpen();
    assert(psa != nullptr && "psa != NULL");
    assert(sConnect.operator SOCKET() == INVALID_SOCKET && "sConnect.operator SOCKET() == INVALID_SOCKET");
    // A peer that never connects must not hold the transfer: the wait for it
    // is bounded like every other wait.
    pollfd watch{m_hSocket, POLLIN, 0};
    const int ready = pollFor(watch, nSecs);
    if (ready == 0) throw CBlockingSocketException("Accept", ETIMEDOUT);
    if (ready < 0) throwErrno("Accept");
    // A peer that gave up between the wait and the accept must not leave
    // accept waiting: the listener does not block for it.
    const int flags = ::fcntl(m_hSocket, F_GETFL);
    if (flags >= 0) ::fcntl(m_hSocket, F_SETFL, flags | O_NONBLOCK);
    socklen_t length = kAddrLen;
    sockaddr_in peer{};
    const SOCKET hNew = ::accept4(m_hSocket, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    const int error = errno;
    if (flags >= 0) ::fcntl(m_hSocket, F_SETFL, flags);
    if (hNew < 0) {
        if (error == EINTR) return false;
        throw CBlockingSocketException("Accept", error == EAGAIN ? ETIMEDOUT : error);
    }
    if (psa != nullptr) std::memcpy(psa, &peer, sizeof(sockaddr));
    sConnect.Attach(hNew);
    return true;
}

void CBlockingSocket::Close() {
    if (m_hSocket == INVALID_SOCKET) return;
    if (::close(m_hSocket) != 0 && errno != EINTR) {
        // Linux releases the descriptor even when close reports an error, so
        // keeping it would close someone else's later; the error still counts.
        const int error = errno;
        m_hSocket = INVALID_SOCKET;
        throw CBlockingSocketException("Close", error);
    }
    m_hSocket = INVALID_SOCKET;
}

void CBlockingSocket::WaitFor(short events, int nSecs, const char* pchTimeoutWord) const {
    pollfd watch{m_hSocket, events, 0};
    if (pollFor(watch, nSecs) == 0) throw CBlockingSocketException(pchTimeoutWord, ETIMEDOUT);
}

int CBlockingSocket::Write(const char* pch, int nSize, int nSecs) const {
    int nTotal = 0;
    do {
        nTotal += Send(pch + nTotal, nSize - nTotal, nSecs);
    } while (nTotal < nSize);
    return nTotal;
}

// The transfer calls never wait themselves (MSG_DONTWAIT): a blocking send
// of a large block would wait for the whole block, past the time-out. They
// are tried first and wait only when nothing can move, so a busy transfer
// costs one call per block.
int CBlockingSocket::Send(const char* pch, int nSize, int nSecs) const {
    RequireOpen();
    assert(pch != nullptr && "pch != NULL");
    for (;;) {
        const ssize_t n =
            ::send(m_hSocket, pch, static_cast<std::size_t>(std::max(nSize, 0)), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            WaitWritable(nSecs);
        } else if (errno != EINTR) {
            throwErrno("Send");
        }
    }
}

// Linux calls a TCP socket writable only once a third of its send buffer is
// free. With a buffer of megabytes on a slow link that takes longer than the
// time-out while the peer takes bytes all along: the time-out counts from
// the last acknowledgement instead.
void CBlockingSocket::WaitWritable(int nSecs) const {
    SendProgress progress(m_hSocket, nSecs);
    for (;;) {
        const int waitMs = progress.nextWaitMs();
        if (waitMs == 0) throw CBlockingSocketException("Send timeout", ETIMEDOUT);
        pollfd watch{m_hSocket, POLLOUT, 0};
        const int ready = ::poll(&watch, 1, waitMs);
        // Writable, or failed: the send that follows tells which.
        if (ready > 0) return;
        if (ready < 0 && errno != EINTR) throwErrno("Send");
        progress.look();
    }
}

int CBlockingSocket::Receive(char* pch, int nSize, int nSecs) const {
    RequireOpen();
    assert(pch != nullptr && "pch != NULL");
    for (;;) {
        const ssize_t n = ::recv(m_hSocket, pch, static_cast<std::size_t>(std::max(nSize, 0)), MSG_DONTWAIT);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            WaitFor(POLLIN, nSecs, "Receive timeout");
        } else if (errno != EINTR) {
            throwErrno("Receive");
        }
    }
}

// Closing at once would tell nothing of bytes still buffered on either side:
// a peer that stopped reading early could still claim the whole of them. Its
// close is awaited instead, and it acknowledges all it took by then; bytes
// still unacknowledged after it are on their way to a peer that is gone, and
// its system answers them with a reset.
//
// On a slow link the bytes still queued here can take far longer than the
// time-out to drain, while every send before had a time-out of its own: the
// time-out counts from the last progress (bytes acknowledged, or the peer's
// close), never from the last write. Bytes the peer's system acknowledged
// but its program has not read yet cannot be seen from here: once all is
// acknowledged, the wait for the close is one time-out. The peer's close,
// and a failure before it, wake the wait at once; an acknowledgement does
// not, so the count is looked at in slices (20 ms), and so is a failure
// after the close, when the socket is readable and hung up for good.
void CBlockingSocket::FinishSending(int nSecs) const {
    RequireOpen();
    if (::shutdown(m_hSocket, SHUT_WR) != 0) throwErrno("Send");
    SendProgress progress(m_hSocket, nSecs);
    bool fPeerClosed = false;
    char sink[4096];
    for (;;) {
        // What the peer sends meanwhile is dropped, a bounded amount per
        // round: a peer that keeps sending cannot hold the wait here.
        for (int nRead = 0; !fPeerClosed && nRead < 16; ++nRead) {
            const ssize_t n = ::recv(m_hSocket, sink, sizeof sink, MSG_DONTWAIT);
            if (n == 0) {
                fPeerClosed = true;
                progress.progressed();
            } else if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) break;
                if (errno != EINTR) throwErrno("Receive");
            }
        }
        const int unacknowledged = progress.look();
        if (fPeerClosed && unacknowledged == 0) return;
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(m_hSocket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) throwErrno("Send");
        if (error != 0) throw CBlockingSocketException("Send", error);
        const int waitMs = progress.nextWaitMs();
        if (waitMs == 0) {
            // Bytes the peer does not take, or a peer that took all and
            // does not close.
            throw CBlockingSocketException(unacknowledged > 0 ? "Send timeout" : "Receive timeout", ETIMEDOUT);
        }
        if (fPeerClosed) {
            // A closed peer's socket stays readable (its end) and hung up:
            // poll would not wait.
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        } else {
            pollfd watch{m_hSocket, POLLIN, 0};
            if (::poll(&watch, 1, waitMs) < 0 && errno != EINTR) throwErrno("Receive");
        }
    }
}

int CBlockingSocket::SendDatagram(const char* pch, int nSize, const sockaddr* psa, int nSecs) const {
    RequireOpen();
    assert(pch != nullptr && "pch != NULL");
    assert(psa != nullptr && "psa != NULL");
    WaitFor(POLLOUT, nSecs, "Send timeout");
    const ssize_t n = ::sendto(m_hSocket, pch, static_cast<std::size_t>(std::max(nSize, 0)),
                               MSG_NOSIGNAL | MSG_DONTWAIT, psa, kAddrLen);
    if (n < 0) throwErrno("SendDatagram");
    return static_cast<int>(n);
}

int CBlockingSocket::ReceiveDatagram(char* pch, int nSize, sockaddr* psa, int nSecs) const {
    RequireOpen();
    assert(pch != nullptr && "pch != NULL");
    assert(psa != nullptr && "psa != NULL");
    WaitFor(POLLIN, nSecs, "Receive timeout");
    sockaddr_in from{};
    socklen_t length = kAddrLen;
    const ssize_t n = ::recvfrom(m_hSocket, pch, static_cast<std::size_t>(std::max(nSize, 0)), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) throwErrno("ReceiveDatagram");
    if (psa != nullptr) std::memcpy(psa, &from, sizeof(sockaddr));
    return static_cast<int>(n);
}

void CBlockingSocket::GetPeerAddr(sockaddr* psa) const {
    RequireOpen();
    assert(psa != nullptr && "psa != NULL");
    copyAddress(m_hSocket, psa, ::getpeername, "GetPeerName");
}

void CBlockingSocket::GetSockAddr(sockaddr* psa) const {
    RequireOpen();
    assert(psa != nullptr && "psa != NULL");
    copyAddress(m_hSocket, psa, ::getsockname, "GetSockName");
}

bool CBlockingSocket::CheckReadability() const {
    RequireOpen();
    pollfd watch{m_hSocket, POLLIN, 0};
    const int ready = ::poll(&watch, 1, 0);
    if (ready < 0 && errno != EINTR) throwErrno("Socket Error");
    return ready == 1;
}

CSockAddr CBlockingSocket::GetHostByName(const char* pchName, unsigned short ushPort) {
    assert(pchName != nullptr && "pchName != NULL");
    if (pchName == nullptr) throw CBlockingSocketException("GetHostByName", EINVAL);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(pchName, nullptr, &hints, &found);
    if (rc != 0 || found == nullptr) {
        if (found != nullptr) ::freeaddrinfo(found);
        throw CBlockingSocketException("GetHostByName", rc == EAI_SYSTEM ? errno : EHOSTUNREACH);
    }
    CSockAddr address(*reinterpret_cast<const sockaddr_in*>(found->ai_addr));
    ::freeaddrinfo(found);
    address.sin_family = AF_INET;
    address.sin_port = htons(ushPort);
    return address;
}

const char* CBlockingSocket::GetHostByAddr(const sockaddr* psa) {
    assert(psa != nullptr && "psa != NULL");
    thread_local char name[NI_MAXHOST];
    if (psa == nullptr ||
        ::getnameinfo(psa, kAddrLen, name, sizeof name, nullptr, 0, NI_NAMEREQD) != 0) {
        throw CBlockingSocketException("GetHostByAddr", psa == nullptr ? EINVAL : EHOSTUNREACH);
    }
    return name;
}

// ---------------------------------------------------------------- HTTP lines

CHttpBlockingSocket::CHttpBlockingSocket() : m_pReadBuf(new char[nSizeRecv]) {}

CHttpBlockingSocket::~CHttpBlockingSocket() { delete[] m_pReadBuf; }

int CHttpBlockingSocket::ReadHttpHeaderLine(char* pch, int nSize, int nSecs) {
    assert(pch != nullptr && "pch != NULL");
    char* pEnd = static_cast<char*>(std::memchr(m_pReadBuf, '\n', static_cast<std::size_t>(m_nReadBuf)));
    while (pEnd == nullptr) {
        // A full buffer without a line feed holds no line this reader can give.
        if (m_nReadBuf >= nSizeRecv) throw CBlockingSocketException("ReadHeaderLine", EMSGSIZE);
        const int nReceived = Receive(m_pReadBuf + m_nReadBuf, nSizeRecv - m_nReadBuf, nSecs);
        if (nReceived <= 0) throw CBlockingSocketException("ReadHeaderLine", 0);
        pEnd = static_cast<char*>(std::memchr(m_pReadBuf + m_nReadBuf, '\n', static_cast<std::size_t>(nReceived)));
        m_nReadBuf += nReceived;
    }
    const int nLine = static_cast<int>(pEnd - m_pReadBuf) + 1;
    const bool fCrLf = nLine >= 2 && pEnd[-1] == '\r';
    // The line leaves the buffer whole even when the caller gets a cut copy,
    // so the next call starts at the next line.
    const int nCopy = std::max(0, std::min(nLine, nSize - 1));
    if (nSize > 0) {
        std::memcpy(pch, m_pReadBuf, static_cast<std::size_t>(nCopy));
        pch[nCopy] = '\0';
    }
    std::memmove(m_pReadBuf, m_pReadBuf + nLine, static_cast<std::size_t>(m_nReadBuf - nLine));
    m_nReadBuf -= nLine;
    if (!fCrLf) throw CBlockingSocketException("ReadHeaderLine", EPROTO);
    return nCopy;
}

int CHttpBlockingSocket::ReadHttpResponse(char* pch, int nSize, int nSecs) {
    assert(pch != nullptr && "pch != NULL");
    // Buffered bytes that do not fit stay buffered for the next call.
    int nTotal = std::max(0, std::min(m_nReadBuf, nSize));
    std::memcpy(pch, m_pReadBuf, static_cast<std::size_t>(nTotal));
    std::memmove(m_pReadBuf, m_pReadBuf + nTotal, static_cast<std::size_t>(m_nReadBuf - nTotal));
    m_nReadBuf -= nTotal;
    while (nTotal < nSize) {
        const int nReceived = Receive(pch + nTotal, std::min(nSize - nTotal, static_cast<int>(nSizeRecv)), nSecs);
        if (nReceived <= 0) break;
        nTotal += nReceived;
    }
    return nTotal;
}

std::unique_ptr<IBlockingSocket> CreateDefaultBlockingSocketInstance() {
    return std::unique_ptr<IBlockingSocket>(new CBlockingSocket);
}

}  // namespace nsSocket
