#include "device_config/drive_route.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "device_config/test_support.h"

namespace dc = orvik::device_config;
using orvik::test::TempDir;

namespace {

// A record whose every field is a neutral value, so each test changes one thing.
dc::DriveRouteRecord plain() {
    dc::DriveRouteRecord r;
    r.order = 7;
    r.dayOfWeek = 2;
    r.kind = 1;
    r.year = 124;
    r.month = 3;
    r.day = 5;
    r.hour = 8;
    r.minute = 7;
    r.second = 6;
    r.latitudeInt = 3733;
    r.latitudeFrac = 1234;
    r.longitudeInt = 12701;
    r.longitudeFrac = 5;
    return r;
}

std::string cell(const dc::DriveRouteRecord& r, std::size_t column) {
    return dc::formatDriveRouteRow(r, 0)[column];
}

std::vector<std::uint8_t> fileWith(std::uint32_t headerCount, std::size_t records,
                                   std::size_t extra = 0) {
    std::vector<dc::DriveRouteRecord> recs(records, plain());
    for (std::size_t i = 0; i < records; ++i)
        recs[i].order = static_cast<std::uint16_t>(i);
    auto bytes = dc::encodeDriveRoute(recs);
    bytes[0] = headerCount & 0xFF, bytes[1] = (headerCount >> 8) & 0xFF;
    bytes[2] = (headerCount >> 16) & 0xFF, bytes[3] = headerCount >> 24;
    bytes.resize(bytes.size() + extra, 0xEE);
    return bytes;
}

}  // namespace

TEST(DriveRouteDecode, ReadsEveryFieldAtItsOffset) {
    std::array<std::uint8_t, 72> b{};
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<std::uint8_t>(i + 1);
    auto r = dc::decodeDriveRouteRecord(b);
    EXPECT_EQ(r.order, 0x0201);
    EXPECT_EQ(r.dayOfWeek, 3);
    EXPECT_EQ(r.kind, 4);
    EXPECT_EQ(r.year, 5);
    EXPECT_EQ(r.second, 10);
    EXPECT_EQ(r.latitudeInt, 0x0C0B);
    EXPECT_EQ(r.longitudeFrac, 0x1211);
    EXPECT_EQ(r.mileage, 0x18171615u);
    EXPECT_EQ(r.latHemisphere, 29);
    EXPECT_EQ(r.lonHemisphere, 30);
    EXPECT_EQ(r.vehicleSpeed, 0x2221);
    EXPECT_EQ(r.vehicleMileage, 0x28272625);
    EXPECT_EQ(r.dtc, 0x4645);
    // Encoding gives the same bytes back, except the uninterpreted ones, which it zeroes.
    auto again = dc::encodeDriveRouteRecord(r);
    for (std::size_t i = 0; i < 72; ++i) {
        bool ignored = (i >= 24 && i < 28) || i == 30 || i == 31 || i >= 70;
        EXPECT_EQ(again[i], ignored ? 0 : b[i]) << i;
    }
}

TEST(DriveRouteDecode, HeaderCountBeyondTheFileShowsOnlyCompleteRecords) {
    auto d = dc::decodeDriveRoute(fileWith(10, 3, 40));  // 3 records and a partial fourth
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(d->headerCount, 10u);
    EXPECT_EQ(d->records.size(), 3u);
    EXPECT_TRUE(d->truncated());

    auto huge = dc::decodeDriveRoute(fileWith(0xFFFFFFFF, 1));
    ASSERT_TRUE(huge.ok());
    EXPECT_EQ(huge->records.size(), 1u);

    auto fewer = dc::decodeDriveRoute(fileWith(2, 5));  // the header wins when it counts fewer
    ASSERT_TRUE(fewer.ok());
    EXPECT_EQ(fewer->records.size(), 2u);
    EXPECT_FALSE(fewer->truncated());

    auto empty = dc::decodeDriveRoute(fileWith(0, 0));
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty->records.empty());
}

TEST(DriveRouteDecode, ShortOrMissingFilesAreClearErrors) {
    for (std::size_t n : {0u, 1u, 11u}) {
        std::vector<std::uint8_t> b(n, 0);
        auto d = dc::decodeDriveRoute(b);
        ASSERT_FALSE(d.ok());
        EXPECT_NE(d.error().find("12-byte header"), std::string::npos) << d.error();
    }
    TempDir dir;
    EXPECT_FALSE(dc::readDriveRouteFile(dir / "none.drv").ok());
    EXPECT_FALSE(dc::readDriveRouteFile(dir.str()).ok());
    orvik::test::writeBytes(dir / "short.drv", {1, 0, 0});
    EXPECT_FALSE(dc::readDriveRouteFile(dir / "short.drv").ok());
    orvik::test::writeBytes(dir / "big.drv", fileWith(0x7FFFFFFF, 4, 10));
    auto big = dc::readDriveRouteFile(dir / "big.drv");
    ASSERT_TRUE(big.ok());
    EXPECT_EQ(big->records.size(), 4u);
    EXPECT_EQ(big->headerCount, 0x7FFFFFFFu);
}

TEST(DriveRouteText, DateTimeDayAndPosition) {
    auto r = plain();
    auto row = dc::formatDriveRouteRow(r, 41);
    EXPECT_EQ(row[0], "42");
    EXPECT_EQ(row[1], "7");
    EXPECT_EQ(row[2], "2024/03/05");
    EXPECT_EQ(row[3], "08:07:06");
    EXPECT_EQ(row[5], "3733.1234");
    EXPECT_EQ(row[6], "12701.0005");
    const char* days[] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
    for (int d = 0; d < 7; ++d) {
        r.dayOfWeek = static_cast<std::uint8_t>(d);
        EXPECT_EQ(cell(r, 4), days[d]);
    }
    r.dayOfWeek = 7;
    EXPECT_EQ(cell(r, 4), "-");
    r.latitudeInt = 512;
    r.longitudeInt = 999;
    EXPECT_EQ(cell(r, 5), "0512.1234");
    EXPECT_EQ(cell(r, 6), "00999.0005");
}

TEST(DriveRouteText, ValueColumnAndVehicleData) {
    auto r = plain();
    std::pair<int, const char*> kinds[] = {{1, "A"}, {2, "F"}, {0, "V"}, {3, "V"}, {255, "V"}};
    for (auto [k, t] : kinds) {
        r.kind = static_cast<std::uint8_t>(k);
        EXPECT_EQ(cell(r, 7), t) << k;
    }
    r.rpm = -2;
    EXPECT_EQ(cell(r, 11), "EV");
    r.rpm = -1;
    EXPECT_EQ(cell(r, 11), "-");
    r.rpm = 2500;
    EXPECT_EQ(cell(r, 11), "2500");
    r.steeringAngle = 9999;
    EXPECT_EQ(cell(r, 17), "-");
    r.steeringAngle = -45;
    EXPECT_EQ(cell(r, 17), "-45");
    r.gearPosition = 5;
    EXPECT_EQ(cell(r, 19), "5");
    r.gearPosition = 0;
    EXPECT_EQ(cell(r, 19), "-");
    r.gearPosition = 2;
    EXPECT_EQ(cell(r, 19), "R");
    r.gearLevel = 0;
    EXPECT_EQ(cell(r, 18), "-");
    r.battery = 12345;
    EXPECT_EQ(cell(r, 24), "12.3");
    r.battery = -1;
    EXPECT_EQ(cell(r, 24), "-");
    r.mileage = 123456;
    EXPECT_EQ(cell(r, 10), "1234.56");
    r.vehicleMileage = 1234567;
    EXPECT_EQ(cell(r, 12), " 1234.6");
    r.vehicleMileage = -5;
    EXPECT_EQ(cell(r, 12), "-");
    r.vehicleSpeed = -1;
    EXPECT_EQ(cell(r, 9), "-");
    r.footBrake = 1, r.rightTurnSignal = 0, r.leftTurnSignal = 2;
    EXPECT_EQ(cell(r, 14), "ON");
    EXPECT_EQ(cell(r, 15), "OFF");
    EXPECT_EQ(cell(r, 16), "-");
    r.accelX = 256, r.accelY = -128, r.accelZ = 0;
    EXPECT_EQ(cell(r, 21), "+1.00");
    EXPECT_EQ(cell(r, 22), "-0.50");
    EXPECT_EQ(cell(r, 23), "+0.00");
    r.adc = 123, r.ttc = 5, r.dtc = 65535;
    EXPECT_EQ(cell(r, 25), "12.3");
    EXPECT_EQ(cell(r, 26), " 0.5");
    EXPECT_EQ(cell(r, 27), "6553.5");
}

TEST(DriveRouteText, MapPositionIsSignedByHemisphere) {
    auto r = plain();
    auto p = dc::routePosition(r);
    EXPECT_DOUBLE_EQ(p.latitude, 3733.1234);
    EXPECT_DOUBLE_EQ(p.longitude, 12701.0005);
    r.latHemisphere = 'S';
    r.lonHemisphere = 'W';
    p = dc::routePosition(r);
    EXPECT_DOUBLE_EQ(p.latitude, -3733.1234);
    EXPECT_DOUBLE_EQ(p.longitude, -12701.0005);
}

TEST(DriveRouteCsv, BytesOfAOneRowExport) {
    auto rows = dc::buildDriveRouteTable(std::vector<dc::DriveRouteRecord>{plain()});
    std::string csv = dc::driveRouteCsv(rows);
    std::string expected =
        "\xEF\xBB\xBF"
        "No.,Order,Date,Time,Day of the week,Latitude,Longitude,Value,GPS Speed,Vehicle Speed,"
        "Mileage,RPM,V. Mileage,Accelerator pedal,Foot brake,Right turn signal,Left turn signal,"
        "Steering wheel turning angle,Gear level,Gear position,Throttle position absolute,X,Y,Z,"
        "Battery,ADC,TTC,DTC\n"
        "1,7,2024/03/05,08:07:06,TUE,3733.1234,12701.0005,A,0,0,0.00,0,    0.0,0,OFF,OFF,OFF,0,-,-,"
        "0,+0.00,+0.00,+0.00,0.0, 0.0, 0.0, 0.0\n";
    EXPECT_EQ(csv, expected);

    // Translated headers are written as given, in UTF-8.
    std::vector<std::string> ko(dc::kDrvColumnCount, "x");
    ko[2] = "날짜";
    std::string k = dc::driveRouteCsv(rows, ko);
    EXPECT_EQ(k.substr(0, 3 + 10), "\xEF\xBB\xBFx,x,날짜");
}

TEST(DriveRouteCsv, ExportIsAtomicAndReportsFailures) {
    TempDir dir;
    auto rows = dc::buildDriveRouteTable(dc::makeSampleRoute(50));
    auto ok = dc::exportDriveRouteCsv(dir / "orvik_drv.csv", rows);
    ASSERT_TRUE(ok.saved()) << ok.error;
    std::string text = orvik::test::readFile(dir / "orvik_drv.csv");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 51);
    EXPECT_EQ(text.find('\r'), std::string::npos);

    auto none = dc::exportDriveRouteCsv(dir / "empty.csv", {});
    EXPECT_EQ(none.status, dc::SaveStatus::Cancelled);
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.csv"));

    auto bad = dc::exportDriveRouteCsv(dir / "no/such/folder.csv", rows);
    EXPECT_EQ(bad.status, dc::SaveStatus::Failed);
    EXPECT_NE(bad.error.find("cannot write"), std::string::npos);
}

TEST(DriveRouteFiles, SampleRouteRoundTripsAndIsFoundOnTheCard) {
    TempDir dir;
    auto a = dir.mkdir("a").string(), b = dir.mkdir("b").string();
    std::filesystem::create_directories(b + "/DrvInfo");
    auto route = dc::makeSampleRoute(600);
    ASSERT_TRUE(dc::writeDriveRouteFile(b + "/DrvInfo/orvik_000.drv", route).saved());
    orvik::platform::Volume va, vb;
    va.mountPoint = a, vb.mountPoint = b;
    auto found = dc::findDriveRouteOnCard({va, vb});
    ASSERT_TRUE(found);
    auto back = dc::readDriveRouteFile(*found);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->records, route);
    // Plausible: dates valid, positions near the start, days of week in range.
    for (const auto& r : back->records) {
        EXPECT_LE(r.dayOfWeek, 6);
        EXPECT_GE(r.month, 1);
        EXPECT_LE(r.month, 12);
        EXPECT_NEAR(r.latitudeInt, 3734, 5);
    }
}

// The hand-written integer formatting must print what the printf formats of the list print.
TEST(DriveRouteText, IntegerCellsMatchPrintf) {
    auto ref = [](const char* f, auto... a) {
        char b[64];
        std::snprintf(b, sizeof b, f, a...);
        return std::string(b);
    };
    auto r = plain();
    for (unsigned v : {0u, 1u, 9u, 10u, 99u, 100u, 9999u, 10000u, 12345u, 65535u}) {
        auto u16 = static_cast<std::uint16_t>(v);
        r.latitudeInt = u16, r.latitudeFrac = u16, r.longitudeInt = u16, r.longitudeFrac = u16;
        r.adc = u16;
        r.year = static_cast<std::uint8_t>(v % 256), r.month = static_cast<std::uint8_t>(v % 256);
        r.hour = static_cast<std::uint8_t>(v % 256), r.second = static_cast<std::uint8_t>(v % 100);
        r.mileage = v * 65537u;
        auto row = dc::formatDriveRouteRow(r, 0);
        EXPECT_EQ(row[2], ref("%4d/%02d/%02d", r.year + 1900, r.month, r.day));
        EXPECT_EQ(row[3], ref("%02d:%02d:%02d", r.hour, r.minute, r.second));
        EXPECT_EQ(row[5], ref("%04d.%04d", v, v));
        EXPECT_EQ(row[6], ref("%05d.%04d", v, v));
        EXPECT_EQ(row[10], ref("%.2f", r.mileage / 100.0));
        EXPECT_EQ(row[25], ref("%2d.%1d", v / 10, v % 10));
    }
}

TEST(DriveRouteText, AccelerationCellsMatchPrintfForEveryValue) {
    auto r = plain();
    for (int v = -32768; v <= 32767; ++v) {
        r.accelX = static_cast<std::int16_t>(v);
        char b[32];
        std::snprintf(b, sizeof b, "%+.2f", v / 256.0);
        ASSERT_EQ(cell(r, 21), b) << v;
    }
}
