#include "tsproginfo.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "TextCodec.h"
#include "convToUnicode.h"
#include "rplsproginfo.h"
#include "tsprocess.h"

namespace {

struct NidKey {
    int32_t networkId;
    int32_t keyNumber;
};

// Terrestrial network ids and the remote-control key number of each.
NidKey nIDTable[] = {
    {0x7C10, 1}, {0x7C20, 1}, {0x7C30, 1}, {0x7C40, 1}, {0x7C52, 1}, {0x7C60, 1}, {0x7C70, 1}, {0x7C82, 1},
    {0x7C90, 1}, {0x7CA2, 1}, {0x7CB0, 1}, {0x7CC0, 1}, {0x7CD0, 1}, {0x7D00, 1}, {0x7D10, 1}, {0x7D20, 1},
    {0x7D30, 1}, {0x7D40, 1}, {0x7D50, 1}, {0x7D60, 1}, {0x7D70, 1}, {0x7DA2, 1}, {0x7DB0, 1}, {0x7DC0, 1},
    {0x7DD0, 1}, {0x7DF0, 1}, {0x7E00, 1}, {0x7E10, 1}, {0x7E30, 1}, {0x7E50, 1}, {0x7E60, 1}, {0x7E92, 1},
    {0x7EA0, 1}, {0x7EB0, 1}, {0x7EC0, 1}, {0x7ED0, 1}, {0x7EE2, 1}, {0x7EF2, 1}, {0x7F02, 1}, {0x7F12, 1},
    {0x7F22, 1}, {0x7F32, 1}, {0x7F42, 1}, {0x7F52, 1}, {0x7F94, 1}, {0x7FB2, 1}, {0x7FC2, 1}, {0x7FE0, 1},
    {0x7881, 2}, {0x7C11, 2}, {0x7C21, 2}, {0x7C31, 2}, {0x7C41, 2}, {0x7C51, 2}, {0x7C61, 2}, {0x7C71, 2},
    {0x7C81, 2}, {0x7C91, 2}, {0x7CA1, 2}, {0x7CB1, 2}, {0x7CC1, 2}, {0x7CD1, 2}, {0x7CE1, 2}, {0x7CF1, 2},
    {0x7D01, 2}, {0x7D11, 2}, {0x7DA1, 2}, {0x7DB1, 2}, {0x7DC1, 2}, {0x7DD1, 2}, {0x7DF1, 2}, {0x7E01, 2},
    {0x7E11, 2}, {0x7E91, 2}, {0x7EA1, 2}, {0x7EB1, 2}, {0x7EC1, 2}, {0x7ED1, 2}, {0x7EE1, 2}, {0x7EF1, 2},
    {0x7F01, 2}, {0x7F11, 2}, {0x7F21, 2}, {0x7F31, 2}, {0x7F41, 2}, {0x7F51, 2}, {0x7FC1, 2}, {0x7FD1, 2},
    {0x7FE1, 2}, {0x7880, 3}, {0x7C12, 3}, {0x7C22, 3}, {0x7C32, 3}, {0x7C43, 3}, {0x7C50, 3}, {0x7C62, 3},
    {0x7C72, 3}, {0x7C80, 3}, {0x7CA0, 3}, {0x7CD3, 3}, {0x7CE0, 3}, {0x7CF0, 3}, {0x7D12, 3}, {0x7D26, 3},
    {0x7D56, 3}, {0x7D80, 3}, {0x7D90, 3}, {0x7DA0, 3}, {0x7DE0, 3}, {0x7E27, 3}, {0x7E37, 3}, {0x7E47, 3},
    {0x7E67, 3}, {0x7E77, 3}, {0x7E90, 3}, {0x7EE0, 3}, {0x7EF0, 3}, {0x7F00, 3}, {0x7F10, 3}, {0x7F20, 3},
    {0x7F30, 3}, {0x7F40, 3}, {0x7F50, 3}, {0x7C33, 4}, {0x7C55, 4}, {0x7C65, 4}, {0x7C74, 4}, {0x7C83, 4},
    {0x7C92, 4}, {0x7CC2, 4}, {0x7CD2, 4}, {0x7D13, 4}, {0x7DC4, 4}, {0x7DD2, 4}, {0x7DF2, 4}, {0x7E04, 4},
    {0x7E12, 4}, {0x7EA3, 4}, {0x7EB3, 4}, {0x7EC2, 4}, {0x7ED2, 4}, {0x7EE4, 4}, {0x7FA2, 4}, {0x7FC5, 4},
    {0x7FD2, 4}, {0x7FE2, 4}, {0x7C14, 5}, {0x7C34, 5}, {0x7C54, 5}, {0x7C64, 5}, {0x7C75, 5}, {0x7C84, 5},
    {0x7CC3, 5}, {0x7CD4, 5}, {0x7D14, 5}, {0x7D46, 5}, {0x7D66, 5}, {0x7DC5, 5}, {0x7DD3, 5}, {0x7E05, 5},
    {0x7E13, 5}, {0x7E94, 5}, {0x7EA4, 5}, {0x7EB5, 5}, {0x7EC3, 5}, {0x7ED4, 5}, {0x7EE5, 5}, {0x7EF3, 5},
    {0x7F03, 5}, {0x7F13, 5}, {0x7F23, 5}, {0x7F33, 5}, {0x7F43, 5}, {0x7F53, 5}, {0x7FA3, 5}, {0x7FB3, 5},
    {0x7FC3, 5}, {0x7FE5, 5}, {0x7C42, 6}, {0x7C93, 6}, {0x7CC4, 6}, {0x7DA4, 6}, {0x7DC2, 6}, {0x7DD4, 6},
    {0x7DF3, 6}, {0x7E02, 6}, {0x7E14, 6}, {0x7E93, 6}, {0x7EA5, 6}, {0x7EB2, 6}, {0x7EC4, 6}, {0x7EF4, 6},
    {0x7F04, 6}, {0x7F14, 6}, {0x7F24, 6}, {0x7F34, 6}, {0x7F44, 6}, {0x7F54, 6}, {0x7F93, 6}, {0x7FA4, 6},
    {0x7FB4, 6}, {0x7FC4, 6}, {0x7FD3, 6}, {0x7FE3, 6}, {0x7C85, 7}, {0x7D76, 7}, {0x7D96, 7}, {0x7DB2, 7},
    {0x7EF6, 7}, {0x7F06, 7}, {0x7F16, 7}, {0x7F26, 7}, {0x7F36, 7}, {0x7F46, 7}, {0x7F56, 7}, {0x7FA5, 7},
    {0x7FB6, 7}, {0x7FE6, 7}, {0x7C17, 8}, {0x7C53, 8}, {0x7C63, 8}, {0x7C73, 8}, {0x7C86, 8}, {0x7C94, 8},
    {0x7CC5, 8}, {0x7D15, 8}, {0x7D86, 8}, {0x7DA3, 8}, {0x7DB3, 8}, {0x7DC3, 8}, {0x7DD5, 8}, {0x7E03, 8},
    {0x7E15, 8}, {0x7EA2, 8}, {0x7EB4, 8}, {0x7EC5, 8}, {0x7ED3, 8}, {0x7EE3, 8}, {0x7EF5, 8}, {0x7F05, 8},
    {0x7F15, 8}, {0x7F25, 8}, {0x7F35, 8}, {0x7F45, 8}, {0x7F55, 8}, {0x7F92, 8}, {0x7FA6, 8}, {0x7FB5, 8},
    {0x7FD4, 8}, {0x7FE4, 8}, {0x7D36, 9}, {0x7E87, 9}, {0x7DE6, 10}, {0x7FD5, 10}, {0x7FE8, 12},
};
constexpr size_t kNidTableSize = sizeof(nIDTable) / sizeof(nIDTable[0]);
bool nIDTableSorted = false;

int comparefornidtable(const void* a, const void* b) {
    return static_cast<const NidKey*>(a)->networkId - static_cast<const NidKey*>(b)->networkId;
}

void sortNidTable() {
    if (nIDTableSorted) return;
    std::qsort(nIDTable, kNidTableSize, sizeof(NidKey), comparefornidtable);
    nIDTableSorted = true;
}

constexpr int32_t kTextUnits = static_cast<int32_t>(PROGINFO_TEXT_LEN);
constexpr int32_t kItemCollection = 65536;   // item text gathered across descriptors
constexpr int32_t kSatCollection = 1200;     // satellite SIT text gathered per service

// descriptor_tag values of the descriptors the parsers read (ETSI EN 300 468
// 6.1; ARIB STD-B10 part 2 for those marked ARIB).
namespace tag {
constexpr uint8_t SERVICE = 0x48;                 // service_descriptor
constexpr uint8_t SHORT_EVENT = 0x4D;             // short_event_descriptor
constexpr uint8_t EXTENDED_EVENT = 0x4E;          // extended_event_descriptor
constexpr uint8_t CONTENT = 0x54;                 // content_descriptor
constexpr uint8_t NETWORK_IDENTIFICATION = 0xC2;  // network_identification_descriptor (ARIB)
constexpr uint8_t PARTIAL_TS_TIME = 0xC3;         // partialTS_time_descriptor (ARIB)
constexpr uint8_t TS_INFORMATION = 0xCD;          // TS_information_descriptor (ARIB)
// Descriptors of the satellite (CS) broadcaster's own, in the SITs of its
// partial streams; the parsers use only what is said where they are read.
constexpr uint8_t SAT_EVENT_TEXT = 0x83;
constexpr uint8_t SAT_NAMES = 0xB2;
}  // namespace tag

// network_id values of terrestrial networks (their channel numbers come
// from nIDTable).
constexpr int32_t kTerrestrialNetworkIdFirst = 0x7880;
constexpr int32_t kTerrestrialNetworkIdLast = 0x7FE8;
// content_nibble_level_1 0xE: an extension entry (ARIB), which carries no
// genre.
constexpr int32_t kContentExtension = 0x0E;
// network_identification_descriptor media_type values: "CS" and "TB"
// (terrestrial).
constexpr int32_t kMediaTypeCs = 0x4353;
constexpr int32_t kMediaTypeTb = 0x5442;

int32_t bcdValue(uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }

// A section (or part of one) whose bytes may only be read below `end`:
// every length found in the stream is cut to it, and a read past it gives 0.
struct Span {
    const uint8_t* base;
    int32_t begin;
    int32_t end;

    uint8_t operator[](int32_t i) const { return (i >= begin && i < end) ? base[i] : 0; }
    int32_t u16(int32_t i) const { return ((*this)[i] << 8) | (*this)[i + 1]; }
    int32_t len12(int32_t i) const { return (((*this)[i] & 0x0F) << 8) | (*this)[i + 1]; }
    // Bytes held (0 for a span cut away entirely).
    int32_t size() const { return std::max(end - begin, 0); }
    const uint8_t* at(int32_t i) const { return base + i; }
    Span sub(int32_t from, int32_t to) const {
        return Span{base, std::max(from, begin), std::min(std::max(to, from), end)};
    }
};

// Hands out the fields of a span in order, big-endian. The position moves by
// each field's size as the table declares it, also past the end; a field that
// lies there reads as 0, and a run of bytes is cut at the end. So however the
// lengths in the stream run, nothing outside the span is read.
class SectionCursor {
public:
    SectionCursor(const Span& s, int32_t pos) : m_s(s), m_pos(pos) {}

    int32_t u8() { return m_s[m_pos++]; }
    int32_t u16() {
        const int32_t v = m_s.u16(m_pos);
        m_pos += 2;
        return v;
    }
    // A 16-bit field of which the low 12 bits are a length (the high 4 are
    // reserved bits or flags, skipped with it).
    int32_t len12() {
        const int32_t v = m_s.len12(m_pos);
        m_pos += 2;
        return v;
    }
    // The next byte, without moving.
    int32_t peek() const { return m_s[m_pos]; }
    void skip(int32_t n) { m_pos += n; }
    // The next n bytes, cut at the end (a negative n takes none).
    Span bytes(int32_t n) {
        n = std::max(n, 0);
        const Span r = m_s.sub(m_pos, m_pos + n);
        m_pos += n;
        return r;
    }
    // A cursor over the next n bytes (a loop of that length).
    SectionCursor take(int32_t n) {
        const Span r = bytes(n);
        return SectionCursor(r, r.begin);
    }
    // The bytes from here to the end.
    Span rest() const { return m_s.sub(m_pos, m_s.end); }
    int32_t remaining() const { return m_s.end - m_pos; }
    bool atEnd() const { return m_pos >= m_s.end; }
    int32_t pos() const { return m_pos; }

private:
    Span m_s;
    int32_t m_pos;
};

int32_t convText(char16_t* dst, int32_t room, const Span& text, const CopyParams* cp) {
    if (room <= 0) return 0;
    const int32_t n = text.size();
    const uint8_t* src = n > 0 ? text.at(text.begin) : reinterpret_cast<const uint8_t*>("");
    return static_cast<int32_t>(conv_to_unicode(dst, static_cast<size_t>(room), src, static_cast<size_t>(n),
                                                cp->bCharSize, cp->bIVS));
}

// Calls f(descriptor_tag, body) for each descriptor of the loop that starts
// at `from` and is `length` bytes long (cut at the end of `s`); body is a
// cursor over the descriptor's bytes after descriptor_tag and
// descriptor_length, cut at the end of the loop. Returns where the walk
// ended: after the last descriptor as its descriptor_length has it, which may
// lie beyond the loop (and the length byte of a descriptor that starts on the
// loop's last byte is read from `s`).
template <class F>
int32_t walkDescriptors(const Span& s, int32_t from, int32_t length, F&& f) {
    const int32_t to = std::min(from + length, s.end);
    int32_t d = from;
    while (d < to) {
        const uint8_t descriptorTag = s[d];
        const int32_t descriptorLength = s[d + 1];
        f(descriptorTag, SectionCursor(s.sub(d, std::min(d + 2 + descriptorLength, to)), d + 2));
        d += 2 + descriptorLength;
    }
    return d;
}

// A start time: 16-bit MJD, then hour, minute and second in BCD (40 bits).
void readStartTime(ProgInfo* pi, SectionCursor& c) {
    const int32_t mjd = c.u16();
    const uint8_t hour = static_cast<uint8_t>(c.u8());
    const uint8_t minute = static_cast<uint8_t>(c.u8());
    const uint8_t second = static_cast<uint8_t>(c.u8());
    // An undefined start has all its bits set; read as it stands it would be
    // 2038-04-22 at hour 165. Like an undefined duration it leaves the fields
    // as they are.
    if (hour == 0xFF || minute == 0xFF || second == 0xFF) return;
    mjd_dec(mjd, &pi->recyear, &pi->recmonth, &pi->recday);
    pi->rechour = bcdValue(hour);
    pi->recmin = bcdValue(minute);
    pi->recsec = bcdValue(second);
}

// A duration: hours, minutes and seconds in BCD (24 bits).
void readDuration(ProgInfo* pi, SectionCursor& c) {
    const uint8_t hours = static_cast<uint8_t>(c.u8());
    const uint8_t minutes = static_cast<uint8_t>(c.u8());
    const uint8_t seconds = static_cast<uint8_t>(c.u8());
    if (hours == 0xFF || minutes == 0xFF || seconds == 0xFF) return;  // undefined
    pi->durhour = bcdValue(hours);
    pi->durmin = bcdValue(minutes);
    pi->dursec = bcdValue(seconds);
}

// The descriptor readers take the cursor `body` of walkDescriptors: it starts
// after descriptor_tag and descriptor_length.

// content_descriptor: entries of content_nibble_level_1 (4),
// content_nibble_level_2 (4), user_nibble (4), user_nibble (4).
void contentGenres(ProgInfo* pi, SectionCursor body) {
    int32_t stored = 0;
    while (body.remaining() >= 2 && stored < 3) {
        const int32_t nibbles = body.u8();  // content_nibble_level_1, content_nibble_level_2
        body.skip(1);                       // user_nibble, user_nibble
        if ((nibbles >> 4) == kContentExtension) continue;
        pi->genre[stored++] = nibbles;
    }
}

// short_event_descriptor: ISO_639_language_code (24), event_name_length (8),
// event_name_char, text_length (8), text_char.
void shortEvent(ProgInfo* pi, SectionCursor body, const CopyParams* cp) {
    body.skip(3);  // ISO_639_language_code
    const Span eventName = body.bytes(body.u8());
    const Span text = body.bytes(body.u8());
    pi->pnamelen = convText(pi->pname, kTextUnits, eventName, cp);
    pi->pdetaillen = convText(pi->pdetail, kTextUnits, text, cp);
}

// service_descriptor: service_type (8), service_provider_name_length (8),
// char, service_name_length (8), char.
void serviceName(ProgInfo* pi, SectionCursor body, const CopyParams* cp) {
    body.skip(1);           // service_type
    body.skip(body.u8());   // service_provider_name_length, the provider's name
    const Span name = body.bytes(body.u8());
    pi->chnamelen = convText(pi->chname, kTextUnits, name, cp);
}

// The extended text of one event (or SIT service) being put together.
class ExtendedText {
public:
    ExtendedText(ProgInfo* pi, const CopyParams* cp) : m_pi(pi), m_cp(cp), m_items(kItemCollection) {}

    void reset() {
        m_pi->pextendlen = 0;
        m_pi->pextend[0] = 0;
        m_count = 0;
    }
    // extended_event_descriptor: descriptor_number (4),
    // last_descriptor_number (4), ISO_639_language_code (24), length_of_items
    // (8), the items, text_length (8), text_char. An item:
    // item_description_length (8), item_description_char, item_length (8),
    // item_char. The descriptor's own text is not used.
    void descriptor(SectionCursor body) {
        body.skip(1);  // descriptor_number, last_descriptor_number
        body.skip(3);  // ISO_639_language_code
        SectionCursor items = body.take(body.u8());
        while (!items.atEnd()) {
            const int32_t descriptionLength = items.u8();
            const Span description = items.bytes(descriptionLength);
            const Span item = items.bytes(items.u8());
            if (descriptionLength > 0) {
                if (m_pi->pextendlen > 0) {
                    flush();
                    putChar(u'\r');
                    putChar(u'\n');
                    putChar(u'\r');
                    putChar(u'\n');
                }
                appendText(description);
                putChar(u'\r');
                putChar(u'\n');
            }
            const int32_t n = std::min(item.size(), kItemCollection - m_count);
            if (n > 0) {
                std::memcpy(m_items.data() + m_count, item.at(item.begin), static_cast<size_t>(n));
                m_count += n;
            }
        }
    }
    // Converts and appends the item text collected so far.
    void flush() {
        if (m_count > 0 && m_pi->pextendlen < kTextUnits) appendText(Span{m_items.data(), 0, m_count});
        m_count = 0;
    }

private:
    void appendText(const Span& text) {
        const int32_t used = m_pi->pextendlen;
        if (used >= kTextUnits) return;
        m_pi->pextendlen += convText(m_pi->pextend + used, kTextUnits - used, text, m_cp);
    }
    void putChar(char16_t c) {
        if (m_pi->pextendlen >= kTextUnits) return;
        m_pi->pextend[m_pi->pextendlen++] = c;
        if (m_pi->pextendlen < kTextUnits) m_pi->pextend[m_pi->pextendlen] = 0;
    }

    ProgInfo* m_pi;
    const CopyParams* m_cp;
    std::vector<uint8_t> m_items;
    int32_t m_count = 0;
};

// The satellite broadcaster's 0xB2 descriptor: entries of an entry length
// (8, counting the type byte and the text), an entry type (8) and the text.
// Read only when the type of the first entry is 1: its text names the
// channel, the second entry's text the programme.
void satelliteNames(ProgInfo* pi, SectionCursor body, const CopyParams* cp) {
    const int32_t firstLength = body.u8();
    if (body.peek() != 1) return;  // the type byte, even of an entry of length 0
    SectionCursor first = body.take(firstLength);
    first.skip(1);  // entry type
    pi->chnamelen = convText(pi->chname, kTextUnits, first.rest(), cp);
    if (body.atEnd()) return;
    SectionCursor second = body.take(body.u8());
    second.skip(1);  // entry type
    pi->pnamelen = convText(pi->pname, kTextUnits, second.rest(), cp);
}

// The satellite broadcaster's 0x83 descriptor: one leading byte, then text
// (none when descriptor_length is 0), collected for the service's extended
// text; what goes beyond kSatCollection bytes is dropped.
void satelliteEventText(std::vector<uint8_t>& collected, SectionCursor body) {
    body.skip(1);
    const Span text = body.rest();
    const int32_t n = std::min(text.size(), kSatCollection - static_cast<int32_t>(collected.size()));
    if (n > 0) collected.insert(collected.end(), text.at(text.begin), text.at(text.begin) + n);
}

// partialTS_time_descriptor: event_version_number (8), event_start_time
// (40), duration (24), then fields not used.
void partialTsTime(ProgInfo* pi, SectionCursor body) {
    body.skip(1);  // event_version_number
    readStartTime(pi, body);
    readDuration(pi, body);
}

}  // namespace

size_t my_memcpy_s(void* dst, size_t bufsize, const void* src, size_t srclen) {
    const size_t n = std::min(srclen, bufsize);
    if (n > 0 && dst != nullptr && src != nullptr) std::memmove(dst, src, n);
    return n;
}

void mjd_dec(int32_t mjd, int32_t* recyear, int32_t* recmonth, int32_t* recday) {
    if (mjd < 15079) mjd += 65536;  // the 16-bit field wrapped (2038-04-23 on)
    const int32_t yp = static_cast<int32_t>((mjd - 15078.2) / 365.25);
    const int32_t yDays = static_cast<int32_t>(yp * 365.25);
    const int32_t mp = static_cast<int32_t>((mjd - 14956.1 - yDays) / 30.6001);
    const int32_t day = mjd - 14956 - yDays - static_cast<int32_t>(mp * 30.6001);
    const int32_t k = (mp == 14 || mp == 15) ? 1 : 0;
    *recyear = yp + k + 1900;
    *recmonth = mp - 1 - 12 * k;
    *recday = day;
}

int32_t mjd_enc(int32_t year, int32_t month, int32_t day) {
    const int32_t l = (month < 3) ? 1 : 0;
    const int32_t v = 14956 + day + static_cast<int32_t>((year - 1900 - l) * 365.25) +
                      static_cast<int32_t>((month + 1 + 12 * l) * 30.6001);
    return v & 0xFFFF;
}

int32_t getTbChannelNum(int32_t networkID, int32_t serviceID, int32_t remoconkey_id) {
    sortNidTable();
    if (remoconkey_id != 0) return remoconkey_id * 10 + (serviceID & 7) + 1;
    const NidKey key{networkID, 0};
    const void* hit = std::bsearch(&key, nIDTable, kNidTableSize, sizeof(NidKey), comparefornidtable);
    if (hit == nullptr) return 0;
    return static_cast<const NidKey*>(hit)->keyNumber * 10 + (serviceID & 7) + 1;
}

int32_t parseEit(const uint8_t* eitbuf, ProgInfo* proginfo, const CopyParams* copyParams) {
    for (int32_t& g : proginfo->genre) g = -1;
    const int32_t sectionLength = getSectionLength(eitbuf);
    const Span sec{eitbuf, 0, sectionLength + psi_section::HEADER_SIZE};
    const int32_t serviceId = sec.u16(eit_section::SERVICE_ID);
    const int32_t networkId = sec.u16(eit_section::ORIGINAL_NETWORK_ID);

    if (networkId >= kTerrestrialNetworkIdFirst && networkId <= kTerrestrialNetworkIdLast)
        proginfo->chnum = getTbChannelNum(networkId, serviceId, 0);
    else
        proginfo->chnum = serviceId & 0x3FF;

    if (sectionLength > eit_section::EMPTY_LENGTH) {
        const int32_t dataEnd = psi_section::dataEnd(sectionLength);
        const Span data = sec.sub(0, dataEnd);
        ExtendedText ext(proginfo, copyParams);
        for (int32_t e = eit_section::EVENT_LOOP; e < dataEnd;) {
            // The fixed fields of an event that starts near the end may reach
            // into CRC_32; only its descriptors are kept to the data.
            SectionCursor event(sec, e);
            event.skip(2);  // event_id
            readStartTime(proginfo, event);
            readDuration(proginfo, event);
            const int32_t loopLength = event.len12();  // running_status, free_CA_mode, descriptors_loop_length
            ext.reset();
            e = walkDescriptors(data, event.pos(), loopLength, [&](uint8_t descriptorTag, SectionCursor body) {
                switch (descriptorTag) {
                case tag::SHORT_EVENT: shortEvent(proginfo, body, copyParams); break;
                case tag::EXTENDED_EVENT: ext.descriptor(body); break;
                case tag::CONTENT: contentGenres(proginfo, body); break;
                default: break;
                }
            });
            ext.flush();
        }
    }
    proginfo->networkID = networkId;
    proginfo->serviceID = serviceId;
    return serviceId;
}

void parseSdt(const uint8_t* sdtbuf, ProgInfo* proginfo, int32_t serviceid, const CopyParams* copyParams) {
    const int32_t sectionLength = getSectionLength(sdtbuf);
    if (sectionLength <= sdt_section::EMPTY_LENGTH) return;
    const Span sec{sdtbuf, 0, psi_section::dataEnd(sectionLength)};
    SectionCursor services(sec, sdt_section::SERVICE_LOOP);
    while (!services.atEnd()) {
        const int32_t serviceId = services.u16();   // service_id
        services.skip(1);  // reserved_future_use, EIT_user_defined_flags, EIT_schedule_flag, EIT_present_following_flag
        const int32_t loopLength = services.len12();  // running_status, free_CA_mode, descriptors_loop_length
        if (serviceId == serviceid) {
            walkDescriptors(sec, services.pos(), loopLength, [&](uint8_t descriptorTag, SectionCursor body) {
                if (descriptorTag == tag::SERVICE) serviceName(proginfo, body, copyParams);
            });
            return;
        }
        services.skip(loopLength);
    }
}

void parseSit(const uint8_t* sitbuf, ProgInfo* proginfo, const CopyParams* copyParams) {
    for (int32_t& g : proginfo->genre) g = -1;
    const int32_t sectionLength = getSectionLength(sitbuf);
    const Span sec{sitbuf, 0, std::max(psi_section::dataEnd(sectionLength), 0)};
    SectionCursor c(sec, sit_section::TRANSMISSION_INFO_LOOP_LENGTH);
    const int32_t transmissionInfoLength = c.len12();  // DVB_reserved_for_future_use, transmission_info_loop_length

    int32_t mediaType = 65535;
    int32_t networkId = 0;
    int32_t keyId = 0;
    walkDescriptors(sec, c.pos(), transmissionInfoLength, [&](uint8_t descriptorTag, SectionCursor body) {
        if (descriptorTag == tag::TS_INFORMATION) {
            keyId = body.u8();  // remote_control_key_id
        } else if (descriptorTag == tag::NETWORK_IDENTIFICATION) {
            body.skip(3);  // country_code
            mediaType = body.u16();
            networkId = body.u16();
        }
    });
    c.skip(transmissionInfoLength);

    int32_t lastService = 0;
    const bool satellite = mediaType == kMediaTypeCs && (networkId == 1 || networkId == 3);
    std::vector<uint8_t> collected;
    ExtendedText ext(proginfo, copyParams);
    while (!c.atEnd()) {
        const int32_t serviceId = c.u16();     // service_id
        const int32_t loopLength = c.len12();  // DVB_reserved_future_use, running_status, service_loop_length
        const int32_t from = c.pos();
        c.skip(loopLength);
        lastService = serviceId;
        if (satellite) {
            proginfo->chnum = serviceId & 0x3FF;
            collected.clear();
            walkDescriptors(sec, from, loopLength, [&](uint8_t descriptorTag, SectionCursor body) {
                switch (descriptorTag) {
                case tag::SAT_EVENT_TEXT: satelliteEventText(collected, body); break;
                case tag::SAT_NAMES: satelliteNames(proginfo, body, copyParams); break;
                case tag::PARTIAL_TS_TIME: partialTsTime(proginfo, body); break;
                default: break;
                }
            });
            const Span all{collected.data(), 0, static_cast<int32_t>(collected.size())};
            proginfo->pextendlen = convText(proginfo->pextend, kTextUnits, all, copyParams);
        } else {
            proginfo->chnum =
                (mediaType == kMediaTypeTb) ? getTbChannelNum(networkId, serviceId, keyId) : (serviceId & 0x3FF);
            ext.reset();
            walkDescriptors(sec, from, loopLength, [&](uint8_t descriptorTag, SectionCursor body) {
                switch (descriptorTag) {
                case tag::SERVICE: serviceName(proginfo, body, copyParams); break;
                case tag::SHORT_EVENT: shortEvent(proginfo, body, copyParams); break;
                case tag::EXTENDED_EVENT: ext.descriptor(body); break;
                case tag::CONTENT: contentGenres(proginfo, body); break;
                case tag::PARTIAL_TS_TIME: partialTsTime(proginfo, body); break;
                default: break;
                }
            });
            ext.flush();
        }
    }
    proginfo->networkID = networkId;
    proginfo->serviceID = lastService;
}

bool readTsProgInfo(HANDLE hFile, ProgInfo* proginfo, int32_t psize, const CopyParams* copyParams) {
    std::vector<uint8_t> buffer(PSI_BUFFER_SIZE, 0);
    int32_t startpos = copyParams->tsfilepos;
    int32_t r = getSitEit(hFile, buffer.data(), psize, startpos, copyParams->packet_limit);
    if (r == SITEIT_NOT_FOUND && startpos != 0) {
        // A recording whose second half holds no packets (preallocated, or
        // cut short by a crash of the recorder) has its tables at the head.
        startpos = 0;
        r = getSitEit(hFile, buffer.data(), psize, startpos, copyParams->packet_limit);
    }
    if (r == SITEIT_FOUND_EIT) {
        const int32_t sid = parseEit(buffer.data(), proginfo, copyParams);
        if (getSdt(hFile, buffer.data(), psize, sid, startpos, copyParams->packet_limit))
            parseSdt(buffer.data(), proginfo, sid, copyParams);
    } else if (r == SITEIT_FOUND_SIT) {
        parseSit(buffer.data(), proginfo, copyParams);
    } else {
        return false;
    }
    proginfo->rectimezone = 18;
    proginfo->makerid = 0;
    proginfo->modelcode = 0;
    proginfo->recsrc = -1;
    return true;
}

// ---- entry point ----------------------------------------------------------------

int32_t rplsTsCheck(HANDLE hReadFile) {
    uint8_t buf[1024] = {};
    uint32_t numread = 0;
    if (SeekFileData(hReadFile, 0)) ReadFileData(hReadFile, buf, sizeof(buf), &numread);
    if (buf[0] == 0x47) {
        if (buf[188] == 0x47 && buf[376] == 0x47 && buf[564] == 0x47) return 188;
    } else if (buf[0] == 'P' && buf[1] == 'L' && buf[2] == 'S' && buf[3] == 'T') {
        return 1;
    }
    if (buf[4] == 0x47 && buf[196] == 0x47 && buf[388] == 0x47 && buf[580] == 0x47) return 192;
    return 0;
}

namespace {

// The absolute form of a path, made as _wfullpath does it: relative to the
// working directory, "." and ".." resolved by name, no link followed.
std::string absolutePath(const std::string& path) {
    std::string full = path;
    if (full.empty() || full[0] != '/') {
        std::vector<char> cwd(PATH_MAX + 1, 0);
        if (getcwd(cwd.data(), cwd.size()) == nullptr) return std::string();
        full = std::string(cwd.data()) + "/" + full;
    }
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= full.size()) {
        size_t j = full.find('/', i);
        if (j == std::string::npos) j = full.size();
        const std::string part = full.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out;
    for (const std::string& p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
}

void copyPathField(char16_t* dst, const std::u16string& s) {
    const size_t n = std::min(s.size(), PROGINFO_PATH_LEN - 1);
    std::copy(s.begin(), s.begin() + static_cast<long>(n), dst);
    dst[n] = 0;
}

void fillPathFields(const char* fname, ProgInfo* proginfo) {
    const std::u16string full = platform::utf8ToUtf16(absolutePath(fname));
    // A path that does not fit is left out whole rather than cut.
    if (full.empty() || full.size() >= PROGINFO_PATH_LEN) return;
    copyPathField(proginfo->fullpath, full);
    const size_t slash = full.rfind(u'/');
    const std::u16string name = full.substr(slash == std::u16string::npos ? 0 : slash + 1);
    const size_t dot = name.rfind(u'.');
    if (dot == std::u16string::npos) {
        copyPathField(proginfo->fname, name);
    } else {
        copyPathField(proginfo->fname, name.substr(0, dot));
        copyPathField(proginfo->fext, name.substr(dot));
    }
}

}  // namespace

bool readFileProgInfo(const char* fname, ProgInfo* proginfo, const CopyParams* copyParams) {
    HANDLE h = OpenFileData(fname);
    if (h == INVALID_HANDLE_VALUE) {
        proginfo->status = TS_INFO_FILE_NOT_OPEN;
        return false;
    }
    const int32_t kind = rplsTsCheck(h);
    if (kind != 1 && kind != 188 && kind != 192) {
        CloseFileData(h);
        proginfo->status = TS_INFO_INVALID_FILE;
        return false;
    }
    fillPathFields(fname, proginfo);
    proginfo->fsize = GetFileDataSize(h);
    if (kind == 1) {
        readRplsProgInfo(h, proginfo, copyParams);
        CloseFileData(h);
        proginfo->status = TS_INFO_SUCCESS;
        return true;
    }
    const bool ok = readTsProgInfo(h, proginfo, kind, copyParams);
    CloseFileData(h);
    proginfo->status = ok ? TS_INFO_SUCCESS : TS_INFO_UNABLE_TO_DETECT;
    return ok;
}

ProgInfo TsProgInfo::getTsProgInfo(const char* path) {
    CopyParams params;
    initCopyParams(&params);
    ProgInfo record{};
    record.active = readFileProgInfo(path, &record, &params);
    return record;
}
