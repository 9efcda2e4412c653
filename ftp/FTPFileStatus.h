// One entry of a directory listing, as the listing parser understood it.
#pragma once

#include <ctime>
#include <string>

namespace nsFTP {

class CFTPFileStatus {
public:
    enum T_enSizeType { stUnknown, stBinary, stASCII };
    enum T_enMTimeType { mttUnknown, mttLocal, mttRemoteMinute, mttRemoteDay };
    enum T_enIDType { idUnknown, idFull };

    CFTPFileStatus();
    CFTPFileStatus(const CFTPFileStatus& src);
    CFTPFileStatus& operator=(const CFTPFileStatus& rhs);
    ~CFTPFileStatus();

    bool operator==(const CFTPFileStatus& rhs) const;
    bool operator!=(const CFTPFileStatus& rhs) const;

    void Reset();

    const std::string& Name() const { return m_strName; }
    const std::string& Path() const { return m_strPath; }
    bool IsCwdPossible() const { return m_fTryCwd; }
    bool IsRetrPossible() const { return m_fTryRetr; }
    T_enSizeType SizeType() const { return m_enSizeType; }
    long long Size() const { return m_lSize; }
    T_enMTimeType MTimeType() const { return m_enModificationTimeType; }
    time_t MTime() const { return m_mtime; }
    const std::string& Attributes() const { return m_strAttributes; }
    const std::string& UID() const { return m_strUID; }
    const std::string& GID() const { return m_strGID; }
    const std::string& Link() const { return m_strLink; }
    T_enIDType IDType() const { return m_enIDType; }
    const std::string& ID() const { return m_strID; }
    // "." or "..": the folder itself or its parent, not an entry of it.
    bool IsDot() const { return m_strName == "." || m_strName == ".."; }

    std::string& Name() { return m_strName; }
    std::string& Path() { return m_strPath; }
    bool& CwdPossible() { return m_fTryCwd; }
    bool& RetrPossible() { return m_fTryRetr; }
    T_enSizeType& SizeType() { return m_enSizeType; }
    long long& Size() { return m_lSize; }
    T_enMTimeType& MTimeType() { return m_enModificationTimeType; }
    time_t& MTime() { return m_mtime; }
    std::string& Attributes() { return m_strAttributes; }
    std::string& UID() { return m_strUID; }
    std::string& GID() { return m_strGID; }
    std::string& Link() { return m_strLink; }
    T_enIDType& IDType() { return m_enIDType; }
    std::string& ID() { return m_strID; }

private:
    std::string m_strName;
    std::string m_strPath;
    bool m_fTryCwd;
    bool m_fTryRetr;
    T_enSizeType m_enSizeType;
    long long m_lSize;  // bytes; -1 when unknown
    T_enMTimeType m_enModificationTimeType;
    time_t m_mtime;  // seconds since 1970-01-01 UTC
    std::string m_strAttributes;
    std::string m_strUID;
    std::string m_strGID;
    std::string m_strLink;
    T_enIDType m_enIDType;
    std::string m_strID;
};

// The UTC broken-down time of `t`; all fields 0 when it has none.
tm& GmTime(tm& out, const long long& t);

}  // namespace nsFTP
