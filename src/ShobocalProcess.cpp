#include "ShobocalProcess.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <utility>

#include "Logger.h"
#include "ShobocalJsonParser.h"
#include "StringExtra.h"

namespace {

const char* const kUnit = "../src/ShobocalProcess";

#define CAL_LOG(level, ...) Logger::Write(LogLevel::level, kUnit, __func__, __LINE__, __VA_ARGS__)

const char* const kUserAgent =
    "Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/87.0.4280.67 Safari/537.36";

// Set only by unit tests; empty host means the built-in address.
std::string g_testHost;
std::uint16_t g_testPort = 0;

#ifdef MARUBO_TEST_SEAMS
// A port on 127.0.0.1 from the environment; 0 when unset or not a port.
std::uint16_t environmentTestPort() {
    const char* text = std::getenv("MARUBO_CALENDAR_TEST_PORT");
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (*end != '\0' || value == 0 || value > 65535) return 0;
    return static_cast<std::uint16_t>(value);
}
#endif

// "%04d%02d%02d%02d%02d": YYYYMMDDhhmm of a broadcast time (full year,
// month 1-12), seconds dropped.
std::string calendarTime(const std::tm& t) {
    char text[20] = {};
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d", t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour,
                  t.tm_min);
    return text;
}

bool contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

// Failure texts quote the server's bytes (a header line, the JSON reader's
// last token), which can run to megabytes and carry terminal escapes: the
// log gets a short piece with control bytes shown as '?'.
std::string shownText(const std::string& text) {
    constexpr std::size_t kShown = 256;
    std::size_t cut = std::min(text.size(), kShown);
    if (cut < text.size()) {
        // Never end inside a UTF-8 sequence.
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    }
    std::string shown = text.substr(0, cut);
    for (char& c : shown) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = '?';
    }
    if (cut < text.size()) shown += "...";
    return shown;
}

}  // namespace

std::string ShobocalProcess::calendarHost() {
    if (!g_testHost.empty()) return g_testHost;
#ifdef MARUBO_TEST_SEAMS
    if (environmentTestPort() != 0) return "127.0.0.1";
#endif
    return MARUBO_CALENDAR_HOST;
}

std::uint16_t ShobocalProcess::calendarPort() {
    if (!g_testHost.empty()) return g_testPort;
#ifdef MARUBO_TEST_SEAMS
    if (const std::uint16_t port = environmentTestPort()) return port;
#endif
    return MARUBO_CALENDAR_PORT;
}

void ShobocalProcess::setCalendarServerForTests(const std::string& host, std::uint16_t port) {
    g_testHost = host;
    g_testPort = port;
}

void ShobocalProcess::linkShoboiCalender(ChannelSettingParser parser, std::vector<FileData>& filelist) {
    for (FileData& filedata : filelist) {
        filedata.shobocal.linkChannelSetting = false;
        // Only animation (major genre 7) is looked up.
        if (filedata.isAvailableTS() && filedata.tsInfoEx.genreNoL == 7) {
            filedata.shobocal.linkChannelSetting = findChannelList(parser, filedata);
        }
    }
}

bool ShobocalProcess::getShobocalInfo(FileData& filedata) {
    // Anything that goes wrong with the calendar must cost this file its
    // calendar data only, never the run: the file keeps its broadcast data.
    LightHttpClient::Response response;
    try {
        response = shobocalAccess(filedata);
    } catch (const std::exception& e) {
        CAL_LOG(Error, "ShoboiCalender Access Failed. : %s", shownText(e.what()).c_str());
        filedata.shobocal.available = false;
        return false;
    }
    if (response.status != 200) {
        CAL_LOG(Error, "ShoboiCalender Access Denyed.");
        return false;
    }

    bool found = false;
    try {
        found = findShobocalInfoList(filedata, response.content);
    } catch (const std::exception& e) {
        CAL_LOG(Error, "ShoboiCalender information is Abnormal. : %s", shownText(e.what()).c_str());
        filedata.shobocal.available = false;
        return false;
    }
    if (found) {
        CAL_LOG(Info, "ShoboiCalender information found.");
        return true;
    }
    CAL_LOG(Info, "ShoboiCalender information not found.");
    return false;
}

bool findChannelList(ChannelSettingParser parser, FileData& filedata) {
    const std::map<std::string, ChannelSetting> channelList = parser.getChannelList();
    const std::map<std::string, ChannelSetting> serviceList = parser.getServicelList();

    const auto byService = serviceList.find(std::to_string(filedata.progInfo.serviceID));
    if (byService != serviceList.end()) {
        filedata.channel = byService->second;
        return true;
    }
    const auto byNumber = channelList.find(std::to_string(filedata.progInfo.chnum));
    if (byNumber != channelList.end()) {
        filedata.channel = byNumber->second;
        return true;
    }
    std::string tsChannelName;
    StringExtra::narrow(filedata.progInfo.chname, tsChannelName);
    for (const auto& [id, channel] : channelList) {
        if (channel.TSChName.empty() || contains(tsChannelName, channel.TSChName)) {
            filedata.channel = channel;
            return true;
        }
    }
    return false;
}

LightHttpClient::Response shobocalAccess(FileData& filedata) {
    const std::string start = calendarTime(filedata.tsInfoEx.starttime);
    const std::string end = calendarTime(filedata.tsInfoEx.endtime);
    CAL_LOG(Info, "Getting information from ShoboiCalender. Broadcast Ch(%s) & Time(%s - %s) ",
            filedata.channel.ShoboChID.c_str(), start.c_str(), end.c_str());

    LightHttpClient::RequestHeader header;
    header.host = ShobocalProcess::calendarHost();
    header.url = "/rss2.php?start=" + start + "&end=" + end + "&alt=json";
    header.user_agent = kUserAgent;

    LightHttpClient::Options options;
    options.port = ShobocalProcess::calendarPort();
    LightHttpClient client(header, options);
    LightHttpClient::Response response = client.Get(header);
    client.Close();
    return response;
}

bool findShobocalInfoList(FileData& filedata, std::string body) {
    filedata.shobocal.available = false;

    ShobocalJsonParser parser;
    const std::map<std::string, Shobocal> byChannelId = parser.parse(std::move(body));
    if (!parser.getParseError().empty()) {
        CAL_LOG(Error, "ShoboiCalender answer is not JSON. : %s", shownText(parser.getParseError()).c_str());
        return false;
    }

    const ChannelSetting& channel = filedata.channel;
    const auto byId = byChannelId.find(channel.ShoboChID);
    if (byId != byChannelId.end()) {
        filedata.shobocal = byId->second;
        filedata.shobocal.available = true;
        return true;
    }
    for (const auto& [name, entry] : parser.getShobocalChNameList()) {
        if (channel.ShoboChName.empty() || contains(entry.ShoboChName, channel.ShoboChName) ||
            entry.ShoboChName.empty() || contains(channel.TSChName, entry.ShoboChName)) {
            filedata.shobocal = entry;
            filedata.shobocal.available = true;
            return true;
        }
    }
    return false;
}
