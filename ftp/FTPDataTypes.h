// FTP value types shared by the client, its observers and the listing parser:
// representation letters, firewall logon schemes, the logon record, commands
// with their table, replies, the two-way observer registration and small
// text helpers.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace nsFTP {

typedef std::string tstring;
typedef std::vector<char> TByteVector;

// The empty root of the FTP interfaces.
class IInterface {
public:
    virtual ~IInterface() = default;
};

// ---------------------------------------------------------------- representation letters

class CStructure {
public:
    enum TFileStructureEnum { scFile, scRecord, scPage };
    CStructure(TFileStructureEnum enStructure) : m_enStructure(enStructure) {}
    bool operator==(const CStructure& rhs) const { return m_enStructure == rhs.m_enStructure; }
    bool operator!=(const CStructure& rhs) const { return !(*this == rhs); }
    bool operator==(TFileStructureEnum rhs) const { return m_enStructure == rhs; }
    bool operator!=(TFileStructureEnum rhs) const { return m_enStructure != rhs; }
    TFileStructureEnum AsEnum() const { return m_enStructure; }
    tstring AsString() const;
    static CStructure File() { return scFile; }
    static CStructure Record() { return scRecord; }
    static CStructure Page() { return scPage; }

private:
    TFileStructureEnum m_enStructure;
};

class CTransferMode {
public:
    enum TTransferModeEnum { tmStream, tmBlock, tmCompressed };
    CTransferMode(TTransferModeEnum enTransferMode) : m_enTransferMode(enTransferMode) {}
    bool operator==(const CTransferMode& rhs) const { return m_enTransferMode == rhs.m_enTransferMode; }
    bool operator!=(const CTransferMode& rhs) const { return !(*this == rhs); }
    bool operator==(TTransferModeEnum rhs) const { return m_enTransferMode == rhs; }
    bool operator!=(TTransferModeEnum rhs) const { return m_enTransferMode != rhs; }
    TTransferModeEnum AsEnum() const { return m_enTransferMode; }
    tstring AsString() const;
    static CTransferMode Stream() { return tmStream; }
    static CTransferMode Block() { return tmBlock; }
    static CTransferMode Compressed() { return tmCompressed; }

private:
    TTransferModeEnum m_enTransferMode;
};

class CType {
public:
    enum TTypeEnum { tyASCII, tyEBCDIC, tyImage, tyLocalByte };
    CType(TTypeEnum enType) : m_enType(enType) {}
    bool operator==(const CType& rhs) const { return m_enType == rhs.m_enType; }
    bool operator!=(const CType& rhs) const { return !(*this == rhs); }
    bool operator==(TTypeEnum rhs) const { return m_enType == rhs; }
    bool operator!=(TTypeEnum rhs) const { return m_enType != rhs; }
    TTypeEnum AsEnum() const { return m_enType; }
    tstring AsString() const;
    static CType ASCII() { return tyASCII; }
    static CType EBCDIC() { return tyEBCDIC; }
    static CType Image() { return tyImage; }
    static CType LocalByte() { return tyLocalByte; }

private:
    TTypeEnum m_enType;
};

class CTypeFormat {
public:
    enum TTypeFormatEnum { tfInvalid, tfNonPrint, tfTelnetFormat, tfCarriageControl };
    CTypeFormat() : m_enTypeFormat(tfInvalid) {}
    CTypeFormat(TTypeFormatEnum enTypeFormat) : m_enTypeFormat(enTypeFormat) {}
    bool operator==(const CTypeFormat& rhs) const { return m_enTypeFormat == rhs.m_enTypeFormat; }
    bool operator!=(const CTypeFormat& rhs) const { return !(*this == rhs); }
    bool operator==(TTypeFormatEnum rhs) const { return m_enTypeFormat == rhs; }
    bool operator!=(TTypeFormatEnum rhs) const { return m_enTypeFormat != rhs; }
    TTypeFormatEnum AsEnum() const { return m_enTypeFormat; }
    bool IsValid() const { return m_enTypeFormat != tfInvalid; }
    tstring AsString() const;
    static CTypeFormat NonPrint() { return tfNonPrint; }
    static CTypeFormat TelnetFormat() { return tfTelnetFormat; }
    static CTypeFormat CarriageControl() { return tfCarriageControl; }

private:
    TTypeFormatEnum m_enTypeFormat;
};

class CRepresentation {
public:
    CRepresentation(const CType& type) : m_Type(type) {}
    CRepresentation(const CType& type, const CTypeFormat& format) : m_Type(type), m_Format(format) {}
    bool operator==(const CRepresentation& rhs) const { return m_Type == rhs.m_Type && m_Format == rhs.m_Format; }
    bool operator!=(const CRepresentation& rhs) const { return !(*this == rhs); }
    const CType& Type() const { return m_Type; }
    const CTypeFormat& Format() const { return m_Format; }

private:
    CType m_Type;
    CTypeFormat m_Format;
};

// ---------------------------------------------------------------- firewall and logon

class CFirewallType {
public:
    enum TFirewallTypeEnum {
        ftNone,
        ftSiteHostName,
        ftUserAfterLogon,
        ftProxyOpen,
        ftTransparent,
        ftUserWithNoLogon,
        ftUserFireIDatRemotehost,
        ftUserRemoteIDatRemoteHostFireID,
        ftUserRemoteIDatFireIDatRemoteHost
    };
    CFirewallType() : m_enFirewallType(ftNone) {}
    CFirewallType(TFirewallTypeEnum enFirewallType) : m_enFirewallType(enFirewallType) {}
    bool operator==(const CFirewallType& rhs) const { return m_enFirewallType == rhs.m_enFirewallType; }
    bool operator!=(const CFirewallType& rhs) const { return !(*this == rhs); }
    bool operator==(TFirewallTypeEnum rhs) const { return m_enFirewallType == rhs; }
    bool operator!=(TFirewallTypeEnum rhs) const { return m_enFirewallType != rhs; }
    TFirewallTypeEnum AsEnum() const { return m_enFirewallType; }
    tstring AsDisplayString() const;
    tstring AsStorageString() const;
    static void GetAllTypes(std::vector<CFirewallType>& vTypes);

    static CFirewallType None() { return ftNone; }
    static CFirewallType SiteHostName() { return ftSiteHostName; }
    static CFirewallType UserAfterLogon() { return ftUserAfterLogon; }
    static CFirewallType ProxyOpen() { return ftProxyOpen; }
    static CFirewallType Transparent() { return ftTransparent; }
    static CFirewallType UserWithNoLogon() { return ftUserWithNoLogon; }
    static CFirewallType UserFireIDatRemotehost() { return ftUserFireIDatRemotehost; }
    static CFirewallType UserRemoteIDatRemoteHostFireID() { return ftUserRemoteIDatRemoteHostFireID; }
    static CFirewallType UserRemoteIDatFireIDatRemoteHost() { return ftUserRemoteIDatFireIDatRemoteHost; }

private:
    TFirewallTypeEnum m_enFirewallType;
};

extern const char* const ANONYMOUS_USER;

class CLogonInfo {
public:
    CLogonInfo();
    CLogonInfo(const tstring& strHostname, unsigned short ushHostport = 21, const tstring& strUsername = ANONYMOUS_USER,
               const tstring& strPassword = tstring(), const tstring& strAccount = tstring());
    CLogonInfo(const tstring& strHostname, unsigned short ushHostport, const tstring& strUsername,
               const tstring& strPassword, const tstring& strAccount, const tstring& strFwHostname,
               const tstring& strFwUsername, const tstring& strFwPassword, unsigned short ushFwPort,
               const CFirewallType& crFwType);

    void SetHost(const tstring& strHostname, unsigned short ushHostport = 21,
                 const tstring& strUsername = ANONYMOUS_USER, const tstring& strPassword = tstring(),
                 const tstring& strAccount = tstring());
    void SetFirewall(const tstring& strFwHostname, const tstring& strFwUsername, const tstring& strFwPassword,
                     unsigned short ushFwPort, const CFirewallType& crFwType);
    // Back to a direct logon: firewall fields empty, port 21, no firewall.
    void DisableFirewall();

    const tstring& Hostname() const { return m_strHostname; }
    unsigned short Hostport() const { return m_ushHostport; }
    const tstring& Username() const { return m_strUsername; }
    const tstring& Password() const { return m_strPassword; }
    const tstring& Account() const { return m_strAccount; }
    const tstring& FwHost() const { return m_strFwHostname; }
    const tstring& FwUsername() const { return m_strFwUsername; }
    const tstring& FwPassword() const { return m_strFwPassword; }
    unsigned short FwPort() const { return m_ushFwPort; }
    const CFirewallType& FwType() const { return m_FwType; }

private:
    tstring m_strHostname;
    unsigned short m_ushHostport;
    tstring m_strUsername;
    tstring m_strPassword;
    tstring m_strAccount;
    tstring m_strFwHostname;
    tstring m_strFwUsername;
    tstring m_strFwPassword;
    unsigned short m_ushFwPort;
    CFirewallType m_FwType;
};

// ---------------------------------------------------------------- commands

class CArg : public std::vector<tstring> {
public:
    CArg() = default;
    CArg(const tstring& strArgument) { push_back(strArgument); }
    CArg(const tstring& strFirst, const tstring& strSecond) {
        push_back(strFirst);
        push_back(strSecond);
    }
    CArg(const tstring& strFirst, const tstring& strSecond, const tstring& strThird) {
        push_back(strFirst);
        push_back(strSecond);
        push_back(strThird);
    }
};

class CCommand {
public:
    enum TCommandEnum {
        cmdABOR, cmdACCT, cmdALLO, cmdAPPE, cmdCDUP, cmdCWD, cmdDELE, cmdHELP, cmdLIST, cmdMDTM,
        cmdMKD, cmdMODE, cmdNLST, cmdNOOP, cmdOPEN, cmdPASS, cmdPASV, cmdPORT, cmdPWD, cmdQUIT,
        cmdREIN, cmdREST, cmdRETR, cmdRMD, cmdRNFR, cmdRNTO, cmdSITE, cmdSIZE, cmdSMNT, cmdSTAT,
        cmdSTOR, cmdSTOU, cmdSTRU, cmdSYST, cmdTYPE, cmdUSER
    };
    enum TSpecificationEnum { Unknown, RFC959, RFC3659 };
    enum TTypeEnum { DatachannelRead, DatachannelWrite, NonDatachannel };

    class IExtendedInfo : public IInterface {
    public:
        virtual const tstring& GetServerString() const = 0;
        virtual const tstring& GetCompleteServerStringSyntax() const = 0;
        virtual unsigned int GetNumberOfParameters() const = 0;
        virtual unsigned int GetNumberOfOptionalParameters() const = 0;
        virtual TSpecificationEnum GetSpecification() const = 0;
        virtual TTypeEnum GetType() const = 0;
    };

    class CExtendedInfo : public IExtendedInfo {
    public:
        CExtendedInfo(const tstring& strServerString, const tstring& strCompleteServerStringSyntax,
                      unsigned int uiNumberOfParameters, unsigned int uiNumberOfOptionalParameters,
                      TSpecificationEnum enSpecification, TTypeEnum enType)
            : m_strServerString(strServerString),
              m_strCompleteServerStringSyntax(strCompleteServerStringSyntax),
              m_uiNumberOfParameters(uiNumberOfParameters),
              m_uiNumberOfOptionalParameters(uiNumberOfOptionalParameters),
              m_enSpecification(enSpecification),
              m_enType(enType) {}
        const tstring& GetServerString() const override { return m_strServerString; }
        const tstring& GetCompleteServerStringSyntax() const override { return m_strCompleteServerStringSyntax; }
        unsigned int GetNumberOfParameters() const override { return m_uiNumberOfParameters; }
        unsigned int GetNumberOfOptionalParameters() const override { return m_uiNumberOfOptionalParameters; }
        TSpecificationEnum GetSpecification() const override { return m_enSpecification; }
        TTypeEnum GetType() const override { return m_enType; }

    private:
        const tstring m_strServerString;
        const tstring m_strCompleteServerStringSyntax;
        const unsigned int m_uiNumberOfParameters;
        const unsigned int m_uiNumberOfOptionalParameters;
        const TSpecificationEnum m_enSpecification;
        const TTypeEnum m_enType;
    };

    // The command table: one entry per command, built on first use.
    class CCmd2Info : public std::map<TCommandEnum, std::shared_ptr<CExtendedInfo>> {
    public:
        static const IExtendedInfo& Get(TCommandEnum enCommand);
        static CCmd2Info& GetInstance();

    private:
        CCmd2Info();
        void Insert(TCommandEnum enCommand, const tstring& strServerString, const tstring& strSyntax,
                    unsigned int uiParameters, unsigned int uiOptionalParameters, TSpecificationEnum enSpecification,
                    TTypeEnum enType);
    };

    CCommand(TCommandEnum enCommand) : m_enCommand(enCommand) {}
    bool operator==(const CCommand& rhs) const { return m_enCommand == rhs.m_enCommand; }
    bool operator!=(const CCommand& rhs) const { return !(*this == rhs); }
    bool operator==(TCommandEnum rhs) const { return m_enCommand == rhs; }
    bool operator!=(TCommandEnum rhs) const { return m_enCommand != rhs; }
    TCommandEnum AsEnum() const { return m_enCommand; }
    // The command word.
    tstring AsString() const;
    // The word, then one blank before each argument that is not empty; no line end.
    tstring AsString(const CArg& Arguments) const;
    const IExtendedInfo& GetExtendedInfo() const { return CCmd2Info::Get(m_enCommand); }
    bool IsDatachannelReadCommand() const { return GetExtendedInfo().GetType() == DatachannelRead; }
    bool IsDatachannelWriteCommand() const { return GetExtendedInfo().GetType() == DatachannelWrite; }
    bool IsDatachannelCommand() const { return IsDatachannelReadCommand() || IsDatachannelWriteCommand(); }

    static CCommand ABOR() { return cmdABOR; }
    static CCommand ACCT() { return cmdACCT; }
    static CCommand ALLO() { return cmdALLO; }
    static CCommand APPE() { return cmdAPPE; }
    static CCommand CDUP() { return cmdCDUP; }
    static CCommand CWD() { return cmdCWD; }
    static CCommand DELE() { return cmdDELE; }
    static CCommand HELP() { return cmdHELP; }
    static CCommand LIST() { return cmdLIST; }
    static CCommand MDTM() { return cmdMDTM; }
    static CCommand MKD() { return cmdMKD; }
    static CCommand MODE() { return cmdMODE; }
    static CCommand NLST() { return cmdNLST; }
    static CCommand NOOP() { return cmdNOOP; }
    static CCommand OPEN() { return cmdOPEN; }
    static CCommand PASS() { return cmdPASS; }
    static CCommand PASV() { return cmdPASV; }
    static CCommand PORT() { return cmdPORT; }
    static CCommand PWD() { return cmdPWD; }
    static CCommand QUIT() { return cmdQUIT; }
    static CCommand REIN() { return cmdREIN; }
    static CCommand REST() { return cmdREST; }
    static CCommand RETR() { return cmdRETR; }
    static CCommand RMD() { return cmdRMD; }
    static CCommand RNFR() { return cmdRNFR; }
    static CCommand RNTO() { return cmdRNTO; }
    static CCommand SITE() { return cmdSITE; }
    static CCommand SIZE() { return cmdSIZE; }
    static CCommand SMNT() { return cmdSMNT; }
    static CCommand STAT() { return cmdSTAT; }
    static CCommand STOR() { return cmdSTOR; }
    static CCommand STOU() { return cmdSTOU; }
    static CCommand STRU() { return cmdSTRU; }
    static CCommand SYST() { return cmdSYST; }
    static CCommand TYPE() { return cmdTYPE; }
    static CCommand USER() { return cmdUSER; }

private:
    TCommandEnum m_enCommand;
};

// ---------------------------------------------------------------- replies

class CCode {
public:
    CCode() : m_szCode{0, 0, 0, 0} {}
    // Takes the first three characters when the first is 1-5 and the second
    // 0-5; the third is not examined.
    bool Set(const tstring& strCode);
    const char* Value() const { return m_szCode; }

    bool IsPositiveReply() const { return IsPositivePreliminaryReply() || IsPositiveCompletionReply() || IsPositiveIntermediateReply(); }
    bool IsNegativeReply() const { return IsTransientNegativeCompletionReply() || IsPermanentNegativeCompletionReply(); }
    bool IsPositivePreliminaryReply() const { return m_szCode[0] == '1'; }
    bool IsPositiveCompletionReply() const { return m_szCode[0] == '2'; }
    bool IsPositiveIntermediateReply() const { return m_szCode[0] == '3'; }
    bool IsTransientNegativeCompletionReply() const { return m_szCode[0] == '4'; }
    bool IsPermanentNegativeCompletionReply() const { return m_szCode[0] == '5'; }
    bool IsRefferingToSyntax() const { return m_szCode[1] == '0'; }
    bool IsRefferingToInformation() const { return m_szCode[1] == '1'; }
    bool IsRefferingToConnections() const { return m_szCode[1] == '2'; }
    bool IsRefferingToAuthenticationAndAccounting() const { return m_szCode[1] == '3'; }
    bool IsRefferingToUnspecified() const { return m_szCode[1] == '4'; }
    bool IsRefferingToFileSystem() const { return m_szCode[1] == '5'; }

private:
    char m_szCode[4];
};

class CReply {
public:
    // Stores the text and sets the code from it; false when the text has no valid code.
    bool Set(const tstring& strResponse);
    const tstring& Value() const { return m_strResponse; }
    const CCode& Code() const { return m_Code; }

private:
    tstring m_strResponse;
    CCode m_Code;
};

class CMakeString {
public:
    CMakeString& operator<<(std::uint32_t dwNum);
    CMakeString& operator<<(const tstring& strAdd);
    operator tstring() const { return m_str; }

private:
    tstring m_str;
};

}  // namespace nsFTP

namespace nsHelper {

// One end of a two-way registration: each side holds the set of its
// partners (T1), and registering on one side registers on the other. T2 is
// the own pointer type, handed to the derived class's constructor.
template <typename T1, typename T2>
class CObserverPatternBase {
public:
    typedef std::set<T1> TSet;

    explicit CObserverPatternBase(T2 pSelf) : m_pSelf(pSelf) {}
    CObserverPatternBase(const CObserverPatternBase&) = delete;
    CObserverPatternBase& operator=(const CObserverPatternBase&) = delete;
    virtual ~CObserverPatternBase() {
        // One partner at a time rather than a swap into a local set, which
        // GCC 12 at -O3 takes for a dangling pointer.
        while (!m_setPartners.empty()) {
            const T1 p = *m_setPartners.begin();
            m_setPartners.erase(m_setPartners.begin());
            p->RemovePartner(m_pSelf);
        }
    }

    bool Attach(T1 p) {
        if (p == nullptr || m_setPartners.count(p) != 0) return false;
        m_setPartners.insert(p);
        p->AddPartner(m_pSelf);
        return true;
    }
    bool Detach(T1 p) {
        if (m_setPartners.erase(p) == 0) return false;
        p->RemovePartner(m_pSelf);
        return true;
    }
    typename TSet::const_iterator begin() const { return m_setPartners.begin(); }
    typename TSet::const_iterator end() const { return m_setPartners.end(); }
    std::size_t size() const { return m_setPartners.size(); }
    bool empty() const { return m_setPartners.empty(); }
    bool IsAttached(T1 p) const { return m_setPartners.count(p) != 0; }

private:
    template <typename, typename>
    friend class CObserverPatternBase;
    void AddPartner(T1 p) { m_setPartners.insert(p); }
    void RemovePartner(T1 p) { m_setPartners.erase(p); }

    T2 m_pSelf;
    TSet m_setPartners;
};

class CCnv {
public:
    static std::string ConvertToString(const nsFTP::tstring& strIn) { return strIn; }
    static nsFTP::tstring ConvertToTString(const char* pszIn) { return pszIn == nullptr ? nsFTP::tstring() : pszIn; }
    // The decimal number at the start of the text: blanks skipped, a sign
    // allowed, 0 when no digit follows, held to the range of long.
    static long TStringToLong(const nsFTP::tstring& strIn);
};

class CError {
public:
    // The system's message text for an errno value.
    static std::string GetErrorDescription(int iErrorCode);
    static int GetLastError();
};

}  // namespace nsHelper
