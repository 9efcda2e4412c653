// Whole recordings for end-to-end runs and the sample tool: a transport
// stream whose PAT, SDT and EIT present section repeat through the file, or
// an RPLS playlist, each carrying one programme given as Unicode text.
#pragma once

#include <cstdint>
#include <string>

#include "RecordingWriter.h"

namespace testsupport {

struct SampleProgramme {
    std::string name;         // programme name (UTF-8)
    std::string description;  // short event text (UTF-8)
    std::string channel;      // service name (UTF-8)
    uint8_t genre = 0x70;     // content byte: major genre in the high nibble
    int year = 2024, month = 1, day = 2, hour = 21, minute = 0, second = 0;
    int durationHours = 0, durationMinutes = 30, durationSeconds = 0;
    uint16_t networkId = 0x7FE0;  // terrestrial, remote-control key 1
    uint16_t serviceId = 0x0400;
    int unitSize = 188;  // 188 or 192
};

// ARIB 8-unit text for UTF-8 text: ASCII through the alphanumeric set, the
// rest through the kanji set and, for characters outside JIS X 0208, the
// JIS X 0213 planes. Characters no set carries are left out.
recgen::Bytes aribText(const std::string& utf8);

// An animation that starts at 23:30 on the last day of a month and ends
// after midnight in the next one, on service 0x0400 of network 0x7FE0; its
// name carries a new-series marker, an episode and a subtitle, so it goes
// through every step of the name and time derivation.
SampleProgramme lateNightAnime();

recgen::Bytes sampleTransportStream(const SampleProgramme& p);
recgen::Bytes sampleRpls(const SampleProgramme& p);

}  // namespace testsupport
