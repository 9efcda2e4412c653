// Turns each input file's record into a TS recording with programme data
// (times, title, episode, subtitle, channel, genres), or leaves it a plain
// file.
#pragma once

#include <string>
#include <vector>

#include "FileData.h"

class ValidationTS {
public:
    // Reads every file's programme information and fills the records of the
    // recordings in place, in list order. A file that is not a recording is
    // logged and left untouched.
    static void validTSfilelist(std::vector<FileData>& filelist);
};

// Title, episode number and subtitle from progInfo.pname. A list of
// expressions that finds nothing leaves its field as it was.
void setProgPnameToShobocal(FileData& file);

// genreNoL, genreNameL and genreNameM from the first genre byte.
void setGenre(FileData& file);

// Programme text that ends up in placeholders, and so in file names and
// command lines (title, subtitle, episode, channel name; from a recording or
// from the calendar): control characters are dropped (tab, CR and LF become
// a blank; a NUL would cut the command line short), and a text that is just
// "." or ".." gets full-width dots, so that it can never name the output
// folder itself or its parent.
std::string safeProgrammeText(const std::string& text);

// starttime and endtime from the broadcast start and duration (local time,
// full year, month 1-12). A start that cannot be placed on the calendar
// keeps the broadcast fields as they are and gets an end equal to it.
void setStartAndEndTime(FileData& file);
