// The NMEA decoder: the input as one record's text (split, decoded, snapshotted), then each
// line as a sentence on its own.
#include <cstdlib>
#include <string_view>

#include "recordings/nmea.h"
#include "recordings/telemetry.h"

using namespace orvik::recordings;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    TelemetryTrack track;
    track.decodeRecordText(input.substr(0, kNmeaTextSize));
    std::size_t sentences = 0;
    forEachRecordSentence(input.substr(0, kNmeaTextSize), [&](std::string_view) { ++sentences; });
    if (track.nmeaSnapshots().size() != sentences)
        std::abort();

    GpsFix fix;
    std::size_t start = 0;
    while (start <= input.size()) {
        const std::size_t end = input.find('\n', start);
        decodeNmeaSentence(
            input.substr(start,
                         end == std::string_view::npos ? std::string_view::npos : end - start),
            fix);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    if (fix.gnsSeen > 1 || fix.gsaSeen > 1 || fix.constellation < -1 || fix.constellation > 1)
        std::abort();
    (void)positionOf(fix);
    return 0;
}
