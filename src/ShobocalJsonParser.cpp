#include "ShobocalJsonParser.h"

#include <stdexcept>
#include <utility>

#include "JsonAdapter.h"

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
        Shobocal entry;
        entry.ShoboTitle = item["Title"].string_value();
        entry.ShoboShortTitle = item["ShortTitle"].string_value();
        entry.ShoboEpisodeNo = item["Count"].string_value();
        entry.ShoboSubTitle = item["SubTitle"].string_value();
        entry.ShoboChName = item["ChName"].string_value();
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
