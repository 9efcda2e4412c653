// The two side modes of a run over validated recordings: the channel-file
// maker and the TS information print. Both skip records that are not TS
// recordings without a word.
#pragma once

#include <vector>

#include "FileData.h"

class MakeChannelSetting {
public:
    // Appends one line to "channelsetting_.json" in the program directory:
    // {"ChannelList": [...]} with one entry per distinct channel, named after
    // the calendar channels of "channelsettingSAMPLE.json" where they match.
    explicit MakeChannelSetting(const std::vector<FileData>& filelist);
    ~MakeChannelSetting() {}
};

// Logs what was read from each recording.
void printTsInfo(const std::vector<FileData>& filelist);
