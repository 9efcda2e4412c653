// Buffered transport-stream packet reader and the gathering of the PSI/SI
// sections (PAT, EIT present/following, SIT, SDT) the readers parse.
#pragma once

#include <cstddef>
#include <cstdint>

#include "TsInfo.h"

constexpr int32_t TS_PACKET_SIZE = 188;
constexpr int32_t TS_READ_BLOCK = 65536;   // one aligned read
constexpr int32_t TS_CARRY_SIZE = 1024;    // room for a unit split across two reads
constexpr int32_t PSI_BUFFER_SIZE = 65536; // a section buffer, also the caller's psibuf
// A stretch this long without one sync byte is taken as the end of the
// recording (a preallocated file, or one its recorder never finished).
constexpr int64_t TS_NO_SYNC_LIMIT = int64_t{64} << 20;

// Results of getSitEit.
constexpr int32_t SITEIT_FOUND_SIT = 31;
constexpr int32_t SITEIT_FOUND_EIT = 18;
constexpr int32_t SITEIT_NOT_FOUND = 65535;

// One forward scan over a recording.
struct TsReadProcess {
    HANDLE hFile;
    int32_t psize;    // unit size, 188 or 192
    int32_t poffset;  // offset of the packet inside a unit (0 or 4)
    uint8_t databuf[TS_CARRY_SIZE + TS_READ_BLOCK];
    uint8_t* buf;     // the read window, databuf + TS_CARRY_SIZE
    int32_t datasize; // bytes held in the window by the last read
    int32_t pos;      // offset of the next unit in the window; negative inside the carry area
    bool bShowError;
};

// Packet and section fields (buf at the packet, or at a section's table_id
// for getSectionLength, or at a 12-bit length field for getLength).
int32_t getPid(const uint8_t* buf);
bool isPsiTop(const uint8_t* buf);
int32_t getAdapFieldLength(const uint8_t* buf);
int32_t getPointerFieldLength(const uint8_t* buf);
int32_t getSectionLength(const uint8_t* buf);
int32_t getLength(const uint8_t* buf);
uint32_t calc_crc32(const uint8_t* buf, int32_t len);

void initTsFileRead(TsReadProcess* ts, HANDLE hFile, int32_t packetsize);
// Starts at startpos percent of the file (0-100; outside that range there is
// nothing to read).
void setPosTsFileRead(TsReadProcess* ts, int32_t startpos);
// Starts at a byte offset.
void setPointerTsFileRead(TsReadProcess* ts, int64_t pointer);
void showErrorTsFileRead(TsReadProcess* ts, bool bShowError);
// The next unit (psize bytes, valid until the next call), or null at the end
// of the data or after TS_NO_SYNC_LIMIT bytes without a sync byte.
uint8_t* getPacketTsFileRead(TsReadProcess* ts);

// Looks for a SIT or the present event of the first programme of the PAT.
// psibuf must hold PSI_BUFFER_SIZE bytes. max_packet_count 0: no limit.
int32_t getSitEit(HANDLE hFile, uint8_t* psibuf, int32_t psize, int32_t startpos, int64_t max_packet_count);
// Looks for the SDT section that describes serviceid.
bool getSdt(HANDLE hFile, uint8_t* psibuf, int32_t psize, int32_t serviceid, int32_t startpos,
            int64_t max_packet_count);
