// Time-stamped log lines to the console and the log file.
#pragma once

#include <string>

class LogLevel {
public:
    enum type : int { Info = 1, Debug = 2, Warn = 3, Error = 4 };
    // "INFO ", "DEBUG", "WARN ", "ERROR", or "UNKNOWN" for any other value.
    static std::string ToString(type level);
};

class Logger {
public:
    static void setPrintTime(bool on);
    static void setPrintLogLevel(bool on);
    static void setPrintFileName(bool on);
    static void setPrintFuncName(bool on);
    static void setPrintLineNum(bool on);
    static void SetLogLevel(const LogLevel::type& level);
    static void SetLogFilePath(const char* path);

    // Writes one finished message (null: the line ends after the brackets).
    static void write(const LogLevel::type& level, const char* file, const char* function,
                      int line, const char* message);
    // Formats printf-style, then write. A message of any length is written whole.
    static void Write(const LogLevel::type& level, const char* file, const char* function,
                      int line, const char* format, ...)
        __attribute__((format(printf, 5, 6)));

    // Back to the start-up state (all flags on, threshold 0, no log file).
    // For tests only.
    static void resetForTests();
};

void Info(const char* file, const char* function, int line, const char* message);
void Debug(const char* file, const char* function, int line, const char* message);
void Warn(const char* file, const char* function, int line, const char* message);
void Error(const char* file, const char* function, int line, const char* message);

bool isEnabled(const LogLevel::type& level);
// The local time as "%Y-%m-%d %H:%M:%S".
std::string getDateTimeNow();
