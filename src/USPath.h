// One path held in two forms: the "ANSI" form (the file-system bytes, which
// on Linux are the same UTF-8 bytes) for file calls, and the UTF-8 form for
// placeholders, matching and logs.
#pragma once

#include <string>

class USPath {
public:
    // The file-system form. Strings rather than fixed arrays, so that no part
    // of a long path is ever cut. An empty USPath is an empty path.
    std::string sjisFullPath;  // the whole path, as given
    std::string sjisDrive;     // always empty: Linux paths have no drive part
    std::string sjisDir;       // directory part with its trailing "/"
    std::string sjisBasename;  // file name without extension
    std::string sjisExt;       // extension with its leading "."
    std::string sjisFilename;  // sjisBasename + sjisExt
    std::string sjisPath;      // sjisDrive + sjisDir (the containing directory)

    // UTF-8 forms, always derived from the fields above.
    std::string u8FullPath;
    std::string u8Drive;
    std::string u8Path;
    std::string u8Filename;
    std::string u8Basename;
    std::string u8Ext;

    // Fills every field from a path in the file-system form; the bytes are
    // taken up to the first NUL.
    void path(const char* ansiPath);
    // Fills every field from a UTF-8 path (a run of "/" folds to one first).
    void path(std::string utf8Path);
};
