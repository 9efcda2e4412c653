// A few hundred recordings in one call must come out exactly as each of them
// does in a call of its own: nothing of one file may leak into the next
// (texts, numbers, placeholders), whatever order and mix the folder holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "MaruboSandbox.h"
#include "RecordingWriter.h"
#include "SampleRecording.h"
#include "TestPaths.h"

using testsupport::MaruboSandbox;
using testsupport::RunOutcome;
using testsupport::SampleProgramme;

namespace {

constexpr int kFiles = 200;

// Neighbours differ in every field a placeholder or the print shows, and
// long texts sit beside short and empty ones.
SampleProgramme programme(int i) {
    const std::string n = std::to_string(i);
    const std::string k = std::to_string(i % 13 + 1);
    const std::string names[] = {"番組" + n + "　第" + k + "話▽副題" + n,
                                 "[新]アニメ" + n + "＃" + k + "「第" + n + "話の題」",
                                 "ニュース" + n + "（" + k + "）",
                                 "特番" + n + " 2時間SP",
                                 "映画" + n + "【字幕版】",
                                 "一語" + n};
    const char* const channels[] = {"ＭＡＲＵＢＯ　テレビ", "まるぼ放送", "", "教育"};
    const uint8_t genres[] = {0x70, 0x30, 0x00, 0x81, 0x62, 0xE2, 0xC5, 0x4F, 0xFF};
    SampleProgramme p;
    p.name = names[i % 6];
    p.description = i % 4 == 0 ? std::string(80, 'x') + n : "";
    p.channel = channels[i % 4];
    p.genre = genres[i % 9];
    p.year = 2020 + i % 5;
    p.month = i % 12 + 1;
    p.day = i % 28 + 1;
    p.hour = i % 24;
    p.minute = (i * 7) % 60;
    p.second = i % 60;
    p.durationHours = i % 3;
    p.durationMinutes = (i * 11) % 60;
    p.networkId = static_cast<uint16_t>(i % 5 == 0 ? 0x0004 : 0x7FE0 + i % 3);
    p.serviceId = static_cast<uint16_t>(0x0400 + i % 7);
    p.unitSize = i % 2 == 0 ? 188 : 192;
    return p;
}

// Recordings, playlists and files that are no recording at all.
void writeInputs(const std::string& dir) {
    std::filesystem::create_directories(dir);
    for (int i = 0; i < kFiles; ++i) {
        const std::string stem = dir + "/" + std::to_string(i);
        if (i % 10 == 3) {
            testsupport::writeFile(stem + "_note.ts", "a text file, not a transport stream\n");
        } else if (i % 10 == 7) {
            testsupport::writeFile(stem + "_clip.txt", "plain");
        } else if (i % 10 == 9) {
            ASSERT_TRUE(recgen::writeFile(stem + "_play.ts", testsupport::sampleRpls(programme(i))));
        } else {
            ASSERT_TRUE(recgen::writeFile(stem + "_rec.ts", testsupport::sampleTransportStream(programme(i))));
        }
    }
}

std::vector<std::string> withPrefix(const RunOutcome& out, const std::string& prefix) {
    std::vector<std::string> lines;
    for (const std::string& m : out.messages()) {
        if (m.compare(0, prefix.size(), prefix) == 0) lines.push_back(m.substr(prefix.size()));
    }
    return lines;
}

// Every output file, by its path below the folder, sorted.
std::vector<std::string> outputs(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir, ec)) {
        if (e.is_regular_file()) names.push_back(e.path().string().substr(dir.size()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(ManyRecordings, OneCallGivesWhatOneCallPerFileGives) {
    MaruboSandbox box;
    const std::string out = box.file("out");
    box.writeSettings(R"({"GENERAL": {"VALID_TS": true},
        "TASKLIST": [{"AVAILABLE": true, "SELECT": "TSTITLE", "REGEX": "^", "PROGRAM": "cp",
          "OUTFILEPATH": ")" + out + R"(/${Genre}/${RecDate}_${RecTime}_${Title}_${EpisodeNo2}_${SubTitle}_)"
                     R"(${ChannelName}_${GenreM}_${serviceID}_${networkID}_${SeasonName}${SeasonNo}_${InBaseName}"}]})");
    const std::string in = box.file("in");
    writeInputs(in);

    const RunOutcome all = box.run({in});
    const std::vector<std::string> entered = withPrefix(all, "FILE ENTRY : ");
    ASSERT_EQ(static_cast<size_t>(kFiles), entered.size()) << all.output;
    EXPECT_EQ(0, all.exitCode) << all.output;
    const std::vector<std::string> together = outputs(out);
    const RunOutcome allInfo = box.run({"-i", in});
    const std::vector<std::string> infoTogether = withPrefix(allInfo, "[TS INFO] ");

    std::filesystem::remove_all(out);
    std::vector<std::string> infoAlone;
    for (const std::string& file : entered) {
        box.run({file});
        const std::vector<std::string> info = withPrefix(box.run({"-i", file}), "[TS INFO] ");
        infoAlone.insert(infoAlone.end(), info.begin(), info.end());
    }
    const std::vector<std::string> alone = outputs(out);

    EXPECT_EQ(alone, together);
    EXPECT_EQ(infoAlone, infoTogether);
    // Every file ran its task; the print covered the recordings and playlists.
    EXPECT_EQ(static_cast<size_t>(kFiles), together.size());
    EXPECT_EQ(static_cast<size_t>(kFiles - kFiles / 5) * 10, infoTogether.size());
}
