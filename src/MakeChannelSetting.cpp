#include "MakeChannelSetting.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <string>

#include "ChannelSettingParser.h"
#include "FileAccess.h"
#include "JsonAdapter.h"
#include "Logger.h"
#include "StringExtra.h"
#include "TextCodec.h"

namespace {

const char* const kUnit = "../src/MakeChannelSetting";

// Broadcasters and users space channel names differently ("ＮＨＫ　総合" vs
// "ＮＨＫ総合"), so names are compared without ideographic or ASCII blanks.
std::string withoutBlanks(std::string name) {
    StringExtra::replaceAll(name, "\xE3\x80\x80", "");
    StringExtra::replaceAll(name, " ", "");
    return name;
}

// The line must stay valid JSON whatever bytes reached a string.
std::string validUtf8(const std::string& text) {
    if (platform::isValidUtf8(text)) return text;
    return platform::utf16ToUtf8(platform::utf8ToUtf16(text));
}

// Broadcast text as the print shows it: a CR/LF or another control code in a
// name must not break the log into lines of its own (or forge one), so each
// control byte is shown as '?'.
std::string shownText(std::string text) {
    for (char& c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = '?';
    }
    return text;
}

std::string timeText(const std::tm& t) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d", t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour,
                  t.tm_min);
    return buf;
}

}  // namespace

MakeChannelSetting::MakeChannelSetting(const std::vector<FileData>& filelist) {
    const std::string dir = FileAccess::getModulePath();
    std::ofstream out(dir + "channelsetting_.json", std::ios::out | std::ios::app | std::ios::binary);
    if (!out) return;

    // A missing or broken sample simply leaves the calendar columns empty.
    ChannelSettingParser sample;
    sample.load(dir + "channelsettingSAMPLE.json");
    const std::map<std::string, ChannelSetting> sampleList = sample.getChannelList();

    std::vector<std::map<std::string, std::string>> entries;
    for (const FileData& file : filelist) {
        if (!file.isAvailableTS()) continue;

        const std::string tsChName = StringExtra::to_string(file.progInfo.chname);
        const std::string matchName = withoutBlanks(tsChName);

        std::string shoboChID;
        std::string shoboChName;
        for (const auto& item : sampleList) {
            const std::string name = withoutBlanks(item.second.ShoboChName);
            if (name.empty() || matchName.find(name) != std::string::npos) {
                shoboChID = item.second.ShoboChID;
                shoboChName = item.second.ShoboChName;
                break;
            }
        }

        entries.push_back({
            {"ShoboChID", validUtf8(shoboChID)},
            {"ShoboChName", validUtf8(shoboChName)},
            {"TSChID", std::to_string(file.progInfo.chnum)},
            {"TSServiceID", std::to_string(file.progInfo.serviceID)},
            {"TSNetworkID", std::to_string(file.progInfo.networkID)},
            {"TSChName", validUtf8(tsChName)},
        });
    }

    std::sort(entries.begin(), entries.end());
    entries.erase(std::unique(entries.begin(), entries.end()), entries.end());

    Json::array list;
    for (const auto& entry : entries) list.push_back(Json(entry));
    const Json root(Json::object{{"ChannelList", Json(std::move(list))}});
    out << root.dump() << '\n';
    out.flush();
}

void printTsInfo(const std::vector<FileData>& filelist) {
#define TS_INFO(...) Logger::Write(LogLevel::Info, kUnit, "printTsInfo", __LINE__, __VA_ARGS__)
    for (const FileData& file : filelist) {
        if (!file.isAvailableTS()) continue;
        const CompactProgInfo& p = file.progInfo;
        const TsInfoEx& ex = file.tsInfoEx;

        Logger::write(LogLevel::Info, kUnit, "printTsInfo", __LINE__, "");
        TS_INFO("[TS INFO] Title        : %s", shownText(StringExtra::wide_to_multi_winapi(p.pname)).c_str());
        TS_INFO("[TS INFO] Channel No.  : %d", p.chnum);
        TS_INFO("[TS INFO] Channel Name : %s", shownText(StringExtra::wide_to_multi_winapi(p.chname)).c_str());
        TS_INFO("[TS INFO] Genre No.    : %d", ex.genreNoL);
        TS_INFO("[TS INFO] Time         : %s - %s", timeText(ex.starttime).c_str(), timeText(ex.endtime).c_str());
        TS_INFO("[TS INFO] serviceID    : %d", p.serviceID);
        TS_INFO("[TS INFO] networkID    : %d", p.networkID);
        TS_INFO("[TS INFO] Title        : %s", StringExtra::utf8_to_multi_winapi(ex.title).c_str());
        TS_INFO("[TS INFO] SubTitle     : %s", StringExtra::utf8_to_multi_winapi(ex.subTitle).c_str());
        TS_INFO("[TS INFO] EpsodeNo     : %s", StringExtra::utf8_to_multi_winapi(ex.episodeNo).c_str());
    }
#undef TS_INFO
}
