#include "ValidationTS.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <exception>
#include <locale>
#include <map>
#include <memory>
#include <regex>
#include <string>

#include "Logger.h"
#include "StringExtra.h"
#include "TextCodec.h"
#include "tsproginfo.h"

namespace {

const char* const kUnit = "../src/ValidationTS";

// Years the calendar conversion is trusted with; a stream date outside them
// is garbage, not a programme.
constexpr int kFirstYear = 1970;
constexpr int kLastYear = 3000;

// Programme names are a few dozen characters. The expressions below recurse
// once per character of the subject, so a broken stream with a name tens of
// thousands of characters long must not reach them whole.
constexpr std::size_t kMaxSubjectLength = 1024;

// Major genre names, by content_nibble_level_1.
const std::array<std::string, 16> tableGenreL = {
    "ニュース／報道",
    "スポーツ",
    "情報／ワイドショー",
    "ドラマ",
    "音楽",
    "バラエティ",
    "映画",
    "アニメ",
    "ドキュメンタリー／教養",
    "劇場／公演",
    "趣味／教育",
    "福祉",
    "予備",
    "予備",
    "拡張",
    "その他",
};

const char* const kOther = "その他";

// Middle genre names, by the whole content byte. The odd spellings in 0x47
// and 0xE? (separate voiced marks) are the broadcast table's own.
const std::map<int32_t, std::string> tableGenreM = {
    {0x00, "定時・総合"}, {0x01, "天気"}, {0x02, "特集・ドキュメント"}, {0x03, "政治・国会"},
    {0x04, "経済・市況"}, {0x05, "海外・国際"}, {0x06, "解説"}, {0x07, "討論・会談"},
    {0x08, "報道特番"}, {0x09, "ローカル・地域"}, {0x0A, "交通"}, {0x0F, kOther},

    {0x10, "スポーツニュース"}, {0x11, "野球"}, {0x12, "サッカー"}, {0x13, "ゴルフ"},
    {0x14, "その他の球技"}, {0x15, "相撲・格闘技"}, {0x16, "オリンピック・国際大会"},
    {0x17, "マラソン・陸上・水泳"}, {0x18, "モータースポーツ"}, {0x19, "マリン・ウィンタースポーツ"},
    {0x1A, "競馬・公営競技"}, {0x1F, kOther},

    {0x20, "芸能・ワイドショー"}, {0x21, "ファッション"}, {0x22, "暮らし・住まい"},
    {0x23, "健康・医療"}, {0x24, "ショッピング・通販"}, {0x25, "グルメ・料理"}, {0x26, "イベント"},
    {0x27, "番組紹介・お知らせ"}, {0x2F, kOther},

    {0x30, "国内ドラマ"}, {0x31, "海外ドラマ"}, {0x32, "時代劇"}, {0x3F, kOther},

    {0x40, "国内ロック・ポップス"}, {0x41, "海外ロック・ポップス"}, {0x42, "クラシック・オペラ"},
    {0x43, "ジャズ・フュージョン"}, {0x44, "歌謡曲・演歌"}, {0x45, "ライブ・コンサート"},
    {0x46, "ランキング・リクエスト"}, {0x47, "カラオケ・のと\u309B自慢"}, {0x48, "民謡・邦楽"},
    {0x49, "童謡・キッズ"}, {0x4A, "民族音楽・ワールドミュージック"}, {0x4F, kOther},

    {0x50, "クイズ"}, {0x51, "ゲーム"}, {0x52, "トークバラエティ"}, {0x53, "お笑い・コメディ"},
    {0x54, "音楽バラエティ"}, {0x55, "旅バラエティ"}, {0x56, "料理バラエティ"}, {0x5F, kOther},

    {0x60, "洋画"}, {0x61, "邦画"}, {0x62, "アニメ"}, {0x6F, kOther},

    {0x70, "国内アニメ"}, {0x71, "海外アニメ"}, {0x72, "特撮"}, {0x7F, kOther},

    {0x80, "社会・時事"}, {0x81, "歴史・紀行"}, {0x82, "自然・動物・環境"},
    {0x83, "宇宙・科学・医学"}, {0x84, "カルチャー・伝統文化"}, {0x85, "文学・文芸"},
    {0x86, "スポーツ"}, {0x87, "ドキュメンタリー全般"}, {0x88, "インタビュー・討論"},
    {0x8F, kOther},

    {0x90, "現代劇・新劇"}, {0x91, "ミュージカル"}, {0x92, "ダンス・バレエ"},
    {0x93, "落語・演芸"}, {0x94, "歌舞伎・古典"}, {0x9F, kOther},

    {0xA0, "旅・釣り・アウトドア"}, {0xA1, "園芸・ペット・手芸"}, {0xA2, "音楽・美術・工芸"},
    {0xA3, "囲碁・将棋"}, {0xA4, "麻雀・パチンコ"}, {0xA5, "車・オートバイ"},
    {0xA6, "コンピュータ・TVゲーム"}, {0xA7, "会話・語学"}, {0xA8, "幼児・小学生"},
    {0xA9, "中学生・高校生"}, {0xAA, "大学生・受験"}, {0xAB, "生涯教育・資格"},
    {0xAC, "教育問題"}, {0xAF, kOther},

    {0xB0, "高齢者"}, {0xB1, "障害者"}, {0xB2, "社会福祉"}, {0xB3, "ボランティア"},
    {0xB4, "手話"}, {0xB5, "文字(字幕)"}, {0xB6, "音声解説"}, {0xBF, kOther},

    {0xE0, "BS/地上テ\uFF9Eシ\uFF9Eタル放送用番組付属情報"},
    {0xE1, "広帯域 CS テ\uFF9Eシ\uFF9Eタル放送用拡張"},
    {0xE3, "サーハ\uFF9Eー型番組付属情報"},
    {0xE4, "IP 放送用番組付属情報"},

    {0xFF, kOther},
};

// Markers the broadcasters put into names ("new", "final", "repeat", ...);
// they are not part of the title.
const char* const regDelete[] = {"[新]", "[終]", "[再]", "[注]", "[字]", "[解]"};

// Compiled once: the expressions never change, and the classic locale keeps
// "\s" and the brackets independent of the user's environment.
std::wregex compile(const wchar_t* pattern) {
    std::wregex re;
    re.imbue(std::locale::classic());
    re.assign(pattern, std::regex_constants::ECMAScript);
    return re;
}

struct Patterns {
    std::wregex titles[2];
    std::wregex episodeNos[5];
    std::wregex subtitles[3];
    std::wregex trailingBlanks;

    Patterns()
        : titles{compile(L"^(.+?)[#＃♯▽「『【《（第\\(\\[]"), compile(L"^(.+?)[　\\s\\/]")},
          episodeNos{compile(L"[#＃♯]([0-9]{1,2})"), compile(L"第([0-9]{1,2})話"),
                     compile(L"第([0-9]{1,2})回"), compile(L"[（\\(]([0-9]{1,2})[\\)）]"),
                     compile(L"第([0-9]{1,2})[▽　\\s]")},
          subtitles{compile(L"【(.*)】"), compile(L"「(.*)」"), compile(L"▽(.*?)$")},
          trailingBlanks(compile(L"(　| )+$")) {}
};

const Patterns& patterns() {
    static const Patterns p;
    return p;
}

// Group 1 of the first expression of the list that finds a match anywhere
// in the subject; false when none does.
template <std::size_t N>
bool firstGroup(const std::wregex (&list)[N], const std::wstring& subject, std::wstring& group) {
    for (const std::wregex& re : list) {
        std::wsmatch m;
        if (std::regex_search(subject, m, re)) {
            group = m[1].matched ? m[1].str() : std::wstring();
            return true;
        }
    }
    return false;
}

// A start that the calendar cannot hold: the broadcast fields as they are,
// already in the full-year, month-from-1 form, and the end equal to it.
void undefinedTimes(const CompactProgInfo& info, TsInfoEx& ex) {
    std::tm t{};
    t.tm_sec = info.recsec;
    t.tm_min = info.recmin;
    t.tm_hour = info.rechour;
    t.tm_mday = info.recday;
    t.tm_mon = info.recmonth;
    t.tm_year = info.recyear;
    t.tm_isdst = -1;
    ex.starttime = t;
    ex.endtime = t;
}

bool yearInRange(long long fullYear) { return fullYear >= kFirstYear && fullYear <= kLastYear; }

void deriveTimes(const CompactProgInfo& info, TsInfoEx& ex) {
    // The month is lowered by one below, which would overflow the smallest int.
    if (!yearInRange(info.recyear) || info.recmonth == INT32_MIN) {
        undefinedTimes(info, ex);
        return;
    }

    std::tm start{};
    start.tm_sec = info.recsec;
    start.tm_min = info.recmin;
    start.tm_hour = info.rechour;
    start.tm_mday = info.recday;
    start.tm_mon = info.recmonth - 1;
    start.tm_year = info.recyear - 1900;
    start.tm_isdst = -1;  // let the zone rules decide, as a clock on the wall would
    start.tm_wday = -1;   // mktime leaves it alone only when it fails

    const std::time_t t = std::mktime(&start);
    if ((t == static_cast<std::time_t>(-1) && start.tm_wday == -1) ||
        !yearInRange(static_cast<long long>(start.tm_year) + 1900)) {
        undefinedTimes(info, ex);
        return;
    }

    const int64_t endInstant = static_cast<int64_t>(t) + static_cast<int64_t>(info.durhour) * 3600 +
                               static_cast<int64_t>(info.durmin) * 60 + static_cast<int64_t>(info.dursec);
    const std::time_t te = static_cast<std::time_t>(endInstant);
    std::tm end{};
    if (localtime_r(&te, &end) == nullptr || !yearInRange(static_cast<long long>(end.tm_year) + 1900)) {
        end = start;
    }

    start.tm_year += 1900;
    start.tm_mon += 1;
    end.tm_year += 1900;
    end.tm_mon += 1;
    ex.starttime = start;
    ex.endtime = end;
}

}  // namespace

std::string safeProgrammeText(const std::string& text) {
    // Controls come out of the decoded characters, never out of the bytes:
    // dropping a byte could join its neighbours into a new character (a
    // lone C2, a control, then 9B would make the C1 control CSI). Bytes that
    // are not UTF-8 decode as U+FFFD, so they cannot join either.
    std::u32string kept;
    for (const char32_t c : platform::utf8ToUtf32(text)) {
        if (c == U'\t' || c == U'\r' || c == U'\n') {
            kept += U' ';
        } else if (c >= 0x20 && (c < 0x7F || c > 0x9F)) {
            kept += c;  // not a C0 control, DEL or a C1 control
        }
    }
    std::string safe = platform::utf32ToUtf8(kept);
    if (safe == "." || safe == "..") {
        const std::size_t dots = safe.size();
        safe.clear();
        for (std::size_t i = 0; i < dots; ++i) safe += "\xEF\xBC\x8E";  // U+FF0E
    }
    return safe;
}

void setProgPnameToShobocal(FileData& file) {
    try {
        std::wstring subject = platform::utf16ToWide(file.progInfo.pname);
        if (subject.size() > kMaxSubjectLength) subject.resize(kMaxSubjectLength);

        const Patterns& p = patterns();
        std::wstring group;

        if (firstGroup(p.titles, subject, group)) {
            group = std::regex_replace(group, p.trailingBlanks, std::wstring());
            std::string title = platform::wideToUtf8(group);
            for (const char* marker : regDelete) StringExtra::replaceAll(title, marker, "");
            file.tsInfoEx.title = safeProgrammeText(title);
        }
        if (firstGroup(p.episodeNos, subject, group)) {
            file.tsInfoEx.episodeNo = safeProgrammeText(platform::wideToUtf8(group));
        }
        if (firstGroup(p.subtitles, subject, group)) {
            file.tsInfoEx.subTitle = safeProgrammeText(platform::wideToUtf8(group));
        }
    } catch (const std::regex_error& e) {
        // The expressions are fixed, so this is the library giving up on a
        // subject; the fields keep what they had, as for a name without markers.
        Logger::Write(LogLevel::Error, kUnit, __func__, __LINE__, "Programme name not analysed : %s",
                      e.what());
    }
}

void setGenre(FileData& file) {
    const uint32_t g = static_cast<uint32_t>(file.progInfo.genre[0]);
    file.tsInfoEx.genreNoL = static_cast<int>((g >> 4) & 0xF);
    file.tsInfoEx.genreNameL = tableGenreL[file.tsInfoEx.genreNoL];
    const auto it = tableGenreM.find(static_cast<int32_t>(g & 0xFF));
    file.tsInfoEx.genreNameM = it != tableGenreM.end() ? it->second : std::string(kOther);
}

void setStartAndEndTime(FileData& file) { deriveTimes(file.progInfo, file.tsInfoEx); }

void ValidationTS::validTSfilelist(std::vector<FileData>& filelist) {
    TsProgInfo reader;
    for (FileData& file : filelist) {
        // Only names with ".ts" are recordings here; reading anything else
        // (a large .m2ts, a .mp4) would be wasted work with the same answer.
        const bool tsName = file.src.u8Ext.find(".ts") != std::string::npos;
        // The record is half a megabyte: it lives on the heap, not the stack.
        std::unique_ptr<ProgInfo> info;
        if (tsName) info.reset(new ProgInfo(reader.getTsProgInfo(file.src.sjisFullPath.c_str())));
        if (!info || !info->active) {
            Logger::Write(LogLevel::Error, kUnit, __func__, __LINE__, "Invalid TS file : %s",
                          file.src.sjisFullPath.c_str());
            continue;
        }

        file.setAvailableTS(true);
        file.progInfo = CompactProgInfo(*info);
        info.reset();
        setStartAndEndTime(file);
        setProgPnameToShobocal(file);
        setGenre(file);
        file.tsInfoEx.chName = safeProgrammeText(StringExtra::wide_to_utf8_winapi(file.progInfo.chname));
    }
}
