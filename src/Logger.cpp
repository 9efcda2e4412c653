#include "Logger.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

bool bPrintTime = true;
bool bPrintLogLevel = true;
bool bPrintFileName = true;
bool bPrintFuncName = true;
bool bPrintLineNum = true;
int m_tatgetLogLevel = 0;
std::string m_logFilePath;

void writeLine(FILE* stream, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
}

}  // namespace

std::string LogLevel::ToString(type level) {
    switch (level) {
    case Info: return "INFO ";
    case Debug: return "DEBUG";
    case Warn: return "WARN ";
    case Error: return "ERROR";
    }
    return "UNKNOWN";
}

void Logger::setPrintTime(bool on) { bPrintTime = on; }
void Logger::setPrintLogLevel(bool on) { bPrintLogLevel = on; }
void Logger::setPrintFileName(bool on) { bPrintFileName = on; }
void Logger::setPrintFuncName(bool on) { bPrintFuncName = on; }
void Logger::setPrintLineNum(bool on) { bPrintLineNum = on; }
void Logger::SetLogLevel(const LogLevel::type& level) { m_tatgetLogLevel = level; }
void Logger::SetLogFilePath(const char* path) { m_logFilePath = path != nullptr ? path : ""; }

void Logger::resetForTests() {
    bPrintTime = bPrintLogLevel = bPrintFileName = bPrintFuncName = bPrintLineNum = true;
    m_tatgetLogLevel = 0;
    m_logFilePath.clear();
}

void Logger::write(const LogLevel::type& level, const char* file, const char* function, int line,
                   const char* message) {
    if (!isEnabled(level)) return;

    std::string text;
    if (bPrintTime) text += getDateTimeNow();
    text += ' ';
    if (bPrintLogLevel) text += "[" + LogLevel::ToString(level) + "]";
    if (bPrintFileName) text += std::string("[") + (file != nullptr ? file : "") + "]";
    if (bPrintFuncName) text += std::string("[") + (function != nullptr ? function : "") + "]";
    if (bPrintLineNum) text += "[" + std::to_string(line) + "]";
    if (message != nullptr) {
        text += ' ';
        text += message;
    }

    writeLine(stdout, text);
    std::fflush(stdout);

    // Opened per line so that a file that cannot be written costs only the
    // file copy of this line.
    if (m_logFilePath.empty()) return;
    // Non-blocking open: a FIFO in the log file's place must never stall
    // the run; without a reader it does not open and the line is lost.
    const int fd = ::open(m_logFilePath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return;
    FILE* log = ::fdopen(fd, "a");
    if (log == nullptr) {
        ::close(fd);
        return;
    }
    writeLine(log, text);
    std::fflush(log);
    std::fclose(log);
}

void Logger::Write(const LogLevel::type& level, const char* file, const char* function, int line,
                   const char* format, ...) {
    if (format == nullptr) {
        write(level, file, function, line, nullptr);
        return;
    }
    std::vector<char> buffer(4096, '\0');
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    if (needed >= 0 && static_cast<std::size_t>(needed) >= buffer.size()) {
        // Too long for the usual buffer: format again into one that fits.
        buffer.assign(static_cast<std::size_t>(needed) + 1, '\0');
        std::vsnprintf(buffer.data(), buffer.size(), format, again);
    }
    va_end(again);
    write(level, file, function, line, buffer.data());
}

void Info(const char* file, const char* function, int line, const char* message) {
    Logger::write(LogLevel::Info, file, function, line, message);
}
void Debug(const char* file, const char* function, int line, const char* message) {
    Logger::write(LogLevel::Debug, file, function, line, message);
}
void Warn(const char* file, const char* function, int line, const char* message) {
    Logger::write(LogLevel::Warn, file, function, line, message);
}
void Error(const char* file, const char* function, int line, const char* message) {
    Logger::write(LogLevel::Error, file, function, line, message);
}

bool isEnabled(const LogLevel::type& level) { return static_cast<int>(level) >= m_tatgetLogLevel; }

std::string getDateTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) return std::string();
    char buffer[29] = {};
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    return buffer;
}
