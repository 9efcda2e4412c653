#include "ShobocalJsonParser.h"

#include <stdexcept>
#include <utility>

#include "JsonAdapter.h"
#include "ValidationTS.h"

const std::map<std::string, std::string> shoboCategoryList = {
    {"0", "その他"},
    {"1", "アニメ"},
    {"2", "ラジオ"},
    {"3", "テレビ"},
    {"4", "特撮"},
    {"5", "アニメ関連"},
    {"6", "メモ"},
    {"7", "OVA"},
    {"8", "映画"},
    {"9", "不明"},
    {"10", "アニメ(再放送)"},
};

namespace {

// Calendar titles and subtitles run to a few hundred bytes. A text far beyond
// that is a broken or hostile answer: as a file name it would only make the
// task fail (and flood the log with its command line), so the answer is
// refused and the recording keeps its broadcast data.
constexpr std::size_t kMaxTextBytes = 4096;

std::string calendarText(const Json& item, const char* key) {
    const std::string& text = item[key].string_value();
    if (text.size() > kMaxTextBytes) {
        throw std::length_error(std::string("Calendar text \"") + key + "\" is longer than " +
                                std::to_string(kMaxTextBytes) + " bytes");
    }
    return safeProgrammeText(text);
}

}  // namespace

std::map<std::string, Shobocal> ShobocalJsonParser::parse(const std::string text) {
    std::map<std::string, Shobocal> byChannelId;

    std::string err;
    const Json json = Json::parse(text, err);
    if (json == Json()) {
        parseError = err.empty() ? "the answer is null" : err;
        return byChannelId;
    }
    parseError.clear();

    for (const Json& item : json["items"].array_items()) {
        // The texts come from the network and become placeholders, so file
        // names and command lines: no control characters (a NUL would cut
        // the command line), no bare "." or "..", no megabytes.
        Shobocal entry;
        entry.ShoboTitle = calendarText(item, "Title");
        entry.ShoboShortTitle = calendarText(item, "ShortTitle");
        entry.ShoboEpisodeNo = calendarText(item, "Count");
        entry.ShoboSubTitle = calendarText(item, "SubTitle");
        entry.ShoboChName = calendarText(item, "ChName");
        entry.ShoboChID = item["ChID"].string_value();
        entry.ShoboCat = item["Cat"].string_value();

        const auto category = shoboCategoryList.find(entry.ShoboCat);
        if (category == shoboCategoryList.end()) {
            // The code is network text: show only a short piece of it.
            throw std::out_of_range("Unknown category code in the calendar answer: \"" +
                                    entry.ShoboCat.substr(0, 16) + "\"");
        }
        entry.ShoboCatName = category->second;

        byChannelId.insert(std::make_pair(entry.ShoboChID, entry));
        shobocalChNameList.insert(std::make_pair(entry.ShoboChName, entry));
    }
    return byChannelId;
}
