#include "ChannelSettingParser.h"

#include <utility>

#include "FileAccess.h"
#include "JsonAdapter.h"

bool ChannelSettingParser::load(const std::string path) {
    const std::string text = FileAccess::readTextFile(path);
    if (text.empty()) {
        errorMessage = "channelsetting.jsonnot open ";
        errorCode = 8;
        return false;
    }
    if (parse(text).empty()) {
        errorMessage = "channelsetting.json is Abnormal.";
        errorCode = 9;
        return false;
    }
    errorCode = 0;
    return true;
}

std::map<std::string, ChannelSetting> ChannelSettingParser::parse(const std::string text) {
    std::string err;  // the caller reports its own message
    const Json json = Json::parse(text, err);
    if (json == Json()) return channelList;

    for (const Json& element : json["ChannelList"].array_items()) {
        ChannelSetting channel;
        channel.TSChID = element["TSChID"].string_value();
        channel.TSServiceID = element["TSServiceID"].string_value();
        channel.TSNetworkID = element["TSNetworkID"].string_value();
        channel.TSChName = element["TSChName"].string_value();
        channel.ShoboChID = element["ShoboChID"].string_value();
        channel.ShoboChName = element["ShoboChName"].string_value();
        channelList.insert(std::make_pair(channel.TSChID, channel));
        serviceList.insert(std::make_pair(channel.TSServiceID, channel));
    }
    return channelList;
}
