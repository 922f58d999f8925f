// NMEA decoding: the sentence splitter of a record's text and the four handled sentences, with
// the receiver quirks the decoder must keep (talkers, GSA per system, GNS taking over).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "recordings/nmea.h"
#include "recordings/synthetic_recording.h"
#include "recordings/telemetry.h"

namespace orvik::recordings {
namespace {

constexpr const char* kRmc =
    "$GPRMC,081530.500,A,3733.1200,N,12658.4400,E,15.0,270.5,140621,,,A*5F";

// A track fed with record text directly.
struct Decoder {
    TelemetryTrack track;
    void text(std::string t) {
        t.resize(kNmeaTextSize, '\0');
        track.decodeRecordText(t);
    }
    const GpsFix& state() const { return track.runningFix(); }
    std::size_t snapshots() const { return track.nmeaSnapshots().size(); }
};

TEST(RecordText, SplitsAtLineEndsAndZeroBytes) {
    std::vector<std::string> seen;
    using namespace std::string_literals;
    const std::string text =
        "$GPRMC,1*00\r\n$GNGGA,2*00\0$PGRME,3*00\n$GNGSA*00\rjunk$GNGNS,4*00\n$GPRMC,cut at the end"s;
    forEachRecordSentence(text, [&](std::string_view s) { seen.emplace_back(s); });
    EXPECT_EQ(seen,
              (std::vector<std::string>{"$GPRMC,1*00", "$GNGGA,2*00", "$GNGSA*00", "$GNGNS,4*00"}));
}

TEST(RecordText, EverySentenceStartingWithDollarGGivesOneSnapshot) {
    Decoder d;
    d.text(std::string(kRmc) + "\n$GPGSV,unknown*11\n$GPRMC no star\n$PMTK,proprietary*00\n$G\n");
    // RMC, GSV (not handled), RMC without "*", "$G" alone: four; $PMTK none.
    EXPECT_EQ(d.snapshots(), 4u);
    EXPECT_EQ(d.track.nmeaSnapshots()[0].speed, 15.0);
}

TEST(RecordText, ASentenceRunningToTheEndIsDropped) {
    Decoder d;
    std::string t(kNmeaTextSize, 'x');
    t.replace(0, 6, "$GPRMC");
    d.track.decodeRecordText(t);
    EXPECT_EQ(d.snapshots(), 0u);
}

TEST(Rmc, SetsSpeedCourseValidityAndTime) {
    GpsFix fix;
    fix.latitude = NmeaAngle(1.0);
    EXPECT_TRUE(decodeNmeaSentence(kRmc, fix));
    EXPECT_EQ(fix.speed, 15.0);
    EXPECT_EQ(fix.course, 270.5);
    EXPECT_TRUE(fix.fixValid);
    EXPECT_EQ(fix.time, (GpsTime{2021, 6, 0, 14, 8, 15, 30, 500}));
    EXPECT_EQ(fix.latitude, NmeaAngle(1.0));  // RMC's position is not used
    EXPECT_EQ(fix.latHemisphere, 'N');

    EXPECT_TRUE(decodeNmeaSentence("$GNRMC,081531.000,V,,,,,0.0,,140621*11", fix));
    EXPECT_FALSE(fix.fixValid);
    EXPECT_EQ(fix.time.second, 31);
}

// The sentence with its checksum: "$" + body + "*" + the XOR of body's characters in hex.
std::string sentence(std::string_view body) {
    unsigned sum = 0;
    for (char c : body)
        sum ^= static_cast<unsigned char>(c);
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", sum);
    return "$" + std::string(body) + "*" + hex;
}

TEST(Rmc, TimesWithNoneToThreeDecimalsAreRead) {
    struct Case {
        const char* clock;
        GpsTime expected;
    };
    const Case cases[] = {
        {"081530", {2021, 6, 0, 14, 8, 15, 30, 0}},
        {"081531.5", {2021, 6, 0, 14, 8, 15, 31, 500}},
        {"081532.25", {2021, 6, 0, 14, 8, 15, 32, 250}},
        {"081533.125", {2021, 6, 0, 14, 8, 15, 33, 125}},
        {"081534.07", {2021, 6, 0, 14, 8, 15, 34, 70}},
    };
    for (const Case& c : cases) {
        GpsFix fix;
        EXPECT_TRUE(decodeNmeaSentence(
            sentence(std::string("GPRMC,") + c.clock + ",A,,,,,1.0,2.0,140621"), fix));
        EXPECT_EQ(fix.time, c.expected) << c.clock;
    }
}

TEST(Rmc, OtherTimeOrDateShapesLeaveTheTime) {
    GpsFix fix;
    ASSERT_TRUE(decodeNmeaSentence(kRmc, fix));
    const GpsTime before = fix.time;
    for (const char* body :
         {"GPRMC,081530.,A,,,,,1.0,2.0,140621", "GPRMC,081530.5000,A,,,,,1.0,2.0,140621",
          "GPRMC,08153,A,,,,,1.0,2.0,140621", "GPRMC,081530.500,A,,,,,1.0,2.0,1406210"}) {
        EXPECT_TRUE(decodeNmeaSentence(sentence(body), fix)) << body;
        EXPECT_EQ(fix.time, before) << body;
    }
    // Unreadable components count as 0 and end the reading, the year is always 20yy.
    EXPECT_TRUE(decodeNmeaSentence(sentence("GPRMC,08x530.500,A,,,,,1.0,2.0,1406zz"), fix));
    EXPECT_EQ(fix.time, (GpsTime{2000, 6, 0, 14, 8, 0, 0, 0}));
    EXPECT_TRUE(decodeNmeaSentence(sentence("GPRMC,235959.999,A,,,,,1.0,2.0,311299"), fix));
    EXPECT_EQ(fix.time, (GpsTime{2099, 12, 0, 31, 23, 59, 59, 999}));
}

TEST(Rmc, SetsTheHemispheresButNotThePosition) {
    GpsFix fix;
    EXPECT_TRUE(decodeNmeaSentence(
        sentence("GPRMC,120000.00,A,3351.1200,S,15112.4400,W,10.0,90.0,010124,,,A"), fix));
    EXPECT_EQ(fix.latHemisphere, 'S');
    EXPECT_EQ(fix.lonHemisphere, 'W');
    EXPECT_EQ(fix.latitude, NmeaAngle(0.0));
    // Empty hemisphere fields keep what was there.
    EXPECT_TRUE(decodeNmeaSentence(sentence("GPRMC,120001.00,V,,,,,,,010124,,,N"), fix));
    EXPECT_EQ(fix.latHemisphere, 'S');
    EXPECT_EQ(fix.lonHemisphere, 'W');
}

TEST(Gns, SetsTheHemispheres) {
    GpsFix fix;
    EXPECT_TRUE(decodeNmeaSentence(
        sentence("GNGNS,120000.00,3351.1200,S,15112.4400,W,AA,09,0.9,30.0,18.0,,"), fix));
    EXPECT_EQ(fix.latHemisphere, 'S');
    EXPECT_EQ(fix.lonHemisphere, 'W');
    EXPECT_TRUE(decodeNmeaSentence(sentence("GNGNS,120001.00,,,,,NN,00,99.9,,,,"), fix));
    EXPECT_EQ(fix.latHemisphere, 'S');
}

TEST(Checksum, AMismatchChangesNothingButStillAddsASnapshot) {
    const std::string good = sentence("GPRMC,120000.00,A,3351.12,S,15112.44,W,10.0,90.0,010124");
    EXPECT_TRUE(nmeaChecksumMatches(good));
    std::string lower = good;
    for (std::size_t i = lower.size() - 2; i < lower.size(); ++i)
        lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[i])));
    EXPECT_TRUE(nmeaChecksumMatches(lower));

    std::string wrong = good;
    wrong[wrong.size() - 1] = wrong.back() == '0' ? '1' : '0';
    const std::string oneDigit = good.substr(0, good.size() - 1);
    const std::string noDigits = good.substr(0, good.size() - 2);
    const std::string notHex = good.substr(0, good.size() - 2) + "G1";
    for (const std::string& bad : {wrong, oneDigit, noDigits, notHex}) {
        GpsFix fix;
        EXPECT_FALSE(nmeaChecksumMatches(bad)) << bad;
        EXPECT_FALSE(decodeNmeaSentence(bad, fix)) << bad;
        EXPECT_EQ(fix, GpsFix{}) << bad;
    }
    Decoder d;
    d.text(wrong + "\n" + good + "\n");
    ASSERT_EQ(d.snapshots(), 2u);
    EXPECT_EQ(d.track.nmeaSnapshots()[0], GpsFix{});
    EXPECT_EQ(d.track.nmeaSnapshots()[1].lonHemisphere, 'W');
}

// The recording as the reader sees it: one fragment, one record per text.
TelemetryTrack readTexts(const std::vector<std::string>& texts) {
    testing::RecordingImage image;
    image.ftyp().moov();
    std::vector<std::optional<TelemetryRecord>> slots;
    for (std::size_t i = 0; i < texts.size(); ++i)
        slots.push_back(
            testing::RecordingImage::record(static_cast<std::uint32_t>(i + 1), texts[i]));
    image.fragment(slots);
    MemoryByteSource source(image.bytes());
    TelemetryTrack track;
    EXPECT_EQ(track.readRecording(source), S_OK);
    return track;
}

// One rule per recording. A receiver that writes real checksums: a sentence whose checksum
// does not match is damaged and changes nothing, but still adds its snapshot.
TEST(ChecksumRule, WithRealChecksumsADamagedSentenceChangesNothing) {
    const std::string good = sentence("GPRMC,120000.000,A,,,,,10.0,90.0,010124");
    std::string damaged = sentence("GPRMC,120001.000,A,,,,,99.0,90.0,010124");
    damaged.back() = damaged.back() == '0' ? '1' : '0';
    const TelemetryTrack track = readTexts({good + "\n", damaged + "\n"});
    EXPECT_EQ(track.checksumRule(), ChecksumRule::Verify);
    ASSERT_EQ(track.nmeaSnapshots().size(), 2u);
    EXPECT_EQ(track.nmeaSnapshots()[1].speed, 10.0);
    EXPECT_EQ(track.nmeaSnapshots()[1].time.second, 0);
}

// A receiver whose checksums never match writes none at all: every sentence is decoded as it
// stands, as the format's own example (its "*00" is not the sentence's XOR) expects.
TEST(ChecksumRule, WithoutAnyMatchingChecksumEverySentenceIsDecoded) {
    const std::string example =
        "$GPRMC,081530.500,A,3733.1200,N,12658.4400,E,15.0,270.5,140621,,,A*00\n";
    ASSERT_FALSE(nmeaChecksumMatches(example.substr(0, example.size() - 1)));
    const TelemetryTrack track =
        readTexts({example, "$GNGGA,081531,3733.4217,S,12651.8696,W,1,08,0.9,,,,,,*00\n"});
    EXPECT_EQ(track.checksumRule(), ChecksumRule::Ignore);
    ASSERT_EQ(track.nmeaSnapshots().size(), 2u);
    const GpsFix& rmc = track.nmeaSnapshots()[0];
    EXPECT_EQ(rmc.speed, 15.0);
    EXPECT_EQ(rmc.course, 270.5);
    EXPECT_TRUE(rmc.fixValid);
    EXPECT_EQ(rmc.time.year, 2021);
    EXPECT_EQ(rmc.time.millisecond, 500);
    EXPECT_EQ(track.nmeaSnapshots()[1].latHemisphere, 'S');
    EXPECT_EQ(track.fixes()[1].lonHemisphere, 'W');

    // The same text in a recording that also holds one real checksum: now it is damaged.
    const std::string real = sentence("GPGGA,081529,,,,,1,08,0.9,,,,,,");
    const TelemetryTrack mixed = readTexts({real + "\n", example});
    EXPECT_EQ(mixed.checksumRule(), ChecksumRule::Verify);
    EXPECT_EQ(mixed.nmeaSnapshots()[1].speed, 0.0);
}

TEST(ReceiverStatusWords, TrackTheLatestRmcStatusAndGgaQualityAndAltitude) {
    GpsFix fix;
    ReceiverStatus status;
    EXPECT_TRUE(status.positionValid());  // nothing said yet
    EXPECT_TRUE(decodeNmeaSentence(
        sentence("GNGGA,120000.00,3351.12,S,15112.44,W,1,08,0.9,31.5,M,18.0,M,,"), fix, &status));
    EXPECT_EQ(status.ggaQuality, 1);
    EXPECT_EQ(status.altitudeMetres, 31.5);
    EXPECT_TRUE(status.positionValid());
    EXPECT_TRUE(decodeNmeaSentence(sentence("GNRMC,120001.00,V,,,,,,,010124,,,N"), fix, &status));
    EXPECT_FALSE(status.positionValid());
    EXPECT_TRUE(decodeNmeaSentence(sentence("GNRMC,120002.00,A,,,,,,,010124,,,A"), fix, &status));
    EXPECT_TRUE(status.positionValid());
    EXPECT_TRUE(decodeNmeaSentence(sentence("GNGGA,120003.00,,,,,0,00,99.9,,,,,,"), fix, &status));
    EXPECT_FALSE(status.positionValid());
    EXPECT_FALSE(status.altitudeMetres.has_value());
    // An altitude in another unit than metres is not taken.
    EXPECT_TRUE(
        decodeNmeaSentence(sentence("GNGGA,120004.00,1,N,1,E,1,05,1.0,100,F,,,,"), fix, &status));
    EXPECT_FALSE(status.altitudeMetres.has_value());
}

TEST(Rmc, TooFewFieldsChangeNothing) {
    GpsFix fix;
    fix.speed = 3.0;
    EXPECT_FALSE(decodeNmeaSentence("$GPRMC,1*56", fix));
    EXPECT_EQ(fix.speed, 3.0);
    EXPECT_TRUE(decodeNmeaSentence("$GPRMC,1,A*3B", fix));  // three fields: the rest reads empty
    EXPECT_EQ(fix.speed, 0.0);
    EXPECT_TRUE(fix.fixValid);
}

TEST(Gga, SetsPositionAndKeepsItWhenFieldsAreEmpty) {
    GpsFix fix;
    EXPECT_TRUE(
        decodeNmeaSentence("$GPGGA,081530,3733.4217,S,12651.8696,W,1,08,0.9,30.0,M,,,,*27", fix));
    EXPECT_EQ(fix.latitude, NmeaAngle(3733.4217));
    EXPECT_EQ(fix.longitude, NmeaAngle(12651.8696));
    EXPECT_EQ(fix.latHemisphere, 'S');
    EXPECT_EQ(fix.lonHemisphere, 'W');
    EXPECT_EQ(fix.hdop, 0.9);
    EXPECT_TRUE(decodeNmeaSentence("$GPGGA,081531,,,,,0,,,*44", fix));
    EXPECT_EQ(fix.latitude, NmeaAngle(3733.4217));
    EXPECT_EQ(fix.lonHemisphere, 'W');
    EXPECT_EQ(fix.hdop, 0.9);
}

TEST(Gga, OnlyTheCombinedTalkerCountsSatellites) {
    GpsFix fix;
    EXPECT_TRUE(decodeNmeaSentence("$GPGGA,1,,,,,1,09,1.0*70", fix));
    EXPECT_EQ(fix.satellitesUsed, 0);
    EXPECT_TRUE(decodeNmeaSentence("$GNGGA,1,,,,,1,09,1.0*6E", fix));
    EXPECT_EQ(fix.satellitesUsed, 9);
    fix.constellation = 1;
    EXPECT_TRUE(decodeNmeaSentence("$GNGGA,1,,,,,1, 12,1.0*44", fix));
    EXPECT_EQ(fix.satellitesUsed, 12);
    EXPECT_EQ(fix.constellation, 0);
}

TEST(Gsa, OnePerSystemAddsUp) {
    GpsFix fix;
    EXPECT_TRUE(decodeNmeaSentence("$GNGSA,A,3,03,07,19,,,,,,,,,,1.8,0.9,1.5*24", fix));
    EXPECT_EQ(fix.constellation, 0);
    EXPECT_TRUE(decodeNmeaSentence("$GNGSA,A,3,66,75,,,,,,,,,,,1.8,0.9,1.5*2A", fix));
    EXPECT_EQ(fix.constellation, 1);
    EXPECT_EQ(fix.gpsSatellites, 3);
    EXPECT_EQ(fix.glonassSatellites, 2);
    EXPECT_EQ(fix.satellitesUsed, 5);
    EXPECT_EQ(fix.prns[0], 66);
    EXPECT_EQ(fix.prns[2], 0);
    EXPECT_EQ(fix.gsaSeen, 1);
    // After a GSA, GGA only drops the system whose count it matches.
    EXPECT_TRUE(decodeNmeaSentence("$GNGGA,1,,,,,1,03,1.0*64", fix));
    EXPECT_EQ(fix.glonassSatellites, 0);
    EXPECT_EQ(fix.gpsSatellites, 3);
    EXPECT_EQ(fix.satellitesUsed, 5);
}

TEST(Gsa, PrnsAreTheirLowEightBits) {
    GpsFix fix;
    EXPECT_TRUE(decodeNmeaSentence("$GNGSA,A,3,300,,,,,,,,,,,*1D", fix));
    EXPECT_EQ(fix.prns[0], 44);
    EXPECT_EQ(fix.constellation, 0);
    EXPECT_TRUE(decodeNmeaSentence("$GNGSA,A,3,321,256,5*36", fix));
    EXPECT_EQ(fix.prns[0], 65);
    EXPECT_EQ(fix.constellation, 1);
    EXPECT_EQ(fix.glonassSatellites, 2);  // 256 reduces to 0 and does not count
}

TEST(Gsa, UnknownSystem) {
    GpsFix fix;
    fix.satellitesUsed = 7;
    fix.gpsSatellites = 7;
    fix.fixValid = true;
    EXPECT_TRUE(decodeNmeaSentence("$GNGSA,A,1,,,,,,,,,,,,*2C", fix));
    EXPECT_EQ(fix.constellation, -1);
    EXPECT_EQ(fix.satellitesUsed, 7);  // kept while the fix is valid
    fix.fixValid = false;
    EXPECT_TRUE(decodeNmeaSentence("$GNGSA,A,1,,,,,,,,,,,,*2C", fix));
    EXPECT_EQ(fix.satellitesUsed, 0);
    EXPECT_EQ(fix.gpsSatellites, 0);
    EXPECT_FALSE(decodeNmeaSentence("$GPGSA,A,3,03*1F", fix));  // GPS talker not handled
}

TEST(Gns, TakesOverCountAndPrecision) {
    GpsFix fix;
    EXPECT_TRUE(decodeNmeaSentence("$GNGNS,1,3733.1,N,12658.4,E,AA,14,0.8,30.0,18.0,,*79", fix));
    EXPECT_EQ(fix.gnsSeen, 1);
    EXPECT_EQ(fix.satellitesUsed, 14);
    EXPECT_EQ(fix.hdop, 0.8);
    EXPECT_EQ(fix.latitude, NmeaAngle(0.0));  // GNS carries no position for us
    EXPECT_TRUE(decodeNmeaSentence("$GNGGA,1,3733.1,N,12658.4,E,1,03,2.5*50", fix));
    EXPECT_EQ(fix.satellitesUsed, 14);
    EXPECT_EQ(fix.hdop, 0.8);
    EXPECT_EQ(fix.latitude, NmeaAngle(3733.1));  // the position still comes from GGA
    EXPECT_TRUE(decodeNmeaSentence("$GNGSA,A,3,03,07,19,,,,,,,,,,*0E", fix));
    EXPECT_EQ(fix.gsaSeen, 1);
    EXPECT_EQ(fix.prns[0], 0);
    EXPECT_EQ(fix.satellitesUsed, 14);
    EXPECT_TRUE(decodeNmeaSentence("$GNGNS,1,,,,,AA,,,*4E", fix));
    EXPECT_EQ(fix.satellitesUsed, 0);
    EXPECT_EQ(fix.hdop, 0.8);
}

TEST(Sentence, NeedsExactlyOneStarAndAKnownAddress) {
    GpsFix fix;
    EXPECT_FALSE(decodeNmeaSentence("$GPRMC,081530.500,A,,,,,15.0,270.5,140621", fix));
    EXPECT_FALSE(decodeNmeaSentence("$GPRMC,081530.500,A,,,,,15.0,270.5,140621*06*11", fix));
    EXPECT_FALSE(decodeNmeaSentence("$gprmc,081530.500,A,,,,,15.0*00", fix));
    EXPECT_FALSE(decodeNmeaSentence("$GPRMC ,081530.500,A*3E", fix));
    EXPECT_FALSE(decodeNmeaSentence("*", fix));
    EXPECT_FALSE(decodeNmeaSentence("", fix));
    EXPECT_EQ(fix, GpsFix{});
}

TEST(Sentence, FieldsConvertLikeTheCLibrary) {
    GpsFix fix;
    EXPECT_TRUE(decodeNmeaSentence("$GPRMC,1,A,,,,,  +12.5knots,-3e1,*03", fix));
    EXPECT_EQ(fix.speed, 12.5);
    EXPECT_EQ(fix.course, -30.0);
    EXPECT_TRUE(decodeNmeaSentence("$GPRMC,1,A,,,,,abc,--1,*46", fix));
    EXPECT_EQ(fix.speed, 0.0);
    EXPECT_EQ(fix.course, 0.0);
    EXPECT_TRUE(decodeNmeaSentence("$GNGGA,1,,,,,1,99999999999,*71", fix));
    EXPECT_EQ(fix.satellitesUsed, 2147483647);
    EXPECT_TRUE(decodeNmeaSentence("$GNGGA,1,,,,,1,-7x,*2A", fix));
    EXPECT_EQ(fix.satellitesUsed, -7);
}

}  // namespace
}  // namespace orvik::recordings
