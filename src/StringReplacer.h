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
    // The same for a command line that is split into arguments by the
    // Windows rules: a '"' in a value (a Linux file name may hold one) stays
    // a character of its argument, and a value's backslashes never turn a
    // quote of the text into a literal one. So a name can never end its
    // quotes early and add arguments of its own. All keys are filled first
    // (the line is what replace gives), then the escapes are written, so
    // what follows a value is judged on the filled line: a value's
    // backslashes are doubled exactly when a quote follows them there.
    // Backslashes of the text that escape a quote of the text stay as
    // written; the text's other backslashes stand for themselves, as the
    // values' do, even when an empty value leaves them before a quote.
    std::string replaceInCommandLine(const std::string& text) const;
    // Replaces the map with the 26 file placeholders of fd.
    void setFileData(const FileData& fd);
    // Replaces the map with the characters a Windows file name cannot hold
    // (and a few more), each mapped to a full-width form.
    void setWindowsUnavailableCharacters();
};
