// The command line: options into a parameter map, the rest into a file list.
#pragma once

#include <map>
#include <string>
#include <vector>

class ArgumentProcessing {
public:
    int verbose_flag = 0;
    // Long option name -> value; a switch without argument holds "NULL".
    // The first occurrence of an option wins.
    std::map<std::string, std::string> paramaters;
    // Non-option arguments, in order, as the bytes the process received.
    std::vector<std::string> fileList;

    // Fills paramaters and fileList from the process arguments; returns true.
    // argv is not reordered, and the analysis may run any number of times.
    bool analysis(int argc, char** argv);

    std::map<std::string, std::string> getParams() const { return paramaters; }
    std::vector<std::string> getFileList() const { return fileList; }

    // Prints the usage text to standard output, reports INFO_USAGE and
    // returns it (2).
    int usage(const char* programName);
};

// arg past at most one leading blank and then at most one leading "=".
char* optargBugfix(char* arg);
