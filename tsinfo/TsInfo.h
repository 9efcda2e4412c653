// Records the TS information library hands out, its options record and the
// thin file layer its readers use.
#pragma once

#include <cstddef>
#include <cstdint>

// Result of reading one recording (the `status` field of ProgInfo).
enum TS_INFO_STATUS {
    TS_INFO_SUCCESS = 0,
    TS_INFO_FILE_NOT_OPEN = 1,
    TS_INFO_INVALID_FILE = 2,     // neither transport stream nor RPLS
    TS_INFO_UNABLE_TO_DETECT = 3  // a transport stream without programme information
};

// Sizes of the text buffers of ProgInfo, in UTF-16 units.
constexpr std::size_t PROGINFO_TEXT_LEN = 65536;
constexpr std::size_t PROGINFO_PATH_LEN = 260;

// Programme information of one recording. A plain record: always
// value-initialise it (`ProgInfo info{};`) so every field starts at 0.
// Texts are UTF-16; each length counts units without the terminating 0.
struct ProgInfo {
    bool active;  // true when programme information was read
    int32_t status;  // a TS_INFO_STATUS value

    // Start of the programme as broadcast (full year, month 1-12).
    int32_t recyear;
    int32_t recmonth;
    int32_t recday;
    int32_t rechour;
    int32_t recmin;
    int32_t recsec;

    int32_t durhour;
    int32_t durmin;
    int32_t dursec;

    int32_t rectimezone;  // 18 for a transport stream, the file's byte for RPLS
    int32_t makerid;      // RPLS only
    int32_t modelcode;    // RPLS only
    int32_t recsrc;       // RPLS only, -1 when absent
    int32_t chnum;

    char16_t chname[PROGINFO_TEXT_LEN];
    int32_t chnamelen;
    char16_t pname[PROGINFO_TEXT_LEN];
    int32_t pnamelen;
    char16_t pdetail[PROGINFO_TEXT_LEN];
    int32_t pdetaillen;
    char16_t pextend[PROGINFO_TEXT_LEN];
    int32_t pextendlen;  // -1 for an RPLS file without extended text

    int32_t genre[3];  // level-1 nibble high, level-2 nibble low; -1 for an empty entry

    char16_t fullpath[PROGINFO_PATH_LEN];  // absolute path of the file
    char16_t fname[PROGINFO_PATH_LEN];     // file name without extension
    char16_t fext[PROGINFO_PATH_LEN];      // extension with its leading dot
    int64_t fsize;

    int32_t networkID;
    int32_t serviceID;
};

// Options every reader and text conversion receives (read-only). The
// members start at the defaults that initCopyParams sets.
struct CopyParams {
    int32_t argSrc = 0;
    int32_t argDest = 0;
    int32_t separator = 0;
    int32_t flags[257] = {};
    bool bNoControl = true;
    bool bNoComma = true;
    bool bDQuot = false;
    bool bItemName = false;
    bool bDisplay = false;
    bool bCharSize = false;  // full-width forms for the size-dependent sets
    bool bIVS = false;       // keep ideographic variation selectors
    bool bUseBOM = true;
    int32_t tsfilepos = 50;    // scan start, in percent of the file size
    int64_t packet_limit = 0;  // most packets a scan examines; 0 = no limit
};

void initCopyParams(CopyParams* param);

// An open recording. Only regular files open; a FIFO, a device or a
// directory is refused without blocking.
struct TsFileData;
typedef TsFileData* HANDLE;
constexpr HANDLE INVALID_HANDLE_VALUE = nullptr;

// Opens a file for sequential reading; INVALID_HANDLE_VALUE on failure
// (missing, empty or null path, not a regular file, no permission).
HANDLE OpenFileData(const char* path);
// Closes a handle from OpenFileData; INVALID_HANDLE_VALUE is ignored.
void CloseFileData(HANDLE hFile);

// Size of the open file in bytes; 0 when it cannot be told.
int64_t GetFileDataSize(HANDLE hReadFile);
// Moves the read position to filepos bytes from the beginning.
bool SeekFileData(HANDLE hReadFile, int64_t filepos);
// Reads up to size bytes; stops short only at the end of the file or on an
// error. *numread receives the count read (0 on failure). True on success,
// also when the end of the file cut the read short.
bool ReadFileData(HANDLE hReadFile, uint8_t* buf, uint32_t size, uint32_t* numread);
// Writes size bytes; *numwrite receives the count written.
bool WriteFileData(HANDLE hWriteFile, const uint8_t* buf, uint32_t size, uint32_t* numwrite);
