// The client side of one FTP login over one control connection: commands and
// replies, the logon (direct or through a firewall), data connections
// (passive and active), uploads and downloads with resume, listings and the
// simple commands. Observers watch every command, reply and data block.
//
// Sizes and offsets are 64-bit throughout: recordings pass 2 GiB.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <queue>
#include <string>
#include <vector>

#include "BlockingSocket.h"
#include "FTPDataTypes.h"

namespace nsFTP {

class IFileListParser;
class CFTPFileStatus;

enum T_enConstants {
    FTP_OK = 0,
    FTP_NOTOK = 1,
    FTP_ERROR = -1,
    DEFAULT_FTP_PORT = 21,
};

class CFTPClient {
public:
    class CNotification;

    class TObserverSet : public nsHelper::CObserverPatternBase<CNotification*, TObserverSet*> {
    public:
        TObserverSet() : CObserverPatternBase(this) {}
    };

    // The observer interface; every operation has an empty default body.
    class CNotification : public nsHelper::CObserverPatternBase<TObserverSet*, CNotification*> {
    public:
        CNotification() : CObserverPatternBase(this) {}
        ~CNotification() override = default;

        virtual void OnInternalError(const tstring& /*strErrorMsg*/, const tstring& /*strFileName*/,
                                     std::uint32_t /*dwLineNr*/) {}
        virtual void OnBeginReceivingData() {}
        virtual void OnEndReceivingData(long long /*lReceivedBytes*/) {}
        virtual void OnBytesReceived(const TByteVector& /*vBuffer*/, long long /*lReceivedBytes*/) {}
        virtual void OnBytesSent(const TByteVector& /*vBuffer*/, long long /*lSentBytes*/) {}
        virtual void OnPreReceiveFile(const tstring& /*strSourceFile*/, const tstring& /*strTargetFile*/,
                                      long long /*lFileSize*/) {}
        virtual void OnPreSendFile(const tstring& /*strSourceFile*/, const tstring& /*strTargetFile*/,
                                   long long /*lFileSize*/) {}
        virtual void OnPostReceiveFile(const tstring& /*strSourceFile*/, const tstring& /*strTargetFile*/,
                                       long long /*lFileSize*/) {}
        virtual void OnPostSendFile(const tstring& /*strSourceFile*/, const tstring& /*strTargetFile*/,
                                    long long /*lFileSize*/) {}
        virtual void OnSendCommand(const CCommand& /*Command*/, const CArg& /*Arguments*/) {}
        virtual void OnResponse(const CReply& /*Reply*/) {}
        // The sending pair of OnBeginReceivingData and OnEndReceivingData.
        // Begin: the data connection is ready, the first block comes next.
        // End: every byte sent has arrived (the server closed the data
        // connection and acknowledged them all), which on a slow link is
        // long after the last block was written. Not notified when the
        // transfer fails or is aborted.
        virtual void OnBeginSendingData() {}
        virtual void OnEndSendingData(long long /*lSentBytes*/) {}
    };

    // The source or sink of one transfer.
    class ITransferNotification : public IInterface {
    public:
        virtual tstring GetLocalStreamName() const = 0;
        virtual std::uint64_t GetLocalStreamSize() const = 0;
        virtual void SetLocalStreamOffset(std::uint64_t dwOffsetFromBeginOfStream) = 0;
        // False when the block could not be stored: the transfer fails.
        virtual bool OnBytesReceived(const TByteVector& /*vBuffer*/, long long /*lReceivedBytes*/) { return true; }
        // bytesToSend 0 means the end; false when the source could not be read.
        virtual bool OnPreBytesSend(char* /*pszBuffer*/, std::size_t /*bufferSize*/, std::size_t& bytesToSend) {
            bytesToSend = 0;
            return true;
        }
    };

    CFTPClient(std::shared_ptr<nsSocket::IBlockingSocket> apSocket, unsigned int uiTimeout,
               unsigned int uiBufferSize, unsigned int uiResponseWait, const std::string& strRemoteDirectorySeparator);
    virtual ~CFTPClient();
    CFTPClient(const CFTPClient&) = delete;
    CFTPClient& operator=(const CFTPClient&) = delete;

    void setUiTimeout(unsigned int uiTimeout) { mc_uiTimeout = uiTimeout; }
    void setUiResponseWait(unsigned int uiResponseWait) { mc_uiResponseWait = uiResponseWait; }

    void AttachObserver(CNotification* pObserver);
    void DetachObserver(CNotification* pObserver);
    void SetFileListParser(std::shared_ptr<IFileListParser> apFileListParser);
    bool IsConnected() const;
    bool IsTransferringData() const { return m_fTransferInProgress; }
    void SetResumeMode(bool fEnable) { m_fResumeIfPossible = fEnable; }
    bool IsResumeModeEnabled() const { return m_fResumeIfPossible; }

    bool Login(const CLogonInfo& logonInfo);
    int Logout();
    const CLogonInfo& LastLogonInfo() const { return m_LastLogonInfo; }
    int Abort() const;

    // ---- listings and transfers
    // A listing is held in memory whole: one of more than kMaxListingBytes
    // fails (OnInternalError says so) and its data connection is ended.
    static constexpr std::uint64_t kMaxListingBytes = 16 * 1024 * 1024;
    // Short lines make many entries out of few bytes, and a file status
    // costs some 300 bytes (the object with its shared pointer's count, and
    // the list's slot). A listing that would make more entries than this
    // fails the same way, and the caller's list stays as it was. With both
    // caps a listing's text and entries stay below 400 MiB, whatever its
    // lines; only the path asked for, copied into every entry, adds to it.
    // Empty lines make no entry.
    static constexpr std::size_t kMaxListingEntries = 1024 * 1024;
    bool List(const std::string& strPath, std::vector<std::string>& vstrFileList, bool fPasv = false) const;
    bool NameList(const std::string& strPath, std::vector<std::string>& vstrFileList, bool fPasv = false) const;
    bool List(const std::string& strPath, std::vector<std::shared_ptr<CFTPFileStatus>>& vFileList,
              bool fPasv = false) const;
    bool NameList(const std::string& strPath, std::vector<std::shared_ptr<CFTPFileStatus>>& vFileList,
                  bool fPasv = false) const;

    bool DownloadFile(const std::string& strRemoteFile, const std::string& strLocalFile,
                      const CRepresentation& repType = CRepresentation(CType::Image()), bool fPasv = false) const;
    bool DownloadFile(const std::string& strRemoteFile, ITransferNotification& Observer,
                      const CRepresentation& repType = CRepresentation(CType::Image()), bool fPasv = false) const;
    bool DownloadFile(const std::string& strSourceFile, const CFTPClient& TargetFtpServer,
                      const std::string& strTargetFile, const CRepresentation& repType = CRepresentation(CType::Image()),
                      bool fPasv = true) const;

    bool UploadFile(const std::string& strLocalFile, const std::string& strRemoteFile, bool fStoreUnique = false,
                    const CRepresentation& repType = CRepresentation(CType::Image()), bool fPasv = false) const;
    bool UploadFile(ITransferNotification& Observer, const std::string& strRemoteFile, bool fStoreUnique = false,
                    const CRepresentation& repType = CRepresentation(CType::Image()), bool fPasv = false) const;
    bool UploadFile(const CFTPClient& SourceFtpServer, const std::string& strSourceFile,
                    const std::string& strTargetFile, const CRepresentation& repType = CRepresentation(CType::Image()),
                    bool fPasv = true) const;

    static bool TransferFile(const CFTPClient& SourceFtpServer, const std::string& strSourceFile,
                             const CFTPClient& TargetFtpServer, const std::string& strTargetFile,
                             const CRepresentation& repType = CRepresentation(CType::Image()),
                             bool fSourcePasv = true);

    // ---- simple commands
    int ChangeWorkingDirectory(const std::string& strDirectory) const;
    int MakeDirectory(const std::string& strDirectory) const;
    int ChangeToParentDirectory() const;
    int PrintWorkingDirectory() const;
    int System() const;
    int Noop() const;
    int RemoveDirectoryA(const std::string& strDirectory) const;
    int Delete(const std::string& strFile) const;
    int Rename(const std::string& strOldName, const std::string& strNewName) const;
    int Move(const std::string& strFullSourceFilePath, const std::string& strFullTargetFilePath) const;
    int SiteParameters(const std::string& strCmd) const;
    int Help(const std::string& strTopic = std::string()) const;
    int Status(const std::string& strPath = std::string()) const;
    int StructureMount(const std::string& strPath) const;
    int FileStructure(const CStructure& crStructure) const;
    int TransferMode(const CTransferMode& crTransferMode) const;
    int Allocate(int iReserveBytes, const int* piMaxPageOrRecordSize = nullptr) const;
    int Reinitialize() const;
    int FileModificationTime(const std::string& strPath, std::string& strModificationTime) const;
    int FileModificationTime(const std::string& strPath, tm& tmModificationTime) const;

    // ---- data-channel parameters
    int FileSize(const std::string& strPath, long long& lSize) const;
    int RepresentationType(const CRepresentation& representation, std::uint32_t dwSize = 0) const;
    // The server's data address in host order. A reply that names another
    // host than the control connection's peer gives the peer's address.
    int Passive(std::uint32_t& ulIpAddress, unsigned short& ushPort) const;
    int DataPort(const std::string& strHostIP, unsigned short ushPort) const;
    int Restart(std::uint64_t dwPosition) const;

protected:
    TObserverSet& GetObservers() const { return m_setObserver; }
    bool ExecuteDatachannelCommand(const CCommand& crDatachannelCmd, const std::string& strPath,
                                   const CRepresentation& representation, bool fPasv, std::uint64_t dwByteOffset,
                                   ITransferNotification& Observer) const;

private:
    using TDeadline = std::chrono::steady_clock::time_point;

    int TimeoutSecs() const;
    int TimeoutSecs(const TDeadline* pDeadline) const;
    bool SendCommand(const CCommand& Command, const CArg& Arguments) const;
    bool SendCommand(const CCommand& Command, const CArg& Arguments, CReply& Reply) const;
    // The whole reply within the deadline; without one, within one time-out.
    bool GetResponse(CReply& Reply, const TDeadline* pDeadline = nullptr) const;
    // fReceived: whether this reply has read from the socket yet.
    bool GetSingleResponseLine(std::string& strResponse, const TDeadline& deadline, bool& fReceived) const;
    // True when the server closed the connection.
    bool FillResponseQueue(const TDeadline& deadline) const;
    int AbortUnfinishedTransfer() const;
    int ReadAbortReplies() const;
    int SimpleErrorCheck(const CReply& Reply) const;
    int SimpleCommand(const CCommand& Command, const CArg& Arguments = CArg()) const;
    // SimpleCommand for a command whose one argument may not be empty.
    int CommandWithArgument(const CCommand& Command, const std::string& strArgument, const char* pchMissing) const;
    bool OpenControlChannel(const std::string& strServerHost, unsigned short ushServerPort);
    void CloseControlChannel() const;
    void ReportError(const std::string& strErrorMsg, const std::string& strFile, std::uint32_t dwLineNr) const;
    void ReportSocketError(const nsSocket::CBlockingSocketException& blockingException, std::uint32_t dwLineNr,
                           nsSocket::IBlockingSocket& sckConcerned) const;
    bool RunLogonSequence(const CLogonInfo& logonInfo, const std::string& strHostnamePort);

    int _RepresentationType(const CRepresentation& representation, std::uint32_t dwSize) const;
    bool OpenPassiveDataConnection(nsSocket::IBlockingSocket& sckDataConnection, const CCommand& crDatachannelCmd,
                                   const std::string& strPath, std::uint64_t dwByteOffset) const;
    bool OpenActiveDataConnection(nsSocket::IBlockingSocket& sckDataConnection, const CCommand& crDatachannelCmd,
                                  const std::string& strPath, std::uint64_t dwByteOffset) const;
    bool RestartIfNeeded(const CCommand& crDatachannelCmd, std::uint64_t dwByteOffset) const;
    bool AcceptFromServer(const nsSocket::IBlockingSocket& sckListen,
                          nsSocket::IBlockingSocket& sckDataConnection) const;
    bool TransferData(const CCommand& crDatachannelCmd, ITransferNotification& Observer,
                      nsSocket::IBlockingSocket& sckDataConnection) const;
    bool SendData(ITransferNotification& Observer, nsSocket::IBlockingSocket& sckDataConnection) const;
    bool ReceiveData(ITransferNotification& Observer, nsSocket::IBlockingSocket& sckDataConnection) const;
    bool EndTransferLoop(bool fLocalFailure) const;
    bool GetIpAddressFromResponse(const std::string& strResponse, std::uint32_t& ulIpAddress,
                                  unsigned short& ushPort) const;
    // makeEntry(line, entry) gives whether the line made an entry.
    template <typename TEntry, typename TMakeEntry>
    bool ListEntries(const CCommand& crCommand, const std::string& strPath, bool fPasv,
                     std::vector<TEntry>& vEntries, TMakeEntry makeEntry) const;

    unsigned int mc_uiTimeout;
    unsigned int mc_uiResponseWait;
    const std::string mc_strEolCharacterSequence;
    const std::string mc_strRemoteDirectorySeparator;
    mutable TByteVector m_vBuffer;
    mutable std::queue<std::string> m_qResponseBuffer;
    mutable std::unique_ptr<CRepresentation> m_apCurrentRepresentation;
    std::shared_ptr<nsSocket::IBlockingSocket> m_apSckControlConnection;
    std::shared_ptr<IFileListParser> m_apFileListParser;
    mutable bool m_fTransferInProgress;
    mutable bool m_fAbortTransfer;
    bool m_fResumeIfPossible;
    mutable TObserverSet m_setObserver;
    CLogonInfo m_LastLogonInfo;
};

// A local file as the source or sink of a transfer.
class CFile : public CFTPClient::ITransferNotification {
public:
    CFile() = default;
    ~CFile() override;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // A file already open is closed first.
    bool Open(const tstring& strFileName, const tstring& strMode);
    // False when the file could not be written out completely.
    bool Close();
    bool IsOpen() const { return m_pFile != nullptr; }
    // The errno of the last failed read, write or close; 0 when none failed.
    int LastError() const { return m_iLastError; }

    tstring GetLocalStreamName() const override { return m_strFileName; }
    std::uint64_t GetLocalStreamSize() const override;
    void SetLocalStreamOffset(std::uint64_t dwOffsetFromBeginOfStream) override;
    bool OnBytesReceived(const TByteVector& vBuffer, long long lReceivedBytes) override;
    bool OnPreBytesSend(char* pszBuffer, std::size_t bufferSize, std::size_t& bytesToSend) override;

private:
    FILE* m_pFile = nullptr;
    tstring m_strFileName;
    int m_iLastError = 0;
};

// Text in memory as the source or sink of a transfer; copies share one text.
class COutputStream : public CFTPClient::ITransferNotification {
public:
    COutputStream(const tstring& strEolCharacterSequence, const tstring& strStreamName);

    tstring GetLocalStreamName() const override;
    std::uint64_t GetLocalStreamSize() const override;
    void SetLocalStreamOffset(std::uint64_t dwOffsetFromBeginOfStream) override;
    bool OnBytesReceived(const TByteVector& vBuffer, long long lReceivedBytes) override;
    bool OnPreBytesSend(char* pszBuffer, std::size_t bufferSize, std::size_t& bytesToSend) override;

    void SetBuffer(const tstring& strBuffer);
    const tstring& GetBuffer() const;
    void SetStartPosition();
    bool GetNextLine(tstring& strLine) const;

private:
    class CPimpl;
    std::shared_ptr<CPimpl> m_spPimpl;
};

std::string& ReplaceStr(std::string& strTarget, const std::string& strToReplace, const std::string& strReplacement);

}  // namespace nsFTP
