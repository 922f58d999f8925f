#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "samplecard/drive_simulator.h"
#include "samplecard/fragmented_mp4.h"
#include "samplecard/telemetry_record.h"

namespace orvik::tools {
namespace {

TelemetrySample sample() {
    TelemetrySample s;
    s.slotPrefix = 0xA503;
    s.timestamp = 0x01020304;
    s.accelX = 256;
    s.accelY = -384;
    s.accelZ = 260;
    s.accelAux = -1;
    s.nmeaText = "$GPRMC,081530.500,A,3733.1200,N,12658.4400,E,15.0,270.5,140621,,,A*00\n";
    s.speedUnitCode = kSpeedUnitMph;
    s.speed = 37;
    s.latitude = 3733.4217;
    s.longitude = 12651.8696;
    s.hdop = 0.9;
    s.satellitesUsed = 9;
    return s;
}

double f64At(const std::uint8_t* p) {
    double d;
    std::memcpy(&d, p, 8);  // the test machine is little-endian like the format
    return d;
}

TEST(TelemetryRecord, FieldsSitAtTheirOffsetsLittleEndian) {
    const auto r = encodeTelemetryRecord(sample());
    EXPECT_EQ(0, std::memcmp(r.data(), "K737", 4));
    EXPECT_EQ((std::vector<std::uint8_t>{4, 3, 2, 1}), std::vector<std::uint8_t>(&r[4], &r[8]));
    EXPECT_EQ((std::vector<std::uint8_t>{0, 1, 0, 0}), std::vector<std::uint8_t>(&r[12], &r[16]));
    EXPECT_EQ((std::vector<std::uint8_t>{0x80, 0xFE, 0xFF, 0xFF}),
              std::vector<std::uint8_t>(&r[16], &r[20]));
    EXPECT_EQ(0, std::memcmp(&r[28], "$GPRMC,081530.500", 17));
    EXPECT_EQ(0x31, r[156]);
    EXPECT_EQ(37, r[160]);
    EXPECT_DOUBLE_EQ(3733.4217, f64At(&r[164]));
    EXPECT_DOUBLE_EQ(12651.8696, f64At(&r[172]));
    EXPECT_DOUBLE_EQ(0.9, f64At(&r[180]));
    EXPECT_EQ(9, r[188]);
    EXPECT_EQ(0, std::memcmp(&r[196], "END\0", 4));
    for (int reserved : {8, 9, 10, 11, 192, 193, 194, 195})
        EXPECT_EQ(0, r[reserved]);
}

TEST(TelemetryRecord, TextIsZeroPaddedAndCutAt128Bytes) {
    TelemetrySample s = sample();
    s.nmeaText = "$GP";
    auto r = encodeTelemetryRecord(s);
    for (int i = 31; i < 156; ++i)
        ASSERT_EQ(0, r[i]) << i;
    s.nmeaText = std::string(200, 'x');
    r = encodeTelemetryRecord(s);
    EXPECT_EQ('x', r[155]);
    EXPECT_EQ(0x31, r[156]) << "text must not run into the unit field";
}

TEST(TelemetryRecord, DamageBreaksExactlyTheMarks) {
    TelemetrySample s = sample();
    s.damage = SlotDamage::BadMagic;
    auto r = encodeTelemetryRecord(s);
    EXPECT_EQ(0, std::memcmp(r.data(), "K738", 4));
    EXPECT_EQ(0, std::memcmp(&r[196], "END\0", 4));
    s.damage = SlotDamage::BadEndMark;
    r = encodeTelemetryRecord(s);
    EXPECT_EQ(0, std::memcmp(r.data(), "K737", 4));
    EXPECT_EQ(0, std::memcmp(&r[196], "END\1", 4));
    s.damage = SlotDamage::Zeroed;
    const auto slot = encodeTelemetrySlot(s);
    for (auto b : slot)
        ASSERT_EQ(0, b);
}

TEST(TelemetryRecord, AreaIsElevenSlotsWithPrefixes) {
    std::vector<TelemetrySample> samples(11, sample());
    for (int i = 0; i < 11; ++i)
        samples[i].slotPrefix = static_cast<std::uint16_t>(0x100 + i);
    const auto area = encodeTelemetryArea(samples);
    ASSERT_EQ(2222u, area.size());
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(i, area[i * 202]);
        EXPECT_EQ(1, area[i * 202 + 1]);
        EXPECT_EQ(0, std::memcmp(&area[i * 202 + 2], "K737", 4));
    }
    samples.pop_back();
    EXPECT_THROW(encodeTelemetryArea(samples), std::invalid_argument);
}

TEST(Nmea, ChecksumAndFraming) {
    // Checksum of a well-known sentence.
    EXPECT_EQ("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n",
              nmeaSentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"));
}

TEST(Nmea, MagnitudeOfDecimalDegrees) {
    EXPECT_DOUBLE_EQ(3733.4217, toNmeaMagnitude(37.557028));
    EXPECT_DOUBLE_EQ(12651.8696, toNmeaMagnitude(126.864494));
    EXPECT_DOUBLE_EQ(0.0, toNmeaMagnitude(0.0));
}

// Every record the simulated receivers produce must survive the decoder's framing rules:
// sentences inside 128 bytes, each terminated, time fields of exactly ten characters, and the
// record's position equal to the text's.
class DriveTest : public ::testing::TestWithParam<GnssReceiver> {};

TEST_P(DriveTest, RecordsAreDecodableAndConsistent) {
    DriveState st;
    DriveOptions opt;
    opt.receiver = GetParam();
    opt.noFixRecords = 5;
    const auto records = simulateDrive(st, 400, 1.0 / 11, opt);
    ASSERT_EQ(400u, records.size());
    int withFix = 0, rmc = 0, gga = 0, gsa = 0, gns = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto& r = records[i];
        SCOPED_TRACE(r.nmeaText);
        ASSERT_FALSE(r.nmeaText.empty());
        ASSERT_LE(r.nmeaText.size(), 128u);
        ASSERT_EQ('\n', r.nmeaText.back());
        ASSERT_EQ('$', r.nmeaText[0]);
        std::size_t start = 0;
        while (start < r.nmeaText.size()) {
            const std::size_t end = r.nmeaText.find("\r\n", start);
            ASSERT_NE(std::string::npos, end);
            const std::string sentence = r.nmeaText.substr(start, end - start);
            const auto star = sentence.find('*');
            ASSERT_NE(std::string::npos, star);
            ASSERT_EQ(star + 3, sentence.size());
            EXPECT_EQ(nmeaSentence(sentence.substr(1, star - 1)), sentence + "\r\n");
            const std::string address = sentence.substr(0, 6);
            rmc += address.ends_with("RMC");
            gga += address.ends_with("GGA");
            gsa += address == "$GNGSA";
            gns += address == "$GNGNS";
            if (address.ends_with("RMC") || address.ends_with("GGA") || address == "$GNGNS") {
                EXPECT_EQ(',', sentence[17]) << "time field must be hhmmss.sss";
            }
            if (address.ends_with("RMC") && i >= 5) {
                char lat[16];
                std::snprintf(lat, sizeof lat, ",%09.4f,N,", r.latitude);
                EXPECT_NE(std::string::npos, sentence.find(lat));
            }
            start = end + 2;
        }
        if (i < 5) {
            EXPECT_EQ(0.0, r.latitude);
            EXPECT_EQ(0, r.speed);
        } else {
            ++withFix;
            EXPECT_NEAR(37.557, std::floor(r.latitude / 100) + std::fmod(r.latitude, 100) / 60,
                        0.05);
            EXPECT_NEAR(126.864, std::floor(r.longitude / 100) + std::fmod(r.longitude, 100) / 60,
                        0.05);
            EXPECT_GT(r.satellitesUsed, 3);
        }
        EXPECT_NEAR(256, r.accelZ, 12) << "gravity on Z";
    }
    EXPECT_EQ(395, withFix);
    EXPECT_GT(rmc, 0);
    switch (GetParam()) {
        case GnssReceiver::GpsOnly:
            EXPECT_GT(gga, 0);
            EXPECT_EQ(0, gsa + gns);
            break;
        case GnssReceiver::GpsGlonass:
            EXPECT_GT(gga, 0);
            EXPECT_GT(gsa, 0);
            EXPECT_EQ(0, gns);
            break;
        case GnssReceiver::GnssFix:
            EXPECT_GT(gns, 0);
            EXPECT_EQ(0, gga + gsa);
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Receivers, DriveTest,
                         ::testing::Values(GnssReceiver::GpsOnly, GnssReceiver::GpsGlonass,
                                           GnssReceiver::GnssFix));

TEST(Drive, ContinuesExactlyAcrossCallsAndIsReproducible) {
    DriveState a, b;
    const auto whole = simulateDrive(a, 33, 0.1, {});
    auto first = simulateDrive(b, 11, 0.1, {});
    auto rest = simulateDrive(b, 22, 0.1, {});
    first.insert(first.end(), rest.begin(), rest.end());
    EXPECT_EQ(whole, first);
    EXPECT_EQ(a, b);
    DriveState other;
    other.rng = 99;
    EXPECT_NE(whole, simulateDrive(other, 33, 0.1, {}));
}

TEST(Drive, MphRecordsCarryTheUnitAndConvertedSpeed) {
    DriveState kmh, mph;
    kmh.speedKmh = mph.speedKmh = 60;
    kmh.targetKmh = mph.targetKmh = 60;
    DriveOptions o;
    o.speedUnitCode = kSpeedUnitMph;
    const auto k = simulateDrive(kmh, 1, 0.1, {});
    const auto m = simulateDrive(mph, 1, 0.1, o);
    EXPECT_EQ(kSpeedUnitKmh, k[0].speedUnitCode);
    EXPECT_EQ(60, k[0].speed);
    EXPECT_EQ(kSpeedUnitMph, m[0].speedUnitCode);
    EXPECT_EQ(37, m[0].speed);
}

TEST(Drive, ParkedCarStandsStillAndImpactShows) {
    DriveState st;
    DriveOptions o;
    o.parked = true;
    o.impactAtRecord = 4;
    const auto r = simulateDrive(st, 11, 0.1, o);
    for (const auto& s : r) {
        EXPECT_EQ(0, s.speed);
        EXPECT_EQ(r[0].latitude, s.latitude);
    }
    EXPECT_GT(std::abs(r[4].accelX), 100);
    EXPECT_LT(std::abs(r[3].accelX), 20);
}

TEST(FragmentedMp4, BoxListingRejectsBrokenSizes) {
    std::vector<std::uint8_t> image = {0, 0, 0, 8, 'f', 't', 'y', 'p',
                                       0, 0, 0, 4, 'm', 'o', 'o', 'v'};
    EXPECT_FALSE(listTopLevelBoxes(image).ok()) << "size below the header";
    image[11] = 9;
    EXPECT_FALSE(listTopLevelBoxes(image).ok()) << "runs past the end";
    image[11] = 8;
    auto boxes = listTopLevelBoxes(image);
    ASSERT_TRUE(boxes.ok());
    ASSERT_EQ(2u, boxes->size());
    EXPECT_EQ("moov", (*boxes)[1].type);
}

}  // namespace
}  // namespace orvik::tools
