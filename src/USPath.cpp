#include "USPath.h"

#include <algorithm>

#include "FileAccess.h"
#include "StringExtra.h"

namespace {

// Splits like _splitpath, with the Linux rules: "/" is the only separator
// (a backslash is an ordinary byte), there is no drive part, and the
// extension starts at the last "." of the last component, so ".ts" is all
// extension and "a.b.c" has the extension ".c".
void splitPath(const std::string& full, std::string& dir, std::string& base, std::string& ext)
{
    const std::string::size_type slash = full.rfind('/');
    const std::string::size_type nameStart = (slash == std::string::npos) ? 0 : slash + 1;
    dir = full.substr(0, nameStart);
    const std::string name = full.substr(nameStart);
    const std::string::size_type dot = name.rfind('.');
    if (dot == std::string::npos) {
        base = name;
        ext.clear();
    } else {
        base = name.substr(0, dot);
        ext = name.substr(dot);
    }
}

}  // namespace

void USPath::path(const char* ansiPath)
{
    sjisFullPath = (ansiPath != nullptr) ? std::string(ansiPath) : std::string();
    sjisDrive.clear();
    splitPath(sjisFullPath, sjisDir, sjisBasename, sjisExt);
    sjisPath = sjisDrive + sjisDir;
    sjisFilename = sjisBasename + sjisExt;

    u8Ext = StringExtra::multi_to_utf8_winapi(sjisExt);
    u8Drive = StringExtra::multi_to_utf8_winapi(sjisDrive);
    u8Path = StringExtra::multi_to_utf8_winapi(sjisPath);
    u8Filename = StringExtra::multi_to_utf8_winapi(sjisFilename);
    u8Basename = StringExtra::multi_to_utf8_winapi(sjisBasename);
    u8FullPath = StringExtra::multi_to_utf8_winapi(sjisFullPath);
}

void USPath::path(std::string utf8Path)
{
    // A local path keeps its backslashes (they are ordinary file-name bytes
    // here); only runs of slashes, which placeholder joins tend to produce
    // (an empty field between two separators), fold to one.
    utf8Path.erase(std::unique(utf8Path.begin(), utf8Path.end(),
                               [](char a, char b) { return a == '/' && b == '/'; }),
                   utf8Path.end());
    const std::string ansi = StringExtra::utf8_to_multi_winapi(utf8Path);
    path(ansi.c_str());
}
