// One input file and everything learnt about it on its way through the run.
#pragma once

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

// About 530 KB because of progInfo: pass it by const& where a copy is not
// wanted, and keep few of them on a thread's stack at once.
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
    ProgInfo progInfo{};
    Shobocal shobocal;
    TaskData taskData;

    bool isSuccess() const { return success; }
    bool setSuccess(const bool v);
    bool isAvailableTS() const { return isTS; }
    bool setAvailableTS(const bool v);
};
