// Reads the programme calendar's JSON answer: the programmes broadcast in a
// time window, one item per broadcast.
#pragma once

#include <map>
#include <string>

#include "FileData.h"

// The calendar's category codes and their names ("1" -> "アニメ").
extern const std::map<std::string, std::string> shoboCategoryList;

class ShobocalJsonParser {
private:
    // Every item parsed by this object, by calendar channel name; the first
    // item per name stays.
    std::map<std::string, Shobocal> shobocalChNameList;
    // Why the last text gave no JSON value; empty when it parsed.
    std::string parseError;

public:
    // The items of the answer by calendar channel id (the first item per id
    // stays). A text that does not parse, or is just null, gives an empty
    // map. Throws std::out_of_range for an item whose "Cat" is not a known
    // category code (a missing "Cat" included), std::length_error for a
    // text longer than any title (4096 bytes). The texts come back without
    // control codes and never as a bare "." or "..".
    std::map<std::string, Shobocal> parse(const std::string text);
    std::map<std::string, Shobocal> getShobocalChNameList() const { return shobocalChNameList; }
    // Empty after a text that parsed (even one without items).
    const std::string& getParseError() const { return parseError; }
};
