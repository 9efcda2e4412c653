// Reads the lines a server sends for LIST. Servers choose their own
// format; four are known: EPLF, the UNIX long listing, MultiNet (VMS)
// and MS-DOS (IIS). The format is told by the line's first characters.
#pragma once

#include "FTPDataTypes.h"
#include "FTPFileStatus.h"

#include <ctime>
#include <string>

namespace nsFTP {

class IFileListParser : public IInterface {
public:
    // Fills `ftpFileStatus` (reset first) from one listing line; false when
    // the line is in no known format or ends before its format is complete.
    virtual bool Parse(CFTPFileStatus& ftpFileStatus, const std::string& strLineToParse) = 0;
};

class CFTPListParser : public IFileListParser {
public:
    CFTPListParser();
    ~CFTPListParser() override;

    bool Parse(CFTPFileStatus& ftpFileStatus, const std::string& strLineToParse) override;

protected:
    // The clock the year of a year-less date is guessed from.
    virtual time_t Now() const;

    // Each reads only the `length` characters at `pszLine`.
    bool IsEPLS(const char* pszLine, int length) const;
    bool IsUNIXStyleListing(const char* pszLine, int length) const;
    bool IsMultiNetListing(const char* pszLine, int length) const;
    bool IsMSDOSListing(const char* pszLine, int length) const;

    bool ParseEPLF(CFTPFileStatus& ftpFileStatus, const char* pszLine, int length);
    bool ParseUNIXStyleListing(CFTPFileStatus& ftpFileStatus, const char* pszLine, int length);
    bool ParseMultiNetListing(CFTPFileStatus& ftpFileStatus, const char* pszLine, int length);
    bool ParseMSDOSListing(CFTPFileStatus& ftpFileStatus, const char* pszLine, int length);

private:
    void ReadEPLFFact(CFTPFileStatus& ftpFileStatus, const char* pszFact, int length) const;
    bool CheckMonth(const char* pszBuffer, const char* pszMonthName) const;
    int GetMonth(const char* pszBuffer, int length) const;
    bool GetLong(const char* pszLong, int length, long long& lResult) const;
    // GetLong over the field from `at` up to the next `a` or `b`; a field
    // that is no clean number still gives what GetLong made of it, so one
    // odd date part does not cost the whole line; such a field (or an
    // empty one) sets `*pfNumber` false when given. `at` moves past that
    // character; false when the line ends first.
    bool GetLongUpTo(const char* pszLine, int length, int& at, char a, char b, long long& lResult,
                     bool* pfNumber = nullptr) const;
    long long GetYear(time_t time) const;
    time_t ToTAI(long long lYear, long long lMonth, long long lMDay) const;
    time_t GuessTAI(long long lMonth, long long lMDay);
    // With `fGuessYear` the listed date has no year and `lYear` is ignored.
    void SetRemoteTime(CFTPFileStatus& ftpFileStatus, CFTPFileStatus::T_enMTimeType type, bool fGuessYear,
                       long long lYear, long long lMonth, long long lMDay, long long lHour, long long lMinute);

    time_t m_tmBase;
    long long m_lCurrentYear;
    static const char* const m_Months[12];
};

}  // namespace nsFTP
