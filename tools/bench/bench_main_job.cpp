// The main job over many small recordings in one call: peak memory and time
// of the built program, beside the floor of starting the task's no-op
// program as many times (the one cost a run cannot avoid).
//
//   bench_main_job [N ...]        default: 100 1000 5000
//
// For each N it writes N recordings, runs `marubo DIR` once over them with a
// task that runs `true` for each, and prints the child's peak resident size
// (from wait4) and its wall time, the time of N starts of `true` through the
// program's own process starter, and their ratio. Times are the best of a
// few rounds: the machine is shared, and only the best round shows the cost
// of the work rather than of the neighbours.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "CStringList.h"
#include "Process.h"
#include "RecordingWriter.h"
#include "SampleRecording.h"
#include "TestPaths.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 3;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Recordings that differ in what the placeholders show: name, episode,
// channel, genre, date and time.
testsupport::SampleProgramme programme(int i) {
    static const char* const kChannels[] = {"ＭＡＲＵＢＯテレビ", "まるぼ放送", "まるぼ教育"};
    static const uint8_t kGenres[] = {0x70, 0x30, 0x00, 0x81, 0x62};
    testsupport::SampleProgramme p;
    p.name = "番組" + std::to_string(i % 97) + "　第" + std::to_string(i % 12 + 1) + "話▽副題" + std::to_string(i);
    p.description = "説明文" + std::to_string(i);
    p.channel = kChannels[i % 3];
    p.genre = kGenres[i % 5];
    p.month = i % 12 + 1;
    p.day = i % 28 + 1;
    p.hour = i % 24;
    p.minute = i % 60;
    p.serviceId = static_cast<uint16_t>(0x0400 + 8 * (i % 3));
    return p;
}

bool writeRecordings(const std::string& dir, int count) {
    std::filesystem::create_directories(dir);
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/rec%05d.ts", i);
        if (!recgen::writeFile(dir + name, testsupport::sampleTransportStream(programme(i)))) return false;
    }
    return true;
}

struct Run {
    int exitCode = -1;
    double seconds = 0;
    long peakKiB = 0;
};

// The program with its output thrown away, as a scheduled job runs it.
Run runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& cwd) {
    std::vector<std::string> text{program};
    text.insert(text.end(), args.begin(), args.end());
    const testsupport::CStringList argv(std::move(text));

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

    Run run;
    const Clock::time_point start = Clock::now();
    pid_t pid = -1;
    const int started = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return run;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.seconds = secondsSince(start);
    run.peakKiB = usage.ru_maxrss;
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    return run;
}

// N starts of the no-op program, the way the program starts a task.
double floorSeconds(int count) {
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < count; ++i) platform::runCommandLine("true");
    return secondsSince(start);
}

const char* const kSettings = R"({
  "GENERAL": {"VALID_TS": true},
  "TASKLIST": [
    {"AVAILABLE": true, "SELECT": "TSTITLE", "REGEX": ".", "PROGRAM": "true",
     "OPTIONS": "${Title} ${EpisodeNo2} ${SubTitle} ${RecDate} ${RecTime} ${SeasonName}",
     "OUTFILEPATH": "@OUT@/${Genre}/${Title}/${InBaseName}.mp4"}
  ]
})";

bool prepareProgram(const std::string& root) {
    const std::string bin = root + "/bin";
    std::filesystem::create_directories(bin);
    std::error_code ec;
    std::filesystem::copy_file(testsupport::maruboBinary(), bin + "/marubo",
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) {
        std::fprintf(stderr, "cannot copy %s: %s\n", testsupport::maruboBinary().c_str(), ec.message().c_str());
        return false;
    }
    std::string settings = kSettings;
    settings.replace(settings.find("@OUT@"), 5, root + "/out");
    testsupport::writeFile(bin + "/marubo.json", settings);
    return true;
}

bool measure(const std::string& root, int count) {
    const std::string dir = root + "/in" + std::to_string(count);
    if (!writeRecordings(dir, count)) {
        std::fprintf(stderr, "cannot write the recordings in %s\n", dir.c_str());
        return false;
    }
    Run best;
    double floor = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::filesystem::remove(root + "/bin/marubo.log");
        const Run run = runProgram(root + "/bin/marubo", {dir}, root);
        if (run.exitCode != 0) {
            std::fprintf(stderr, "marubo over %d recordings ended with %d\n", count, run.exitCode);
            return false;
        }
        if (round == 0 || run.seconds < best.seconds) best.seconds = run.seconds;
        best.peakKiB = std::max(best.peakKiB, run.peakKiB);
        const double f = floorSeconds(count);
        if (round == 0 || f < floor) floor = f;
    }
    std::printf("%6d  %9.1f  %9.3f  %9.3f  %6.2f\n", count, best.peakKiB / 1024.0, best.seconds, floor,
                best.seconds / floor);
    std::fflush(stdout);
    std::filesystem::remove_all(dir);
    std::filesystem::remove_all(root + "/out");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
    if (counts.empty()) counts = {100, 1000, 5000};

    testsupport::TempDir root;
    if (!prepareProgram(root.path())) return 1;
    std::printf("     N  peak (MB)   time (s)  floor (s)  ratio\n");
    for (int count : counts) {
        if (count <= 0 || !measure(root.path(), count)) return 1;
    }
    return 0;
}
