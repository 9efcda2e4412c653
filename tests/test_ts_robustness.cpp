// Damaged recordings and RPLS files: every result is a status 0 to 3, with no
// crash, hang or read out of bounds (run this under the sanitizers).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "RecordingWriter.h"
#include "TestPaths.h"
#include "TsInfo.h"
#include "tsprocess.h"
#include "tsproginfo.h"

using recgen::Bytes;
using recgen::alnum;
using recgen::TsWriter;
using testsupport::TempDir;

namespace {

std::vector<Bytes> sampleSections() {
    recgen::Event e;
    e.startMjd = 0xC079;
    e.descriptors = recgen::cat({
        recgen::shortEvent(alnum("Name"), recgen::cat({Bytes{0x46, 0x7C}, alnum("x")})),
        recgen::extendedEvent(0, 1, {{alnum("A"), alnum("aaa")}, {{}, alnum("bbb")}}),
        recgen::extendedEvent(1, 1, {{alnum("B"), Bytes{0x1B, 0x24, 0x42, 0x30}}}),
        recgen::content({0x70, 0xE1, 0x31}),
    });
    recgen::Event e2 = e;
    e2.durationBcd = {0xFF, 0xFF, 0xFF};
    const Bytes b2 = recgen::descriptor(0xB2, recgen::cat({Bytes{4, 1}, alnum("CS"), Bytes{3, 2, 0x41, 0x42}}));
    return {
        recgen::eit(0x0400, 1, 0x7FE0, 0, {e, e2}),
        recgen::sdt(1, 0x7FE0, {{0x0401, {}}, {0x0400, recgen::serviceDesc(1, alnum("p"), alnum("Channel"))}}),
        recgen::sit(recgen::networkIdentification(0x4353, 3),
                    {{0x0123, recgen::cat({b2, recgen::descriptor(0x83, recgen::cat({Bytes{0}, alnum("t")})),
                                           recgen::partialTsTime(0xC079, {1, 2, 3}, {4, 5, 6})})}}),
        recgen::sit(recgen::cat({recgen::tsInformation(3), recgen::networkIdentification(0x5442, 0x7FE0)}),
                    {{0x0402, recgen::cat({recgen::serviceDesc(1, {}, alnum("T")), e.descriptors})}}),
    };
}

// Sets a byte, or a 12-bit length field, to one of the values that bite.
void mutate(Bytes& s, std::mt19937& rng) {
    if (s.empty()) return;
    const size_t at = rng() % s.size();
    switch (rng() % 5) {
    case 0: s[at] = 0x00; break;
    case 1: s[at] = 0xFF; break;
    case 2:  // 4095 in a 12-bit field
        s[at] |= 0x0F;
        if (at + 1 < s.size()) s[at + 1] = 0xFF;
        break;
    case 3: s[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
    default: s[at] = static_cast<uint8_t>(rng()); break;
    }
}

void sealCrc(Bytes& s) {
    if (s.size() < 4) return;
    const uint32_t crc = recgen::crc32Mpeg2(s.data(), s.size() - 4);
    for (int i = 0; i < 4; ++i) s[s.size() - 4 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

void expectSane(const ProgInfo& p) {
    ASSERT_GE(p.status, 0);
    ASSERT_LE(p.status, 3);
    for (int32_t len : {p.chnamelen, p.pnamelen, p.pdetaillen})
        ASSERT_TRUE(len >= 0 && len <= 65536) << len;
    ASSERT_TRUE(p.pextendlen >= -1 && p.pextendlen <= 65536) << p.pextendlen;
}

std::unique_ptr<ProgInfo> readFile(const std::string& path, int32_t startpos) {
    auto p = std::make_unique<ProgInfo>();
    CopyParams cp;
    initCopyParams(&cp);
    cp.tsfilepos = startpos;
    p->active = readFileProgInfo(path.c_str(), p.get(), &cp);
    return p;
}

}  // namespace

TEST(TsRobustness, ParsersStayWithinTheSection)
{
    std::mt19937 rng(20240101);
    const std::vector<Bytes> base = sampleSections();
    CopyParams cp;
    initCopyParams(&cp);
    auto info = std::make_unique<ProgInfo>();
    for (int round = 0; round < 3000; ++round) {
        Bytes s = base[round % base.size()];
        const int edits = 1 + static_cast<int>(rng() % 6);
        for (int i = 0; i < edits; ++i) mutate(s, rng);
        // The buffer ends exactly where the section claims to end (or where
        // its bytes end, when it claims less), so a read past it is caught.
        const size_t claimed = static_cast<size_t>(getSectionLength(s.data()) + 3);
        std::vector<uint8_t> buf(std::max(claimed, s.size()), 0);
        std::copy(s.begin(), s.end(), buf.begin());
        std::unique_ptr<uint8_t[]> exact(new uint8_t[buf.size()]);
        std::memcpy(exact.get(), buf.data(), buf.size());
        switch (round % base.size()) {
        case 0: parseEit(exact.get(), info.get(), &cp); break;
        case 1: parseSdt(exact.get(), info.get(), 0x0400, &cp); break;
        default: parseSit(exact.get(), info.get(), &cp); break;
        }
        expectSane(*info);
    }
}

TEST(TsRobustness, MutatedRecordings)
{
    TempDir dir;
    std::mt19937 rng(77);
    const std::vector<Bytes> base = sampleSections();
    const std::string path = dir.file("m.ts");
    for (int round = 0; round < 300; ++round) {
        const int unit = (round % 2) ? 188 : 192;
        TsWriter w(unit);
        w.putSection(0x00, recgen::pat(1, {{0, 0x10}, {0x0400, 0x100}}));
        // Sections with damaged contents but a good CRC reach the parsers.
        Bytes eit = base[0];
        Bytes sdt = base[1];
        Bytes sit = base[2 + round % 2];
        for (Bytes* s : {&eit, &sdt, &sit}) {
            for (int i = 0; i < 3; ++i) mutate(*s, rng);
            s->at(0) = (s == &eit) ? 0x4E : (s == &sdt) ? 0x42 : 0x7F;
            if (rng() % 2) recgen::resealSection(*s); else sealCrc(*s);
        }
        recgen::SectionOptions opts;
        opts.adaptationLength = (rng() % 3 == 0) ? static_cast<int>(rng() % 184) : -1;
        w.putSections(0x12, {eit}, opts);
        w.putSections(0x11, {sdt}, opts);
        if (round % 3 == 0) w.putSections(0x1F, {sit}, opts);
        w.putNull(4);
        Bytes data = w.data();
        // Raw damage to packets and headers too.
        const int flips = static_cast<int>(rng() % 4);
        for (int i = 0; i < flips; ++i) data[rng() % data.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        ASSERT_TRUE(recgen::writeFile(path, data));
        expectSane(*readFile(path, 0));
        if (round % 10 == 0) {
            for (size_t cut = 0; cut <= data.size(); cut += 188) {
                ASSERT_TRUE(recgen::writeFile(path, Bytes(data.begin(), data.begin() + static_cast<long>(cut))));
                expectSane(*readFile(path, static_cast<int32_t>(rng() % 101)));
            }
        }
    }
}

TEST(TsRobustness, MutatedRplsFiles)
{
    TempDir dir;
    std::mt19937 rng(4242);
    const std::string path = dir.file("m.rpls");
    const size_t lengthFields[] = {16, 17, 18, 19, 67, 88, 344, 345};
    for (int round = 0; round < 400; ++round) {
        recgen::Rpls r;
        r.channelName = alnum("ch");
        r.programName = alnum("prog");
        r.description = alnum(std::string(rng() % 400, 'd'));
        r.blockMaker = (round % 2) ? 0x0108 : 0x0103;
        r.extended = alnum("ext");
        r.layout = 0xD5;
        Bytes data = r.build();
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < edits; ++i) {
            const size_t at = (rng() % 2) ? lengthFields[rng() % 8] : rng() % data.size();
            const uint8_t values[] = {0x00, 0xFF, static_cast<uint8_t>(rng())};
            data[at] = values[rng() % 3];
        }
        if (round % 4 == 0) data.resize(rng() % data.size());
        if (data.size() < 4) data = recgen::bytes("PLST");
        ASSERT_TRUE(recgen::writeFile(path, data));
        auto p = std::unique_ptr<ProgInfo>(new ProgInfo(TsProgInfo().getTsProgInfo(path.c_str())));
        expectSane(*p);
    }
}
