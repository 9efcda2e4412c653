#include "FtpData.h"

#include "StringExtra.h"

void FTPData::setRemotePath(std::string v)
{
    remotePath = std::move(v);
    charRemotePath = StringExtra::utf8_to_multi_winapi(remotePath);
}
