// One input file and everything learnt about it on its way through the run.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "FtpData.h"
#include "TaskData.h"
#include "TsInfo.h"
#include "USPath.h"

// Programme information derived from the stream.
struct TsInfoEx {
    // Broadcast local time; tm_year holds the full year, tm_mon counts from 1.
    std::tm starttime{};
    std::tm endtime{};
    std::string title;
    std::string subTitle;
    std::string episodeNo;
    std::string chName;
    int genreNo = 0;   // kept for the record layout; nothing uses it
    int genreNoL = 0;  // major genre 0-15
    std::string genreNameL;
    int genreNoM = 0;  // kept for the record layout; nothing uses it
    std::string genreNameM;
};

// The web programme-calendar entry of a file. Without a calendar hit the
// main loop copies the stream's title, subtitle, episode and channel here.
struct Shobocal {
    bool available = false;
    bool linkChannelSetting = false;
    std::string ShoboTitle;
    std::string ShoboShortTitle;
    std::string ShoboEpisodeNo;
    std::string ShoboSubTitle;
    std::string ShoboChName;
    std::string ShoboChID;
    std::string ShoboCat;
    std::string ShoboCatName;
};

// One element of the channel file's "ChannelList".
struct ChannelSetting {
    std::string TSChID;
    std::string TSChName;
    std::string TSServiceID;
    std::string TSNetworkID;
    std::string ShoboChID;
    std::string ShoboChName;
};

// The programme information of a recording as a file record keeps it: the
// numbers of the library's ProgInfo as they are, and each text up to its
// first 0 unit (all that any reader reads of it) instead of a fixed buffer.
// A run holds one per file; at the library's fixed size thousands of them
// would not fit in memory. Only a record validated as a recording holds
// anything but zeros and empty texts.
struct CompactProgInfo {
    bool active = false;
    int32_t status = 0;
    int32_t recyear = 0;
    int32_t recmonth = 0;
    int32_t recday = 0;
    int32_t rechour = 0;
    int32_t recmin = 0;
    int32_t recsec = 0;
    int32_t durhour = 0;
    int32_t durmin = 0;
    int32_t dursec = 0;
    int32_t rectimezone = 0;
    int32_t makerid = 0;
    int32_t modelcode = 0;
    int32_t recsrc = 0;
    int32_t chnum = 0;
    std::u16string chname;
    int32_t chnamelen = 0;  // as the library counted it
    std::u16string pname;
    int32_t pnamelen = 0;
    std::u16string pdetail;
    int32_t pdetaillen = 0;
    std::u16string pextend;
    int32_t pextendlen = 0;
    int32_t genre[3] = {0, 0, 0};
    std::u16string fullpath;
    std::u16string fname;
    std::u16string fext;
    int64_t fsize = 0;
    int32_t networkID = 0;
    int32_t serviceID = 0;

    CompactProgInfo() = default;
    explicit CompactProgInfo(const ProgInfo& full);
};

// Pass it by const& where a copy is not wanted: a run keeps thousands.
class FileData {
private:
    bool success = false;  // the matched task's program returned 0
    bool isTS = false;     // validated as a TS recording; only ever set true

public:
    USPath src;
    USPath dest;
    TsInfoEx tsInfoEx;
    FTPData ftp;
    ChannelSetting channel;
    CompactProgInfo progInfo;
    Shobocal shobocal;
    TaskData taskData;

    bool isSuccess() const { return success; }
    bool setSuccess(const bool v);
    bool isAvailableTS() const { return isTS; }
    bool setAvailableTS(const bool v);
};
