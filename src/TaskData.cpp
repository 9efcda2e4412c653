#include "TaskData.h"

#include "StringExtra.h"

// Each twin-filling setter assigns the UTF-8 member first: when the
// conversion throws, the twin keeps its previous value.

void TaskData::SetU8Regex(std::string v)
{
    u8Regex = std::move(v);
    sjisRegex = StringExtra::utf8_to_multi_winapi(u8Regex);
}

void TaskData::SetU8Program(std::string v)
{
    u8Program = std::move(v);
    sjisProgram = StringExtra::utf8_to_multi_winapi(u8Program);
}

void TaskData::SetU8InputOption(std::string v)
{
    u8InputOption = std::move(v);
    sjisInputOption = StringExtra::utf8_to_multi_winapi(u8InputOption);
}

void TaskData::SetU8OutOption(std::string v)
{
    u8OutOption = std::move(v);
    sjisOutOption = StringExtra::utf8_to_multi_winapi(u8OutOption);
}

void TaskData::SetU8OutFullPath(std::string v)
{
    u8OutFullPath = std::move(v);
    sjisOutFullPath = StringExtra::utf8_to_multi_winapi(u8OutFullPath);
}
