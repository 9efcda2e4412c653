// Builds recordings for tests: MPEG-2 transport streams carrying PAT, EIT,
// SDT and SIT sections (188-byte packets or 192-byte units), and RPLS files.
// Everything is laid out by hand from the table layouts, so a test can also
// break any field on purpose. Text fields take ARIB 8-unit bytes as they are.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace recgen {

using Bytes = std::vector<uint8_t>;

// Bytes of a string literal, without its terminator.
Bytes bytes(const std::string& s);
// Concatenation.
Bytes cat(std::initializer_list<Bytes> parts);
// 8-unit text in alphanumerics: LS1 (G1 holds them from the start), then
// the ASCII bytes.
Bytes alnum(const std::string& s);

// CRC-32/MPEG-2 (poly 0x04C11DB7, init 0xFFFFFFFF, no reflection, no xorout).
uint32_t crc32Mpeg2(const uint8_t* data, size_t len);

// Two decimal digits as one BCD byte (0-99).
uint8_t bcd(int value);
// Modified Julian Date of a calendar date (valid 1900-03-01 .. 2038-04-22
// for the 16-bit field; the value is cut to 16 bits).
uint16_t mjd(int year, int month, int day);

// ---- sections -------------------------------------------------------------

// A long-form section: table_id, section_length, table_id_extension, version,
// section_number, last_section_number, then `body`, then the CRC.
Bytes longSection(uint8_t tableId, uint16_t tableIdExtension, uint8_t sectionNumber,
                  uint8_t lastSectionNumber, const Bytes& body, uint8_t version = 1);
// Recomputes section_length from the vector size and the CRC over it
// (the last four bytes are replaced).
void resealSection(Bytes& section);

// PAT: (program_number, PID) entries.
Bytes pat(uint16_t transportStreamId, const std::vector<std::pair<uint16_t, uint16_t>>& programs);

struct Event {
    uint16_t eventId = 1;
    uint16_t startMjd = 0;
    std::array<uint8_t, 3> startBcd{};     // hh mm ss as BCD bytes (FF FF FF undefined)
    std::array<uint8_t, 3> durationBcd{};  // hh mm ss as BCD bytes (FF FF FF undefined)
    Bytes descriptors;
};
// EIT present/following (table 0x4E by default).
Bytes eit(uint16_t serviceId, uint16_t transportStreamId, uint16_t originalNetworkId,
          uint8_t sectionNumber, const std::vector<Event>& events, uint8_t tableId = 0x4E);

struct Service {
    uint16_t serviceId = 0;
    Bytes descriptors;
};
// SDT actual (table 0x42).
Bytes sdt(uint16_t transportStreamId, uint16_t originalNetworkId, const std::vector<Service>& services,
          uint8_t tableId = 0x42);
// SIT (table 0x7F) of a partial transport stream.
Bytes sit(const Bytes& transmissionDescriptors, const std::vector<Service>& services);

// ---- descriptors ----------------------------------------------------------

Bytes descriptor(uint8_t tag, const Bytes& body);
Bytes shortEvent(const Bytes& name, const Bytes& text);
struct Item {
    Bytes description;
    Bytes text;
};
Bytes extendedEvent(uint8_t number, uint8_t lastNumber, const std::vector<Item>& items, const Bytes& text = {});
// One entry per byte: content_nibble_level_1/2 byte, user byte 0x00.
Bytes content(const std::vector<uint8_t>& genres);
Bytes serviceDesc(uint8_t serviceType, const Bytes& provider, const Bytes& name);
// 0xC2 network identification: country "JPN", media type, network id.
Bytes networkIdentification(uint16_t mediaType, uint16_t networkId);
// 0xCD TS information: remote-control key id, then a TS name of length 0.
Bytes tsInformation(uint8_t remoteControlKeyId);
// 0xC3 partial transport stream time.
Bytes partialTsTime(uint16_t startMjd, std::array<uint8_t, 3> startBcd, std::array<uint8_t, 3> durationBcd);

// ---- packets ----------------------------------------------------------------

// One 188-byte packet. adaptationLength < 0: no adaptation field; otherwise
// an adaptation field whose length byte is adaptationLength (filled with
// stuffing 0xFF after a flags byte 0x00). The payload is cut or padded with
// 0xFF to what the packet holds.
Bytes packet(uint16_t pid, bool unitStart, uint8_t continuity, const Bytes& payload, int adaptationLength = -1);

struct SectionOptions {
    // Start each section in a new packet (pointer field 0); otherwise a
    // section starts right after the previous one, in the same packet.
    bool newPacketEach = false;
    // Adaptation field length byte for every packet of the run (-1: none).
    int adaptationLength = -1;
};

// Writes transport streams unit by unit.
class TsWriter {
public:
    explicit TsWriter(int unitSize = 188);

    int unitSize() const { return m_unitSize; }
    // Sections of one PID, split over as many packets as they need; the
    // last packet is filled with 0xFF stuffing.
    void putSections(uint16_t pid, const std::vector<Bytes>& sections, const SectionOptions& opts = {});
    void putSection(uint16_t pid, const Bytes& section, const SectionOptions& opts = {}) {
        putSections(pid, {section}, opts);
    }
    // Null packets (PID 0x1FFF).
    void putNull(size_t count = 1);
    // Null packets until the stream holds at least `bytes` bytes.
    void padTo(size_t bytes);
    // A ready 188-byte packet, wrapped into a unit.
    void putPacket(const Bytes& packet188);
    // Bytes as they are (garbage, cut units).
    void putRaw(const Bytes& raw);

    Bytes& data() { return m_data; }
    const Bytes& data() const { return m_data; }
    size_t size() const { return m_data.size(); }
    // Writes the stream to a file; false on error.
    bool writeTo(const std::string& path) const;

private:
    uint8_t nextContinuity(uint16_t pid);

    int m_unitSize;
    uint32_t m_clock = 0;
    std::array<uint8_t, 8192> m_continuity{};
    Bytes m_data;
};

// ---- RPLS -------------------------------------------------------------------

struct Rpls {
    uint8_t timeZone = 0x48;
    std::array<uint8_t, 10> startAndDurationBcd{0x20, 0x24, 0x01, 0x02, 0x21, 0x00, 0x00, 0x00, 0x30, 0x00};
    uint16_t makerId = 0;
    uint16_t modelCode = 0;
    uint16_t channel = 0;
    Bytes channelName;  // at most 255 bytes are stored at 68 (length at 67)
    Bytes programName;  // length byte at 88, text at 89
    Bytes description;  // 2-byte length at 344, text at 346

    // Maker block: 0 none, else its maker id (0x0108 or 0x0103 are
    // understood). Placed at blockOffset, or after the texts when that is 0.
    uint16_t blockMaker = 0;
    uint32_t blockOffset = 0;
    // 0x0108: genres (-1: flag 0) and extended text after the description.
    std::array<int, 3> genres108{-1, -1, -1};
    Bytes extended;
    // 0x0103: recording source, genre layout byte and the three genre bytes
    // as stored (nibbles already swapped).
    uint16_t recordingSource = 0;
    uint8_t layout = 0;
    std::array<uint8_t, 3> genreBytes103{};

    // Overrides of the stored length fields (-1: the real length).
    int descriptionLengthField = -1;
    int extendedLengthField = -1;
    // Size of the file (0: just what the content needs, at least 1024).
    size_t fileSize = 0;

    Bytes build() const;
};

bool writeFile(const std::string& path, const Bytes& data);

}  // namespace recgen
