// Reads the channel file ("channelsetting.json"): the TS channels and the
// programme-calendar channels they stand for.
#pragma once

#include <map>
#include <string>

#include "FileData.h"

class ChannelSettingParser {
private:
    // Byte-wise key order; the first entry for a key stays.
    std::map<std::string, ChannelSetting> channelList;  // by TSChID
    std::map<std::string, ChannelSetting> serviceList;  // by TSServiceID

public:
    int errorCode = 0;         // 0 loaded, 8 unreadable or empty, 9 no channel
    std::string errorMessage;  // text of the last failed load

    // Reads and parses the file; true when at least one channel is held.
    // The messages name "channelsetting.json" whatever the path.
    bool load(const std::string path);
    // Adds the channels of text to what is held (first entries win) and
    // returns the channels by TSChID. A text that does not parse adds nothing.
    std::map<std::string, ChannelSetting> parse(const std::string text);

    std::map<std::string, ChannelSetting> getChannelList() const { return channelList; }
    std::map<std::string, ChannelSetting> getServicelList() const { return serviceList; }
};
