// The buffered packet reader and the section gatherers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "RecordingWriter.h"
#include "TestPaths.h"
#include "TsInfo.h"
#include "tsprocess.h"

using recgen::Bytes;
using recgen::TsWriter;
using testsupport::TempDir;

namespace {

// An open recording for the length of a test.
class OpenFile {
public:
    explicit OpenFile(const std::string& path) : m_h(OpenFileData(path.c_str())) {}
    ~OpenFile() { CloseFileData(m_h); }
    HANDLE get() const { return m_h; }

private:
    HANDLE m_h;
};

constexpr uint16_t kService = 0x0400;
constexpr uint16_t kOtherService = 0x0401;

Bytes presentEit(uint16_t service, uint16_t eventId = 1, uint8_t sectionNumber = 0, uint8_t tableId = 0x4E) {
    recgen::Event e;
    e.eventId = eventId;
    e.startMjd = recgen::mjd(2024, 1, 2);
    e.startBcd = {0x21, 0x00, 0x00};
    e.durationBcd = {0x00, 0x30, 0x00};
    e.descriptors = recgen::shortEvent(recgen::bytes("\x0E" "Title"), recgen::bytes("\x0E" "Text"));
    return recgen::eit(service, 0x7FE0, 0x7FE0, sectionNumber, {e}, tableId);
}

// An EIT section of exactly `total` bytes (at least 30), padded with an
// unknown descriptor.
Bytes eitOfSize(uint16_t service, size_t total) {
    recgen::Event e;
    e.descriptors = recgen::descriptor(0x99, Bytes(total - 32, 0x20));
    Bytes s = recgen::eit(service, 1, 1, 0, {e});
    EXPECT_EQ(total, s.size());
    return s;
}

Bytes patFor(uint16_t service) { return recgen::pat(1, {{0, 0x10}, {service, 0x1F0}}); }

struct Scan {
    int32_t result;
    Bytes section;
};

Scan scanSitEit(const std::string& path, int32_t startpos = 0, int64_t limit = 0, int32_t psize = 188) {
    OpenFile f(path);
    std::vector<uint8_t> psi(PSI_BUFFER_SIZE, 0);
    Scan s{getSitEit(f.get(), psi.data(), psize, startpos, limit), {}};
    if (s.result != SITEIT_NOT_FOUND) s.section.assign(psi.begin(), psi.begin() + getSectionLength(psi.data()) + 3);
    return s;
}

int32_t serviceOf(const Bytes& section) { return (section[3] << 8) | section[4]; }
int32_t eventOf(const Bytes& eitSection) { return (eitSection[14] << 8) | eitSection[15]; }

}  // namespace

TEST(TsCrc, MatchesCrc32Mpeg2)
{
    const std::string check = "123456789";
    EXPECT_EQ(0x0376E6E7u, calc_crc32(reinterpret_cast<const uint8_t*>(check.data()), 9));
    EXPECT_EQ(0xFFFFFFFFu, calc_crc32(reinterpret_cast<const uint8_t*>(check.data()), 0));
    EXPECT_EQ(0xFFFFFFFFu, calc_crc32(reinterpret_cast<const uint8_t*>(check.data()), -5));
    Bytes odd(1001);
    for (size_t i = 0; i < odd.size(); ++i) odd[i] = static_cast<uint8_t>(i * 31 + 7);
    EXPECT_EQ(recgen::crc32Mpeg2(odd.data(), odd.size()), calc_crc32(odd.data(), 1001));
    // A whole section, its CRC included, checks to 0.
    const Bytes sec = patFor(kService);
    EXPECT_EQ(0u, calc_crc32(sec.data(), static_cast<int32_t>(sec.size())));
}

TEST(TsPacket, HeaderFieldsStayInsideThePacket)
{
    // Exactly 188 bytes on the heap, so the sanitizer build sees a read past it.
    auto field = [](const Bytes& pkt, int32_t (*get)(const uint8_t*)) {
        std::unique_ptr<uint8_t[]> exact(new uint8_t[188]);
        std::memcpy(exact.get(), pkt.data(), 188);
        return get(exact.get());
    };
    const Bytes plain = recgen::packet(0x1ABC, true, 3, Bytes{0x07, 0x42});
    EXPECT_EQ(0x1ABC, field(plain, getPid));
    EXPECT_EQ(0, field(plain, getAdapFieldLength));
    EXPECT_EQ(7, field(plain, getPointerFieldLength));
    const Bytes adapted = recgen::packet(0x12, true, 0, Bytes{0x05}, 10);
    EXPECT_EQ(11, field(adapted, getAdapFieldLength));
    EXPECT_EQ(5, field(adapted, getPointerFieldLength));
    EXPECT_EQ(0, field(recgen::packet(0x12, false, 0, Bytes{0x05}, 10), getPointerFieldLength));
    // An adaptation length byte of 255 claims more than the packet holds:
    // there is no pointer field to read.
    Bytes broken = recgen::packet(0x12, true, 0, {}, 183);
    broken[4] = 0xFF;
    EXPECT_EQ(256, field(broken, getAdapFieldLength));
    EXPECT_EQ(0, field(broken, getPointerFieldLength));
}

TEST(TsReader, StartPositionIsPercentOfSizeInAlignedBlocks)
{
    TempDir dir;
    Bytes data(1000000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i / 4) * 13);
    ASSERT_TRUE(recgen::writeFile(dir.file("a.bin"), data));
    OpenFile f(dir.file("a.bin"));
    auto ts = std::make_unique<TsReadProcess>();
    initTsFileRead(ts.get(), f.get(), 188);
    setPosTsFileRead(ts.get(), 50);
    EXPECT_EQ(41248, ts->pos);
    EXPECT_EQ(65536, ts->datasize);
    EXPECT_EQ(0, std::memcmp(ts->buf, data.data() + 458752, 65536));

    setPosTsFileRead(ts.get(), 100);  // the end: nothing left
    EXPECT_EQ(nullptr, getPacketTsFileRead(ts.get()));
    setPosTsFileRead(ts.get(), -1);
    EXPECT_EQ(nullptr, getPacketTsFileRead(ts.get()));
}

TEST(TsReader, OffsetsBeyond4GiBStartAtTheRightPlace)
{
    TempDir dir;
    const std::string path = dir.file("big.ts");
    const int64_t size = (int64_t{10} << 30) + 12345;  // sparse, 10 GiB
    const int64_t start = 50 * size / 100;
    const int64_t aligned = start - start % 65536;
    {
        int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(0, ::ftruncate(fd, size));
        const char mark[] = "block";
        ASSERT_EQ(5, ::pwrite(fd, mark, 5, aligned));
        ::close(fd);
    }
    OpenFile f(path);
    auto ts = std::make_unique<TsReadProcess>();
    initTsFileRead(ts.get(), f.get(), 188);
    setPosTsFileRead(ts.get(), 50);
    EXPECT_EQ(start - aligned, ts->pos);
    EXPECT_EQ(0, std::memcmp(ts->buf, "block", 5));
}

// Units are numbered in their payload; every unit must come back whole and in
// order, also the ones that straddle a 64 KiB block boundary.
static void checkAllUnitsInOrder(int unitSize)
{
    TempDir dir;
    TsWriter w(unitSize);
    const int count = 1200;  // several blocks
    for (int i = 0; i < count; ++i)
        w.putPacket(recgen::packet(0x100, false, static_cast<uint8_t>(i),
                                   Bytes{static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i), 0x5A}));
    ASSERT_TRUE(w.writeTo(dir.file("u.ts")));
    OpenFile f(dir.file("u.ts"));
    auto ts = std::make_unique<TsReadProcess>();
    initTsFileRead(ts.get(), f.get(), unitSize);
    setPosTsFileRead(ts.get(), 0);
    int straddled = 0;
    for (int i = 0; i < count; ++i) {
        const uint8_t* u = getPacketTsFileRead(ts.get());
        ASSERT_NE(nullptr, u) << i;
        if (ts->pos - unitSize < 0) ++straddled;
        const uint8_t* p = u + (unitSize - 188);
        ASSERT_EQ(0x47, p[0]);
        ASSERT_EQ(i, (p[4] << 8) | p[5]) << "unit " << i;
        ASSERT_EQ(0x5A, p[6]);
    }
    EXPECT_GT(straddled, 0);
    EXPECT_EQ(nullptr, getPacketTsFileRead(ts.get()));
}

TEST(TsReader, UnitAcrossBlockBoundaryComesBackWhole)
{
    checkAllUnitsInOrder(188);
    checkAllUnitsInOrder(192);
}

TEST(TsReader, ResynchronisesOnlyOnThreeSyncBytes)
{
    TempDir dir;
    TsWriter w;
    w.putPacket(recgen::packet(0x100, false, 0, Bytes{0, 1}));
    // Garbage with a decoy: 0x47 at two places one unit apart, but not three.
    Bytes junk(500, 0x00);
    junk[10] = 0x47;
    junk[10 + 188] = 0x47;
    w.putRaw(junk);
    for (int i = 2; i < 6; ++i) w.putPacket(recgen::packet(0x100, false, 0, Bytes{0, static_cast<uint8_t>(i)}));
    ASSERT_TRUE(w.writeTo(dir.file("r.ts")));

    OpenFile f(dir.file("r.ts"));
    auto ts = std::make_unique<TsReadProcess>();
    initTsFileRead(ts.get(), f.get(), 188);
    setPosTsFileRead(ts.get(), 0);
    std::vector<int> seen;
    while (const uint8_t* u = getPacketTsFileRead(ts.get())) seen.push_back(u[5]);
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5}), seen);
}

// Long runs without a sync byte (a damaged or preallocated recording) are
// skipped in jumps; the first unit after them must still come back, wherever
// it lies against the 64 KiB blocks, and a decoy just before it must not fool
// the reader.
TEST(TsReader, ResynchronisesAfterLongRunsWithoutSyncAtEveryBlockEdge)
{
    for (int unitSize : {188, 192}) {
        for (int64_t edge : {int64_t{TS_READ_BLOCK}, int64_t{3} * TS_READ_BLOCK}) {
            for (int shift : {-400, -2 * unitSize - 1, -2 * unitSize, -unitSize - 1, -unitSize, -5, -1, 0, 1, 7,
                              unitSize, 300}) {
                SCOPED_TRACE("unit " + std::to_string(unitSize) + " edge " + std::to_string(edge) + " shift " +
                             std::to_string(shift));
                TempDir dir;
                TsWriter w(unitSize);
                w.putPacket(recgen::packet(0x100, false, 0, Bytes{0, 1}));
                const int64_t firstGood = edge + shift;
                Bytes gap(static_cast<size_t>(firstGood - static_cast<int64_t>(w.size())), 0x00);
                if (gap.size() > 200) gap[gap.size() - 100] = 0x47;  // a lone sync byte
                w.putRaw(gap);
                for (int i = 2; i < 7; ++i)
                    w.putPacket(recgen::packet(0x100, false, 0, Bytes{0, static_cast<uint8_t>(i)}));
                ASSERT_TRUE(w.writeTo(dir.file("g.ts")));

                OpenFile f(dir.file("g.ts"));
                auto ts = std::make_unique<TsReadProcess>();
                initTsFileRead(ts.get(), f.get(), unitSize);
                setPosTsFileRead(ts.get(), 0);
                std::vector<int> seen;
                while (const uint8_t* u = getPacketTsFileRead(ts.get())) seen.push_back(u[unitSize - 188 + 5]);
                EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5, 6}), seen);
            }
        }
    }
}

// A stretch of TS_NO_SYNC_LIMIT bytes without a sync byte ends the scan
// instead of reading on to the end of the file; a shorter one, or two
// shorter ones around a lone sync byte, is only skipped. The zeros are holes
// of a sparse file, so they cost no disk.
TEST(TsReader, LongStretchWithoutSyncBytesEndsTheScan)
{
    struct Row {
        const char* name;
        int64_t gap;        // zeros after the first unit
        int64_t loneSync;   // offset in the gap of a single 0x47, or -1
        std::vector<int> seen;
    };
    const int64_t limit = TS_NO_SYNC_LIMIT;
    const std::vector<Row> rows = {
        {"just under the limit", limit - 2 * TS_READ_BLOCK, -1, {1, 2, 3, 4}},
        {"at the limit", limit + 2 * TS_READ_BLOCK, -1, {1}},
        {"broken by a lone sync byte", limit + limit / 2, limit * 3 / 4, {1, 2, 3, 4}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TempDir dir;
        const std::string path = dir.file("gap.ts");
        TsWriter head;
        head.putPacket(recgen::packet(0x100, false, 0, Bytes{0, 1}));
        TsWriter tail;
        for (int i = 2; i < 5; ++i) tail.putPacket(recgen::packet(0x100, false, 0, Bytes{0, static_cast<uint8_t>(i)}));
        const int64_t tailAt = static_cast<int64_t>(head.size()) + r.gap;
        int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        bool ok = ::ftruncate(fd, tailAt + static_cast<int64_t>(tail.size())) == 0;
        ok = ok && ::pwrite(fd, head.data().data(), head.size(), 0) == static_cast<ssize_t>(head.size());
        ok = ok && (r.loneSync < 0 || ::pwrite(fd, "\x47", 1, static_cast<off_t>(head.size()) + r.loneSync) == 1);
        ok = ok && ::pwrite(fd, tail.data().data(), tail.size(), tailAt) == static_cast<ssize_t>(tail.size());
        ::close(fd);
        if (!ok) GTEST_SKIP() << "no room for a sparse file";

        OpenFile f(path);
        auto ts = std::make_unique<TsReadProcess>();
        initTsFileRead(ts.get(), f.get(), 188);
        setPosTsFileRead(ts.get(), 0);
        std::vector<int> seen;
        while (const uint8_t* u = getPacketTsFileRead(ts.get())) seen.push_back(u[5]);
        EXPECT_EQ(r.seen, seen);
    }
}

TEST(TsGather, FindsEitOfFirstProgrammeAfterPat)
{
    TempDir dir;
    for (int unit : {188, 192}) {
        TsWriter w(unit);
        w.putSection(0x12, presentEit(kService, 7));  // before the PAT: dropped
        w.putSection(0x00, recgen::pat(1, {{0, 0x10}}));  // programme 0 only
        w.putSection(0x12, presentEit(kService, 8));
        w.putSection(0x00, patFor(kService));
        w.putSection(0x12, presentEit(kOtherService, 9));         // another service
        w.putSection(0x12, presentEit(kService, 10, 1));          // following event
        w.putSection(0x12, presentEit(kService, 11, 0, 0x4F));    // other stream
        w.putSection(0x12, presentEit(kService, 12));
        ASSERT_TRUE(w.writeTo(dir.file("g.ts")));
        const Scan s = scanSitEit(dir.file("g.ts"), 0, 0, unit);
        ASSERT_EQ(SITEIT_FOUND_EIT, s.result) << unit;
        EXPECT_EQ(kService, serviceOf(s.section));
        EXPECT_EQ(12, eventOf(s.section));
    }
}

TEST(TsGather, FirstOfSitAndEitInStreamOrderWins)
{
    TempDir dir;
    const Bytes sit = recgen::sit(recgen::networkIdentification(0x4353, 3), {{0x123, {}}});
    {
        TsWriter w;
        w.putSection(0x00, patFor(kService));
        w.putSection(0x1F, sit);
        w.putSection(0x12, presentEit(kService));
        ASSERT_TRUE(w.writeTo(dir.file("s.ts")));
        const Scan s = scanSitEit(dir.file("s.ts"));
        EXPECT_EQ(SITEIT_FOUND_SIT, s.result);
        EXPECT_EQ(sit, s.section);
    }
    {
        TsWriter w;
        w.putSection(0x00, patFor(kService));
        w.putSection(0x12, presentEit(kService));
        w.putSection(0x1F, sit);
        ASSERT_TRUE(w.writeTo(dir.file("e.ts")));
        EXPECT_EQ(SITEIT_FOUND_EIT, scanSitEit(dir.file("e.ts")).result);
    }
}

TEST(TsGather, SectionsSplitPackedAndWithAdaptationFields)
{
    TempDir dir;
    // A long EIT spread over several packets, packed behind a short one, with
    // adaptation fields in every packet.
    recgen::Event e;
    e.descriptors = recgen::extendedEvent(0, 0, {{recgen::bytes("\x0E" "cast"), Bytes(200, 0x41)}});
    for (int i = 0; i < 6; ++i) e.descriptors = recgen::cat({e.descriptors, recgen::descriptor(0x99, Bytes(200, 1))});
    const Bytes big = recgen::eit(kService, 1, 1, 0, {e});
    ASSERT_GT(big.size(), 1000u);
    TsWriter w;
    w.putSection(0x00, patFor(kService), {false, 20});
    w.putSections(0x12, {presentEit(kOtherService), big}, {false, 7});
    ASSERT_TRUE(w.writeTo(dir.file("p.ts")));
    const Scan s = scanSitEit(dir.file("p.ts"));
    ASSERT_EQ(SITEIT_FOUND_EIT, s.result);
    EXPECT_EQ(big, s.section);

    // A packet whose adaptation field fills it carries no section bytes.
    TsWriter full;
    full.putSection(0x00, patFor(kService));
    full.putPacket(recgen::packet(0x12, true, 0, recgen::cat({Bytes{0}, presentEit(kService)}), 183));
    ASSERT_TRUE(full.writeTo(dir.file("f.ts")));
    EXPECT_EQ(SITEIT_NOT_FOUND, scanSitEit(dir.file("f.ts")).result);
}

TEST(TsGather, SectionStartingInLastBytesOfPacketIsJoined)
{
    TempDir dir;
    for (size_t firstLen : {181u, 182u, 180u}) {
        // The second section begins at byte 5 + firstLen of the packet: 186 and
        // 187 leave fewer than the three header bytes in it.
        TsWriter w;
        w.putSection(0x00, patFor(kService));
        const Bytes wanted = presentEit(kService, 42);
        w.putSections(0x12, {eitOfSize(kOtherService, firstLen), wanted});
        // Put the packet at the very end of the 64 KiB window, where a read
        // past the packet would leave the buffer.
        ASSERT_TRUE(w.writeTo(dir.file("t.ts")));
        const Scan s = scanSitEit(dir.file("t.ts"));
        ASSERT_EQ(SITEIT_FOUND_EIT, s.result) << firstLen;
        EXPECT_EQ(wanted, s.section) << firstLen;
    }
    // The same at the end of the read window: 348 units fill it to 65424, so
    // the packet of the split is the last whole one in the window.
    TsWriter w;
    w.putSection(0x00, patFor(kService));
    w.padTo(65424 - 188);
    w.putSections(0x12, {eitOfSize(kOtherService, 182), presentEit(kService, 43)});
    ASSERT_TRUE(w.writeTo(dir.file("edge.ts")));
    const Scan s = scanSitEit(dir.file("edge.ts"));
    ASSERT_EQ(SITEIT_FOUND_EIT, s.result);
    EXPECT_EQ(43, eventOf(s.section));
}

TEST(TsGather, StuffingEndsThePacket)
{
    TempDir dir;
    const Bytes other = presentEit(kOtherService);
    const Bytes wanted = presentEit(kService);
    auto build = [&](bool stuffing) {
        TsWriter w;
        w.putSection(0x00, patFor(kService));
        Bytes payload = recgen::cat({Bytes{0}, other});
        if (stuffing) payload.push_back(0xFF);
        payload = recgen::cat({payload, wanted});
        EXPECT_LE(payload.size(), 184u);
        w.putPacket(recgen::packet(0x12, true, 0, payload));
        EXPECT_TRUE(w.writeTo(dir.file("st.ts")));
        return scanSitEit(dir.file("st.ts")).result;
    };
    EXPECT_EQ(SITEIT_FOUND_EIT, build(false));
    EXPECT_EQ(SITEIT_NOT_FOUND, build(true));
}

TEST(TsGather, BadCrcIsDroppedAndTheNextSectionTaken)
{
    TempDir dir;
    Bytes broken = presentEit(kService, 5);
    broken[20] ^= 0x01;
    TsWriter w;
    w.putSection(0x00, patFor(kService));
    w.putSection(0x12, broken);
    w.putSection(0x12, presentEit(kService, 6));
    ASSERT_TRUE(w.writeTo(dir.file("c.ts")));
    const Scan s = scanSitEit(dir.file("c.ts"));
    ASSERT_EQ(SITEIT_FOUND_EIT, s.result);
    EXPECT_EQ(6, eventOf(s.section));
}

TEST(TsGather, PacketLimit)
{
    TempDir dir;
    TsWriter w;
    w.putSection(0x00, patFor(kService));  // unit 1
    w.putNull(10);                          // units 2-11
    w.putSection(0x12, presentEit(kService));  // unit 12
    ASSERT_TRUE(w.writeTo(dir.file("l.ts")));
    EXPECT_EQ(SITEIT_FOUND_EIT, scanSitEit(dir.file("l.ts"), 0, 0).result);
    EXPECT_EQ(SITEIT_FOUND_EIT, scanSitEit(dir.file("l.ts"), 0, 12).result);
    EXPECT_EQ(SITEIT_NOT_FOUND, scanSitEit(dir.file("l.ts"), 0, 11).result);
    EXPECT_EQ(SITEIT_NOT_FOUND, scanSitEit(dir.file("l.ts"), 0, -3).result);

    // A negative limit still examines the first unit.
    TsWriter one;
    one.putSection(0x1F, recgen::sit({}, {}));
    one.putNull(5);
    ASSERT_TRUE(one.writeTo(dir.file("one.ts")));
    EXPECT_EQ(SITEIT_FOUND_SIT, scanSitEit(dir.file("one.ts"), 0, -1).result);
}

TEST(TsGather, ScanCoversOnlyFromStartPosition)
{
    TempDir dir;
    TsWriter w;
    w.putSection(0x00, patFor(kService));
    w.putSection(0x12, presentEit(kService));
    w.putNull(100);
    ASSERT_TRUE(w.writeTo(dir.file("h.ts")));
    EXPECT_EQ(SITEIT_FOUND_EIT, scanSitEit(dir.file("h.ts"), 0).result);
    EXPECT_EQ(SITEIT_NOT_FOUND, scanSitEit(dir.file("h.ts"), 50).result);
}

TEST(TsGather, SdtOfTheService)
{
    TempDir dir;
    const Bytes name = recgen::bytes("\x0E" "CH");
    const Bytes wanted = recgen::sdt(1, 0x7FE0,
                                     {{kOtherService, recgen::serviceDesc(1, {}, name)},
                                      {kService, recgen::serviceDesc(1, {}, name)}});
    TsWriter w;
    w.putSection(0x11, recgen::sdt(1, 0x7FE0, {{kOtherService, recgen::serviceDesc(1, {}, name)}}));
    w.putSection(0x11, recgen::sdt(1, 0x7FE0, {{kService, {}}}, 0x46));  // other stream
    w.putSection(0x11, wanted);
    ASSERT_TRUE(w.writeTo(dir.file("sdt.ts")));
    OpenFile f(dir.file("sdt.ts"));
    std::vector<uint8_t> psi(PSI_BUFFER_SIZE, 0);
    ASSERT_TRUE(getSdt(f.get(), psi.data(), 188, kService, 0, 0));
    EXPECT_EQ(wanted, Bytes(psi.begin(), psi.begin() + static_cast<long>(wanted.size())));
    EXPECT_FALSE(getSdt(f.get(), psi.data(), 188, 0x0555, 0, 0));
    EXPECT_FALSE(getSdt(f.get(), psi.data(), 188, kService, 0, 2));
}
