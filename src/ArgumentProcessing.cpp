#include "ArgumentProcessing.h"

#include <getopt.h>

#include <cstdio>
#include <vector>

#include "ErrorManager.h"

namespace {

const struct option LONG_OPTIONS[] = {
    {"filter", required_argument, nullptr, 'f'},
    {"auto", no_argument, nullptr, 'a'},
    {"check", no_argument, nullptr, 'c'},
    {"recursive", no_argument, nullptr, 'r'},
    {"tsinfo", no_argument, nullptr, 'i'},
    {"chmake", no_argument, nullptr, 'm'},
    {nullptr, 0, nullptr, 0},
};

// The leading "-" makes getopt_long hand back every non-option argument in
// place (as code 1), so options are taken anywhere on the line whether or
// not POSIXLY_CORRECT is set, and the caller's argv is never reordered.
const char SHORT_OPTIONS[] = "-f:acrim";

}  // namespace

char* optargBugfix(char* arg)
{
    if (arg == nullptr) return arg;
    if (*arg == ' ') ++arg;
    if (*arg == '=') ++arg;
    return arg;
}

bool ArgumentProcessing::analysis(int argc, char** argv)
{
    if (argc < 1 || argv == nullptr) return true;

    // getopt_long reorders the array it is given and keeps its position in
    // globals: work on a copy of the pointers and restart it from scratch
    // (optind 0 makes glibc re-read the option string and environment).
    std::vector<char*> args(argv, argv + argc);
    args.push_back(nullptr);
    optind = 0;
    opterr = 1;

    int c;
    while ((c = getopt_long(argc, args.data(), SHORT_OPTIONS, LONG_OPTIONS, nullptr)) != -1) {
        switch (c) {
        case 1:
            fileList.emplace_back(optarg != nullptr ? optarg : "");
            break;
        case 'a': paramaters.emplace("auto", "NULL"); break;
        case 'c': paramaters.emplace("check", "NULL"); break;
        case 'r': paramaters.emplace("recursive", "NULL"); break;
        case 'i': paramaters.emplace("tsinfo", "NULL"); break;
        case 'm': paramaters.emplace("chmake", "NULL"); break;
        case 'f': {
            const char* value = optargBugfix(optarg);
            paramaters.emplace("filter", value != nullptr ? value : "");
            break;
        }
        default:
            // Unknown option or missing argument: getopt_long has said so
            // on standard error; the run goes on without it.
            break;
        }
    }
    // What follows "--" is all file names.
    for (; optind < argc; ++optind) fileList.emplace_back(args[optind]);
    optind = 0;
    return true;
}

int ArgumentProcessing::usage(const char* programName)
{
    std::printf("marubo Ver. 1.0.0 by QEMTU\n");
    std::printf("usage : %s [options...] Filenames... or Directorys...\n", programName != nullptr ? programName : "");
    std::printf("Options:\n");
    std::printf("-c | --check        Check only setting files.\n");
    std::printf("-a | --auto         Automatic file entry from 'AUTOENTRY' list.\n");
    std::printf("-r | --recursive    Recursively search for files.\n");
    std::printf("-f | --filter       Regular-Expression filter. example '--filter=.ts$'\n");
    std::printf("-i | --tsinfo       TS file info print.\n");
    std::printf("-m | --chmake       channelsetting.json auto maker.\n");
    std::printf("\n");
    std::fflush(stdout);
    return ErrorManager::add(ErrorCode::INFO_USAGE);
}
