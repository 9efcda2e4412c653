#include "FTPDataTypes.h"

#include <cassert>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace nsFTP {

namespace {

// An enumerator outside the table is a programming error; without
// assertions it gives an empty text.
tstring outOfRange() {
    assert(false && "false");
    return tstring();
}

}  // namespace

const char* const ANONYMOUS_USER = "anonymous";

tstring CStructure::AsString() const {
    switch (m_enStructure) {
        case scFile: return "F";
        case scRecord: return "R";
        case scPage: return "P";
    }
    return outOfRange();
}

tstring CTransferMode::AsString() const {
    switch (m_enTransferMode) {
        case tmStream: return "S";
        case tmBlock: return "B";
        case tmCompressed: return "C";
    }
    return outOfRange();
}

tstring CType::AsString() const {
    switch (m_enType) {
        case tyASCII: return "A";
        case tyEBCDIC: return "E";
        case tyImage: return "I";
        case tyLocalByte: return "L";
    }
    return outOfRange();
}

tstring CTypeFormat::AsString() const {
    switch (m_enTypeFormat) {
        case tfNonPrint: return "N";
        case tfTelnetFormat: return "T";
        case tfCarriageControl: return "C";
        case tfInvalid: break;
    }
    return outOfRange();
}

// ---------------------------------------------------------------- firewall types

namespace {

struct FirewallNames {
    const char* display;
    const char* storage;
};

const FirewallNames kFirewallNames[] = {
    {"no firewall", "NO_FIREWALL"},
    {"SITE hostname", "SITE_HOSTNAME"},
    {"USER after logon", "USER_AFTER_LOGON"},
    {"proxy OPEN", "PROXY_OPEN"},
    {"Transparent", "TRANSPARENT"},
    {"USER with no logon", "USER_WITH_NO_LOGON"},
    {"USER fireID@remotehost", "USER_FIREID@REMOTEHOST"},
    {"USER remoteID@remotehost fireID", "USER_REMOTEID@REMOTEHOST_FIREID"},
    {"USER remoteID@fireID@remotehost", "USER_REMOTEID@FIREID@REMOTEHOST"},
};
constexpr int kFirewallTypeCount = sizeof kFirewallNames / sizeof kFirewallNames[0];

}  // namespace

tstring CFirewallType::AsDisplayString() const {
    if (m_enFirewallType < 0 || m_enFirewallType >= kFirewallTypeCount) return outOfRange();
    return kFirewallNames[m_enFirewallType].display;
}

tstring CFirewallType::AsStorageString() const {
    if (m_enFirewallType < 0 || m_enFirewallType >= kFirewallTypeCount) return outOfRange();
    return kFirewallNames[m_enFirewallType].storage;
}

void CFirewallType::GetAllTypes(std::vector<CFirewallType>& vTypes) {
    vTypes.clear();
    for (int i = 0; i < kFirewallTypeCount; ++i) vTypes.push_back(static_cast<TFirewallTypeEnum>(i));
}

// ---------------------------------------------------------------- logon record

CLogonInfo::CLogonInfo()
    : m_ushHostport(21), m_strUsername(ANONYMOUS_USER), m_ushFwPort(21), m_FwType(CFirewallType::None()) {}

CLogonInfo::CLogonInfo(const tstring& strHostname, unsigned short ushHostport, const tstring& strUsername,
                       const tstring& strPassword, const tstring& strAccount)
    : CLogonInfo() {
    SetHost(strHostname, ushHostport, strUsername, strPassword, strAccount);
}

CLogonInfo::CLogonInfo(const tstring& strHostname, unsigned short ushHostport, const tstring& strUsername,
                       const tstring& strPassword, const tstring& strAccount, const tstring& strFwHostname,
                       const tstring& strFwUsername, const tstring& strFwPassword, unsigned short ushFwPort,
                       const CFirewallType& crFwType)
    : CLogonInfo() {
    SetHost(strHostname, ushHostport, strUsername, strPassword, strAccount);
    SetFirewall(strFwHostname, strFwUsername, strFwPassword, ushFwPort, crFwType);
}

void CLogonInfo::SetHost(const tstring& strHostname, unsigned short ushHostport, const tstring& strUsername,
                         const tstring& strPassword, const tstring& strAccount) {
    m_strHostname = strHostname;
    m_ushHostport = ushHostport;
    m_strUsername = strUsername;
    m_strPassword = strPassword;
    m_strAccount = strAccount;
}

void CLogonInfo::SetFirewall(const tstring& strFwHostname, const tstring& strFwUsername,
                             const tstring& strFwPassword, unsigned short ushFwPort,
                             const CFirewallType& crFwType) {
    m_strFwHostname = strFwHostname;
    m_strFwUsername = strFwUsername;
    m_strFwPassword = strFwPassword;
    m_ushFwPort = ushFwPort;
    m_FwType = crFwType;
}

void CLogonInfo::DisableFirewall() { SetFirewall(tstring(), tstring(), tstring(), 21, CFirewallType::None()); }

// ---------------------------------------------------------------- command table

CCommand::CCmd2Info::CCmd2Info() {
    Insert(cmdABOR, "ABOR", "ABOR <CRLF>", 0, 0, RFC959, NonDatachannel);
    Insert(cmdACCT, "ACCT", "ACCT <SP> <account-information> <CRLF>", 1, 0, RFC959, NonDatachannel);
    Insert(cmdALLO, "ALLO", "ALLO <SP> <decimal-integer> [<SP> R <SP> <decimal-integer>] <CRLF>", 3, 2, RFC959,
           NonDatachannel);
    Insert(cmdAPPE, "APPE", "APPE <SP> <pathname> <CRLF>", 1, 0, RFC959, DatachannelWrite);
    Insert(cmdCDUP, "CDUP", "CDUP <CRLF>", 0, 0, RFC959, NonDatachannel);
    Insert(cmdCWD, "CWD", "CWD <SP> <pathname> <CRLF>", 1, 0, RFC959, NonDatachannel);
    Insert(cmdDELE, "DELE", "DELE <SP> <pathname> <CRLF>", 1, 0, RFC959, NonDatachannel);
    Insert(cmdHELP, "HELP", "HELP [<SP> <string>] <CRLF>", 1, 1, RFC959, NonDatachannel);
    Insert(cmdLIST, "LIST", "LIST [<SP> <pathname>] <CRLF>", 1, 1, RFC959, DatachannelRead);
    Insert(cmdMDTM, "MDTM", "MDTM <SP> <pathname> <CRLF>", 1, 0, RFC3659, NonDatachannel);
    Insert(cmdMKD, "MKD", "MKD <SP> <pathname> <CRLF>", 1, 0, RFC959, NonDatachannel);
    Insert(cmdMODE, "MODE", "MODE <SP> <mode-code> <CRLF>", 1, 0, RFC959, NonDatachannel);
    Insert(cmdNLST, "NLST", "NLST [<SP> <pathname>] <CRLF>", 1, 1, RFC959, DatachannelRead);
    Insert(cmdNOOP, "NOOP", "NOOP <CRLF>", 0, 0, RFC959, NonDatachannel);
    Insert(cmdOPEN, "OPEN", "OPEN <SP> <string> <CRLF>", 1, 0, Unknown, NonDatachannel);
    Insert(cmdPASS, "PASS", "PASS <SP> <password> <CRLF>", 1, 0, RFC959, NonDatachannel);
    Insert(cmdPASV, "PASV", "PASV <CRLF>", 0, 0, RFC959, NonDatachannel);
    Insert(cmdPORT, "PORT", "PORT <SP> <host-port> <CRLF>", 1, 0, RFC959, NonDatachannel);
    Insert(cmdPWD, "PWD", "PWD <CRLF>", 0, 0, RFC959, NonDatachannel);
    Insert(cmdQUIT, "QUIT", "QUIT <CRLF>", 0, 0, RFC959, NonDatachannel);
    Insert(cmdREIN, "REIN", "REIN <CRLF>", 0, 0, RFC959, NonDatachannel);
    Insert(cmdREST, "REST", "REST <SP> <marker> <CRLF>", 1, 0, RFC959, NonDatachannel);
    Insert(cmdRETR, "RETR", "RETR <SP> <pathname> <CRLF>", 1, 0, RFC959, DatachannelRead);
    Insert(cmdRMD, "RMD", "RMD <SP> <pathname> <CRLF>", 1, 0, RFC959, NonDatachannel);
    Insert(cmdRNFR, "RNFR", "RNFR <SP> <pathname> <CRLF>", 1, 0, RFC959, NonDatachannel);
    Insert(cmdRNTO, "RNTO", "RNTO <SP> <pathname> <CRLF>", 1, 0, RFC959, NonDatachannel);
    Insert(cmdSITE, "SITE", "SITE <SP> <string> <CRLF>", 1, 0, RFC959, NonDatachannel);
    Insert(cmdSIZE, "SIZE", "SIZE <SP> <pathname> <CRLF>", 1, 0, RFC3659, NonDatachannel);
    Insert(cmdSMNT, "SMNT", "SMNT <SP> <pathname> <CRLF>", 1, 0, RFC959, NonDatachannel);
    Insert(cmdSTAT, "STAT", "STAT [<SP> <pathname>] <CRLF>", 1, 1, RFC959, NonDatachannel);
    Insert(cmdSTOR, "STOR", "STOR <SP> <pathname> <CRLF>", 1, 0, RFC959, DatachannelWrite);
    Insert(cmdSTOU, "STOU", "STOU <CRLF>", 0, 0, RFC959, DatachannelWrite);
    Insert(cmdSTRU, "STRU", "STRU <SP> <structure-code> <CRLF>", 1, 0, RFC959, NonDatachannel);
    Insert(cmdSYST, "SYST", "SYST <CRLF>", 0, 0, RFC959, NonDatachannel);
    Insert(cmdTYPE, "TYPE", "TYPE <SP> <type-code> <CRLF>", 1, 0, RFC959, NonDatachannel);
    Insert(cmdUSER, "USER", "USER <SP> <username> <CRLF>", 1, 0, RFC959, NonDatachannel);
}

void CCommand::CCmd2Info::Insert(TCommandEnum enCommand, const tstring& strServerString, const tstring& strSyntax,
                                 unsigned int uiParameters, unsigned int uiOptionalParameters,
                                 TSpecificationEnum enSpecification, TTypeEnum enType) {
    emplace(enCommand, std::make_shared<CExtendedInfo>(strServerString, strSyntax, uiParameters, uiOptionalParameters,
                                                       enSpecification, enType));
}

CCommand::CCmd2Info& CCommand::CCmd2Info::GetInstance() {
    static CCmd2Info instance;
    return instance;
}

const CCommand::IExtendedInfo& CCommand::CCmd2Info::Get(TCommandEnum enCommand) {
    const auto it = GetInstance().find(enCommand);
    assert(it != GetInstance().end() && "it!=GetInstance().end()");
    if (it == GetInstance().end()) {
        // Without assertions an unknown value reads as an empty word that opens no data channel.
        static const CExtendedInfo unknown("", "", 0, 0, Unknown, NonDatachannel);
        return unknown;
    }
    return *it->second;
}

tstring CCommand::AsString() const { return GetExtendedInfo().GetServerString(); }

tstring CCommand::AsString(const CArg& Arguments) const {
    tstring strLine = AsString();
    for (const tstring& strArgument : Arguments) {
        if (!strArgument.empty()) strLine += " " + strArgument;
    }
    return strLine;
}

// ---------------------------------------------------------------- replies

bool CCode::Set(const tstring& strCode) {
    if (strCode.size() < 3 || strCode[0] < '1' || strCode[0] > '5' || strCode[1] < '0' || strCode[1] > '5') {
        return false;
    }
    std::memcpy(m_szCode, strCode.data(), 3);
    m_szCode[3] = '\0';
    return true;
}

bool CReply::Set(const tstring& strResponse) {
    m_strResponse = strResponse;
    if (strResponse.size() < 3) return false;
    if (m_Code.Set(strResponse)) return true;
    m_Code = CCode();
    return false;
}

CMakeString& CMakeString::operator<<(std::uint32_t dwNum) {
    m_str += std::to_string(dwNum);
    return *this;
}

CMakeString& CMakeString::operator<<(const tstring& strAdd) {
    m_str += strAdd;
    return *this;
}

}  // namespace nsFTP

namespace nsHelper {

long CCnv::TStringToLong(const nsFTP::tstring& strIn) {
    errno = 0;
    return std::strtol(strIn.c_str(), nullptr, 10);  // strtol clamps to LONG_MIN / LONG_MAX itself
}

std::string CError::GetErrorDescription(int iErrorCode) {
    if (iErrorCode == 0) return std::string();
    char text[256] = {};
    // The GNU strerror_r may return a static text instead of filling the buffer.
    const char* pszText = strerror_r(iErrorCode, text, sizeof text);
    return pszText != nullptr ? pszText : std::string();
}

int CError::GetLastError() { return errno; }

}  // namespace nsHelper
