// marubo_samples DIR: writes a handful of recordings into DIR (created when
// missing) to show what marubo does with them: programmes of different
// genres, names with episode numbers and subtitles, and one RPLS playlist.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "SampleRecording.h"

namespace {

struct Sample {
    const char* file;
    bool rpls;
    testsupport::SampleProgramme programme;
};

testsupport::SampleProgramme programme(const char* name, const char* description, const char* channel,
                                       uint8_t genre, int month, int day, int hour, int minute,
                                       int durationMinutes, uint16_t networkId, uint16_t serviceId) {
    testsupport::SampleProgramme p;
    p.name = name;
    p.description = description;
    p.channel = channel;
    p.genre = genre;
    p.year = 2024;
    p.month = month;
    p.day = day;
    p.hour = hour;
    p.minute = minute;
    p.durationHours = durationMinutes / 60;
    p.durationMinutes = durationMinutes % 60;
    p.networkId = networkId;
    p.serviceId = serviceId;
    return p;
}

std::vector<Sample> samples() {
    std::vector<Sample> list = {
        {"20240405_2330_anime.ts", false,
         programme("[新]まほうの森＃1「はじまりの朝」", "森に住む少女の物語。", "ＭＡＲＵＢＯテレビ", 0x70, 4, 5,
                   23, 30, 30, 0x7FE0, 0x0400)},
        {"20240408_2100_drama.ts", false,
         programme("月曜ドラマ　第3話▽嵐の前", "三人の運命が動き出す。", "まるぼ放送", 0x30, 4, 8, 21, 0, 54,
                   0x7FE1, 0x0408)},
        {"20240409_1900_news.ts", false,
         programme("夜のニュース（12）【特集】春の交通安全", "今日の出来事。", "ＭＡＲＵＢＯテレビ", 0x00, 4, 9, 19,
                   0, 60, 0x7FE0, 0x0400)},
        {"20240410_2200_documentary.ts", false,
         programme("𠀋の旅　第2回「山を越えて」", "古い街道を歩く。", "まるぼ教育", 0x81, 4, 10, 23, 30, 90,
                   0x7FE2, 0x0410)},
        {"PRIVATE_00001.rpls", true,
         programme("映画劇場「遠い星」", "名作映画。", "ＭＡＲＵＢＯシネマ", 0x60, 4, 12, 20, 0, 120, 0x7FE0,
                   0x0400)},
    };
    list[1].programme.unitSize = 192;  // a recorder that keeps time stamps
    return list;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "cannot create %s: %s\n", dir.c_str(), ec.message().c_str());
        return 1;
    }
    for (const Sample& s : samples()) {
        const std::string path = dir + "/" + s.file;
        const recgen::Bytes data =
            s.rpls ? testsupport::sampleRpls(s.programme) : testsupport::sampleTransportStream(s.programme);
        if (!recgen::writeFile(path, data)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    return 0;
}
