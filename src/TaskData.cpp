#include "TaskData.h"

#include "StringExtra.h"

namespace {

void setWithTwin(std::string& u8, std::string& sjis, std::string v)
{
    u8 = std::move(v);
    sjis = StringExtra::utf8_to_multi_winapi(u8);
}

}  // namespace

void TaskData::SetU8Regex(std::string v) { setWithTwin(u8Regex, sjisRegex, std::move(v)); }

void TaskData::SetU8Program(std::string v) { setWithTwin(u8Program, sjisProgram, std::move(v)); }

void TaskData::SetU8InputOption(std::string v) { setWithTwin(u8InputOption, sjisInputOption, std::move(v)); }

void TaskData::SetU8OutOption(std::string v) { setWithTwin(u8OutOption, sjisOutOption, std::move(v)); }

void TaskData::SetU8OutFullPath(std::string v) { setWithTwin(u8OutFullPath, sjisOutFullPath, std::move(v)); }
