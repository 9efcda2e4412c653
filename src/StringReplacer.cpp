#include "StringReplacer.h"

#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

#include "Machine.h"
#include "StringExtra.h"

namespace {

// The episode number is free text from the broadcast or the calendar
// ("SP", "#3", "第5話"); only a leading number can be padded, anything else
// is used as it stands rather than failing the file.
std::string paddedEpisode(const std::string& episode)
{
    try {
        return StringExtra::DoubleDigit(episode);
    } catch (const std::logic_error&) {
        return episode;
    }
}

std::string decimal(int32_t n)
{
    return std::to_string(n);
}

// Months 1-3 give 0 (winter) ... 10-12 give 3 (autumn). Worked in 64 bits
// so a garbage month from a damaged recording cannot overflow.
int seasonIndex(int32_t recmonth)
{
    return static_cast<int>(((static_cast<int64_t>(recmonth) - 1) / 3) & 3);
}

const char* const kSeasonNames[4] = {"SeasonWinter", "SeasonSpring", "SeasonSummer", "SeasonAutumn"};

}  // namespace

void StringReplacer::clear()
{
    replaceList.clear();
}

void StringReplacer::setReplaceList(const std::map<std::string, std::string>& list)
{
    replaceList = list;
}

void StringReplacer::add(const std::string& key, const std::string& value)
{
    replaceList.emplace(key, value);
}

std::string StringReplacer::replace(const std::string& text) const
{
    std::string result = text;
    for (const auto& [key, value] : replaceList)
        StringExtra::replaceAll(result, key, value);
    return result;
}

namespace {

// Where the run of backslashes starting at `i` ends (i itself when none),
// and whether a quote stands there.
std::size_t backslashRunEnd(const std::string& text, std::size_t i, bool& quoteFollows)
{
    while (i < text.size() && text[i] == '\\')
        ++i;
    quoteFollows = i < text.size() && text[i] == '"';
    return i;
}

// Per character of a text: true for a backslash that stands for itself,
// false for anything else. A run of backslashes that ends in a quote is
// the quote's escape, not characters of its own: it is kept as written.
std::vector<bool> literalBackslashes(const std::string& text)
{
    std::vector<bool> literal(text.size(), false);
    for (std::size_t i = 0; i < text.size();) {
        bool escapesQuote = false;
        const std::size_t end = backslashRunEnd(text, i, escapesQuote);
        for (; i < end; ++i)
            literal[i] = !escapesQuote;
        i = end + 1;
    }
    return literal;
}

// Writes the escapes a line needs for the splitter to give back every
// character marked literal as itself: a literal quote gets all the
// backslashes before it doubled and one more; before a quote of the text,
// only the literal backslashes are doubled. Nothing else changes.
std::string escapedForCommandLine(const std::string& line, const std::vector<bool>& literal)
{
    std::string out;
    out.reserve(line.size());
    for (std::size_t i = 0; i < line.size();) {
        bool quote = false;
        const std::size_t end = backslashRunEnd(line, i, quote);
        for (; i < end; ++i)
            out.append(quote && (literal[i] || literal[end]) ? 2 : 1, '\\');
        if (end < line.size()) {
            if (quote && literal[end])
                out.push_back('\\');
            out.push_back(line[end]);
        }
        i = end + 1;
    }
    return out;
}

}  // namespace

std::string StringReplacer::replaceInCommandLine(const std::string& text) const
{
    // Filled exactly as replace() fills, keeping beside each character
    // whether it must reach the program as itself: every character a value
    // put there (a value expanded by a later key included), and the
    // backslashes of the text that do not escape a quote of the text.
    // Escaping waits for the filled line: only then is it known what
    // follows a value.
    std::string line = text;
    std::vector<bool> literal = literalBackslashes(text);
    for (const auto& [key, value] : replaceList) {
        if (key.empty())
            continue;
        std::size_t at = line.find(key);
        if (at == std::string::npos)
            continue;
        std::string filled;
        std::vector<bool> marks;
        std::size_t from = 0;
        for (; at != std::string::npos; at = line.find(key, from)) {
            filled.append(line, from, at - from);
            marks.insert(marks.end(), literal.begin() + from, literal.begin() + at);
            filled += value;
            marks.insert(marks.end(), value.size(), true);
            from = at + key.size();
        }
        filled.append(line, from, std::string::npos);
        marks.insert(marks.end(), literal.begin() + from, literal.end());
        line.swap(filled);
        literal.swap(marks);
    }
    return escapedForCommandLine(line, literal);
}

void StringReplacer::setFileData(const FileData& fd)
{
    replaceList.clear();
    const Shobocal& sc = fd.shobocal;
    const TsInfoEx& ts = fd.tsInfoEx;
    const CompactProgInfo& pi = fd.progInfo;

    replaceList["${Title}"] = sc.ShoboTitle;
    replaceList["${SubTitle}"] = sc.ShoboSubTitle;
    replaceList["${EpisodeNo}"] = sc.ShoboEpisodeNo;
    replaceList["${Category}"] = sc.ShoboCatName;
    replaceList["${ChannelName}"] = sc.ShoboChName;
    replaceList["${EpisodeNo2}"] = paddedEpisode(sc.ShoboEpisodeNo);
    replaceList["${Genre}"] = ts.genreNameL;
    replaceList["${GenreM}"] = ts.genreNameM;
    if (fd.isAvailableTS()) {
        replaceList["${serviceID}"] = decimal(pi.serviceID);
        replaceList["${networkID}"] = decimal(pi.networkID);
        replaceList["${RecYear}"] = decimal(pi.recyear);
        replaceList["${RecMonth}"] = decimal(pi.recmonth);
        replaceList["${RecDay}"] = decimal(pi.recday);
        replaceList["${RecDate}"] = decimal(pi.recyear) + StringExtra::DoubleDigit(decimal(pi.recmonth))
                                    + StringExtra::DoubleDigit(decimal(pi.recday));
        replaceList["${RecTime}"] = StringExtra::DoubleDigit(decimal(pi.rechour))
                                    + StringExtra::DoubleDigit(decimal(pi.recmin))
                                    + StringExtra::DoubleDigit(decimal(pi.recsec));
        const int season = seasonIndex(pi.recmonth);
        replaceList["${SeasonName}"] = kSeasonNames[season];
        replaceList["${SeasonNo}"] = std::string(1, static_cast<char>('0' + season));
    } else {
        // A file that is not a recording has no programme: an empty value,
        // not the zeros of a record nobody read ("00000", "SeasonWinter"),
        // which would name its output as if it had been broadcast in year 0.
        for (const char* key : {"${serviceID}", "${networkID}", "${RecYear}", "${RecMonth}", "${RecDay}",
                                "${RecDate}", "${RecTime}", "${SeasonName}", "${SeasonNo}"})
            replaceList[key] = std::string();
    }
    replaceList["${InFullPath}"] = fd.src.u8FullPath;
    replaceList["${InDrive}"] = fd.src.u8Drive;
    replaceList["${InPath}"] = fd.src.u8Path;
    replaceList["${InBaseName}"] = fd.src.u8Basename;
    replaceList["${InFileName}"] = fd.src.u8Filename;
    replaceList["${OutFullPath}"] = fd.dest.u8FullPath;
    replaceList["${OutDrive}"] = fd.dest.u8Drive;
    replaceList["${OutPath}"] = fd.dest.u8Path;
    replaceList["${TEMP}"] = StringExtra::multi_to_utf8_winapi(platform::tempDirectory());
}

void StringReplacer::setWindowsUnavailableCharacters()
{
    replaceList.clear();
    static const std::pair<const char*, const char*> kPairs[] = {
        {"/", "\xEF\xBC\x8F"},   // U+FF0F
        {":", "\xEF\xBC\x9A"},   // U+FF1A
        {"*", "\xEF\xBC\x8A"},   // U+FF0A
        {"?", "\xEF\xBC\x9F"},   // U+FF1F
        {"!", "\xEF\xBC\x81"},   // U+FF01
        {"\"", "\xE2\x80\x9D"},  // U+201D, not the full-width U+FF02
        {"<", "\xEF\xBC\x9C"},   // U+FF1C
        {">", "\xEF\xBC\x9E"},   // U+FF1E
        {"|", "\xEF\xBD\x9C"},   // U+FF5C
        {"]", "\xEF\xBC\xBD"},   // U+FF3D
        {"[", "\xEF\xBC\xBB"},   // U+FF3B
        {"(", "\xEF\xBC\x88"},   // U+FF08
        {")", "\xEF\xBC\x89"},   // U+FF09
        {"{", "\xEF\xBD\x9B"},   // U+FF5B
        {"}", "\xEF\xBD\x9D"},   // U+FF5D
    };
    for (const auto& [from, to] : kPairs)
        replaceList.emplace(from, to);
}
