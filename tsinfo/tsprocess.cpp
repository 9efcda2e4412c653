#include "tsprocess.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint8_t SYNC_BYTE = 0x47;

// PIDs of the tables gathered (ISO/IEC 13818-1 for the PAT, ETSI EN 300 468
// 5.1.3 and ARIB STD-B10 for the others).
constexpr int32_t PID_PAT = 0x0000;
constexpr int32_t PID_SDT = 0x0011;
constexpr int32_t PID_EIT = 0x0012;
constexpr int32_t PID_SIT = 0x001F;

// A 16-bit big-endian field.
int32_t be16(const uint8_t* field) { return (field[0] << 8) | field[1]; }

struct CrcTable {
    uint32_t v[256];
    CrcTable() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i << 24;
            for (int b = 0; b < 8; ++b) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : (c << 1);
            v[i] = c;
        }
    }
};
const CrcTable kCrcTable;

}  // namespace

int32_t getPid(const uint8_t* buf) { return ((buf[1] & 0x1F) << 8) | buf[2]; }

bool isPsiTop(const uint8_t* buf) { return (buf[1] & 0x40) != 0; }

int32_t getAdapFieldLength(const uint8_t* buf) { return (buf[3] & 0x20) ? buf[4] + 1 : 0; }

int32_t getPointerFieldLength(const uint8_t* buf) {
    if (!isPsiTop(buf)) return 0;
    // An adaptation field that fills the packet leaves no pointer field; its
    // length byte (up to 255) must not lead the read past the packet.
    const int32_t adap = getAdapFieldLength(buf);
    if (adap >= TS_PACKET_SIZE - 4) return 0;
    return buf[4 + adap];
}

int32_t getSectionLength(const uint8_t* buf) { return ((buf[1] & 0x0F) << 8) | buf[2]; }

int32_t getLength(const uint8_t* buf) { return ((buf[0] & 0x0F) << 8) | buf[1]; }

uint32_t calc_crc32(const uint8_t* buf, int32_t len) {
    uint32_t crc = 0xFFFFFFFFu;
    if (buf == nullptr) return crc;
    for (int32_t i = 0; i < len; ++i) crc = (crc << 8) ^ kCrcTable.v[((crc >> 24) ^ buf[i]) & 0xFF];
    return crc;
}

// ---- reader -----------------------------------------------------------------

void initTsFileRead(TsReadProcess* ts, HANDLE hFile, int32_t packetsize) {
    ts->hFile = hFile;
    // Only the two unit sizes exist; anything else would overrun the carry area.
    ts->psize = (packetsize == 192) ? 192 : TS_PACKET_SIZE;
    ts->poffset = ts->psize - TS_PACKET_SIZE;
    ts->datasize = 0;
    ts->pos = 0;
    ts->buf = ts->databuf + TS_CARRY_SIZE;
    ts->bShowError = false;
    std::memset(ts->databuf, 0, sizeof(ts->databuf));
}

static void readBlock(TsReadProcess* ts) {
    uint32_t numread = 0;
    if (!ReadFileData(ts->hFile, ts->buf, TS_READ_BLOCK, &numread)) numread = 0;
    ts->datasize = static_cast<int32_t>(std::min<uint32_t>(numread, TS_READ_BLOCK));
}

void setPointerTsFileRead(TsReadProcess* ts, int64_t pointer) {
    ts->datasize = 0;
    ts->pos = 0;
    if (pointer < 0) return;
    const int64_t aligned = pointer - pointer % TS_READ_BLOCK;
    ts->pos = static_cast<int32_t>(pointer - aligned);
    if (!SeekFileData(ts->hFile, aligned)) return;
    readBlock(ts);
}

void setPosTsFileRead(TsReadProcess* ts, int32_t startpos) {
    if (startpos < 0 || startpos > 100) {
        // Before the start or past the end: nothing to scan.
        ts->datasize = 0;
        ts->pos = 0;
        return;
    }
    const int64_t size = GetFileDataSize(ts->hFile);
    setPointerTsFileRead(ts, static_cast<int64_t>(startpos) * size / 100);
}

void showErrorTsFileRead(TsReadProcess* ts, bool bShowError) { ts->bShowError = bShowError; }

// Moves the unread tail of a full window into the carry area and reads the
// next block behind it. False at the end of the data or when even then fewer
// than `need` bytes are held.
static bool refillTsFileRead(TsReadProcess* ts, int32_t need) {
    if (ts->datasize != TS_READ_BLOCK) return false;
    const int32_t rest = ts->datasize - ts->pos;
    if (rest < 0 || rest > TS_CARRY_SIZE) return false;
    std::memmove(ts->buf - rest, ts->buf + ts->pos, static_cast<size_t>(rest));
    ts->pos = -rest;
    readBlock(ts);
    return ts->datasize - ts->pos >= need;
}

uint8_t* getPacketTsFileRead(TsReadProcess* ts) {
    const int32_t psize = ts->psize;
    const int32_t poff = ts->poffset;
    if (ts->datasize - ts->pos < psize && !refillTsFileRead(ts, psize)) return nullptr;
    if (ts->buf[ts->pos + poff] == SYNC_BYTE) {
        uint8_t* unit = ts->buf + ts->pos;
        ts->pos += psize;
        return unit;
    }
    const int32_t need = poff + 2 * psize + 1;
    int64_t withoutSync = 0;
    for (;;) {
        if (ts->datasize - ts->pos < need && !refillTsFileRead(ts, need)) return nullptr;
        const uint8_t* p = ts->buf + ts->pos + poff;
        if (p[0] != SYNC_BYTE) {
            // A damaged or preallocated recording can hold gigabytes without
            // a sync byte: jump to the next candidate instead of stepping
            // byte by byte. Only positions with `need` bytes behind them are
            // candidates; the rest waits for the next block.
            const int32_t candidates = ts->datasize - ts->pos - need + 1;
            const void* hit = std::memchr(p, SYNC_BYTE, static_cast<size_t>(candidates));
            const int32_t skip =
                hit != nullptr ? static_cast<int32_t>(static_cast<const uint8_t*>(hit) - p) : candidates;
            // Reading gigabytes of an empty tail to the end would find nothing.
            withoutSync += skip;
            if (withoutSync >= TS_NO_SYNC_LIMIT) return nullptr;
            ts->pos += skip;
            continue;
        }
        withoutSync = 0;
        if (p[psize] == SYNC_BYTE && p[2 * psize] == SYNC_BYTE) {
            uint8_t* unit = ts->buf + ts->pos;
            ts->pos += psize;
            return unit;
        }
        ++ts->pos;
    }
}

// ---- section gathering --------------------------------------------------------

namespace {

// The section being collected for one PID.
class SectionGather {
public:
    explicit SectionGather(uint8_t* storage) : m_data(storage) {}

    void start(const uint8_t* src, int32_t n) {
        // Clear what an earlier section left, so nothing stale follows.
        std::memset(m_data, 0, static_cast<size_t>(m_used));
        m_fill = 0;
        m_used = 0;
        m_inProgress = true;
        add(src, n);
    }
    void add(const uint8_t* src, int32_t n) {
        if (!m_inProgress) return;
        n = std::min(n, PSI_BUFFER_SIZE - m_fill);
        if (n <= 0) return;
        std::memcpy(m_data + m_fill, src, static_cast<size_t>(n));
        m_fill += n;
        m_used = std::max(m_used, m_fill);
    }
    // Length of the section when it has just been completed (and stops being
    // in progress), else 0. The header is needed first: a section may start
    // in the last one or two bytes of a packet.
    int32_t takeComplete() {
        if (!m_inProgress || m_fill < 3) return 0;
        const int32_t total = getSectionLength(m_data) + 3;
        if (m_fill < total) return 0;
        m_inProgress = false;
        return total;
    }
    bool inProgress() const { return m_inProgress; }
    const uint8_t* data() const { return m_data; }

private:
    uint8_t* m_data;
    int32_t m_fill = 0;
    int32_t m_used = 0;
    bool m_inProgress = false;
};

// Feeds one 188-byte packet of a wanted PID into its gatherer. onSection(sec,
// total) is called for every complete section with a good CRC; when it
// returns true the walk stops and so does this call (returning true).
template <class F>
bool walkPacket(const uint8_t* pkt, SectionGather& g, F&& onSection) {
    const int32_t adap = getAdapFieldLength(pkt);
    if (adap >= TS_PACKET_SIZE - 4) return false;
    int32_t p = 4 + adap;

    auto afterPiece = [&]() -> bool {
        const int32_t total = g.takeComplete();
        if (total == 0) return false;
        if (calc_crc32(g.data(), total) != 0) return false;
        return onSection(g.data(), total);
    };

    if (!isPsiTop(pkt)) {
        if (!g.inProgress()) return false;
        g.add(pkt + p, TS_PACKET_SIZE - p);
        return afterPiece();
    }
    const int32_t ptr = pkt[p];
    ++p;
    if (ptr != 0) {
        const int32_t n = std::min(ptr, TS_PACKET_SIZE - p);
        if (g.inProgress()) {
            g.add(pkt + p, n);
            if (afterPiece()) return true;
        }
        p += n;
    }
    while (p < TS_PACKET_SIZE) {
        if (pkt[p] == 0xFF) break;  // stuffing: nothing more in this packet
        const int32_t avail = TS_PACKET_SIZE - p;
        int32_t piece = avail;
        if (avail >= 3) piece = std::min(avail, getSectionLength(pkt + p) + 3);
        g.start(pkt + p, piece);
        if (afterPiece()) return true;
        p += piece;
    }
    return false;
}

// Hands each packet from startpos to `take` until it returns true (then
// true), or the packet limit (0: none) or the end is reached (then false).
template <class Take>
bool scanPackets(HANDLE hFile, int32_t psize, int32_t startpos, int64_t max_packet_count, Take take) {
    // Heap, not stack: the caller may be a thread with a small stack.
    auto ts = std::make_unique<TsReadProcess>();
    initTsFileRead(ts.get(), hFile, psize);
    setPosTsFileRead(ts.get(), startpos);
    int64_t count = 0;
    for (const uint8_t* unit = getPacketTsFileRead(ts.get()); unit != nullptr; unit = getPacketTsFileRead(ts.get())) {
        if (take(unit + ts->poffset)) return true;
        if (max_packet_count != 0 && ++count >= max_packet_count) return false;
    }
    return false;
}

}  // namespace

int32_t getSitEit(HANDLE hFile, uint8_t* psibuf, int32_t psize, int32_t startpos, int64_t max_packet_count) {
    std::vector<uint8_t> storage(3 * static_cast<size_t>(PSI_BUFFER_SIZE), 0);
    SectionGather sit(storage.data());
    SectionGather pat(storage.data() + PSI_BUFFER_SIZE);
    SectionGather eit(storage.data() + 2 * PSI_BUFFER_SIZE);

    int32_t wantedService = 0;
    bool patFound = false;
    int32_t result = SITEIT_NOT_FOUND;

    auto copyOut = [&](const uint8_t* sec, int32_t total, int32_t found) {
        std::memcpy(psibuf, sec, static_cast<size_t>(total));
        result = found;
        return true;
    };

    scanPackets(hFile, psize, startpos, max_packet_count, [&](const uint8_t* pkt) {
        const int32_t pid = getPid(pkt);
        if (pid == PID_SIT) {
            walkPacket(pkt, sit, [&](const uint8_t* sec, int32_t total) {
                return sec[0] == sit_section::TABLE_ID && copyOut(sec, total, SITEIT_FOUND_SIT);
            });
        } else if (pid == PID_PAT && !patFound) {
            walkPacket(pkt, pat, [&](const uint8_t* sec, int32_t total) {
                (void)total;
                const int32_t len = getSectionLength(sec);
                if (sec[0] != pat_section::TABLE_ID || len <= pat_section::EMPTY_LENGTH) return false;
                for (int32_t off = pat_section::PROGRAM_LOOP; off < psi_section::dataEnd(len);
                     off += pat_section::PROGRAM_SIZE) {
                    const int32_t program = be16(sec + off + pat_section::PROGRAM_NUMBER);
                    if (program != 0) {  // 0: the network_PID entry
                        wantedService = program;
                        patFound = true;
                        return true;  // later PAT packets are passed over
                    }
                }
                return false;
            });
        } else if (pid == PID_EIT) {
            walkPacket(pkt, eit, [&](const uint8_t* sec, int32_t total) {
                const int32_t len = getSectionLength(sec);
                const int32_t service = be16(sec + eit_section::SERVICE_ID);
                // The present event (section 0) of the PAT's first programme.
                if (sec[0] != eit_section::TABLE_ID_PF_ACTUAL || !patFound || sec[eit_section::SECTION_NUMBER] != 0 ||
                    len <= eit_section::EMPTY_LENGTH || service != wantedService)
                    return false;
                return copyOut(sec, total, SITEIT_FOUND_EIT);
            });
        }
        return result != SITEIT_NOT_FOUND;
    });
    return result;
}

bool getSdt(HANDLE hFile, uint8_t* psibuf, int32_t psize, int32_t serviceid, int32_t startpos,
            int64_t max_packet_count) {
    std::vector<uint8_t> storage(static_cast<size_t>(PSI_BUFFER_SIZE), 0);
    SectionGather sdt(storage.data());

    bool found = false;
    return scanPackets(hFile, psize, startpos, max_packet_count, [&](const uint8_t* pkt) {
        if (getPid(pkt) == PID_SDT) {
            walkPacket(pkt, sdt, [&](const uint8_t* sec, int32_t total) {
                const int32_t len = getSectionLength(sec);
                if (sec[0] != sdt_section::TABLE_ID_ACTUAL || len < sdt_section::EMPTY_LENGTH) return false;
                // Entries must lie within the section: the header of one
                // (service_id, flags, descriptors_loop_length) takes five bytes.
                for (int32_t off = sdt_section::SERVICE_LOOP; off < len && off + sdt_section::DESCRIPTORS <= total;
                     off += sdt_section::DESCRIPTORS + getLength(sec + off + sdt_section::DESCRIPTORS_LOOP_LENGTH)) {
                    if (be16(sec + off + sdt_section::SERVICE_ID) == serviceid) {
                        std::memcpy(psibuf, sec, static_cast<size_t>(total));
                        found = true;
                        return true;
                    }
                }
                return false;
            });
        }
        return found;
    });
}
