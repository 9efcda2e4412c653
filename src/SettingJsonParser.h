// Reads the settings text ("marubo.json") into a SettingJson.
#pragma once

#include <string>

#include "SettingJson.h"

class SettingJsonParser {
public:
    // Strict JSON. On a text that does not parse (or is just null) the
    // result has success false and the parser's message, and nothing else.
    // Missing keys and values of another type read as false, 0, "" or
    // empty; "DEFINE" macros are filled into the values as they are read.
    SettingJson parse(const std::string text);
};
