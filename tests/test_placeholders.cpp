// Placeholder maps: the file placeholders, the full-width table and the
// order in which pairs apply.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Process.h"
#include "StringReplacer.h"

namespace {

// Sets or unsets an environment variable for the life of the object.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvVar()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

std::unique_ptr<FileData> filledRecord()
{
    auto fd = std::make_unique<FileData>();
    fd->setAvailableTS(true);
    fd->shobocal.ShoboTitle = "タイトル";
    fd->shobocal.ShoboSubTitle = "サブ";
    fd->shobocal.ShoboEpisodeNo = "7";
    fd->shobocal.ShoboCatName = "アニメ";
    fd->shobocal.ShoboChName = "NHK";
    fd->shobocal.ShoboShortTitle = "not shown";
    fd->tsInfoEx.genreNameL = "アニメ／特撮";
    fd->tsInfoEx.genreNameM = "国内アニメ";
    fd->progInfo.serviceID = 1024;
    fd->progInfo.networkID = 32736;
    fd->progInfo.recyear = 2021;
    fd->progInfo.recmonth = 3;
    fd->progInfo.recday = 5;
    fd->progInfo.rechour = 7;
    fd->progInfo.recmin = 8;
    fd->progInfo.recsec = 9;
    fd->src.path(std::string("/rec/dir/a.b.ts"));
    fd->dest.path(std::string("/out/x.mp4"));
    return fd;
}

}  // namespace

TEST(FilePlaceholders, EveryKeyOfAFilledRecord)
{
    EnvVar temp("TEMP", "/var/tmp/テンポラリ");
    auto fd = filledRecord();
    StringReplacer r;
    r.setFileData(*fd);

    const std::map<std::string, std::string> expected = {
        {"${Title}", "タイトル"},
        {"${SubTitle}", "サブ"},
        {"${EpisodeNo}", "7"},
        {"${Category}", "アニメ"},
        {"${ChannelName}", "NHK"},
        {"${EpisodeNo2}", "07"},
        {"${Genre}", "アニメ／特撮"},
        {"${GenreM}", "国内アニメ"},
        {"${serviceID}", "1024"},
        {"${networkID}", "32736"},
        {"${RecYear}", "2021"},
        {"${RecMonth}", "3"},
        {"${RecDay}", "5"},
        {"${RecDate}", "20210305"},
        {"${RecTime}", "070809"},
        {"${SeasonName}", "SeasonWinter"},
        {"${SeasonNo}", "0"},
        {"${InFullPath}", "/rec/dir/a.b.ts"},
        {"${InDrive}", ""},
        {"${InPath}", "/rec/dir/"},
        {"${InBaseName}", "a.b"},
        {"${InFileName}", "a.b.ts"},
        {"${OutFullPath}", "/out/x.mp4"},
        {"${OutDrive}", ""},
        {"${OutPath}", "/out/"},
        {"${TEMP}", "/var/tmp/テンポラリ"},
    };
    ASSERT_EQ(26u, expected.size());
    std::string all, allExpected;
    for (const auto& [key, value] : expected) {
        EXPECT_EQ("<" + value + ">", r.replace("<" + key + ">")) << key;
        all += key + "|";
        allExpected += value + "|";
    }
    EXPECT_EQ(allExpected, r.replace(all));

    // Unknown placeholders stay; a key used twice is replaced twice.
    EXPECT_EQ("${Unknown} ${ShortTitle}", r.replace("${Unknown} ${ShortTitle}"));
    EXPECT_EQ("タイトル-タイトル", r.replace("${Title}-${Title}"));
}

TEST(FilePlaceholders, AFileThatIsNotARecordingHasEmptyProgrammeValues)
{
    // No made-up date of year 0 ("00000", "000000", "SeasonWinter") in the
    // output name of a plain file; its own name is there as usual.
    auto fd = std::make_unique<FileData>();
    fd->src.path(std::string("/rec/notes.txt"));
    StringReplacer r;
    r.setFileData(*fd);
    EXPECT_EQ("[||||||||||||||||]/rec/notes.txt|/rec/|notes|notes.txt",
              r.replace("[${Title}|${SubTitle}|${EpisodeNo}|${EpisodeNo2}|${Category}|${ChannelName}|${Genre}|"
                        "${GenreM}|${serviceID}|${networkID}|${RecYear}|${RecMonth}|${RecDay}|${RecDate}|"
                        "${RecTime}|${SeasonName}|${SeasonNo}]${InFullPath}|${InPath}|${InBaseName}|${InFileName}"));
}

TEST(FilePlaceholders, SeasonFromMonth)
{
    const struct {
        int month;
        const char* name;
        const char* digit;
    } rows[] = {
        {0, "SeasonWinter", "0"}, {1, "SeasonWinter", "0"}, {3, "SeasonWinter", "0"},
        {4, "SeasonSpring", "1"}, {6, "SeasonSpring", "1"}, {7, "SeasonSummer", "2"},
        {9, "SeasonSummer", "2"}, {10, "SeasonAutumn", "3"}, {12, "SeasonAutumn", "3"},
        // Out-of-range months wrap as the formula gives; no overflow.
        {13, "SeasonWinter", "0"}, {INT32_MIN, "SeasonSpring", "1"},
    };
    auto fd = std::make_unique<FileData>();
    fd->setAvailableTS(true);
    StringReplacer r;
    for (const auto& row : rows) {
        fd->progInfo.recmonth = row.month;
        r.setFileData(*fd);
        EXPECT_EQ(row.name, r.replace("${SeasonName}")) << row.month;
        EXPECT_EQ(row.digit, r.replace("${SeasonNo}")) << row.month;
    }
}

TEST(FilePlaceholders, EpisodeNumberThatIsNotANumberStaysAsItIs)
{
    const struct {
        const char* episode;
        const char* padded;
    } rows[] = {
        {"", ""},  {"7", "07"},   {"12", "12"}, {"123", "123"}, {" 5", "05"},
        {"3a", "03"}, {"SP", "SP"}, {"第5話", "第5話"}, {"#3", "#3"},
        {"99999999999", "99999999999"},
    };
    auto fd = std::make_unique<FileData>();
    fd->setAvailableTS(true);
    StringReplacer r;
    for (const auto& row : rows) {
        fd->shobocal.ShoboEpisodeNo = row.episode;
        ASSERT_NO_THROW(r.setFileData(*fd)) << row.episode;
        EXPECT_EQ(row.padded, r.replace("${EpisodeNo2}")) << row.episode;
        EXPECT_EQ(row.episode, r.replace("${EpisodeNo}"));
        // Filling went on past the episode: the last key is present too.
        EXPECT_EQ("0", r.replace("${serviceID}"));
    }
}

TEST(FilePlaceholders, TempFollowsTheEnvironment)
{
    auto fd = std::make_unique<FileData>();
    StringReplacer r;
    {
        EnvVar temp("TEMP", nullptr);
        EnvVar tmpdir("TMPDIR", "/scratch");
        r.setFileData(*fd);
        EXPECT_EQ("/scratch", r.replace("${TEMP}"));
    }
    {
        EnvVar temp("TEMP", nullptr);
        EnvVar tmpdir("TMPDIR", nullptr);
        r.setFileData(*fd);
        EXPECT_EQ("/tmp", r.replace("${TEMP}"));
    }
}

TEST(Placeholders, PairsApplyInKeyOrder)
{
    StringReplacer r;
    // A value holding a later key is expanded again; one holding an
    // earlier key is not.
    r.setReplaceList({{"${A}", "${B}"}, {"${B}", "b"}});
    EXPECT_EQ("b", r.replace("${A}"));
    r.setReplaceList({{"${A}", "a"}, {"${B}", "${A}"}});
    EXPECT_EQ("${A}", r.replace("${B}"));
    // Inserted text is not searched again for the same key.
    r.setReplaceList({{"x", "xx"}});
    EXPECT_EQ("xxxxxx", r.replace("xxx"));

    // The same with file placeholders: "${networkID}" sorts after
    // "${Title}", "${Category}" and "${TEMP}" before it.
    auto fd = filledRecord();
    fd->shobocal.ShoboTitle = "${networkID}/${Category}/${TEMP}";
    r.setFileData(*fd);
    EXPECT_EQ("32736/${Category}/${TEMP}", r.replace("${Title}"));

    // add keeps an existing value; clear empties the map.
    r.add("${Title}", "ignored");
    r.add("${Extra}", "extra");
    EXPECT_EQ("32736/${Category}/${TEMP} extra", r.replace("${Title} ${Extra}"));
    r.clear();
    EXPECT_EQ("${Title}", r.replace("${Title}"));
}

TEST(Placeholders, FullWidthTable)
{
    const std::map<std::string, std::string> rows = {
        {"/", "／"}, {":", "："}, {"*", "＊"}, {"?", "？"}, {"!", "！"},
        {"\"", "\u201D"}, {"<", "＜"}, {">", "＞"}, {"|", "｜"}, {"]", "］"},
        {"[", "［"}, {"(", "（"}, {")", "）"}, {"{", "｛"}, {"}", "｝"},
    };
    ASSERT_EQ(15u, rows.size());
    StringReplacer r;
    r.setReplaceList({{"${Title}", "x"}});
    r.setWindowsUnavailableCharacters();
    for (const auto& [from, to] : rows)
        EXPECT_EQ("a" + to + "b", r.replace("a" + from + "b")) << from;
    // The table replaced the previous map, and leaves the backslash alone.
    EXPECT_EQ("$｛Title｝", r.replace("${Title}"));
    EXPECT_EQ("C\\x\\y", r.replace("C\\x\\y"));
    EXPECT_EQ("Re：ゼロ？", r.replace("Re:ゼロ?"));
}

// Filled into a command line, a name comes back from the splitter as it
// was, quoted by the text or not, whatever quotes and backslashes it holds.
TEST(Placeholders, CommandLineValuesStayOneArgument)
{
    struct Case {
        const char* text;
        const char* value;
        std::vector<std::string> args;
        std::map<std::string, std::string> others = {};  // keys besides ${N}
    };
    const Case cases[] = {
        {R"(p "${N}" -y)", R"(a" -x "b.ts)", {"p", R"(a" -x "b.ts)", "-y"}},
        {R"(p ${N} -y)", R"(a"b)", {"p", R"(a"b)", "-y"}},
        {R"(p "${N}" -y)", R"(dir\)", {"p", R"(dir\)", "-y"}},
        {R"(p ${N} -y)", R"(dir\)", {"p", R"(dir\)", "-y"}},
        {R"(p "${N}" -y)", R"(a\"b\\)", {"p", R"(a\"b\\)", "-y"}},
        {R"(p "x${N}y")", R"(a\b)", {"p", R"(xa\by)"}},
        {R"(p "${N}")", "", {"p", ""}},
        // What follows a value is judged on the filled line.
        {R"(p -t "${N}${OutDrive}" -x "${N}" -y)", R"(trail\)", {"p", "-t", R"(trail\)", "-x", R"(trail\)", "-y"},
         {{"${OutDrive}", ""}}},
        {R"(p "${N}${P}" -y)", R"(x\)", {"p", R"(x\\\)", "-y"}, {{"${P}", R"(\\)"}}},
        {R"(p "${N}${P}" -y)", R"(x\)", {"p", R"(x\\")", "-y"}, {{"${P}", R"(\")"}}},
        {R"(p "${N}" -y)", R"(a\${Q}b)", {"p", R"(a\"b)", "-y"}, {{"${Q}", "\""}}},
        // An escaped quote of the text stays one, also with a value behind it.
        {R"(p "a\"b ${N}" -y)", "v", {"p", R"(a"b v)", "-y"}},
        // A backslash of the text that escaped no quote stands for itself.
        {R"(p "a\${N}" -y)", "", {"p", R"(a\)", "-y"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + std::string(" <- ") + c.value);
        std::map<std::string, std::string> list = c.others;
        list["${N}"] = c.value;
        StringReplacer r;
        r.setReplaceList(list);
        EXPECT_EQ(c.args, platform::splitCommandLine(r.replaceInCommandLine(c.text)));
    }
    // Key order and the rest of replace's rules hold as they are.
    StringReplacer r;
    r.setReplaceList({{"${A}", "${B}"}, {"${B}", "b"}});
    EXPECT_EQ("b", r.replaceInCommandLine("${A}"));
}
