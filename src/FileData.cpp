#include "FileData.h"

bool FileData::setSuccess(const bool v)
{
    success = v;
    return v;
}

bool FileData::setAvailableTS(const bool v)
{
    isTS = v;
    return v;
}
