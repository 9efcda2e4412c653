// The RPLS reader, through the library's entry point.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "RecordingWriter.h"
#include "TestPaths.h"
#include "TextCodec.h"
#include "TsInfo.h"
#include "rplsproginfo.h"
#include "tsproginfo.h"

using recgen::Bytes;
using recgen::alnum;
using testsupport::TempDir;

namespace {

std::string u8(const char16_t* text, int32_t len) {
    return len < 0 ? "<" + std::to_string(len) + ">" : platform::utf16ToUtf8(text, static_cast<size_t>(len));
}

std::unique_ptr<ProgInfo> readRpls(const TempDir& dir, const recgen::Rpls& r) {
    const std::string path = dir.file("x.rpls");
    EXPECT_TRUE(recgen::writeFile(path, r.build()));
    return std::unique_ptr<ProgInfo>(new ProgInfo(TsProgInfo().getTsProgInfo(path.c_str())));
}

std::vector<int> genres(const ProgInfo& p) { return {p.genre[0], p.genre[1], p.genre[2]}; }

}  // namespace

TEST(Rpls, FixedFieldsWithoutMakerBlock)
{
    TempDir dir;
    recgen::Rpls r;
    r.timeZone = 0x48;
    r.startAndDurationBcd = {0x20, 0x24, 0x12, 0x31, 0x23, 0x59, 0x58, 0x01, 0x02, 0x03};
    r.makerId = 0x0103;
    r.modelCode = 0x0042;
    r.channel = 0x0181;
    r.channelName = alnum("BS1");
    r.programName = {0x46, 0x7C, 0x4B, 0x5C};
    r.description = alnum("about");
    auto p = readRpls(dir, r);
    ASSERT_EQ(TS_INFO_SUCCESS, p->status);
    EXPECT_TRUE(p->active);
    EXPECT_EQ((std::vector<int>{2024, 12, 31, 23, 59, 58, 1, 2, 3}),
              (std::vector<int>{p->recyear, p->recmonth, p->recday, p->rechour, p->recmin, p->recsec, p->durhour,
                                p->durmin, p->dursec}));
    EXPECT_EQ(0x48, p->rectimezone);
    EXPECT_EQ(0x0103, p->makerid);
    EXPECT_EQ(0x42, p->modelcode);
    EXPECT_EQ(0x181, p->chnum);
    EXPECT_EQ("BS1", u8(p->chname, p->chnamelen));
    EXPECT_EQ("日本", u8(p->pname, p->pnamelen));
    EXPECT_EQ("about", u8(p->pdetail, p->pdetaillen));
    EXPECT_EQ(-1, p->recsrc);
    EXPECT_EQ(-1, p->pextendlen);
    EXPECT_EQ(0, p->pextend[0]);
    EXPECT_EQ((std::vector<int>{-1, -1, -1}), genres(*p));
    EXPECT_EQ(0, p->networkID);
}

TEST(Rpls, Block0108GenresAndExtendedText)
{
    TempDir dir;
    for (size_t descLen : {0u, 7u, 300u}) {
        recgen::Rpls r;
        r.description = alnum(std::string(descLen ? descLen - 1 : 0, 'd'));
        if (descLen == 0) r.description.clear();
        r.blockMaker = 0x0108;
        r.genres108 = {0x70, -1, 0x15};
        r.extended = alnum("more");
        auto p = readRpls(dir, r);
        EXPECT_EQ("more", u8(p->pextend, p->pextendlen)) << descLen;
        EXPECT_EQ((std::vector<int>{0x70, -1, 0x15}), genres(*p));
        EXPECT_EQ(-1, p->recsrc);
    }
}

TEST(Rpls, Block0103SourceAndSwappedGenres)
{
    TempDir dir;
    recgen::Rpls r;
    r.blockMaker = 0x0103;
    r.recordingSource = 0x5442;
    r.genreBytes103 = {0x13, 0x07, 0x05};
    struct Case {
        uint8_t layout;
        std::vector<int> want;
    };
    for (const Case& c : {Case{0xD5, {0x50, 0x70, 0x31}}, Case{0xE5, {0x50, 0x70, -1}}, Case{0xE9, {0x50, -1, -1}},
                          Case{0x00, {-1, -1, -1}}}) {
        r.layout = c.layout;
        auto p = readRpls(dir, r);
        EXPECT_EQ(c.want, genres(*p)) << std::hex << int(c.layout);
        EXPECT_EQ(0x5442, p->recsrc);
        EXPECT_EQ(-1, p->pextendlen);
    }
    // An unknown maker block counts as none.
    r.blockMaker = 0x0777;
    auto p = readRpls(dir, r);
    EXPECT_EQ(-1, p->recsrc);
    EXPECT_EQ((std::vector<int>{-1, -1, -1}), genres(*p));
}

TEST(Rpls, LengthsAtTheirMaximumStayInsideTheFile)
{
    TempDir dir;
    recgen::Rpls r;
    r.channelName = Bytes(255, 0xA2);
    r.programName = Bytes(255, 0xA4);
    r.description = alnum("short");
    r.descriptionLengthField = 0xFFFF;  // claims far more than the file holds
    r.blockMaker = 0x0108;
    r.blockOffset = 16384 - 58;         // the last place a 0x0108 block fits
    r.extended = alnum("x");
    r.extendedLengthField = 0xFFFF;
    r.genres108 = {0x11, 0x22, 0x33};
    auto p = readRpls(dir, r);
    ASSERT_EQ(TS_INFO_SUCCESS, p->status);
    EXPECT_EQ(255, p->pnamelen);
    EXPECT_GT(p->pdetaillen, 0);
    EXPECT_LE(p->pdetaillen, 16384 - 346);
    EXPECT_EQ(0, p->pextendlen);  // starts past what is read
    EXPECT_EQ((std::vector<int>{0x11, 0x22, 0x33}), genres(*p));

    // A block that would reach past the 16384 bytes read is no block; so is an
    // offset near 4 GiB.
    r.blockOffset = 16384 - 57;
    EXPECT_EQ((std::vector<int>{-1, -1, -1}), genres(*readRpls(dir, r)));
    r.blockMaker = 0x0103;
    r.blockOffset = 16384 - 179;
    EXPECT_EQ(-1, readRpls(dir, r)->recsrc);
    Bytes data = r.build();
    data[16] = data[17] = data[18] = data[19] = 0xFF;
    ASSERT_TRUE(recgen::writeFile(dir.file("y.rpls"), data));
    auto far = std::unique_ptr<ProgInfo>(new ProgInfo(TsProgInfo().getTsProgInfo(dir.file("y.rpls").c_str())));
    EXPECT_EQ(-1, far->recsrc);
}

TEST(Rpls, ShortFileReadsAsZeroPadded)
{
    TempDir dir;
    ASSERT_TRUE(recgen::writeFile(dir.file("s.rpls"), recgen::bytes("PLST")));
    auto p = std::unique_ptr<ProgInfo>(new ProgInfo(TsProgInfo().getTsProgInfo(dir.file("s.rpls").c_str())));
    EXPECT_EQ(TS_INFO_SUCCESS, p->status);
    EXPECT_EQ(0, p->recyear);
    EXPECT_EQ(0, p->pnamelen);
    EXPECT_EQ(-1, p->pextendlen);
    EXPECT_EQ(4, p->fsize);
}

TEST(Rpls, MakerCheckStaysInsideTheBuffer)
{
    Bytes buf(64, 0);
    EXPECT_FALSE(rplsMakerCheck(buf.data(), 0, buf.size()));  // offset 0: no block
    buf[19] = 40;
    buf[52] = 0x01;
    buf[53] = 0x08;
    EXPECT_TRUE(rplsMakerCheck(buf.data(), 0x0108, buf.size()));
    EXPECT_FALSE(rplsMakerCheck(buf.data(), 0x0103, buf.size()));
    buf[19] = 51;  // id would lie at 63-64: past the end
    EXPECT_FALSE(rplsMakerCheck(buf.data(), 0x0000, buf.size()));
    buf[16] = 0x80;
    EXPECT_FALSE(rplsMakerCheck(buf.data(), 0x0000, buf.size()));
}
