// Title, episode, subtitle, genre and time derivation from a recording's
// programme information.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FileData.h"
#include "TextCodec.h"
#include "ValidationTS.h"

namespace {

// A record by itself, as the derivation steps see it.
std::unique_ptr<FileData> recordNamed(const std::string& utf8Name) {
    auto fd = std::make_unique<FileData>();
    const std::u16string name = platform::utf8ToUtf16(utf8Name);
    fd->progInfo.pname = name.substr(0, PROGINFO_TEXT_LEN - 1);
    return fd;
}

// Sets TZ for one test and puts the previous value back.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        if (m_had) m_old = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (m_had) {
            setenv("TZ", m_old.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    bool m_had = false;
    std::string m_old;
};

struct NameCase {
    const char* name;
    const char* title;
    const char* episode;
    const char* subtitle;
};

// "=" marks a field the name leaves as it was.
constexpr const char* kKept = "=";

// Derives the parts of c.name into fields that start as kKept.
void expectNameParts(const NameCase& c) {
    SCOPED_TRACE(c.name);
    auto fd = recordNamed(c.name);
    fd->tsInfoEx.title = kKept;
    fd->tsInfoEx.episodeNo = kKept;
    fd->tsInfoEx.subTitle = kKept;
    setProgPnameToShobocal(*fd);
    EXPECT_EQ(c.title, fd->tsInfoEx.title);
    EXPECT_EQ(c.episode, fd->tsInfoEx.episodeNo);
    EXPECT_EQ(c.subtitle, fd->tsInfoEx.subTitle);
}

}  // namespace

TEST(ProgrammeName, TitleEpisodeAndSubtitle) {
    const NameCase cases[] = {
        {"ニュース＃12「予告」", "ニュース", "12", "予告"},
        {"番組名　第3話▽副題", "番組名", "3", "副題"},
        {"ドラマ（5）", "ドラマ", "5", kKept},
        {"特番 2時間SP", "特番", kKept, kKept},
        {"[新]アニメタイトル #5", "アニメタイトル", "5", kKept},
        {"[再]ドラマ　第2話", "ドラマ", "2", kKept},
        {"歌謡ショー♯07", "歌謡ショー", "07", kKept},
        {"番組#123", "番組", "12", kKept},
        {"Show(04)", "Show", "04", kKept},
        {"講座 第12回", "講座", "12", kKept},
        {"映画『題名』", "映画", kKept, kKept},
        {"【特集】ニュース♯3", "【特集】ニュース", "3", "特集"},
        {"音楽祭《生中継》", "音楽祭", kKept, kKept},
        {"ドラマ名　　最終回", "ドラマ名", kKept, kKept},
        {"アニメ　 #7", "アニメ", "7", kKept},
        {"番組「前編」「後編」", "番組", kKept, "前編」「後編"},
        {"ニュース▽今日の話題▽天気", "ニュース", kKept, "今日の話題▽天気"},
        {"A/B", "A", kKept, kKept},
        {"紀行 第4 ▽港町", "紀行", "4", "港町"},
        // Markers are removed from the title only, after the blanks.
        {"劇場 [字]「最後」", "劇場", kKept, "最後"},
        {"[字][再]ドラマ　第2話", "", "2", kKept},
        // Characters beyond the BMP come through whole.
        {"𠮷野家の歌＃1「𩸽を焼く」", "𠮷野家の歌", "1", "𩸽を焼く"},
        {"𠀋𡈽　第10話", "𠀋𡈽", "10", kKept},
        {"ひとこと", kKept, kKept, kKept},
        {"𩸽", kKept, kKept, kKept},
        {"", kKept, kKept, kKept},
    };
    for (const NameCase& c : cases) expectNameParts(c);
}

TEST(ProgrammeName, LongNamesAreAnalysedWithoutExhaustingTheStack) {
    // A name filling the whole buffer, without a terminating zero unit.
    auto full = std::make_unique<FileData>();
    full->progInfo.pname.assign(PROGINFO_TEXT_LEN, u'あ');
    setProgPnameToShobocal(*full);
    EXPECT_EQ("", full->tsInfoEx.title);

    // The same with every delimiter far behind the start.
    std::string name;
    for (int i = 0; i < 30000; ++i) name += "あ";
    name += "＃1「副題」";
    auto late = recordNamed(name);
    setProgPnameToShobocal(*late);
    EXPECT_EQ("", late->tsInfoEx.episodeNo);

    // A long name with its delimiters near the start is still understood.
    std::string early = "長い番組＃9「";
    for (int i = 0; i < 200; ++i) early += "字";
    early += "」";
    auto ok = recordNamed(early);
    setProgPnameToShobocal(*ok);
    EXPECT_EQ("長い番組", ok->tsInfoEx.title);
    EXPECT_EQ("9", ok->tsInfoEx.episodeNo);
    EXPECT_EQ(200u * 3, ok->tsInfoEx.subTitle.size());
}

// Names become placeholders and so parts of output paths and command lines.
TEST(ProgrammeName, ControlCodesAndBareDotsNeverReachAName) {
    const NameCase cases[] = {
        // A title or subtitle of just "." or ".." would name the output
        // folder or its parent.
        {"..＃1【..】", "．．", "1", "．．"},
        {".＃2「.」", "．", "2", "．"},
        {"...＃3", "...", "3", kKept},
        {"A..＃4", "A..", "4", kKept},
        // Control codes the decoder passes through (BS, DEL, tab) are not
        // part of a name; a tab reads as a blank.
        {"Ti\b\x7Ftle＃5「A\tB」", "Title", "5", "A B"},
    };
    for (const NameCase& c : cases) expectNameParts(c);

    using namespace std::string_literals;
    const std::vector<std::pair<std::string, std::string>> texts = {
        {"A\0B"s, "AB"},
        {"x\x1B[31my", "x[31my"},
        {"a\nb\r\nc", "a b  c"},
        {"c\xC2\x9B\xC2\x80" "d", "cd"},  // C1 controls
        {"\xC2\xA0\xC3\xA9𠮷", "\xC2\xA0\xC3\xA9𠮷"},
        {". .", ". ."},
        {".\x01.", "．．"},
        {"", ""},
        // Taking a control out never joins the bytes around it into a new
        // character: bytes that are not UTF-8 stay apart as U+FFFD.
        {"\xC2\x01\x9B", "\uFFFD\uFFFD"},
        {"\xE3\x81\x0A\x82", "\uFFFD \uFFFD"},
    };
    for (const auto& [in, out] : texts) EXPECT_EQ(out, safeProgrammeText(in)) << in;
}

TEST(Genre, NamesFromTheFirstGenreByte) {
    struct GenreCase {
        int32_t genre;
        int major;
        const char* nameL;
        const char* nameM;
    };
    const GenreCase cases[] = {
        {0x00, 0, "ニュース／報道", "定時・総合"},
        {0x07, 0, "ニュース／報道", "討論・会談"},
        {0x70, 7, "アニメ", "国内アニメ"},
        {0x47, 4, "音楽", "カラオケ・のと\u309B自慢"},
        {0xC5, 12, "予備", "その他"},
        {0xE0, 14, "拡張", "BS/地上テ\uFF9Eシ\uFF9Eタル放送用番組付属情報"},
        {0xE2, 14, "拡張", "その他"},
        {0xFF, 15, "その他", "その他"},
        {-1, 15, "その他", "その他"},
        {0x1A3, 10, "趣味／教育", "囲碁・将棋"},  // only the low byte counts
    };
    for (const GenreCase& c : cases) {
        SCOPED_TRACE(c.genre);
        auto fd = std::make_unique<FileData>();
        fd->progInfo.genre[0] = c.genre;
        fd->progInfo.genre[1] = 0x30;
        setGenre(*fd);
        EXPECT_EQ(c.major, fd->tsInfoEx.genreNoL);
        EXPECT_EQ(c.nameL, fd->tsInfoEx.genreNameL);
        EXPECT_EQ(c.nameM, fd->tsInfoEx.genreNameM);
    }
}

namespace {

std::unique_ptr<FileData> recordAt(int y, int mo, int d, int h, int mi, int s, int dh, int dm, int ds) {
    auto fd = std::make_unique<FileData>();
    CompactProgInfo& p = fd->progInfo;
    p.recyear = y;
    p.recmonth = mo;
    p.recday = d;
    p.rechour = h;
    p.recmin = mi;
    p.recsec = s;
    p.durhour = dh;
    p.durmin = dm;
    p.dursec = ds;
    return fd;
}

void expectTime(const std::tm& t, int y, int mo, int d, int h, int mi, int s) {
    EXPECT_EQ(y, t.tm_year);
    EXPECT_EQ(mo, t.tm_mon);
    EXPECT_EQ(d, t.tm_mday);
    EXPECT_EQ(h, t.tm_hour);
    EXPECT_EQ(mi, t.tm_min);
    EXPECT_EQ(s, t.tm_sec);
}

}  // namespace

TEST(Times, StartAndEndInLocalTime) {
    ScopedTimeZone tokyo("Asia/Tokyo");

    auto late = recordAt(2021, 3, 31, 23, 30, 0, 1, 30, 0);
    setStartAndEndTime(*late);
    expectTime(late->tsInfoEx.starttime, 2021, 3, 31, 23, 30, 0);
    expectTime(late->tsInfoEx.endtime, 2021, 4, 1, 1, 0, 0);
    EXPECT_EQ(3, late->tsInfoEx.starttime.tm_wday);  // a Wednesday
    EXPECT_EQ(4, late->tsInfoEx.endtime.tm_wday);

    // The year's last programme ends in the next year.
    auto newYear = recordAt(2023, 12, 31, 23, 45, 10, 0, 30, 5);
    setStartAndEndTime(*newYear);
    expectTime(newYear->tsInfoEx.endtime, 2024, 1, 1, 0, 15, 15);

    // Out-of-range members are carried over, as the calendar does.
    auto carried = recordAt(2024, 2, 29, 24, 0, 0, 0, 0, 0);
    setStartAndEndTime(*carried);
    expectTime(carried->tsInfoEx.starttime, 2024, 3, 1, 0, 0, 0);
}

TEST(Times, DaylightSavingIsDecidedByTheZone) {
    // A member left at 0 would read a summer start as standard time and put
    // the end an hour late.
    ScopedTimeZone newYork("America/New_York");
    auto summer = recordAt(2021, 7, 1, 12, 0, 0, 1, 0, 0);
    setStartAndEndTime(*summer);
    expectTime(summer->tsInfoEx.starttime, 2021, 7, 1, 12, 0, 0);
    expectTime(summer->tsInfoEx.endtime, 2021, 7, 1, 13, 0, 0);
}

TEST(Times, ImpossibleDatesGiveADefinedRecord) {
    ScopedTimeZone tokyo("Asia/Tokyo");
    for (int year : {0, 1969, 3001, -2147483647 - 1, 2147483647}) {
        SCOPED_TRACE(year);
        auto fd = recordAt(year, 5, 6, 7, 8, 9, 1, 0, 0);
        setStartAndEndTime(*fd);
        expectTime(fd->tsInfoEx.starttime, year, 5, 6, 7, 8, 9);
        expectTime(fd->tsInfoEx.endtime, year, 5, 6, 7, 8, 9);
    }

    // A month that carries the start out of the accepted years.
    auto far = recordAt(3000, 13, 1, 0, 0, 0, 0, 0, 0);
    setStartAndEndTime(*far);
    expectTime(far->tsInfoEx.endtime, 3000, 13, 1, 0, 0, 0);

    // A duration that cannot end within the accepted years: the end is the start.
    auto endless = recordAt(2024, 1, 2, 3, 4, 5, 2147483647, 59, 59);
    setStartAndEndTime(*endless);
    expectTime(endless->tsInfoEx.starttime, 2024, 1, 2, 3, 4, 5);
    expectTime(endless->tsInfoEx.endtime, 2024, 1, 2, 3, 4, 5);
}
