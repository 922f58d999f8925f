// A receiver log in the shape of real receivers' output (golden/nmea/receiver.log) decoded
// sentence by sentence; the decoder's state after each one is compared with receiver.chk.
// ORVIK_UPDATE_GOLDEN=1 rewrites the .chk when a change of the decoder is meant.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "recordings/nmea.h"
#include "recordings/telemetry.h"
#include "support/test_support.h"

namespace orvik::recordings {
namespace {

std::string format(const char* fmt, auto... args) {
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

// Every field of the running state, one sentence's worth of lines.
std::string describe(const GpsFix& f) {
    std::string out;
    const GpsTime& t = f.time;
    out += format("  time %04u-%02u-%02u %02u:%02u:%02u.%03u  valid %s  speed %.3f  course %.2f\n",
                  t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond,
                  f.fixValid ? "yes" : "no", f.speed, f.course);
    out += format("  position %.5f %c %.5f %c\n", f.latitude.value(), f.latHemisphere,
                  f.longitude.value(), f.lonHemisphere);
    out += format("  used %d  gps %d  glonass %d  hdop %.2f  constellation %d  gsa %d  gns %d\n",
                  f.satellitesUsed, f.gpsSatellites, f.glonassSatellites, f.hdop,
                  static_cast<int>(f.constellation), static_cast<int>(f.gsaSeen),
                  static_cast<int>(f.gnsSeen));
    out += "  prns";
    for (std::uint8_t prn : f.prns)
        out += format(" %u", static_cast<unsigned>(prn));
    out += "\n";
    return out;
}

TEST(NmeaReceiverLog, DecodesAsRecorded) {
    const std::string log = test::readFile(std::string(ORVIK_SOURCE_DIR) +
                                           "/tests/recordings/golden/nmea/receiver.log");
    ASSERT_FALSE(log.empty());

    // The log is one record's text: the track splits it and snapshots its state per sentence.
    TelemetryTrack track;
    track.decodeRecordText(log);
    GpsFix state;
    std::string chk;
    std::size_t index = 0;
    forEachRecordSentence(log, [&](std::string_view sentence) {
        const bool handled = decodeNmeaSentence(sentence, state);
        chk += std::string(sentence) + (handled ? "\n" : "\n  (not handled)\n");
        chk += describe(state);
        ASSERT_LT(index, track.nmeaSnapshots().size());
        EXPECT_EQ(track.nmeaSnapshots()[index], state) << "snapshot " << index;
        ++index;
    });
    EXPECT_EQ(index, track.nmeaSnapshots().size());
    EXPECT_GE(index, 30u);
    test::expectGolden("recordings/golden/nmea/receiver.chk", chk);
}

}  // namespace
}  // namespace orvik::recordings
