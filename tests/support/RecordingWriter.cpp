#include "RecordingWriter.h"

#include <algorithm>
#include <cstdio>

namespace recgen {

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes alnum(const std::string& s) { return cat({Bytes{0x0E}, bytes(s)}); }

uint32_t crc32Mpeg2(const uint8_t* data, size_t len) {
    // Bitwise on purpose: an independent check of the table-driven one.
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < len; ++i) {
        crc ^= static_cast<uint32_t>(data[i]) << 24;
        for (int b = 0; b < 8; ++b) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : (crc << 1);
    }
    return crc;
}

uint8_t bcd(int value) { return static_cast<uint8_t>(((value / 10) % 10) << 4 | (value % 10)); }

uint16_t mjd(int year, int month, int day) {
    const int l = (month < 3) ? 1 : 0;
    const long v = 14956 + day + static_cast<long>((year - 1900 - l) * 365.25) +
                   static_cast<long>((month + 1 + 12 * l) * 30.6001);
    return static_cast<uint16_t>(v & 0xFFFF);
}

static void put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

static void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

// ---- sections -------------------------------------------------------------

void resealSection(Bytes& s) {
    if (s.size() < 7) s.resize(7, 0);
    const size_t len = s.size() - 3;
    s[1] = static_cast<uint8_t>((s[1] & 0xF0) | ((len >> 8) & 0x0F));
    s[2] = static_cast<uint8_t>(len);
    const uint32_t crc = crc32Mpeg2(s.data(), s.size() - 4);
    for (int i = 0; i < 4; ++i) s[s.size() - 4 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

Bytes longSection(uint8_t tableId, uint16_t ext, uint8_t sectionNumber, uint8_t lastSectionNumber,
                  const Bytes& body, uint8_t version) {
    Bytes s{tableId, 0xB0, 0x00};
    put16(s, ext);
    s.push_back(static_cast<uint8_t>(0xC1 | ((version & 0x1F) << 1)));
    s.push_back(sectionNumber);
    s.push_back(lastSectionNumber);
    append(s, body);
    s.insert(s.end(), 4, 0);
    resealSection(s);
    return s;
}

Bytes pat(uint16_t tsid, const std::vector<std::pair<uint16_t, uint16_t>>& programs) {
    Bytes body;
    for (const auto& p : programs) {
        put16(body, p.first);
        put16(body, 0xE000u | (p.second & 0x1FFF));
    }
    return longSection(0x00, tsid, 0, 0, body);
}

Bytes eit(uint16_t serviceId, uint16_t tsid, uint16_t onid, uint8_t sectionNumber,
          const std::vector<Event>& events, uint8_t tableId) {
    Bytes body;
    put16(body, tsid);
    put16(body, onid);
    body.push_back(1);  // segment_last_section_number
    body.push_back(tableId);
    for (const Event& e : events) {
        put16(body, e.eventId);
        put16(body, e.startMjd);
        append(body, Bytes(e.startBcd.begin(), e.startBcd.end()));
        append(body, Bytes(e.durationBcd.begin(), e.durationBcd.end()));
        put16(body, 0x8000u | (e.descriptors.size() & 0x0FFF));
        append(body, e.descriptors);
    }
    return longSection(tableId, serviceId, sectionNumber, 1, body);
}

Bytes sdt(uint16_t tsid, uint16_t onid, const std::vector<Service>& services, uint8_t tableId) {
    Bytes body;
    put16(body, onid);
    body.push_back(0xFF);
    for (const Service& s : services) {
        put16(body, s.serviceId);
        body.push_back(0xFD);
        put16(body, 0x8000u | (s.descriptors.size() & 0x0FFF));
        append(body, s.descriptors);
    }
    return longSection(tableId, tsid, 0, 0, body);
}

Bytes sit(const Bytes& transmission, const std::vector<Service>& services) {
    Bytes body;
    put16(body, 0xF000u | (transmission.size() & 0x0FFF));
    append(body, transmission);
    for (const Service& s : services) {
        put16(body, s.serviceId);
        put16(body, 0x8000u | (s.descriptors.size() & 0x0FFF));
        append(body, s.descriptors);
    }
    return longSection(0x7F, 0xFFFF, 0, 0, body);
}

// ---- descriptors ----------------------------------------------------------

Bytes descriptor(uint8_t tag, const Bytes& body) {
    // Sized up front: growing a two-byte vector here trips a false
    // -Warray-bounds in GCC 12 at -O3.
    Bytes d(2 + body.size());
    d[0] = tag;
    d[1] = static_cast<uint8_t>(body.size());
    std::copy(body.begin(), body.end(), d.begin() + 2);
    return d;
}

Bytes shortEvent(const Bytes& name, const Bytes& text) {
    Bytes b = bytes("jpn");
    b.push_back(static_cast<uint8_t>(name.size()));
    append(b, name);
    b.push_back(static_cast<uint8_t>(text.size()));
    append(b, text);
    return descriptor(0x4D, b);
}

Bytes extendedEvent(uint8_t number, uint8_t lastNumber, const std::vector<Item>& items, const Bytes& text) {
    Bytes list;
    for (const Item& it : items) {
        list.push_back(static_cast<uint8_t>(it.description.size()));
        append(list, it.description);
        list.push_back(static_cast<uint8_t>(it.text.size()));
        append(list, it.text);
    }
    Bytes b{static_cast<uint8_t>((number << 4) | (lastNumber & 0x0F))};
    append(b, bytes("jpn"));
    b.push_back(static_cast<uint8_t>(list.size()));
    append(b, list);
    b.push_back(static_cast<uint8_t>(text.size()));
    append(b, text);
    return descriptor(0x4E, b);
}

Bytes content(const std::vector<uint8_t>& genres) {
    Bytes b;
    for (uint8_t g : genres) {
        b.push_back(g);
        b.push_back(0x00);
    }
    return descriptor(0x54, b);
}

Bytes serviceDesc(uint8_t serviceType, const Bytes& provider, const Bytes& name) {
    Bytes b{serviceType, static_cast<uint8_t>(provider.size())};
    append(b, provider);
    b.push_back(static_cast<uint8_t>(name.size()));
    append(b, name);
    return descriptor(0x48, b);
}

Bytes networkIdentification(uint16_t mediaType, uint16_t networkId) {
    Bytes b = bytes("JPN");
    put16(b, mediaType);
    put16(b, networkId);
    return descriptor(0xC2, b);
}

Bytes tsInformation(uint8_t remoteControlKeyId) { return descriptor(0xCD, Bytes{remoteControlKeyId, 0x00}); }

Bytes partialTsTime(uint16_t startMjd, std::array<uint8_t, 3> startBcd, std::array<uint8_t, 3> durationBcd) {
    Bytes b{0x00};
    put16(b, startMjd);
    append(b, Bytes(startBcd.begin(), startBcd.end()));
    append(b, Bytes(durationBcd.begin(), durationBcd.end()));
    append(b, Bytes{0xFF, 0xFF, 0xFF, 0xF8});  // offset undefined, flags
    return descriptor(0xC3, b);
}

// ---- packets ----------------------------------------------------------------

Bytes packet(uint16_t pid, bool unitStart, uint8_t continuity, const Bytes& payload, int adaptationLength) {
    Bytes p(188, 0xFF);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>((unitStart ? 0x40 : 0x00) | ((pid >> 8) & 0x1F));
    p[2] = static_cast<uint8_t>(pid);
    size_t at = 4;
    uint8_t control = 0x10;
    if (adaptationLength >= 0) {
        const int len = std::min(adaptationLength, 183);
        p[4] = static_cast<uint8_t>(len);
        if (len > 0) p[5] = 0x00;
        at = 5 + static_cast<size_t>(len);
        control = (at < 188) ? 0x30 : 0x20;
    }
    p[3] = static_cast<uint8_t>(control | (continuity & 0x0F));
    for (size_t i = 0; i < payload.size() && at + i < 188; ++i) p[at + i] = payload[i];
    return p;
}

TsWriter::TsWriter(int unitSize) : m_unitSize(unitSize == 192 ? 192 : 188) {}

uint8_t TsWriter::nextContinuity(uint16_t pid) {
    uint8_t& c = m_continuity[pid & 0x1FFF];
    const uint8_t now = c;
    c = static_cast<uint8_t>((c + 1) & 0x0F);
    return now;
}

void TsWriter::putPacket(const Bytes& packet188) {
    if (m_unitSize == 192) {
        // Arrival time stamp: any value; kept free of 0x47 so that a
        // resynchronisation test is not helped or hindered by it.
        const uint32_t stamp = (m_clock++ * 2700u) & 0x3FFFFFFFu;
        uint8_t pre[4] = {static_cast<uint8_t>(stamp >> 24), static_cast<uint8_t>(stamp >> 16),
                          static_cast<uint8_t>(stamp >> 8), static_cast<uint8_t>(stamp)};
        for (uint8_t& b : pre)
            if (b == 0x47) b = 0x46;
        m_data.insert(m_data.end(), pre, pre + 4);
    }
    Bytes p = packet188;
    p.resize(188, 0xFF);
    append(m_data, p);
}

void TsWriter::putRaw(const Bytes& raw) { append(m_data, raw); }

void TsWriter::putNull(size_t count) {
    for (size_t i = 0; i < count; ++i) putPacket(packet(0x1FFF, false, nextContinuity(0x1FFF), {}));
}

void TsWriter::padTo(size_t bytes) {
    while (m_data.size() < bytes) putNull();
}

void TsWriter::putSections(uint16_t pid, const std::vector<Bytes>& sections, const SectionOptions& opts) {
    if (opts.newPacketEach && sections.size() > 1) {
        SectionOptions one = opts;
        one.newPacketEach = false;
        for (const Bytes& s : sections) putSections(pid, {s}, one);
        return;
    }
    Bytes stream;
    std::vector<size_t> starts;
    for (const Bytes& s : sections) {
        starts.push_back(stream.size());
        append(stream, s);
    }
    const size_t room = (opts.adaptationLength >= 0) ? 183 - static_cast<size_t>(std::min(opts.adaptationLength, 183))
                                                     : 184;
    if (room < 2) return;  // no payload fits: nothing sensible to write
    size_t off = 0;
    size_t next = 0;  // index into starts of the first start >= off
    while (off < stream.size()) {
        while (next < starts.size() && starts[next] < off) ++next;
        const bool startHere = next < starts.size() && starts[next] < off + room - 1;
        Bytes payload;
        if (startHere) {
            payload.push_back(static_cast<uint8_t>(starts[next] - off));
            const size_t end = std::min(stream.size(), off + room - 1);
            payload.insert(payload.end(), stream.begin() + static_cast<long>(off), stream.begin() + static_cast<long>(end));
            off = end;
        } else {
            // A section may not begin in a packet without the unit-start
            // flag: stop before it and let the next packet carry it.
            size_t end = std::min(stream.size(), off + room);
            if (next < starts.size() && starts[next] < end) end = starts[next];
            payload.insert(payload.end(), stream.begin() + static_cast<long>(off), stream.begin() + static_cast<long>(end));
            off = end;
        }
        putPacket(packet(pid, startHere, nextContinuity(pid), payload, opts.adaptationLength));
    }
}

bool TsWriter::writeTo(const std::string& path) const { return writeFile(path, m_data); }

// ---- RPLS -------------------------------------------------------------------

static void putAt16(Bytes& b, size_t at, uint32_t v) {
    if (b.size() < at + 2) b.resize(at + 2, 0);
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

static void putAt(Bytes& b, size_t at, const Bytes& v) {
    if (b.size() < at + v.size()) b.resize(at + v.size(), 0);
    std::copy(v.begin(), v.end(), b.begin() + static_cast<long>(at));
}

Bytes Rpls::build() const {
    Bytes b(1024, 0);
    putAt(b, 0, bytes("PLST0100"));
    b[48] = timeZone;
    putAt(b, 50, Bytes(startAndDurationBcd.begin(), startAndDurationBcd.end()));
    putAt16(b, 60, makerId);
    putAt16(b, 62, modelCode);
    putAt16(b, 64, channel);
    Bytes ch(channelName.begin(), channelName.begin() + static_cast<long>(std::min<size_t>(channelName.size(), 255)));
    b[67] = static_cast<uint8_t>(ch.size());
    putAt(b, 68, ch);
    Bytes pn(programName.begin(), programName.begin() + static_cast<long>(std::min<size_t>(programName.size(), 255)));
    b[88] = static_cast<uint8_t>(pn.size());
    putAt(b, 89, pn);
    putAt16(b, 344, descriptionLengthField >= 0 ? static_cast<uint32_t>(descriptionLengthField)
                                                : static_cast<uint32_t>(description.size()));
    putAt(b, 346, description);
    const size_t extAt = 346 + description.size();
    if (blockMaker == 0x0108) putAt(b, extAt, extended);
    const size_t textEnd = std::max<size_t>(b.size(), extAt + (blockMaker == 0x0108 ? extended.size() : 0));

    if (blockMaker != 0) {
        size_t a = blockOffset;
        if (a == 0) a = (std::max<size_t>(textEnd, 1024) + 15) / 16 * 16;
        b[16] = static_cast<uint8_t>(a >> 24);
        b[17] = static_cast<uint8_t>(a >> 16);
        b[18] = static_cast<uint8_t>(a >> 8);
        b[19] = static_cast<uint8_t>(a);
        if (a < (1u << 24)) {
            if (b.size() < a + 256) b.resize(a + 256, 0);
            putAt16(b, a + 12, blockMaker);
            if (blockMaker == 0x0108) {
                for (int i = 0; i < 3; ++i) {
                    b[a + 28 + 4 * i] = genres108[i] >= 0 ? 1 : 0;
                    b[a + 29 + 4 * i] = genres108[i] >= 0 ? static_cast<uint8_t>(genres108[i]) : 0;
                }
                putAt16(b, a + 56, extendedLengthField >= 0 ? static_cast<uint32_t>(extendedLengthField)
                                                            : static_cast<uint32_t>(extended.size()));
            } else {
                putAt16(b, a + 168, recordingSource);
                b[a + 176] = layout;
                for (int i = 0; i < 3; ++i) b[a + 177 + i] = genreBytes103[i];
            }
        }
    }
    if (fileSize != 0) b.resize(fileSize, 0);
    return b;
}

bool writeFile(const std::string& path, const Bytes& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace recgen
