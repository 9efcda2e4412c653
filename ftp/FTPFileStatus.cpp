#include "FTPFileStatus.h"

namespace nsFTP {

CFTPFileStatus::CFTPFileStatus()
    : m_fTryCwd(false),
      m_fTryRetr(false),
      m_enSizeType(stUnknown),
      m_lSize(-1),
      m_enModificationTimeType(mttUnknown),
      m_mtime(0),
      m_enIDType(idUnknown) {}

CFTPFileStatus::CFTPFileStatus(const CFTPFileStatus& src) = default;

CFTPFileStatus& CFTPFileStatus::operator=(const CFTPFileStatus& rhs) = default;

CFTPFileStatus::~CFTPFileStatus() = default;

bool CFTPFileStatus::operator==(const CFTPFileStatus& rhs) const {
    return m_strName == rhs.m_strName && m_strPath == rhs.m_strPath && m_fTryCwd == rhs.m_fTryCwd &&
           m_fTryRetr == rhs.m_fTryRetr && m_enSizeType == rhs.m_enSizeType && m_lSize == rhs.m_lSize &&
           m_enModificationTimeType == rhs.m_enModificationTimeType && m_mtime == rhs.m_mtime &&
           m_strAttributes == rhs.m_strAttributes && m_strUID == rhs.m_strUID && m_strGID == rhs.m_strGID &&
           m_strLink == rhs.m_strLink && m_enIDType == rhs.m_enIDType && m_strID == rhs.m_strID;
}

bool CFTPFileStatus::operator!=(const CFTPFileStatus& rhs) const { return !(*this == rhs); }

void CFTPFileStatus::Reset() { *this = CFTPFileStatus(); }

tm& GmTime(tm& out, const long long& t) {
    const time_t when = static_cast<time_t>(t);
    if (gmtime_r(&when, &out) == nullptr) out = tm{};
    return out;
}

}  // namespace nsFTP
