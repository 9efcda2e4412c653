#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <exception>
#include <string>

#include "ArgumentProcessing.h"
#include "ErrorManager.h"
#include "ExecuteProcessing.h"
#include "FileAccess.h"
#include "Logger.h"
#include "Machine.h"

namespace {

// The records of a run are large and regular expressions recurse deeply, so
// the job runs on a thread of its own with room to spare.
constexpr std::size_t kJobStackSize = 64u * 1024u * 1024u;

struct Job {
    int argc;
    char** argv;
    int result;
};

int runTransaction(int argc, char** argv) {
    try {
        return ExecuteProcessing::transaction(argc, argv);
    } catch (const std::exception& e) {
        // Nothing should get here; if something does, the run still ends
        // with a message, its error list and a failure code, not an abort.
        Logger::Write(LogLevel::Error, "../src/main", __func__, __LINE__, "Unexpected Exception : %s",
                      e.what());
        const int code = ErrorManager::add(ERR_PROCESSING);
        ErrorManager::result();
        return code;
    }
}

void* jobThread(void* arg) {
    Job* job = static_cast<Job*>(arg);
    job->result = runTransaction(job->argc, job->argv);
    return nullptr;
}

// Started with a standard descriptor closed (">&-", some schedulers), the
// first file opened would take its number: a started program would then
// write its console output into its own output file. Such a slot gets
// /dev/null instead.
void fillClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

int runOnLargeStack(int argc, char** argv) {
    Job job{argc, argv, 0};
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return runTransaction(argc, argv);
    pthread_t thread;
    const bool started = pthread_attr_setstacksize(&attr, kJobStackSize) == 0 &&
                         pthread_create(&thread, &attr, jobThread, &job) == 0;
    pthread_attr_destroy(&attr);
    if (!started) return runTransaction(argc, argv);
    pthread_join(thread, nullptr);
    return job.result;
}

}  // namespace

int main(int argc, char** argv) {
    fillClosedStandardDescriptors();

    // Console lines go to standard output before the log file: when whatever
    // reads the console goes away (a closed pipe, "| head"), the write must
    // fail quietly, not end the run with its command half-way and no lists.
    // Started programs get SIGPIPE back at its default.
    std::signal(SIGPIPE, SIG_IGN);

    const std::string logPath = FileAccess::getModulePath() + "marubo.log";
    Logger::SetLogFilePath(logPath.c_str());
    Logger::setPrintFileName(false);
    Logger::setPrintFuncName(false);
    Logger::setPrintLineNum(false);

    if (argc <= 1) {
        ArgumentProcessing args;
        return args.usage(argc > 0 ? argv[0] : "marubo");
    }

    platform::powerControl().keepAwake(true);
    const int result = runOnLargeStack(argc, argv);
    platform::powerControl().keepAwake(false);

    // The exit status keeps 8 bits: a result outside 0..255 (the HRESULT of
    // a program that could not start) leaves as 255, never as its low byte.
    return platform::exitStatus(result);
}
