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

// ---- table layouts --------------------------------------------------------------
// Where the fixed fields the readers use lie in the four tables: byte offsets
// from the section's table_id, named as the section syntax of ISO/IEC 13818-1
// (PAT), ARIB STD-B10 part 2 / ETSI EN 300 468 (SDT, EIT) and ETSI EN 300 468
// (SIT, the table of a partial transport stream) names them. All fields are
// big-endian; a bit count follows each field name.
//
// Every section begins table_id (8), section_syntax_indicator (1), two
// reserved bits, section_length (12), and ends with CRC_32 (32); section_length
// counts the bytes after itself, CRC_32 included.
namespace psi_section {
constexpr int32_t HEADER_SIZE = 3;  // table_id and section_length: a section is section_length + 3 bytes
constexpr int32_t CRC_SIZE = 4;     // CRC_32
// Offset of CRC_32, which is where the section's data ends.
constexpr int32_t dataEnd(int32_t sectionLength) { return sectionLength + HEADER_SIZE - CRC_SIZE; }
// section_length of a section whose loop, starting at loopOffset, is empty.
constexpr int32_t emptyLength(int32_t loopOffset) { return loopOffset - HEADER_SIZE + CRC_SIZE; }
}  // namespace psi_section

// program_association_section (ISO/IEC 13818-1 2.4.4.3).
namespace pat_section {
constexpr uint8_t TABLE_ID = 0x00;
// transport_stream_id (16) at 3, version_number and current_next_indicator at
// 5, section_number (8) at 6, last_section_number (8) at 7, then the programs.
constexpr int32_t PROGRAM_LOOP = 8;
// A program: program_number (16), reserved (3), network_PID or
// program_map_PID (13).
constexpr int32_t PROGRAM_NUMBER = 0;
constexpr int32_t PROGRAM_SIZE = 4;
constexpr int32_t EMPTY_LENGTH = psi_section::emptyLength(PROGRAM_LOOP);  // 9
}  // namespace pat_section

// service_description_section (ETSI EN 300 468 5.2.3, in the form of ARIB STD-B10
// part 2).
namespace sdt_section {
constexpr uint8_t TABLE_ID_ACTUAL = 0x42;  // actual transport stream
// transport_stream_id (16) at 3, version_number and current_next_indicator at
// 5, section_number (8) at 6, last_section_number (8) at 7,
// original_network_id (16) at 8, reserved_future_use (8) at 10, then the
// services.
constexpr int32_t SERVICE_LOOP = 11;
// A service: service_id (16); reserved_future_use (3),
// EIT_user_defined_flags (3), EIT_schedule_flag (1),
// EIT_present_following_flag (1); running_status (3), free_CA_mode (1),
// descriptors_loop_length (12); the descriptors.
constexpr int32_t SERVICE_ID = 0;
constexpr int32_t DESCRIPTORS_LOOP_LENGTH = 3;
constexpr int32_t DESCRIPTORS = 5;
constexpr int32_t EMPTY_LENGTH = psi_section::emptyLength(SERVICE_LOOP);  // 12
}  // namespace sdt_section

// event_information_section (ETSI EN 300 468 5.2.4; ARIB STD-B10 part 2).
namespace eit_section {
constexpr uint8_t TABLE_ID_PF_ACTUAL = 0x4E;  // present/following, actual transport stream
constexpr int32_t SERVICE_ID = 3;             // service_id (16)
// version_number and current_next_indicator at 5.
constexpr int32_t SECTION_NUMBER = 6;         // section_number (8): 0 is the present event
// last_section_number (8) at 7, transport_stream_id (16) at 8.
constexpr int32_t ORIGINAL_NETWORK_ID = 10;   // original_network_id (16)
// segment_last_section_number (8) at 12, last_table_id (8) at 13, then the
// events: event_id (16), start_time (40), duration (24), running_status (3),
// free_CA_mode (1), descriptors_loop_length (12), the descriptors.
constexpr int32_t EVENT_LOOP = 14;
constexpr int32_t EMPTY_LENGTH = psi_section::emptyLength(EVENT_LOOP);  // 15
}  // namespace eit_section

// selection_information_section (ETSI EN 300 468 7.1.2).
namespace sit_section {
constexpr uint8_t TABLE_ID = 0x7F;
// DVB_reserved_future_use (16) at 3, version_number and
// current_next_indicator at 5, section_number (8) at 6, last_section_number
// (8) at 7; DVB_reserved_for_future_use (4) and transmission_info_loop_length
// (12) at 8, then the transmission descriptors. The services follow them:
// service_id (16), DVB_reserved_future_use (1), running_status (3),
// service_loop_length (12), the descriptors.
constexpr int32_t TRANSMISSION_INFO_LOOP_LENGTH = 8;
constexpr int32_t TRANSMISSION_INFO_LOOP = 10;
}  // namespace sit_section

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
