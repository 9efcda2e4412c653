// Looks up animation recordings in the web programme calendar: ties each
// recording's channel to a calendar channel through the channel file, asks
// the calendar what was on in the recording's time window, and takes the
// entry of that channel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ChannelSettingParser.h"
#include "FileData.h"
#include "LightHttpClient.h"

// The calendar's address is fixed when the program is built.
#ifndef MARUBO_CALENDAR_HOST
#define MARUBO_CALENDAR_HOST "cal.syoboi.jp"
#endif
#ifndef MARUBO_CALENDAR_PORT
#define MARUBO_CALENDAR_PORT 80
#endif

class ShobocalProcess {
public:
    // Sets every record's shobocal.linkChannelSetting: true only for a TS
    // recording of major genre 7 whose channel is in the channel file.
    static void linkShoboiCalender(ChannelSettingParser parser, std::vector<FileData>& filelist);
    // One calendar request for a linked record; true when an entry was taken
    // into its shobocal. Never throws: a failed request or a bad answer is
    // logged and leaves the record on its broadcast data.
    static bool getShobocalInfo(FileData& filedata);

    // Where the calendar is asked. Builds made with MARUBO_TEST_SEAMS
    // also honour MARUBO_CALENDAR_TEST_PORT (a port on 127.0.0.1) so a test
    // can run the program against a local stand-in.
    static std::string calendarHost();
    static std::uint16_t calendarPort();
    // For unit tests: ask this server instead; an empty host goes back to
    // the built-in address.
    static void setCalendarServerForTests(const std::string& host, std::uint16_t port);
};

// Copies the channel-file entry of the record's channel into
// filedata.channel; true when one was found (by service id, then channel
// number, then channel name).
bool findChannelList(ChannelSettingParser parser, FileData& filedata);
// The calendar's answer for the record's time window. Throws what the HTTP
// client throws.
LightHttpClient::Response shobocalAccess(FileData& filedata);
// Takes the item of the record's calendar channel from the answer body into
// filedata.shobocal; returns shobocal.available. Throws std::out_of_range
// for an unknown category code.
bool findShobocalInfoList(FileData& filedata, std::string body);
