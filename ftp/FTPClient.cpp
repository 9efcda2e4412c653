#include "FTPClient.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "FTPFileStatus.h"
#include "FTPListParse.h"
#include "FileHandle.h"

namespace nsFTP {

namespace {

// Where failures are reported from: observers see this source path and a
// fixed number per place.
const char* const kSourcePath = "../ftp/FTPClient";
constexpr std::uint32_t kLineOpenControl = 398;
constexpr std::uint32_t kLineLogonFailed = 542;
constexpr std::uint32_t kLineDownloadOpen = 698;
constexpr std::uint32_t kLineUploadOpen = 757;
constexpr std::uint32_t kLineActiveData = 978;
constexpr std::uint32_t kLinePassiveData = 1044;
constexpr std::uint32_t kLineSendLoop = 1099;
constexpr std::uint32_t kLineReceiveLoop = 1145;
constexpr std::uint32_t kLineSendCommand = 1169;
constexpr std::uint32_t kLineReadLine = 1276;

// One reply, all its lines together, may not grow beyond this: a server
// that never ends a multi-line reply must not fill the memory.
constexpr std::size_t kMaxReplyBytes = 1024 * 1024;

// After ABOR two replies are due, and perhaps a preliminary one or two.
constexpr int kMaxRepliesAfterAbort = 6;

// Control reads need room for at least one byte and the closing zero; a
// block beyond 16 MiB buys nothing and its size must fit the socket calls.
constexpr unsigned int kMinBufferSize = 2;
constexpr unsigned int kMaxBufferSize = 16 * 1024 * 1024;

// The logon state machine, one row per firewall type: triples of (action,
// next state after 2xx, next state after 3xx); -2 logged on, -1 dead end.
const int iLogonSeq[9][18] = {
    {0, -2, 3, 1, -2, 6, 2, -2, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {3, 6, 3, 4, 6, -1, 5, -1, 9, 0, -2, 12, 1, -2, 15, 2, -2, -1},
    {3, 6, 3, 4, 6, -1, 6, -2, 9, 1, -2, 12, 2, -2, -1, 0, 0, 0},
    {7, 3, 3, 0, -2, 6, 1, -2, 9, 2, -2, -1, 0, 0, 0, 0, 0, 0},
    {3, 6, 3, 4, 6, -1, 0, -2, 9, 1, -2, 12, 2, -2, -1, 0, 0, 0},
    {6, -2, 3, 1, -2, 6, 2, -2, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {8, 6, 3, 4, 6, -1, 0, -2, 9, 1, -2, 12, 2, -2, -1, 0, 0, 0},
    {9, -1, 3, 1, -2, 6, 2, -2, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {10, -2, 3, 11, -2, 6, 2, -2, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
};

// A CR, LF or NUL inside an argument would end the command line early and
// let the rest of the text pass as a command of its own.
bool HasLineBreakOrNul(const CArg& Arguments) {
    for (const tstring& strArgument : Arguments) {
        if (strArgument.find_first_of(std::string("\r\n\0", 3)) != tstring::npos) return true;
    }
    return false;
}

// The decimal number at the start of the text from its fifth character on
// (blanks skipped, a sign allowed), 0 when there is none.
long long NumberAfterCode(const tstring& strText) {
    if (strText.size() <= 4) return 0;
    return std::strtoll(strText.c_str() + 4, nullptr, 10);
}

char FirstDigit(const CReply& Reply) { return Reply.Code().Value()[0]; }

int SystemErrorOr(int iFallback) { return errno != 0 ? errno : iFallback; }

}  // namespace

// ---------------------------------------------------------------- construction

CFTPClient::CFTPClient(std::shared_ptr<nsSocket::IBlockingSocket> apSocket, unsigned int uiTimeout,
                       unsigned int uiBufferSize, unsigned int uiResponseWait,
                       const std::string& strRemoteDirectorySeparator)
    : mc_uiTimeout(uiTimeout),
      mc_uiResponseWait(uiResponseWait),
      mc_strEolCharacterSequence("\r\n"),
      mc_strRemoteDirectorySeparator(strRemoteDirectorySeparator),
      m_vBuffer(std::clamp(uiBufferSize, kMinBufferSize, kMaxBufferSize), '\0'),
      m_apSckControlConnection(std::move(apSocket)),
      m_fTransferInProgress(false),
      m_fAbortTransfer(false),
      m_fResumeIfPossible(true) {
    assert(m_apSckControlConnection.get() && "m_apSckControlConnection.get()");
    if (!m_apSckControlConnection) m_apSckControlConnection = nsSocket::CreateDefaultBlockingSocketInstance();
    m_apFileListParser = std::make_shared<CFTPListParser>();
}

CFTPClient::~CFTPClient() {
    if (m_fTransferInProgress) Abort();
    if (IsConnected()) Logout();
    // m_setObserver detaches every observer still attached as it goes.
}

void CFTPClient::AttachObserver(CNotification* pObserver) {
    assert(pObserver && "pObserver");
    if (pObserver != nullptr) m_setObserver.Attach(pObserver);
}

void CFTPClient::DetachObserver(CNotification* pObserver) {
    assert(pObserver && "pObserver");
    if (pObserver != nullptr) m_setObserver.Detach(pObserver);
}

void CFTPClient::SetFileListParser(std::shared_ptr<IFileListParser> apFileListParser) {
    m_apFileListParser = std::move(apFileListParser);
}

// Seconds for one socket wait; a time-out beyond the int range waits as long as it can.
int CFTPClient::TimeoutSecs() const { return static_cast<int>(std::min<unsigned int>(mc_uiTimeout, INT_MAX)); }

// The seconds left until the deadline, rounded up; none once it has passed.
int CFTPClient::TimeoutSecs(const TDeadline* pDeadline) const {
    if (pDeadline == nullptr) return TimeoutSecs();
    const auto left = std::chrono::ceil<std::chrono::seconds>(*pDeadline - std::chrono::steady_clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, TimeoutSecs()));
}

bool CFTPClient::IsConnected() const {
    return m_apSckControlConnection->operator nsSocket::SOCKET() != nsSocket::INVALID_SOCKET;
}

// Makes the call on every observer. The next observer is fetched first,
// so an observer may detach itself from inside its notification.
#define NOTIFY_OBSERVERS(call)                                              \
    do {                                                                     \
        for (auto it = m_setObserver.begin(); it != m_setObserver.end();) { \
            CNotification* pObserver = *it++;                                \
            pObserver->call;                                                 \
        }                                                                    \
    } while (false)

void CFTPClient::ReportError(const std::string& strErrorMsg, const std::string& strFile,
                             std::uint32_t dwLineNr) const {
    NOTIFY_OBSERVERS(OnInternalError(strErrorMsg, strFile, dwLineNr));
}

void CFTPClient::ReportSocketError(const nsSocket::CBlockingSocketException& blockingException,
                                   std::uint32_t dwLineNr, nsSocket::IBlockingSocket& sckConcerned) const {
    ReportError(blockingException.GetErrorMessage(), kSourcePath, dwLineNr);
    sckConcerned.Cleanup();
}

// ---------------------------------------------------------------- control connection

bool CFTPClient::OpenControlChannel(const std::string& strServerHost, unsigned short ushServerPort) {
    CloseControlChannel();
    // Lines left over from an earlier connection must not pass for this one's greeting.
    std::queue<std::string>().swap(m_qResponseBuffer);
    try {
        m_apSckControlConnection->Create(SOCK_STREAM);
        const nsSocket::CSockAddr address = m_apSckControlConnection->GetHostByName(strServerHost.c_str(), ushServerPort);
        m_apSckControlConnection->Connect(address, TimeoutSecs());
    } catch (const nsSocket::CBlockingSocketException& blockingException) {
        ReportSocketError(blockingException, kLineOpenControl, *m_apSckControlConnection);
        return false;
    }
    return true;
}

void CFTPClient::CloseControlChannel() const {
    try {
        m_apSckControlConnection->Close();
    } catch (const nsSocket::CBlockingSocketException&) {
        m_apSckControlConnection->Cleanup();
    }
    m_apCurrentRepresentation.reset();
}

bool CFTPClient::SendCommand(const CCommand& Command, const CArg& Arguments) const {
    if (!IsConnected()) return false;
    if (HasLineBreakOrNul(Arguments)) {
        ReportError("Refused to send " + Command.AsString() + ": an argument holds CR, LF or NUL.", kSourcePath,
                    kLineSendCommand);
        return false;
    }
    try {
        NOTIFY_OBSERVERS(OnSendCommand(Command, Arguments));
        const std::string strCommand = Command.AsString(Arguments) + "\r\n";
        m_apSckControlConnection->Write(strCommand.data(), static_cast<int>(strCommand.size()),
                                        TimeoutSecs());
    } catch (const nsSocket::CBlockingSocketException& blockingException) {
        ReportSocketError(blockingException, kLineSendCommand, *m_apSckControlConnection);
        return false;
    }
    return true;
}

bool CFTPClient::SendCommand(const CCommand& Command, const CArg& Arguments, CReply& Reply) const {
    return SendCommand(Command, Arguments) && GetResponse(Reply);
}

bool CFTPClient::FillResponseQueue(const TDeadline& deadline) const {
    std::string strText;
    bool fPeerClosed = false;
    const int nChunk = static_cast<int>(m_vBuffer.size()) - 1;
    for (;;) {
        // Waits only for the time left; with none left it still takes what
        // is already there. Reads after the first go on only while more is
        // waiting, so they never wait at all.
        const int nReceived = m_apSckControlConnection->Receive(m_vBuffer.data(), nChunk, TimeoutSecs(&deadline));
        fPeerClosed = nReceived == 0;
        if (mc_uiResponseWait != 0) {
            const auto wait = std::min<std::chrono::steady_clock::duration>(
                std::chrono::milliseconds(mc_uiResponseWait), deadline - std::chrono::steady_clock::now());
            if (wait.count() > 0) std::this_thread::sleep_for(wait);
        }
        m_vBuffer[static_cast<std::size_t>(std::max(nReceived, 0))] = '\0';
        strText.append(m_vBuffer.data(), std::strlen(m_vBuffer.data()));
        if (nReceived != nChunk) break;
        if (strText.size() > kMaxReplyBytes) throw nsSocket::CBlockingSocketException("Receive", EMSGSIZE);
        if (!m_apSckControlConnection->CheckReadability()) break;
    }
    std::size_t start = 0;
    while (start < strText.size()) {
        const std::size_t end = strText.find('\n', start);
        const std::size_t next = end == std::string::npos ? strText.size() : end + 1;
        m_qResponseBuffer.push(strText.substr(start, next - start));
        start = next;
    }
    return fPeerClosed;
}

bool CFTPClient::GetSingleResponseLine(std::string& strResponse, const TDeadline& deadline, bool& fReceived) const {
    if (!IsConnected()) return false;
    try {
        if (m_qResponseBuffer.empty()) {
            // A reply tries one read whatever the time left, even none;
            // past the deadline it gets no further one: a server that drips
            // a byte at a time could otherwise hold the client for ever.
            if (fReceived && std::chrono::steady_clock::now() >= deadline) {
                throw nsSocket::CBlockingSocketException("Receive timeout", ETIMEDOUT);
            }
            fReceived = true;
            const bool fPeerClosed = FillResponseQueue(deadline);
            if (m_qResponseBuffer.empty()) {
                // The server hung up: the connection is gone, and a caller
                // that retries must see that it has to log on again.
                if (fPeerClosed) CloseControlChannel();
                return false;
            }
        }
    } catch (const nsSocket::CBlockingSocketException& blockingException) {
        ReportSocketError(blockingException, kLineReadLine, *m_apSckControlConnection);
        return false;
    }
    strResponse = std::move(m_qResponseBuffer.front());
    m_qResponseBuffer.pop();
    const std::size_t n = strResponse.size();
    if (n >= 2 && strResponse[n - 2] == '\r' && strResponse[n - 1] == '\n') strResponse.resize(n - 2);
    return true;
}

bool CFTPClient::GetResponse(CReply& Reply, const TDeadline* pDeadline) const {
    // A whole reply, every line of it and the response waits, comes within
    // one time-out.
    const TDeadline deadline =
        pDeadline != nullptr ? *pDeadline : std::chrono::steady_clock::now() + std::chrono::seconds(TimeoutSecs());
    std::string strResponse;
    bool fReceived = false;
    if (!GetSingleResponseLine(strResponse, deadline, fReceived)) return false;
    if (strResponse.size() >= 4 && strResponse[3] == '-') {
        const long lReplyNumber = std::strtol(strResponse.c_str(), nullptr, 10);
        for (;;) {
            std::string strLine;
            if (!GetSingleResponseLine(strLine, deadline, fReceived)) return false;
            strResponse += "\r\n" + strLine;
            if (strLine.size() >= 4 && strLine[3] == ' ' && std::strtol(strLine.c_str(), nullptr, 10) == lReplyNumber) {
                break;
            }
            if (strResponse.size() > kMaxReplyBytes) {
                std::queue<std::string>().swap(m_qResponseBuffer);
                ReportSocketError(nsSocket::CBlockingSocketException("Receive", EMSGSIZE), kLineReadLine,
                                  *m_apSckControlConnection);
                return false;
            }
        }
    }
    const bool fValid = Reply.Set(strResponse);
    NOTIFY_OBSERVERS(OnResponse(Reply));
    // 421 is the server's word that it closes the control connection (its
    // time-outs, a shutdown): a caller that retries must see at once that
    // it has to log on again, not spend an attempt on a dead connection.
    if (fValid && std::strcmp(Reply.Code().Value(), "421") == 0) CloseControlChannel();
    return fValid;
}

int CFTPClient::SimpleErrorCheck(const CReply& Reply) const {
    switch (FirstDigit(Reply)) {
        case '4':
        case '5': return FTP_NOTOK;
        case '2': return FTP_OK;
        default: return FTP_ERROR;
    }
}

int CFTPClient::SimpleCommand(const CCommand& Command, const CArg& Arguments) const {
    CReply Reply;
    if (!SendCommand(Command, Arguments, Reply)) return FTP_ERROR;
    return SimpleErrorCheck(Reply);
}

// ---------------------------------------------------------------- logon

bool CFTPClient::Login(const CLogonInfo& logonInfo) {
    m_LastLogonInfo = logonInfo;
    const bool fDirect = logonInfo.FwType() == CFirewallType::ftNone;
    const std::string strConnectHost = fDirect ? logonInfo.Hostname() : logonInfo.FwHost();
    const unsigned short ushConnectPort = fDirect ? logonInfo.Hostport() : logonInfo.FwPort();
    std::string strHostnamePort = logonInfo.Hostname();
    if (logonInfo.Hostport() != DEFAULT_FTP_PORT) strHostnamePort += ":" + std::to_string(logonInfo.Hostport());

    if (IsConnected()) Logout();
    if (!OpenControlChannel(strConnectHost, ushConnectPort)) return false;

    CReply Reply;
    if (!GetResponse(Reply)) return false;
    // "120 ready in n minutes" comes before the real greeting; wait for that.
    if (FirstDigit(Reply) == '1' && !GetResponse(Reply)) return false;
    if (FirstDigit(Reply) != '2') return false;
    return RunLogonSequence(logonInfo, strHostnamePort);
}

bool CFTPClient::RunLogonSequence(const CLogonInfo& logonInfo, const std::string& strHostnamePort) {
    const int iRow = static_cast<int>(logonInfo.FwType().AsEnum());
    if (iRow < 0 || iRow >= 9) return false;
    int iLogonPoint = 0;
    for (;;) {
        const int iAction = iLogonSeq[iRow][iLogonPoint];
        CCommand Command = CCommand::USER();
        std::string strArgument;
        switch (iAction) {
            case 0: strArgument = logonInfo.Username(); break;
            case 1: Command = CCommand::PASS(); strArgument = logonInfo.Password(); break;
            case 2: Command = CCommand::ACCT(); strArgument = logonInfo.Account(); break;
            case 3: strArgument = logonInfo.FwUsername(); break;
            case 4: Command = CCommand::PASS(); strArgument = logonInfo.FwPassword(); break;
            case 5: Command = CCommand::SITE(); strArgument = strHostnamePort; break;
            case 6: strArgument = logonInfo.Username() + "@" + strHostnamePort; break;
            case 7: Command = CCommand::OPEN(); strArgument = strHostnamePort; break;
            case 8: strArgument = logonInfo.FwUsername() + "@" + strHostnamePort; break;
            case 9: strArgument = logonInfo.Username() + "@" + strHostnamePort + " " + logonInfo.FwUsername(); break;
            case 10: strArgument = logonInfo.Username() + "@" + logonInfo.FwUsername() + "@" + strHostnamePort; break;
            case 11: Command = CCommand::PASS(); strArgument = logonInfo.Password() + "@" + logonInfo.FwPassword(); break;
            default: return false;
        }
        CReply Reply;
        if (!SendCommand(Command, CArg(strArgument), Reply)) return false;
        const char chDigit = FirstDigit(Reply);
        if (chDigit != '2' && chDigit != '3') return false;
        const int iNext = iLogonSeq[iRow][iLogonPoint + (chDigit - '0') - 1];
        if (iNext == -2) return ChangeWorkingDirectory(mc_strRemoteDirectorySeparator) == FTP_OK;
        if (iNext == -1) {
            ReportError("Logon failed.", kSourcePath, kLineLogonFailed);
            return false;
        }
        iLogonPoint = iNext;
    }
}

int CFTPClient::Logout() {
    CReply Reply;
    if (!SendCommand(CCommand::QUIT(), CArg(), Reply)) return FTP_ERROR;
    CloseControlChannel();
    return SimpleErrorCheck(Reply);
}

int CFTPClient::Abort() const {
    if (m_fTransferInProgress) {
        m_fAbortTransfer = true;
        return FTP_OK;
    }
    m_fAbortTransfer = false;
    return SimpleCommand(CCommand::ABOR());
}

// Ends a data command the server took up but that did not run to its end.
// Any data connection is closed by now: a server that reads ABOR only once
// the data connection has ended would otherwise hold both sides until the
// time-out. The data command's final reply and ABOR's are both read, so the
// next command reads its own.
int CFTPClient::AbortUnfinishedTransfer() const {
    m_fAbortTransfer = false;
    if (!SendCommand(CCommand::ABOR(), CArg())) return FTP_ERROR;
    return ReadAbortReplies();
}

// First comes the data command's final reply: 2xx when the server took the
// closed data connection for the end of the file, 4xx or 5xx (426 ...) when
// it saw the transfer cut. ABOR's own reply follows. A 225 first says the
// server had no transfer left to report: nothing follows it. Preliminary
// replies are passed over. All of it is bounded by one time-out and a few
// replies; a server that keeps to neither loses the control connection,
// which is safer than replies read out of step.
int CFTPClient::ReadAbortReplies() const {
    const TDeadline deadline = std::chrono::steady_clock::now() + std::chrono::seconds(TimeoutSecs());
    bool fTransferReplyDue = true;
    for (int i = 0; i < kMaxRepliesAfterAbort; ++i) {
        CReply Reply;
        if (!GetResponse(Reply, &deadline)) return FTP_ERROR;
        if (Reply.Code().IsPositivePreliminaryReply()) continue;
        if (fTransferReplyDue && std::strcmp(Reply.Code().Value(), "225") != 0) {
            fTransferReplyDue = false;
            continue;
        }
        return SimpleErrorCheck(Reply);
    }
    std::queue<std::string>().swap(m_qResponseBuffer);
    ReportSocketError(nsSocket::CBlockingSocketException("Receive", EPROTO), kLineReadLine, *m_apSckControlConnection);
    return FTP_ERROR;
}

// ---------------------------------------------------------------- data channel

bool CFTPClient::ExecuteDatachannelCommand(const CCommand& crDatachannelCmd, const std::string& strPath,
                                           const CRepresentation& representation, bool fPasv,
                                           std::uint64_t dwByteOffset, ITransferNotification& Observer) const {
    if (!crDatachannelCmd.IsDatachannelCommand()) {
        assert(false && "false");
        return false;
    }
    if (m_fTransferInProgress || !IsConnected()) return false;
    // A path that would be refused as the data command's argument stops the
    // transfer before TYPE and the data connection.
    if (HasLineBreakOrNul(CArg(strPath))) {
        ReportError("Refused to send " + crDatachannelCmd.AsString() + ": an argument holds CR, LF or NUL.",
                    kSourcePath, kLineSendCommand);
        return false;
    }
    if (RepresentationType(representation, 0) != FTP_OK) return false;

    std::unique_ptr<nsSocket::IBlockingSocket> apSckDataConnection(m_apSckControlConnection->CreateInstance());
    const bool fOpened =
        fPasv ? OpenPassiveDataConnection(*apSckDataConnection, crDatachannelCmd, strPath, dwByteOffset)
              : OpenActiveDataConnection(*apSckDataConnection, crDatachannelCmd, strPath, dwByteOffset);
    if (!fOpened) return false;

    const bool fTransferred = TransferData(crDatachannelCmd, Observer, *apSckDataConnection);
    try {
        apSckDataConnection->Close();
    } catch (const nsSocket::CBlockingSocketException&) {
        apSckDataConnection->Cleanup();
    }
    if (!fTransferred) {
        AbortUnfinishedTransfer();
        return false;
    }

    CReply Reply;
    return GetResponse(Reply) && Reply.Code().IsPositiveCompletionReply();
}

int CFTPClient::RepresentationType(const CRepresentation& representation, std::uint32_t dwSize) const {
    if (m_apCurrentRepresentation && *m_apCurrentRepresentation == representation) return FTP_OK;
    const int iRet = _RepresentationType(representation, dwSize);
    if (iRet == FTP_OK) {
        m_apCurrentRepresentation.reset(new CRepresentation(representation));
    } else {
        m_apCurrentRepresentation.reset();
    }
    return iRet;
}

int CFTPClient::_RepresentationType(const CRepresentation& representation, std::uint32_t dwSize) const {
    CArg Arguments(representation.Type().AsString());
    if (representation.Type() == CType::tyLocalByte) {
        Arguments.push_back(std::to_string(dwSize));
    } else if (representation.Format().IsValid()) {
        Arguments.push_back(representation.Format().AsString());
    }
    return SimpleCommand(CCommand::TYPE(), Arguments);
}

bool CFTPClient::GetIpAddressFromResponse(const std::string& strResponse, std::uint32_t& ulIpAddress,
                                          unsigned short& ushPort) const {
    // Six numbers of one to three digits, each 0 to 255, inside parentheses;
    // anything else in the address fails the whole reply.
    const std::size_t open = strResponse.find('(');
    if (open == std::string::npos) return false;
    unsigned int auiNumber[6] = {};
    std::size_t at = open + 1;
    for (int i = 0; i < 6; ++i) {
        std::size_t digits = 0;
        unsigned int value = 0;
        while (at < strResponse.size() && strResponse[at] >= '0' && strResponse[at] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned int>(strResponse[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return false;
        const char chEnd = i < 5 ? ',' : ')';
        if (at >= strResponse.size() || strResponse[at] != chEnd) return false;
        ++at;
        auiNumber[i] = value;
    }
    ulIpAddress = (auiNumber[0] << 24) | (auiNumber[1] << 16) | (auiNumber[2] << 8) | auiNumber[3];
    ushPort = static_cast<unsigned short>((auiNumber[4] << 8) | auiNumber[5]);
    return true;
}

int CFTPClient::Passive(std::uint32_t& ulIpAddress, unsigned short& ushPort) const {
    CReply Reply;
    if (!SendCommand(CCommand::PASV(), CArg(), Reply)) return FTP_ERROR;
    if (Reply.Code().IsPositiveCompletionReply()) {
        std::uint32_t ulNamed = 0;
        unsigned short ushNamed = 0;
        if (!GetIpAddressFromResponse(Reply.Value(), ulNamed, ushNamed)) return FTP_ERROR;
        // A server may only point at itself: another address is replaced by
        // the control connection's peer, so no third host is ever contacted.
        nsSocket::CSockAddr peer;
        try {
            m_apSckControlConnection->GetPeerAddr(peer);
        } catch (const nsSocket::CBlockingSocketException& blockingException) {
            ReportError(blockingException.GetErrorMessage(), kSourcePath, kLinePassiveData);
            return FTP_ERROR;
        }
        ulIpAddress = static_cast<std::uint32_t>(peer.IPAddr());
        ushPort = ushNamed;
    }
    return SimpleErrorCheck(Reply);
}

int CFTPClient::DataPort(const std::string& strHostIP, unsigned short ushPort) const {
    std::string strArgument =
        strHostIP + "," + std::to_string(ushPort >> 8) + "," + std::to_string(ushPort & 0xFF);
    ReplaceStr(strArgument, ".", ",");
    return SimpleCommand(CCommand::PORT(), CArg(strArgument));
}

int CFTPClient::Restart(std::uint64_t dwPosition) const {
    CReply Reply;
    if (!SendCommand(CCommand::REST(), CArg(std::to_string(dwPosition)), Reply)) return FTP_ERROR;
    switch (FirstDigit(Reply)) {
        case '3': return FTP_OK;
        case '4':
        case '5': return FTP_NOTOK;
        default: return FTP_ERROR;
    }
}

bool CFTPClient::RestartIfNeeded(const CCommand& crDatachannelCmd, std::uint64_t dwByteOffset) const {
    const bool fResumable = crDatachannelCmd == CCommand::cmdAPPE || crDatachannelCmd == CCommand::cmdRETR ||
                            crDatachannelCmd == CCommand::cmdSTOR;
    if (!m_fResumeIfPossible || !fResumable || dwByteOffset == 0) return true;
    return Restart(dwByteOffset) == FTP_OK;
}

bool CFTPClient::OpenPassiveDataConnection(nsSocket::IBlockingSocket& sckDataConnection,
                                           const CCommand& crDatachannelCmd, const std::string& strPath,
                                           std::uint64_t dwByteOffset) const {
    if (!crDatachannelCmd.IsDatachannelCommand()) {
        assert(false && "false");
        return false;
    }
    std::uint32_t ulIpAddress = 0;
    unsigned short ushPort = 0;
    if (Passive(ulIpAddress, ushPort) != FTP_OK) return false;
    try {
        sckDataConnection.Create(SOCK_STREAM);
        sckDataConnection.Connect(nsSocket::CSockAddr(ulIpAddress, ushPort), TimeoutSecs());
    } catch (const nsSocket::CBlockingSocketException& blockingException) {
        ReportSocketError(blockingException, kLinePassiveData, sckDataConnection);
        return false;
    }
    if (!RestartIfNeeded(crDatachannelCmd, dwByteOffset)) return false;
    CReply Reply;
    return SendCommand(crDatachannelCmd, CArg(strPath), Reply) && Reply.Code().IsPositivePreliminaryReply();
}

bool CFTPClient::OpenActiveDataConnection(nsSocket::IBlockingSocket& sckDataConnection,
                                          const CCommand& crDatachannelCmd, const std::string& strPath,
                                          std::uint64_t dwByteOffset) const {
    if (!crDatachannelCmd.IsDatachannelCommand()) {
        assert(false && "false");
        return false;
    }
    std::unique_ptr<nsSocket::IBlockingSocket> apSckListen(m_apSckControlConnection->CreateInstance());
    bool fAccepted = false;
    try {
        apSckListen->Create(SOCK_STREAM);
        apSckListen->Bind(nsSocket::CSockAddr());
        nsSocket::CSockAddr listenAddress;
        apSckListen->GetSockAddr(listenAddress);
        apSckListen->Listen();
        nsSocket::CSockAddr controlAddress;
        m_apSckControlConnection->GetSockAddr(controlAddress);

        if (DataPort(controlAddress.DottedDecimal(), listenAddress.Port()) != FTP_OK) return false;
        if (!RestartIfNeeded(crDatachannelCmd, dwByteOffset)) return false;
        CReply Reply;
        if (!SendCommand(crDatachannelCmd, CArg(strPath), Reply) || !Reply.Code().IsPositivePreliminaryReply()) {
            return false;
        }
        fAccepted = true;
        if (AcceptFromServer(*apSckListen, sckDataConnection)) return true;
        apSckListen->Close();
    } catch (const nsSocket::CBlockingSocketException& blockingException) {
        ReportSocketError(blockingException, kLineActiveData, *apSckListen);
    }
    // The server may still be trying to connect: the closed listener
    // turns it away, and its final reply is read with ABOR's.
    if (fAccepted) AbortUnfinishedTransfer();
    return false;
}

// Anyone who can reach the listening port may connect to it: only the
// server of the control connection gets the transfer. Others are closed and
// the wait goes on, within the one time-out: strangers that keep coming,
// even queued ones, never stretch it.
bool CFTPClient::AcceptFromServer(const nsSocket::IBlockingSocket& sckListen,
                                  nsSocket::IBlockingSocket& sckDataConnection) const {
    nsSocket::CSockAddr serverAddress;
    m_apSckControlConnection->GetPeerAddr(serverAddress);
    const TDeadline deadline = std::chrono::steady_clock::now() + std::chrono::seconds(TimeoutSecs());
    for (;;) {
        nsSocket::CSockAddr peerAddress;
        if (!sckListen.Accept(sckDataConnection, peerAddress, TimeoutSecs(&deadline))) return false;
        if (peerAddress.IPAddr() == serverAddress.IPAddr()) return true;
        sckDataConnection.Close();
        if (std::chrono::steady_clock::now() >= deadline) {
            throw nsSocket::CBlockingSocketException("Accept", ETIMEDOUT);
        }
    }
}

bool CFTPClient::TransferData(const CCommand& crDatachannelCmd, ITransferNotification& Observer,
                              nsSocket::IBlockingSocket& sckDataConnection) const {
    if (crDatachannelCmd.IsDatachannelWriteCommand()) return SendData(Observer, sckDataConnection);
    if (crDatachannelCmd.IsDatachannelReadCommand()) return ReceiveData(Observer, sckDataConnection);
    return false;
}

// Ends a send or receive loop that ran to its end, was aborted, or met a
// local read or write error. The last two fail the transfer; ABOR follows
// once the data connection is closed.
bool CFTPClient::EndTransferLoop(bool fLocalFailure) const {
    m_fTransferInProgress = false;
    return !m_fAbortTransfer && !fLocalFailure;
}

bool CFTPClient::SendData(ITransferNotification& Observer, nsSocket::IBlockingSocket& sckDataConnection) const {
    m_fTransferInProgress = true;
    NOTIFY_OBSERVERS(OnBeginSendingData());
    bool fLocalFailure = false;
    try {
        long long lTotal = 0;
        std::size_t bytesToSend = 0;
        errno = 0;
        bool fRead = Observer.OnPreBytesSend(m_vBuffer.data(), m_vBuffer.size(), bytesToSend);
        while (fRead && !m_fAbortTransfer && bytesToSend != 0) {
            const int iNumWrite = sckDataConnection.Write(m_vBuffer.data(), static_cast<int>(bytesToSend),
                                                          TimeoutSecs());
            assert(iNumWrite == static_cast<int>(bytesToSend) && "iNumWrite == static_cast<int>(bytesRead)");
            lTotal += iNumWrite;
            NOTIFY_OBSERVERS(OnBytesSent(m_vBuffer, iNumWrite));
            errno = 0;
            fRead = Observer.OnPreBytesSend(m_vBuffer.data(), m_vBuffer.size(), bytesToSend);
        }
        if (!fRead) {
            ReportError(nsHelper::CError::GetErrorDescription(SystemErrorOr(EIO)), kSourcePath, kLineSendLoop);
            fLocalFailure = true;
        } else if (!m_fAbortTransfer) {
            // Written is not taken: a server that closed on part of the file
            // may still answer that it stored it.
            sckDataConnection.FinishSending(TimeoutSecs());
            NOTIFY_OBSERVERS(OnEndSendingData(lTotal));
        }
    } catch (const nsSocket::CBlockingSocketException& blockingException) {
        m_fTransferInProgress = false;
        ReportSocketError(blockingException, kLineSendLoop, sckDataConnection);
        return false;
    }
    return EndTransferLoop(fLocalFailure);
}

bool CFTPClient::ReceiveData(ITransferNotification& Observer, nsSocket::IBlockingSocket& sckDataConnection) const {
    m_fTransferInProgress = true;
    NOTIFY_OBSERVERS(OnBeginReceivingData());
    bool fLocalFailure = false;
    try {
        const int nBuffer = static_cast<int>(m_vBuffer.size());
        int nReceived = sckDataConnection.Receive(m_vBuffer.data(), nBuffer, TimeoutSecs());
        long long lTotal = nReceived;
        while (nReceived != 0 && !m_fAbortTransfer) {
            NOTIFY_OBSERVERS(OnBytesReceived(m_vBuffer, nReceived));
            errno = 0;
            if (!Observer.OnBytesReceived(m_vBuffer, nReceived)) {
                ReportError(nsHelper::CError::GetErrorDescription(SystemErrorOr(EIO)), kSourcePath, kLineReceiveLoop);
                fLocalFailure = true;
                break;
            }
            nReceived = sckDataConnection.Receive(m_vBuffer.data(), nBuffer, TimeoutSecs());
            lTotal += nReceived;
        }
        NOTIFY_OBSERVERS(OnEndReceivingData(lTotal));
    } catch (const nsSocket::CBlockingSocketException& blockingException) {
        m_fTransferInProgress = false;
        ReportSocketError(blockingException, kLineReceiveLoop, sckDataConnection);
        return false;
    }
    return EndTransferLoop(fLocalFailure);
}

// ---------------------------------------------------------------- uploads and downloads

bool CFTPClient::UploadFile(const std::string& strLocalFile, const std::string& strRemoteFile, bool fStoreUnique,
                            const CRepresentation& repType, bool fPasv) const {
    CFile file;
    if (!file.Open(strLocalFile, "rb")) {
        ReportError(nsHelper::CError::GetErrorDescription(SystemErrorOr(ENOENT)), kSourcePath, kLineUploadOpen);
        return false;
    }
    return UploadFile(file, strRemoteFile, fStoreUnique, repType, fPasv);
}

bool CFTPClient::UploadFile(ITransferNotification& Observer, const std::string& strRemoteFile, bool fStoreUnique,
                            const CRepresentation& repType, bool fPasv) const {
    const std::uint64_t ulLocalSize = Observer.GetLocalStreamSize();
    long long lRemoteSize = 0;
    CCommand cmd = fStoreUnique ? CCommand::STOU() : CCommand::STOR();
    if (m_fResumeIfPossible) {
        // Only a size the server confirmed may become an offset, and a remote
        // file larger than the local one is no part of it: that is sent anew.
        long long lSize = 0;
        if (FileSize(strRemoteFile, lSize) == FTP_OK && lSize > 0 &&
            static_cast<std::uint64_t>(lSize) <= ulLocalSize) {
            lRemoteSize = lSize;
            cmd = CCommand::APPE();
        }
    }
    Observer.SetLocalStreamOffset(static_cast<std::uint64_t>(lRemoteSize));
    const std::string strLocalName = Observer.GetLocalStreamName();
    const long long lLocalSize = static_cast<long long>(ulLocalSize);
    NOTIFY_OBSERVERS(OnPreSendFile(strLocalName, strRemoteFile, lLocalSize));
    const bool fRet = ExecuteDatachannelCommand(cmd, strRemoteFile, repType, fPasv, 0, Observer);
    NOTIFY_OBSERVERS(OnPostSendFile(strLocalName, strRemoteFile, lLocalSize));
    return fRet;
}

bool CFTPClient::UploadFile(const CFTPClient& SourceFtpServer, const std::string& strSourceFile,
                            const std::string& strTargetFile, const CRepresentation& repType, bool fPasv) const {
    return TransferFile(SourceFtpServer, strSourceFile, *this, strTargetFile, repType, !fPasv);
}

bool CFTPClient::DownloadFile(const std::string& strRemoteFile, const std::string& strLocalFile,
                              const CRepresentation& repType, bool fPasv) const {
    CFile file;
    if (!file.Open(strLocalFile, m_fResumeIfPossible ? "ab" : "wb")) {
        ReportError(nsHelper::CError::GetErrorDescription(SystemErrorOr(EACCES)), kSourcePath, kLineDownloadOpen);
        return false;
    }
    file.SetLocalStreamOffset(file.GetLocalStreamSize());
    const bool fRet = DownloadFile(strRemoteFile, file, repType, fPasv);
    // Written data may sit in the stream's buffer until the close: a full
    // disk shows only there, and must not pass for a complete download.
    if (!file.Close()) {
        ReportError(nsHelper::CError::GetErrorDescription(file.LastError()), kSourcePath, kLineDownloadOpen);
        return false;
    }
    return fRet;
}

bool CFTPClient::DownloadFile(const std::string& strRemoteFile, ITransferNotification& Observer,
                              const CRepresentation& repType, bool fPasv) const {
    long long lRemoteSize = 0;
    long long lSize = 0;
    if (FileSize(strRemoteFile, lSize) == FTP_OK) lRemoteSize = lSize;
    const std::string strLocalName = Observer.GetLocalStreamName();
    NOTIFY_OBSERVERS(OnPreReceiveFile(strRemoteFile, strLocalName, lRemoteSize));
    const std::uint64_t ulOffset = m_fResumeIfPossible ? Observer.GetLocalStreamSize() : 0;
    const bool fRet = ExecuteDatachannelCommand(CCommand::RETR(), strRemoteFile, repType, fPasv, ulOffset, Observer);
    NOTIFY_OBSERVERS(OnPostReceiveFile(strRemoteFile, strLocalName, lRemoteSize));
    return fRet;
}

bool CFTPClient::DownloadFile(const std::string& strSourceFile, const CFTPClient& TargetFtpServer,
                              const std::string& strTargetFile, const CRepresentation& repType, bool fPasv) const {
    return TransferFile(*this, strSourceFile, TargetFtpServer, strTargetFile, repType, fPasv);
}

bool CFTPClient::TransferFile(const CFTPClient& SourceFtpServer, const std::string& strSourceFile,
                              const CFTPClient& TargetFtpServer, const std::string& strTargetFile,
                              const CRepresentation& repType, bool fSourcePasv) {
    if (SourceFtpServer.RepresentationType(repType, 0) != FTP_OK) return false;
    if (TargetFtpServer.RepresentationType(repType, 0) != FTP_OK) return false;
    const CFTPClient& PassiveServer = fSourcePasv ? SourceFtpServer : TargetFtpServer;
    const CFTPClient& ActiveServer = fSourcePasv ? TargetFtpServer : SourceFtpServer;
    std::uint32_t ulIpAddress = 0;
    unsigned short ushPort = 0;
    if (PassiveServer.Passive(ulIpAddress, ushPort) != FTP_OK) return false;
    if (ActiveServer.DataPort(nsSocket::CSockAddr(ulIpAddress).DottedDecimal(), ushPort) != FTP_OK) return false;
    // The target is told to store before the source starts sending: a
    // server may open the data connection as soon as it has the address,
    // and data that reaches the target before its STOR can be lost there.
    if (!TargetFtpServer.SendCommand(CCommand::STOR(), CArg(strTargetFile))) return false;
    // A side whose data command is under way when the other fails is ended
    // with ABOR, and once both ran every final reply is read: replies left
    // unread would answer the next commands on those connections.
    CReply Reply;
    if (!SourceFtpServer.SendCommand(CCommand::RETR(), CArg(strSourceFile))) {
        TargetFtpServer.AbortUnfinishedTransfer();
        return false;
    }
    if (!TargetFtpServer.GetResponse(Reply) || !Reply.Code().IsPositivePreliminaryReply()) {
        SourceFtpServer.AbortUnfinishedTransfer();
        return false;
    }
    if (!SourceFtpServer.GetResponse(Reply) || !Reply.Code().IsPositivePreliminaryReply()) {
        TargetFtpServer.AbortUnfinishedTransfer();
        return false;
    }
    const bool fSent = SourceFtpServer.GetResponse(Reply) && Reply.Code().IsPositiveCompletionReply();
    const bool fStored = TargetFtpServer.GetResponse(Reply) && Reply.Code().IsPositiveCompletionReply();
    return fSent && fStored;
}

int CFTPClient::FileSize(const std::string& strPath, long long& lSize) const {
    CReply Reply;
    if (!SendCommand(CCommand::SIZE(), CArg(strPath), Reply)) return FTP_ERROR;
    lSize = NumberAfterCode(Reply.Value());
    return SimpleErrorCheck(Reply);
}

// ---------------------------------------------------------------- listings

namespace {

// A listing is held whole in memory: one that goes on past the cap is cut
// off by an abort, which ends the data connection like any failed transfer.
class CCappedListing : public COutputStream {
public:
    CCappedListing(const CFTPClient& client, const tstring& strEolCharacterSequence, const tstring& strStreamName)
        : COutputStream(strEolCharacterSequence, strStreamName), m_client(client) {}

    bool OnBytesReceived(const TByteVector& vBuffer, long long lReceivedBytes) override {
        const auto ulReceived = static_cast<std::uint64_t>(std::max(lReceivedBytes, 0LL));
        if (GetLocalStreamSize() + ulReceived > CFTPClient::kMaxListingBytes) {
            m_fCut = true;
            m_client.Abort();
            return true;
        }
        return COutputStream::OnBytesReceived(vBuffer, lReceivedBytes);
    }
    bool WasCut() const { return m_fCut; }

private:
    const CFTPClient& m_client;
    bool m_fCut = false;
};

// The next line from `at` on that ends in the separator and holds
// something: an empty line makes no entry. Without `pstrLine` it only counts.
bool NextListingLine(const std::string& strText, const std::string& strEol, std::size_t& at, std::string* pstrLine) {
    if (strEol.empty()) return false;
    for (;;) {
        const std::size_t end = strText.find(strEol, at);
        if (end == std::string::npos) return false;
        const std::size_t start = at;
        at = end + strEol.size();
        if (end == start) continue;
        if (pstrLine != nullptr) pstrLine->assign(strText, start, end - start);
        return true;
    }
}

// What List and NameList into strings make of a line.
auto PathPlusLine(const std::string& strPath) {
    return [&strPath](const std::string& strLine, std::string& strEntry) {
        strEntry = strPath + strLine;
        return true;
    };
}

}  // namespace

template <typename TEntry, typename TMakeEntry>
bool CFTPClient::ListEntries(const CCommand& crCommand, const std::string& strPath, bool fPasv,
                             std::vector<TEntry>& vEntries, TMakeEntry makeEntry) const {
    const auto reportCut = [&](const std::string& strWhat) {
        ReportError(crCommand.AsString() + " listing passed " + strWhat + " and was cut off.", kSourcePath,
                    kLineReceiveLoop);
    };
    CCappedListing outputStream(*this, mc_strEolCharacterSequence, crCommand.AsString());
    if (!ExecuteDatachannelCommand(crCommand, strPath, CRepresentation(CType::ASCII()), fPasv, 0, outputStream)) {
        if (outputStream.WasCut()) reportCut(std::to_string(kMaxListingBytes >> 20) + " MiB");
        return false;
    }
    const std::string& strText = outputStream.GetBuffer();
    // Counted first, so that the list is made at its size at once: grown
    // by doubling it would briefly need three times its slots.
    std::size_t nLines = 0;
    for (std::size_t at = 0; NextListingLine(strText, mc_strEolCharacterSequence, at, nullptr);) ++nLines;
    std::vector<TEntry> vMade;
    vMade.reserve(std::min<std::size_t>(nLines, kMaxListingEntries));
    std::string strLine;
    for (std::size_t at = 0; NextListingLine(strText, mc_strEolCharacterSequence, at, &strLine);) {
        TEntry entry;
        if (!makeEntry(strLine, entry)) continue;
        if (vMade.size() == kMaxListingEntries) {
            reportCut(std::to_string(kMaxListingEntries) + " entries");
            return false;
        }
        vMade.push_back(std::move(entry));
    }
    vEntries.swap(vMade);
    return true;
}

bool CFTPClient::List(const std::string& strPath, std::vector<std::string>& vstrFileList, bool fPasv) const {
    return ListEntries(CCommand::LIST(), strPath, fPasv, vstrFileList, PathPlusLine(strPath));
}

bool CFTPClient::NameList(const std::string& strPath, std::vector<std::string>& vstrFileList, bool fPasv) const {
    return ListEntries(CCommand::NLST(), strPath, fPasv, vstrFileList, PathPlusLine(strPath));
}

bool CFTPClient::List(const std::string& strPath, std::vector<std::shared_ptr<CFTPFileStatus>>& vFileList,
                      bool fPasv) const {
    assert(m_apFileListParser.get() && "m_apFileListParser.get()");
    if (!m_apFileListParser) return false;
    return ListEntries(CCommand::LIST(), strPath, fPasv, vFileList,
                       [this, &strPath](const std::string& strLine, std::shared_ptr<CFTPFileStatus>& spStatus) {
                           spStatus = std::make_shared<CFTPFileStatus>();
                           if (!m_apFileListParser->Parse(*spStatus, strLine)) return false;
                           spStatus->Path() = strPath;
                           return true;
                       });
}

bool CFTPClient::NameList(const std::string& strPath, std::vector<std::shared_ptr<CFTPFileStatus>>& vFileList,
                          bool fPasv) const {
    return ListEntries(CCommand::NLST(), strPath, fPasv, vFileList,
                       [&strPath](const std::string& strLine, std::shared_ptr<CFTPFileStatus>& spStatus) {
                           spStatus = std::make_shared<CFTPFileStatus>();
                           spStatus->Path() = strPath;
                           spStatus->Name() = strLine;
                           return true;
                       });
}

// ---------------------------------------------------------------- simple commands

int CFTPClient::CommandWithArgument(const CCommand& Command, const std::string& strArgument,
                                    const char* pchMissing) const {
    // An empty argument would send a command the server takes differently:
    // the observers are told instead.
    if (strArgument.empty()) {
        ReportError(pchMissing, kSourcePath, kLineSendCommand);
        return FTP_ERROR;
    }
    return SimpleCommand(Command, CArg(strArgument));
}

int CFTPClient::ChangeWorkingDirectory(const std::string& strDirectory) const {
    return CommandWithArgument(CCommand::CWD(), strDirectory, "CWD needs a directory name.");
}

int CFTPClient::MakeDirectory(const std::string& strDirectory) const {
    return CommandWithArgument(CCommand::MKD(), strDirectory, "MKD needs a directory name.");
}

int CFTPClient::ChangeToParentDirectory() const { return SimpleCommand(CCommand::CDUP()); }

int CFTPClient::PrintWorkingDirectory() const { return SimpleCommand(CCommand::PWD()); }

int CFTPClient::System() const { return SimpleCommand(CCommand::SYST()); }

int CFTPClient::Noop() const { return SimpleCommand(CCommand::NOOP()); }

int CFTPClient::RemoveDirectoryA(const std::string& strDirectory) const {
    return CommandWithArgument(CCommand::RMD(), strDirectory, "RMD needs a directory name.");
}

int CFTPClient::Delete(const std::string& strFile) const {
    return CommandWithArgument(CCommand::DELE(), strFile, "DELE needs a file name.");
}

int CFTPClient::SiteParameters(const std::string& strCmd) const {
    return CommandWithArgument(CCommand::SITE(), strCmd, "SITE needs a command.");
}

int CFTPClient::Help(const std::string& strTopic) const { return SimpleCommand(CCommand::HELP(), CArg(strTopic)); }

int CFTPClient::Status(const std::string& strPath) const { return SimpleCommand(CCommand::STAT(), CArg(strPath)); }

int CFTPClient::StructureMount(const std::string& strPath) const {
    return SimpleCommand(CCommand::SMNT(), CArg(strPath));
}

int CFTPClient::FileStructure(const CStructure& crStructure) const {
    return SimpleCommand(CCommand::STRU(), CArg(crStructure.AsString()));
}

int CFTPClient::TransferMode(const CTransferMode& crTransferMode) const {
    return SimpleCommand(CCommand::MODE(), CArg(crTransferMode.AsString()));
}

int CFTPClient::Allocate(int iReserveBytes, const int* piMaxPageOrRecordSize) const {
    CArg Arguments(std::to_string(static_cast<std::uint32_t>(iReserveBytes)));
    if (piMaxPageOrRecordSize != nullptr) {
        Arguments.push_back("R");
        Arguments.push_back(std::to_string(static_cast<std::uint32_t>(*piMaxPageOrRecordSize)));
    }
    return SimpleCommand(CCommand::ALLO(), Arguments);
}

int CFTPClient::Rename(const std::string& strOldName, const std::string& strNewName) const {
    CReply Reply;
    if (!SendCommand(CCommand::RNFR(), CArg(strOldName), Reply)) return FTP_ERROR;
    const char chDigit = FirstDigit(Reply);
    if (chDigit == '4' || chDigit == '5') return FTP_NOTOK;
    if (chDigit != '3') return FTP_ERROR;
    if (!SendCommand(CCommand::RNTO(), CArg(strNewName), Reply)) return FTP_ERROR;
    return SimpleErrorCheck(Reply);
}

int CFTPClient::Move(const std::string& strFullSourceFilePath, const std::string& strFullTargetFilePath) const {
    return Rename(strFullSourceFilePath, strFullTargetFilePath);
}

int CFTPClient::Reinitialize() const {
    CReply Reply;
    if (!SendCommand(CCommand::REIN(), CArg(), Reply)) return FTP_ERROR;
    switch (FirstDigit(Reply)) {
        case '2': return FTP_OK;
        case '1': return GetResponse(Reply) && Reply.Code().IsPositiveCompletionReply() ? FTP_OK : FTP_ERROR;
        case '4':
        case '5': return FTP_NOTOK;
        default: return FTP_ERROR;
    }
}

int CFTPClient::FileModificationTime(const std::string& strPath, std::string& strModificationTime) const {
    strModificationTime.clear();
    CReply Reply;
    if (!SendCommand(CCommand::MDTM(), CArg(strPath), Reply)) return FTP_ERROR;
    const std::string& strText = Reply.Value();
    if (strText.size() >= 18) {
        std::string strTime = strText.substr(4);
        const std::size_t dot = strTime.find('.');
        if (dot != std::string::npos) strTime.resize(dot);
        if (strTime.size() == 14) strModificationTime = strTime;
    }
    if (strModificationTime.empty()) return FTP_ERROR;
    return SimpleErrorCheck(Reply);
}

int CFTPClient::FileModificationTime(const std::string& strPath, tm& tmModificationTime) const {
    std::string strTime;
    const int iRet = FileModificationTime(strPath, strTime);
    tmModificationTime = tm();
    if (iRet == FTP_OK) {
        const auto field = [&strTime](std::size_t at, std::size_t length) {
            return static_cast<int>(std::strtol(strTime.substr(at, length).c_str(), nullptr, 10));
        };
        tmModificationTime.tm_year = field(0, 4) - 1900;
        tmModificationTime.tm_mon = field(4, 2) - 1;
        tmModificationTime.tm_mday = field(6, 2);
        tmModificationTime.tm_hour = field(8, 2);
        tmModificationTime.tm_min = field(10, 2);
        tmModificationTime.tm_sec = field(12, 2);
    }
    return iRet;
}

#undef NOTIFY_OBSERVERS

// ---------------------------------------------------------------- local file

CFile::~CFile() { Close(); }

bool CFile::Open(const tstring& strFileName, const tstring& strMode) {
    Close();
    m_strFileName = strFileName;
    m_iLastError = 0;
    if (strMode.find('r') != tstring::npos && strMode.find('+') == tstring::npos) {
        // A directory or a FIFO would open for reading and then fail or block
        // half-way through the transfer; only a regular file opens.
        const int fd = platform::openFileForRead(strFileName.c_str());
        if (fd == platform::kInvalidFile) return false;
        m_pFile = ::fdopen(fd, strMode.c_str());
        if (m_pFile == nullptr) {
            const int iError = errno;
            platform::closeFile(fd);
            errno = iError;
        }
        return m_pFile != nullptr;
    }
    m_pFile = std::fopen(strFileName.c_str(), (strMode + "e").c_str());
    return m_pFile != nullptr;
}

bool CFile::Close() {
    if (m_pFile == nullptr) return m_iLastError == 0;
    if (std::fclose(m_pFile) != 0 && m_iLastError == 0) m_iLastError = SystemErrorOr(EIO);
    m_pFile = nullptr;
    return m_iLastError == 0;
}

std::uint64_t CFile::GetLocalStreamSize() const {
    if (m_pFile == nullptr) return 0;
    const off_t position = ::ftello(m_pFile);
    if (::fseeko(m_pFile, 0, SEEK_END) != 0) return 0;
    const off_t size = ::ftello(m_pFile);
    ::fseeko(m_pFile, position, SEEK_SET);
    return size < 0 ? 0 : static_cast<std::uint64_t>(size);
}

void CFile::SetLocalStreamOffset(std::uint64_t dwOffsetFromBeginOfStream) {
    if (m_pFile == nullptr) return;
    const auto offset = static_cast<off_t>(std::min<std::uint64_t>(dwOffsetFromBeginOfStream, LLONG_MAX));
    ::fseeko(m_pFile, offset, SEEK_SET);
}

bool CFile::OnBytesReceived(const TByteVector& vBuffer, long long lReceivedBytes) {
    if (m_pFile == nullptr || lReceivedBytes <= 0) return true;
    const auto count = static_cast<std::size_t>(std::min<long long>(lReceivedBytes, static_cast<long long>(vBuffer.size())));
    if (std::fwrite(vBuffer.data(), 1, count, m_pFile) == count) return true;
    m_iLastError = SystemErrorOr(EIO);
    errno = m_iLastError;
    return false;
}

bool CFile::OnPreBytesSend(char* pszBuffer, std::size_t bufferSize, std::size_t& bytesToSend) {
    bytesToSend = 0;
    if (m_pFile == nullptr || bufferSize == 0) return true;
    bytesToSend = std::fread(pszBuffer, 1, bufferSize, m_pFile);
    if (bytesToSend != 0 || !std::ferror(m_pFile)) return true;
    m_iLastError = SystemErrorOr(EIO);
    errno = m_iLastError;
    return false;
}

// ---------------------------------------------------------------- text stream

class COutputStream::CPimpl {
public:
    CPimpl(const tstring& strEolCharacterSequence, const tstring& strStreamName)
        : mc_strEolCharacterSequence(strEolCharacterSequence), m_strStreamName(strStreamName) {}

    const tstring mc_strEolCharacterSequence;
    tstring m_vBuffer;
    // An index rather than an iterator, so a growing text cannot leave it dangling.
    std::size_t m_itCurrentPos = 0;
    tstring m_strStreamName;
};

COutputStream::COutputStream(const tstring& strEolCharacterSequence, const tstring& strStreamName)
    : m_spPimpl(std::make_shared<CPimpl>(strEolCharacterSequence, strStreamName)) {}

tstring COutputStream::GetLocalStreamName() const { return m_spPimpl->m_strStreamName; }

std::uint64_t COutputStream::GetLocalStreamSize() const { return m_spPimpl->m_vBuffer.size(); }

void COutputStream::SetLocalStreamOffset(std::uint64_t dwOffsetFromBeginOfStream) {
    m_spPimpl->m_itCurrentPos =
        static_cast<std::size_t>(std::min<std::uint64_t>(dwOffsetFromBeginOfStream, m_spPimpl->m_vBuffer.size()));
}

bool COutputStream::OnBytesReceived(const TByteVector& vBuffer, long long lReceivedBytes) {
    if (lReceivedBytes >= 1) {
        const auto count = static_cast<std::size_t>(std::min<long long>(lReceivedBytes, static_cast<long long>(vBuffer.size())));
        m_spPimpl->m_vBuffer.append(vBuffer.data(), count);
    }
    return true;
}

bool COutputStream::OnPreBytesSend(char* pszBuffer, std::size_t bufferSize, std::size_t& bytesToSend) {
    CPimpl& impl = *m_spPimpl;
    const std::size_t position = std::min(impl.m_itCurrentPos, impl.m_vBuffer.size());
    bytesToSend = std::min(bufferSize, impl.m_vBuffer.size() - position);
    std::memcpy(pszBuffer, impl.m_vBuffer.data() + position, bytesToSend);
    impl.m_itCurrentPos = position + bytesToSend;
    return true;
}

void COutputStream::SetBuffer(const tstring& strBuffer) { m_spPimpl->m_vBuffer = strBuffer; }

const tstring& COutputStream::GetBuffer() const { return m_spPimpl->m_vBuffer; }

void COutputStream::SetStartPosition() { m_spPimpl->m_itCurrentPos = 0; }

bool COutputStream::GetNextLine(tstring& strLine) const {
    CPimpl& impl = *m_spPimpl;
    const std::size_t position = std::min(impl.m_itCurrentPos, impl.m_vBuffer.size());
    const std::size_t found = impl.m_vBuffer.find(impl.mc_strEolCharacterSequence, position);
    if (found == tstring::npos || impl.mc_strEolCharacterSequence.empty()) return false;
    strLine = impl.m_vBuffer.substr(position, found - position);
    impl.m_itCurrentPos = found + impl.mc_strEolCharacterSequence.size();
    return true;
}

std::string& ReplaceStr(std::string& strTarget, const std::string& strToReplace, const std::string& strReplacement) {
    // An empty search text would match everywhere without end.
    if (strToReplace.empty()) return strTarget;
    // The search resumes one character into the inserted text, unless the
    // replacement holds the search text there: that would never end.
    const std::size_t step =
        strReplacement.find(strToReplace, 1) == std::string::npos ? 1 : std::max<std::size_t>(strReplacement.size(), 1);
    std::size_t at = strTarget.find(strToReplace);
    while (at != std::string::npos) {
        strTarget.replace(at, strToReplace.size(), strReplacement);
        at = strTarget.find(strToReplace, at + step);
    }
    return strTarget;
}

}  // namespace nsFTP
