// Placeholder maps ("${Title}" -> value) and their application to a text.
#pragma once

#include <map>
#include <string>

#include "FileData.h"

class StringReplacer {
private:
    // Applied in ascending byte-wise key order.
    std::map<std::string, std::string> replaceList;

public:
    void clear();
    void setReplaceList(const std::map<std::string, std::string>& list);
    // Inserts the pair only when the key is absent.
    void add(const std::string& key, const std::string& value);
    // Every pair applied in key order; inserted text is not searched again
    // for the same key, but later keys do see it.
    std::string replace(const std::string& text) const;
    // Replaces the map with the 26 file placeholders of fd.
    void setFileData(const FileData& fd);
    // Replaces the map with the characters a Windows file name cannot hold
    // (and a few more), each mapped to a full-width form.
    void setWindowsUnavailableCharacters();
};
