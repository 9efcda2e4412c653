// Table parsers, dates, channel numbers and the entry point over generated
// recordings.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "RecordingWriter.h"
#include "TestPaths.h"
#include "TextCodec.h"
#include "TsInfo.h"
#include "tsprocess.h"
#include "tsproginfo.h"

using recgen::Bytes;
using recgen::alnum;
using recgen::TsWriter;
using testsupport::TempDir;

namespace {

// ARIB 8-unit text written by hand (alnum invokes the alphanumeric set into
// GL with LS1); by default GL holds JIS kanji and GR hiragana.
const Bytes kNihon = {0x46, 0x7C, 0x4B, 0x5C};  // 日本
const Bytes kAi = {0xA2, 0xA4};                   // あい

std::string u8(const char16_t* text, int32_t len) {
    return len < 0 ? std::string("<") + std::to_string(len) + ">" : platform::utf16ToUtf8(text, static_cast<size_t>(len));
}

std::unique_ptr<ProgInfo> fresh() { return std::make_unique<ProgInfo>(); }

std::unique_ptr<ProgInfo> readInfo(const std::string& path) {
    // The prvalue initialises the heap object directly: no 530 KB stack copy.
    return std::unique_ptr<ProgInfo>(new ProgInfo(TsProgInfo().getTsProgInfo(path.c_str())));
}

CopyParams defaults() {
    CopyParams p;
    initCopyParams(&p);
    return p;
}

recgen::Event event(Bytes descriptors) {
    recgen::Event e;
    e.eventId = 0x1234;
    e.startMjd = 0xC079;  // 1993-10-13
    e.startBcd = {0x12, 0x45, 0x00};
    e.durationBcd = {0x01, 0x45, 0x30};
    e.descriptors = std::move(descriptors);
    return e;
}

}  // namespace

TEST(TsDates, ModifiedJulianDate)
{
    int32_t y = 0, m = 0, d = 0;
    mjd_dec(0xC079, &y, &m, &d);
    EXPECT_EQ((std::vector<int>{1993, 10, 13}), (std::vector<int>{y, m, d}));
    mjd_dec(15078, &y, &m, &d);  // wrapped: 80614
    EXPECT_EQ((std::vector<int>{2079, 8, 4}), (std::vector<int>{y, m, d}));
    mjd_dec(15079, &y, &m, &d);
    EXPECT_EQ((std::vector<int>{1900, 3, 1}), (std::vector<int>{y, m, d}));
    mjd_dec(recgen::mjd(2024, 2, 29), &y, &m, &d);
    EXPECT_EQ((std::vector<int>{2024, 2, 29}), (std::vector<int>{y, m, d}));
    mjd_dec(recgen::mjd(2024, 12, 31), &y, &m, &d);
    EXPECT_EQ((std::vector<int>{2024, 12, 31}), (std::vector<int>{y, m, d}));
    EXPECT_EQ(0xC079, mjd_enc(1993, 10, 13));
    EXPECT_EQ(recgen::mjd(2038, 4, 23), mjd_enc(2038, 4, 23));
    mjd_dec(mjd_enc(2038, 4, 23), &y, &m, &d);
    EXPECT_EQ((std::vector<int>{2038, 4, 23}), (std::vector<int>{y, m, d}));
}

TEST(TsChannels, TerrestrialBsAndCs)
{
    EXPECT_EQ(11, getTbChannelNum(0x7FE0, 0x0400, 0));
    EXPECT_EQ(12, getTbChannelNum(0x7FE0, 0x0401, 0));
    EXPECT_EQ(121, getTbChannelNum(0x7FE8, 0x05C8, 0));
    EXPECT_EQ(31, getTbChannelNum(0x7880, 0x0400, 0));   // first of the range
    EXPECT_EQ(101, getTbChannelNum(0x7DE6, 0x0408, 0));  // key 10
    EXPECT_EQ(0, getTbChannelNum(0x7FFF, 0x0400, 0));    // not a known network
    EXPECT_EQ(53, getTbChannelNum(0x7FFF, 0x0402, 5));   // a given key wins

    // The whole network table: how many network ids each key number has, and
    // none outside the terrestrial range.
    std::map<int, int> idsPerKey;
    for (int32_t nid = 0; nid <= 0xFFFF; ++nid) {
        const int32_t ch = getTbChannelNum(nid, 0, 0);
        if (ch == 0) continue;
        EXPECT_TRUE(nid >= 0x7880 && nid <= 0x7FE8) << std::hex << nid;
        ++idsPerKey[ch / 10];
    }
    EXPECT_EQ((std::map<int, int>{{1, 48}, {2, 41}, {3, 34}, {4, 23}, {5, 32}, {6, 26}, {7, 14}, {8, 32}, {9, 2},
                                  {10, 2}, {12, 1}}),
              idsPerKey);

    auto info = fresh();
    const CopyParams cp = defaults();
    // Terrestrial ids take the key table, BS (4) and CS (6, 7) the low ten
    // bits of the service id.
    struct Case {
        uint16_t network, service;
        int32_t chnum;
    };
    for (const Case& c : {Case{0x7FE8, 0x05C8, 121}, Case{0x7FE0, 0x0400, 11}, Case{0x7FFE, 0x0400, 0},
                          Case{4, 0x0065, 101}, Case{4, 0x00BF, 191}, Case{6, 0x0127, 0x127}, Case{7, 0x0432, 0x032}}) {
        const Bytes sec = recgen::eit(c.service, 1, c.network, 0, {event({})});
        EXPECT_EQ(c.service, parseEit(sec.data(), info.get(), &cp));
        EXPECT_EQ(c.chnum, info->chnum) << std::hex << c.network << " " << c.service;
        EXPECT_EQ(c.network, info->networkID);
        EXPECT_EQ(c.service, info->serviceID);
    }
}

TEST(TsEit, EventFieldsAndTexts)
{
    auto info = fresh();
    const CopyParams cp = defaults();
    const Bytes descriptors =
        recgen::cat({recgen::shortEvent(recgen::cat({alnum("News "), Bytes{0x0F}, kNihon}), recgen::cat({kAi, alnum("!")})),
                     recgen::content({0x70, 0xE0, 0x71})});
    const Bytes sec = recgen::eit(0x0400, 1, 0x7FE0, 0, {event(descriptors)});
    EXPECT_EQ(0x0400, parseEit(sec.data(), info.get(), &cp));
    EXPECT_EQ("News 日本", u8(info->pname, info->pnamelen));
    EXPECT_EQ("あい!", u8(info->pdetail, info->pdetaillen));
    EXPECT_EQ(0, info->pextendlen);
    EXPECT_EQ((std::vector<int>{1993, 10, 13, 12, 45, 0}),
              (std::vector<int>{info->recyear, info->recmonth, info->recday, info->rechour, info->recmin, info->recsec}));
    EXPECT_EQ((std::vector<int>{1, 45, 30}), (std::vector<int>{info->durhour, info->durmin, info->dursec}));
    EXPECT_EQ((std::vector<int>{0x70, 0x71, -1}), (std::vector<int>{info->genre[0], info->genre[1], info->genre[2]}));
}

TEST(TsEit, GenresUndefinedDurationAndShortSection)
{
    const CopyParams cp = defaults();
    {
        auto info = fresh();
        recgen::Event e = event(recgen::content({0x10, 0x20, 0x30, 0x40, 0x50}));
        e.durationBcd = {0xFF, 0xFF, 0xFF};
        const Bytes sec = recgen::eit(0x0400, 1, 4, 0, {e});
        parseEit(sec.data(), info.get(), &cp);
        EXPECT_EQ((std::vector<int>{0x10, 0x20, 0x30}), (std::vector<int>{info->genre[0], info->genre[1], info->genre[2]}));
        EXPECT_EQ((std::vector<int>{0, 0, 0}), (std::vector<int>{info->durhour, info->durmin, info->dursec}));
    }
    {
        // An undefined start time (all bits set) is not read as 2038-04-22
        // 165:165:165, in the EIT and in a SIT's partial-stream time alike.
        auto info = fresh();
        recgen::Event e = event({});
        e.startMjd = 0xFFFF;
        e.startBcd = {0xFF, 0xFF, 0xFF};
        parseEit(recgen::eit(0x0400, 1, 4, 0, {e}).data(), info.get(), &cp);
        EXPECT_EQ((std::vector<int>{0, 0, 0, 0, 0, 0}),
                  (std::vector<int>{info->recyear, info->recmonth, info->recday, info->rechour, info->recmin,
                                    info->recsec}));
        EXPECT_EQ((std::vector<int>{1, 45, 30}), (std::vector<int>{info->durhour, info->durmin, info->dursec}));

        auto sit = fresh();
        const Bytes time = recgen::partialTsTime(0xFFFF, {0xFF, 0xFF, 0xFF}, {0x00, 0x10, 0x00});
        parseSit(recgen::sit(recgen::networkIdentification(0x4353, 3), {{0x0123, time}}).data(), sit.get(), &cp);
        EXPECT_EQ(0, sit->recyear);
        EXPECT_EQ(0, sit->rechour);
        EXPECT_EQ(10, sit->durmin);
    }
    {
        // section_length 15: no event is read.
        auto info = fresh();
        const Bytes sec = recgen::eit(0x05C8, 1, 0x7FE8, 0, {});
        ASSERT_EQ(15, getSectionLength(sec.data()));
        EXPECT_EQ(0x05C8, parseEit(sec.data(), info.get(), &cp));
        EXPECT_EQ(121, info->chnum);
        EXPECT_EQ(0x7FE8, info->networkID);
        EXPECT_EQ(0x05C8, info->serviceID);
        EXPECT_EQ((std::vector<int>{-1, -1, -1}), (std::vector<int>{info->genre[0], info->genre[1], info->genre[2]}));
        EXPECT_EQ(0, info->recyear);
    }
}

TEST(TsEit, ExtendedItemsJoinedAcrossDescriptors)
{
    auto info = fresh();
    const CopyParams cp = defaults();
    // Item A's text is split over two descriptors in the middle of a kanji
    // code (LS0 puts the kanji set back into GL): the pieces must be joined
    // before conversion. Item B follows.
    const Bytes tA1 = recgen::cat({alnum("one "), Bytes{0x0F, 0x46}});
    const Bytes tA2 = {0x7C};
    const Bytes descriptors = recgen::cat({
        recgen::extendedEvent(0, 1, {{alnum("dA"), tA1}}),
        recgen::extendedEvent(1, 1, {{{}, tA2}, {alnum("dB"), alnum("tB")}}),
    });
    const Bytes sec = recgen::eit(0x0400, 1, 0x7FE0, 0, {event(descriptors)});
    parseEit(sec.data(), info.get(), &cp);
    EXPECT_EQ("dA\r\none 日\r\n\r\ndB\r\ntB", u8(info->pextend, info->pextendlen));
    EXPECT_EQ(0, info->pextend[info->pextendlen]);
}

TEST(TsEit, LaterEventOverwritesAndExtendedTextRestarts)
{
    auto info = fresh();
    const CopyParams cp = defaults();
    recgen::Event first = event(recgen::extendedEvent(0, 0, {{alnum("d"), alnum("first")}}));
    recgen::Event second = event(recgen::shortEvent(alnum("Second"), {}));
    second.startMjd = recgen::mjd(2024, 5, 6);
    const Bytes sec = recgen::eit(0x0400, 1, 0x7FE0, 0, {first, second});
    parseEit(sec.data(), info.get(), &cp);
    EXPECT_EQ("Second", u8(info->pname, info->pnamelen));
    EXPECT_EQ(0, info->pextendlen);
    EXPECT_EQ(0, info->pextend[0]);
    EXPECT_EQ(2024, info->recyear);
    EXPECT_EQ(6, info->recday);
}

TEST(TsEit, LengthsReachingPastTheSectionAreCut)
{
    auto info = fresh();
    const CopyParams cp = defaults();
    // A short-event descriptor whose name length claims 255 bytes, and an
    // extended item whose length runs past its descriptor.
    Bytes shortEv = recgen::shortEvent(alnum("abc"), {});
    shortEv[5] = 0xFF;
    Bytes ext = recgen::extendedEvent(0, 0, {{alnum("d"), alnum("xyz")}});
    ext[6] = 0xFF;                           // length_of_items
    ext[7 + 1 + 2] = 0xFF;                   // item_length
    Bytes sec = recgen::eit(0x0400, 1, 0x7FE0, 0, {event(recgen::cat({ext, shortEv}))});
    // A descriptor loop length far past the section.
    sec[14 + 10] = 0x8F;
    sec[14 + 11] = 0xFF;
    recgen::resealSection(sec);
    // Whatever follows the section in the buffer must not be read.
    std::vector<uint8_t> buf(sec.begin(), sec.end());
    parseEit(buf.data(), info.get(), &cp);
    EXPECT_LE(info->pextendlen, 20);
    EXPECT_LE(info->pnamelen, 20);
}

TEST(TsSdt, ServiceNameOfTheWantedService)
{
    const CopyParams cp = defaults();
    auto info = fresh();
    const Bytes sec = recgen::sdt(1, 0x7FE0,
                                  {{0x0401, recgen::serviceDesc(1, alnum("P"), alnum("Other"))},
                                   {0x0400, recgen::cat({recgen::serviceDesc(1, alnum("P"), alnum("First")),
                                                         recgen::serviceDesc(1, {}, recgen::cat({kNihon, alnum("TV")}))})}});
    parseSdt(sec.data(), info.get(), 0x0400, &cp);
    EXPECT_EQ("日本TV", u8(info->chname, info->chnamelen));

    auto untouched = fresh();
    parseSdt(recgen::sdt(1, 1, {{0x0400, {}}}).data(), untouched.get(), 0x0400, &cp);
    parseSdt(sec.data(), untouched.get(), 0x0999, &cp);
    EXPECT_EQ(0, untouched->chnamelen);
    EXPECT_EQ(0, untouched->chname[0]);
}

TEST(TsSit, SatellitePartialStream)
{
    const CopyParams cp = defaults();
    auto info = fresh();
    // 0xB2: entries (length, type, text); the first names the channel, the
    // second the programme. 0x83: one leading byte, then text.
    const Bytes ch = alnum("CS One");
    const Bytes prog = recgen::cat({kNihon, kAi});
    const Bytes b2 = recgen::descriptor(
        0xB2, recgen::cat({Bytes{static_cast<uint8_t>(ch.size() + 1), 1}, ch,
                           Bytes{static_cast<uint8_t>(prog.size() + 1), 2}, prog}));
    const Bytes d83a = recgen::descriptor(0x83, recgen::cat({Bytes{0x00}, alnum("ab")}));
    const Bytes d83b = recgen::descriptor(0x83, recgen::cat({Bytes{0x00}, recgen::bytes("cd")}));
    const Bytes empty83 = recgen::descriptor(0x83, {});
    const Bytes time = recgen::partialTsTime(0xC079, {0x23, 0x59, 0x58}, {0x00, 0x10, 0x00});
    const Bytes sec = recgen::sit(recgen::networkIdentification(0x4353, 3),
                                  {{0x0123, recgen::cat({b2, d83a, empty83, d83b, time})}});
    parseSit(sec.data(), info.get(), &cp);
    EXPECT_EQ(0x123, info->chnum);
    EXPECT_EQ("CS One", u8(info->chname, info->chnamelen));
    EXPECT_EQ("日本あい", u8(info->pname, info->pnamelen));
    EXPECT_EQ("abcd", u8(info->pextend, info->pextendlen));
    EXPECT_EQ((std::vector<int>{1993, 10, 13, 23, 59, 58, 0, 10, 0}),
              (std::vector<int>{info->recyear, info->recmonth, info->recday, info->rechour, info->recmin, info->recsec,
                                info->durhour, info->durmin, info->dursec}));
    EXPECT_EQ(3, info->networkID);
    EXPECT_EQ(0x0123, info->serviceID);
}

TEST(TsSit, ZeroLengthEntryOfB2GivesNoText)
{
    const CopyParams cp = defaults();
    auto info = fresh();
    // First entry length 0: "length - 1" must not turn into a huge count.
    const Bytes b2 = recgen::descriptor(0xB2, Bytes{0x00, 0x01, 0x00, 0x02});
    const Bytes sec = recgen::sit(recgen::networkIdentification(0x4353, 1), {{0x0200, b2}});
    parseSit(sec.data(), info.get(), &cp);
    EXPECT_EQ(0, info->chnamelen);
    EXPECT_EQ(0x200, info->chnum);
}

TEST(TsSit, TerrestrialAndOtherPartialStreams)
{
    const CopyParams cp = defaults();
    {
        auto info = fresh();
        const Bytes services = recgen::cat(
            {recgen::serviceDesc(1, {}, alnum("TB")), recgen::shortEvent(alnum("Name"), alnum("Detail")),
             recgen::extendedEvent(0, 0, {{alnum("d"), alnum("t")}}), recgen::content({0x41}),
             recgen::partialTsTime(recgen::mjd(2024, 3, 4), {0x05, 0x06, 0x07}, {0xFF, 0xFF, 0xFF})});
        const Bytes sec =
            recgen::sit(recgen::cat({recgen::tsInformation(4), recgen::networkIdentification(0x5442, 0x7FE0)}),
                        {{0x0402, services}});
        parseSit(sec.data(), info.get(), &cp);
        EXPECT_EQ(43, info->chnum);  // key 4 from the TS information descriptor
        EXPECT_EQ("TB", u8(info->chname, info->chnamelen));
        EXPECT_EQ("Name", u8(info->pname, info->pnamelen));
        EXPECT_EQ("Detail", u8(info->pdetail, info->pdetaillen));
        EXPECT_EQ("d\r\nt", u8(info->pextend, info->pextendlen));
        EXPECT_EQ((std::vector<int>{0x41, -1, -1}), (std::vector<int>{info->genre[0], info->genre[1], info->genre[2]}));
        EXPECT_EQ((std::vector<int>{2024, 3, 4, 5, 6, 7, 0, 0, 0}),
                  (std::vector<int>{info->recyear, info->recmonth, info->recday, info->rechour, info->recmin,
                                    info->recsec, info->durhour, info->durmin, info->dursec}));
        EXPECT_EQ(0x7FE0, info->networkID);
        EXPECT_EQ(0x0402, info->serviceID);
    }
    {
        // No network identification: low ten bits, network 0.
        auto info = fresh();
        const Bytes sec = recgen::sit({}, {{0x0C01, {}}, {0x0455, {}}});
        parseSit(sec.data(), info.get(), &cp);
        EXPECT_EQ(0x055, info->chnum);
        EXPECT_EQ(0, info->networkID);
        EXPECT_EQ(0x0455, info->serviceID);
    }
}

// ---- whole files ------------------------------------------------------------

namespace {

Bytes fullRecording(int unit, size_t fillBefore) {
    const Bytes descriptors = recgen::cat({
        recgen::shortEvent(recgen::cat({kNihon, alnum(" News")}), alnum("Detail")),
        recgen::extendedEvent(0, 0, {{alnum("Cast"), alnum("Someone")}}),
        recgen::content({0x00, 0x70}),
    });
    TsWriter w(unit);
    w.padTo(fillBefore);
    w.putSection(0x00, recgen::pat(0x7FE0, {{0, 0x10}, {0x0400, 0x1F0}, {0x0401, 0x1F1}}));
    w.putSection(0x12, recgen::eit(0x0400, 0x7FE0, 0x7FE0, 0, {event(descriptors)}));
    w.putSection(0x11, recgen::sdt(0x7FE0, 0x7FE0, {{0x0400, recgen::serviceDesc(1, {}, alnum("Channel"))}}));
    w.putNull(5);
    return w.data();
}

}  // namespace

TEST(TsProgInfo, ReadsA188And192Recording)
{
    TempDir dir;
    for (int unit : {188, 192}) {
        const std::string path = dir.file("rec" + std::to_string(unit) + ".m2ts");
        const Bytes data = fullRecording(unit, 200000);
        ASSERT_TRUE(recgen::writeFile(path, data));
        auto info = readInfo(path);
        ASSERT_EQ(TS_INFO_SUCCESS, info->status) << unit;
        EXPECT_TRUE(info->active);
        EXPECT_EQ("日本 News", u8(info->pname, info->pnamelen));
        EXPECT_EQ("Detail", u8(info->pdetail, info->pdetaillen));
        EXPECT_EQ("Cast\r\nSomeone", u8(info->pextend, info->pextendlen));
        EXPECT_EQ("Channel", u8(info->chname, info->chnamelen));
        EXPECT_EQ(11, info->chnum);
        EXPECT_EQ(0x7FE0, info->networkID);
        EXPECT_EQ(0x0400, info->serviceID);
        EXPECT_EQ((std::vector<int>{0x00, 0x70, -1}), (std::vector<int>{info->genre[0], info->genre[1], info->genre[2]}));
        EXPECT_EQ(1993, info->recyear);
        EXPECT_EQ(18, info->rectimezone);
        EXPECT_EQ(-1, info->recsrc);
        EXPECT_EQ(static_cast<int64_t>(data.size()), info->fsize);
        EXPECT_EQ(path, u8(info->fullpath, static_cast<int32_t>(platform::utf16Length(info->fullpath, 260))));
        EXPECT_EQ("rec" + std::to_string(unit), u8(info->fname, static_cast<int32_t>(platform::utf16Length(info->fname, 260))));
        EXPECT_EQ(".m2ts", u8(info->fext, static_cast<int32_t>(platform::utf16Length(info->fext, 260))));
    }
}

TEST(TsProgInfo, RelativePathIsMadeAbsolute)
{
    TempDir dir;
    ASSERT_TRUE(recgen::writeFile(dir.file("a b.ts"), fullRecording(188, 2000)));
    std::vector<char> old(4096);
    ASSERT_NE(nullptr, getcwd(old.data(), old.size()));
    ASSERT_EQ(0, chdir(dir.path().c_str()));
    const std::string base = dir.path().substr(dir.path().rfind('/') + 1);
    auto info = readInfo("../" + base + "/./a b.ts");
    ASSERT_EQ(0, chdir(old.data()));
    EXPECT_EQ(TS_INFO_SUCCESS, info->status);
    EXPECT_EQ(dir.file("a b.ts"), u8(info->fullpath, static_cast<int32_t>(platform::utf16Length(info->fullpath, 260))));
    EXPECT_EQ("a b", u8(info->fname, static_cast<int32_t>(platform::utf16Length(info->fname, 260))));
}

TEST(TsProgInfo, StatusForFilesThatAreNotRecordings)
{
    TempDir dir;
    EXPECT_EQ(TS_INFO_FILE_NOT_OPEN, readInfo(dir.file("missing.ts"))->status);
    EXPECT_EQ(TS_INFO_FILE_NOT_OPEN, readInfo("")->status);
    EXPECT_EQ(TS_INFO_FILE_NOT_OPEN, readInfo(dir.path())->status);  // a directory
    ASSERT_EQ(0, mkfifo(dir.file("fifo.ts").c_str(), 0600));
    EXPECT_EQ(TS_INFO_FILE_NOT_OPEN, readInfo(dir.file("fifo.ts"))->status);  // must not block
    EXPECT_EQ(TS_INFO_FILE_NOT_OPEN, readInfo("/dev/null")->status);          // a device
    EXPECT_EQ(TS_INFO_FILE_NOT_OPEN, readInfo("/dev/zero")->status);          // one that never ends

    ASSERT_TRUE(recgen::writeFile(dir.file("empty.ts"), {}));
    auto empty = readInfo(dir.file("empty.ts"));
    EXPECT_EQ(TS_INFO_INVALID_FILE, empty->status);
    EXPECT_FALSE(empty->active);
    EXPECT_EQ(0, empty->fsize);
    EXPECT_EQ(0, empty->fullpath[0]);
    EXPECT_EQ(0, empty->genre[0]);

    ASSERT_TRUE(recgen::writeFile(dir.file("text.ts"), recgen::bytes(std::string(5000, 'x'))));
    EXPECT_EQ(TS_INFO_INVALID_FILE, readInfo(dir.file("text.ts"))->status);

    // A stream without programme information: path and size are filled.
    TsWriter w;
    w.putNull(1000);
    ASSERT_TRUE(w.writeTo(dir.file("null.ts")));
    auto none = readInfo(dir.file("null.ts"));
    EXPECT_EQ(TS_INFO_UNABLE_TO_DETECT, none->status);
    EXPECT_FALSE(none->active);
    EXPECT_EQ(188000, none->fsize);
    EXPECT_NE(0, none->fullpath[0]);
    EXPECT_EQ(0, none->pnamelen);
    EXPECT_EQ(0, none->genre[0]);
}

TEST(TsProgInfo, Classification)
{
    TempDir dir;
    auto kind = [&](const Bytes& data) {
        EXPECT_TRUE(recgen::writeFile(dir.file("k"), data));
        HANDLE h = OpenFileData(dir.file("k").c_str());
        const int32_t k = rplsTsCheck(h);
        CloseFileData(h);
        return k;
    };
    Bytes ts(1024, 0);
    for (int i : {0, 188, 376, 564}) ts[i] = 0x47;
    EXPECT_EQ(188, kind(ts));
    EXPECT_EQ(0, kind(Bytes(ts.begin(), ts.begin() + 564)));  // too short for the fourth sync byte
    Bytes m2ts(1024, 0);
    for (int i : {4, 196, 388, 580}) m2ts[i] = 0x47;
    EXPECT_EQ(192, kind(m2ts));
    m2ts[0] = 0x47;  // first byte 0x47 but no 188 pattern: still 192
    EXPECT_EQ(192, kind(m2ts));
    m2ts[580] = 0;
    EXPECT_EQ(0, kind(m2ts));
    Bytes rpls(1024, 0);
    for (int i : {4, 196, 388, 580}) rpls[i] = 0x47;
    rpls[0] = 'P';
    rpls[1] = 'L';
    rpls[2] = 'S';
    rpls[3] = 'T';
    EXPECT_EQ(1, kind(rpls));
    EXPECT_EQ(1, kind(recgen::bytes("PLST")));
    EXPECT_EQ(0, kind(recgen::bytes("PLS")));
}

TEST(TsProgInfo, RecordingLargerThan4GiB)
{
    // Sparse: the tables sit exactly at the default start position (half-way,
    // past 2^32), holes elsewhere. A 32-bit offset anywhere on the way would
    // start the scan in a hole and find nothing.
    TempDir dir;
    const std::string path = dir.file("big.m2ts");
    const int64_t size = (int64_t{5} << 30) + 4321;
    TsWriter head;
    head.putNull(4);
    const Bytes tables = fullRecording(188, 0);
    {
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(0, ::ftruncate(fd, size));
        ASSERT_EQ(static_cast<ssize_t>(head.size()), ::pwrite(fd, head.data().data(), head.size(), 0));
        ASSERT_EQ(static_cast<ssize_t>(tables.size()), ::pwrite(fd, tables.data(), tables.size(), 50 * size / 100));
        ::close(fd);
    }
    auto info = readInfo(path);
    ASSERT_EQ(TS_INFO_SUCCESS, info->status);
    EXPECT_EQ(size, info->fsize);
    EXPECT_EQ("日本 News", u8(info->pname, info->pnamelen));
    EXPECT_EQ("Channel", u8(info->chname, info->chnamelen));
}

TEST(TsProgInfo, SitRecordingAndStartPosition)
{
    TempDir dir;
    TsWriter w(192);
    w.padTo(30000);
    w.putSection(0x1F, recgen::sit(recgen::networkIdentification(0x4353, 3),
                                   {{0x0123, recgen::descriptor(0xB2, recgen::cat({Bytes{5, 1}, alnum("CSX")}))}}));
    w.padTo(50000);
    ASSERT_TRUE(w.writeTo(dir.file("sit.ts")));
    auto info = readInfo(dir.file("sit.ts"));
    ASSERT_EQ(TS_INFO_SUCCESS, info->status);
    EXPECT_EQ("CSX", u8(info->chname, info->chnamelen));
    EXPECT_EQ(0x123, info->chnum);
    EXPECT_EQ(0, info->pextendlen);

    // A start past the SIT: the scan from there finds nothing, so the file
    // is scanned once more from its head, with the same packet limit. The
    // SIT is unit 158 of the file.
    struct Row {
        int32_t tsfilepos;
        int64_t limit;
        bool found;
    };
    for (const Row& r : std::vector<Row>{{90, 0, true}, {90, 158, true}, {90, 157, false}}) {
        SCOPED_TRACE(std::to_string(r.tsfilepos) + "% limit " + std::to_string(r.limit));
        CopyParams cp = defaults();
        cp.tsfilepos = r.tsfilepos;
        cp.packet_limit = r.limit;
        auto late = fresh();
        EXPECT_EQ(r.found, readFileProgInfo(dir.file("sit.ts").c_str(), late.get(), &cp));
        EXPECT_EQ(r.found ? TS_INFO_SUCCESS : TS_INFO_UNABLE_TO_DETECT, late->status);
        EXPECT_EQ(r.found ? "CSX" : "", u8(late->chname, late->chnamelen));
    }
}

TEST(TsProgInfo, MissingSdtLeavesChannelNameEmpty)
{
    TempDir dir;
    TsWriter w;
    w.putSection(0x00, recgen::pat(1, {{0x0400, 0x1F0}}));
    w.putSection(0x12, recgen::eit(0x0400, 1, 4, 0, {event(recgen::shortEvent(alnum("P"), {}))}));
    w.putSection(0x11, recgen::sdt(1, 4, {{0x0401, recgen::serviceDesc(1, {}, alnum("Wrong"))}}));
    w.putNull(3);  // a stream shorter than four units is not taken as one
    ASSERT_TRUE(w.writeTo(dir.file("nosdt.ts")));
    CopyParams cp = defaults();
    cp.tsfilepos = 0;
    auto info = fresh();
    EXPECT_TRUE(readFileProgInfo(dir.file("nosdt.ts").c_str(), info.get(), &cp));
    EXPECT_EQ("P", u8(info->pname, info->pnamelen));
    EXPECT_EQ(0, info->chnamelen);
    EXPECT_EQ(0x400 & 0x3FF, info->chnum);
}
