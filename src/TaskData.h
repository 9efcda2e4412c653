// One task of the settings file.
#pragma once

#include <string>
#include <utility>

// The sjis* twins hold the ANSI form of their u8* field; the twin-filling
// setters keep them in step. Of the twins only sjisRegex is read (in a
// matching error message).
class TaskData {
private:
    bool available = false;
    std::string u8fileSearchPath;
    std::string u8Select;
    std::string u8Regex;
    std::string sjisRegex;
    std::string u8Program;
    std::string sjisProgram;
    std::string u8Option;
    std::string u8InputOption;
    std::string sjisInputOption;
    std::string u8OutOption;
    std::string sjisOutOption;
    std::string u8OutFullPath;
    std::string u8OutPath;  // kept for the record layout; nothing uses it
    std::string sjisOutFullPath;
    std::string u8AfterTask;
    std::string u8Recovery;

public:
    bool GetAvailable() const { return available; }
    void SetAvailable(bool v) { available = v; }

    std::string GetU8FileSearchPath() const { return u8fileSearchPath; }
    void SetU8FileSearchPath(std::string v) { u8fileSearchPath = std::move(v); }

    std::string GetU8AfterTask() const { return u8AfterTask; }
    void SetU8AfterTask(std::string v) { u8AfterTask = std::move(v); }

    std::string GetU8Select() const { return u8Select; }
    void SetU8Select(std::string v) { u8Select = std::move(v); }

    std::string GetU8Regex() const { return u8Regex; }
    void SetU8Regex(std::string v);  // also sets sjisRegex
    std::string GetSjisRegex() const { return sjisRegex; }
    void SetSjisRegex(std::string v) { sjisRegex = std::move(v); }

    std::string GetU8Program() const { return u8Program; }
    void SetU8Program(std::string v);  // also sets sjisProgram
    std::string GetSjisProgram() const { return sjisProgram; }
    void SetSjisProgram(std::string v) { sjisProgram = std::move(v); }

    std::string GetU8Option() const { return u8Option; }
    void SetU8Option(std::string v) { u8Option = std::move(v); }

    std::string GetU8InputOption() const { return u8InputOption; }
    void SetU8InputOption(std::string v);  // also sets sjisInputOption
    std::string GetSjisInputOption() const { return sjisInputOption; }
    void SetSjisInputOption(std::string v) { sjisInputOption = std::move(v); }

    std::string GetU8OutOption() const { return u8OutOption; }
    void SetU8OutOption(std::string v);  // also sets sjisOutOption
    std::string GetSjisOutOption() const { return sjisOutOption; }
    void SetSjisOutOption(std::string v) { sjisOutOption = std::move(v); }

    std::string GetU8OutFullPath() const { return u8OutFullPath; }
    void SetU8OutFullPath(std::string v);  // also sets sjisOutFullPath
    std::string GetSjisOutFullPath() const { return sjisOutFullPath; }

    std::string GetU8Recovery() const { return u8Recovery; }
    void SetU8Recovery(std::string v) { u8Recovery = std::move(v); }
};
