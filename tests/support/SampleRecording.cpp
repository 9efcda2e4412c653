#include "SampleRecording.h"

#include "TextCodec.h"
#include "characterSets.h"

namespace testsupport {

namespace {

// Final bytes of the two-byte sets the encoder designates into G0.
constexpr uint8_t kKanji = 0x42;
constexpr uint8_t kJisPlane1 = 0x39;
constexpr uint8_t kJisPlane2 = 0x3A;

class Encoder {
public:
    void put(char32_t cp) {
        int32_t code = 0;
        if (cp == U' ') {
            m_out.push_back(0x20);
        } else if (cp < 0x80 && (code = alphaConv(static_cast<int32_t>(cp), false)) != 0) {
            invokeGL(1);
            m_out.push_back(static_cast<uint8_t>(code));
        } else if ((code = jis12Conv(static_cast<int32_t>(cp), false)) != 0) {
            twoByte(kKanji, code);
        } else if ((code = jis3Conv(static_cast<int32_t>(cp), false)) != 0) {
            twoByte(kJisPlane1, code);
        } else if ((code = jis4Conv(static_cast<int32_t>(cp), false)) != 0) {
            twoByte(kJisPlane2, code);
        }
    }
    const recgen::Bytes& bytes() const { return m_out; }

private:
    void invokeGL(int bank) {
        if (m_gl == bank) return;
        m_out.push_back(bank == 0 ? 0x0F : 0x0E);  // LS0 / LS1
        m_gl = bank;
    }
    void twoByte(uint8_t set, int32_t code) {
        if (m_g0 != set) {
            m_out.insert(m_out.end(), {0x1B, 0x24, set});  // two-byte set into G0
            m_g0 = set;
        }
        invokeGL(0);
        m_out.push_back(static_cast<uint8_t>(code >> 8));
        m_out.push_back(static_cast<uint8_t>(code & 0xFF));
    }

    recgen::Bytes m_out;
    int m_gl = 0;
    uint8_t m_g0 = kKanji;
};

std::array<uint8_t, 3> bcdTime(int h, int m, int s) { return {recgen::bcd(h), recgen::bcd(m), recgen::bcd(s)}; }

}  // namespace

recgen::Bytes aribText(const std::string& utf8) {
    Encoder e;
    for (char32_t cp : platform::utf8ToUtf32(utf8)) e.put(cp);
    return e.bytes();
}

SampleProgramme lateNightAnime() {
    SampleProgramme p;
    p.name = "[新]まほうの森＃1「はじまりの朝」";
    p.channel = "ＭＡＲＵＢＯ　テレビ";
    p.genre = 0x70;
    p.year = 2021;
    p.month = 3;
    p.day = 31;
    p.hour = 23;
    p.minute = 30;
    p.durationHours = 1;
    p.durationMinutes = 30;
    p.networkId = 0x7FE0;
    p.serviceId = 0x0400;
    return p;
}

recgen::Bytes sampleTransportStream(const SampleProgramme& p) {
    const uint16_t tsid = p.networkId;

    recgen::Event event;
    event.eventId = 0x1000;
    event.startMjd = recgen::mjd(p.year, p.month, p.day);
    event.startBcd = bcdTime(p.hour, p.minute, p.second);
    event.durationBcd = bcdTime(p.durationHours, p.durationMinutes, p.durationSeconds);
    event.descriptors = recgen::cat({recgen::shortEvent(aribText(p.name), aribText(p.description)),
                                     recgen::content({p.genre})});

    const recgen::Bytes pat = recgen::pat(tsid, {{0, 0x10}, {p.serviceId, 0x1F0}});
    const recgen::Bytes sdt = recgen::sdt(
        tsid, p.networkId, {{p.serviceId, recgen::serviceDesc(0x01, aribText("marubo"), aribText(p.channel))}});
    const recgen::Bytes eit = recgen::eit(p.serviceId, tsid, p.networkId, 0, {event});

    // The tables repeat as in a broadcast, so a reader finds them wherever
    // in the file it starts looking.
    recgen::TsWriter w(p.unitSize);
    for (int i = 0; i < 16; ++i) {
        w.putSection(0x0000, pat);
        w.putSection(0x0011, sdt);
        w.putSection(0x0012, eit);
        w.putNull(24);
    }
    return w.data();
}

recgen::Bytes sampleRpls(const SampleProgramme& p) {
    recgen::Rpls r;
    r.startAndDurationBcd = {recgen::bcd(p.year / 100), recgen::bcd(p.year % 100), recgen::bcd(p.month),
                             recgen::bcd(p.day),        recgen::bcd(p.hour),       recgen::bcd(p.minute),
                             recgen::bcd(p.second),     recgen::bcd(p.durationHours),
                             recgen::bcd(p.durationMinutes), recgen::bcd(p.durationSeconds)};
    r.channel = 0x0011;
    r.channelName = aribText(p.channel);
    r.programName = aribText(p.name);
    r.description = aribText(p.description);
    r.blockMaker = 0x0108;
    r.genres108 = {p.genre, -1, -1};
    return r.build();
}

}  // namespace testsupport
