// orvik-cli config / drv / timefile / card, run as a subprocess as scripts use them.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>

#include "device_config/device_config.h"
#include "device_config/drive_route.h"
#include "device_config/test_support.h"

namespace dc = orvik::device_config;
using orvik::test::TempDir;

namespace {

// orvik-cli with `args` (shell words), after optional VAR=value settings in `env`.
orvik::test::RunResult cli(const std::string& args, const std::string& env = "") {
    return orvik::test::runCommand(env + " " + orvik::test::quote(ORVIK_CLI) + " " + args);
}

}  // namespace

TEST(CliConfig, DefaultsShowSetRoundTrip) {
    TempDir dir;
    auto r = cli("config defaults " + dir.str());
    ASSERT_EQ(r.status, 0) << r.err;
    auto bytes = orvik::test::readBytes(dir / "config_K7x7.bin");
    ASSERT_EQ(bytes.size(), 624u);
    EXPECT_EQ(bytes[2], 0x78);

    r = cli("config set " + dir.str() + " speedUnit=1 alwaysSharePercent=50 driveImpactX=0.61");
    ASSERT_EQ(r.status, 0) << r.err;
    r = cli("config show " + (dir / "config_K7x7.bin") + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["speedUnit"], 1);
    EXPECT_EQ(j["alwaysSharePercent"], 50);
    EXPECT_EQ(j["parkSharePercent"], 50);
    EXPECT_EQ(j["driveImpactX"], 61);
    EXPECT_EQ(j["magic"], 0x1508);
    EXPECT_EQ(j["checksumValid"], true);
    EXPECT_TRUE(j.contains("checksum"));
    EXPECT_EQ(j.size(), 2u + 66u + 1u);

    r = cli("config show " + dir.str());
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("speedUnit = 1  (mph)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("checksum = 0x"), std::string::npos);
}

TEST(CliConfig, RefusedValuesLeaveTheFileUntouched) {
    TempDir dir;
    ASSERT_EQ(cli("config defaults " + dir.str()).status, 0);
    auto before = orvik::test::readBytes(dir / "config_K7x7.bin");

    auto r = cli("config set " + dir.str() + " frontQuality=2 driveImpactZ=2.0");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "orvik-cli: G-Sensor value has exceeded effective range.(0.03-1.50)\n");
    r = cli("config set " + dir.str() + " alwaysSharePercent=0");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "orvik-cli: Each recording mode must be set to minimum 10% or more\n");
    r = cli("config set " + dir.str() + " noSuchField=1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown field \"noSuchField\""), std::string::npos);
    r = cli("config set " + dir.str() + " frontQuality");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(orvik::test::readBytes(dir / "config_K7x7.bin"), before);

    orvik::test::writeBytes(dir / "short.bin", std::vector<std::uint8_t>(623, 0));
    r = cli("config show " + (dir / "short.bin"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("624"), std::string::npos);
}

TEST(CliDrv, ListsAndExports) {
    TempDir dir;
    ASSERT_TRUE(dc::writeDriveRouteFile(dir / "r.drv", dc::makeSampleRoute(5)).saved());
    auto r = cli("drv " + (dir / "r.drv"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 6);
    EXPECT_NE(r.out.find("Steering wheel turning angle"), std::string::npos);

    r = cli("drv " + (dir / "r.drv") + " --csv " + (dir / "out.csv"));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string csv = orvik::test::readFile(dir / "out.csv");
    EXPECT_EQ(csv.rfind("\xEF\xBB\xBFNo.,Order,Date", 0), 0u);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 6);

    r = cli("drv " + (dir / "r.drv") + " --csv " + (dir / "missing/out.csv"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos);
    orvik::test::writeBytes(dir / "bad.drv", {1, 2, 3});
    EXPECT_EQ(cli("drv " + (dir / "bad.drv")).status, 1);
}

TEST(CliTimefile, WritesTheGivenMoment) {
    TempDir dir;
    auto r = cli("timefile " + dir.str() + " --at \"2024-03-05 08:07:06\"");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(orvik::test::readFile(dir / "timeset.cfg"), "2024/03/05 08:07:06");
    r = cli("timefile " + dir.str() + " --at \"2024-02-30 00:00:00\"");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(orvik::test::readFile(dir / "timeset.cfg"), "2024/03/05 08:07:06");
}

TEST(CliCard, ListsSimulatedVolumesWithTheirConfigurationState) {
    TempDir dir;
    auto a = dir.mkdir("a").string(), b = dir.mkdir("b").string();
    ASSERT_EQ(cli("config defaults " + b).status, 0);
    auto r = cli("card --json", "ORVIK_REMOVABLE_VOLUMES=" + b + "=ORVIK:" + a);
    ASSERT_EQ(r.status, 0) << r.err;
    auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0]["mountPoint"], a);
    EXPECT_EQ(j[0]["config"], "none");
    EXPECT_EQ(j[1]["label"], "ORVIK");
    EXPECT_EQ(j[1]["config"], "yes");
    r = cli("card", "ORVIK_REMOVABLE_VOLUMES=" + b + "=ORVIK");
    EXPECT_NE(r.out.find("label=\"ORVIK\"  config=yes"), std::string::npos) << r.out;
}

// ---- golden files under data/: ORVIK_UPDATE_GOLDEN=1 rewrites them (commit them with a reason)

namespace {
void expectGolden(const std::string& name, const std::string& actual) {
    orvik::test::expectGolden("device_config/data/" + name, actual);
}
}  // namespace

TEST(CliGolden, DefaultConfigurationShow) {
    TempDir dir;
    ASSERT_EQ(cli("config defaults " + (dir / "c.bin")).status, 0);
    auto r = cli("config show " + (dir / "c.bin"));
    ASSERT_EQ(r.status, 0);
    expectGolden("default_config.show",
                 r.out.substr(r.out.find('\n') + 1));  // without the path line
    r = cli("config show " + (dir / "c.bin") + " --json");
    expectGolden("default_config.json", r.out);
}

TEST(CliGolden, SampleRouteCsv) {
    TempDir dir;
    auto route = dc::makeSampleRoute(30, 2024, 3, 5, 23, 59, 45);  // runs past midnight
    route[3].rpm = -2, route[4].rpm = -1, route[5].steeringAngle = 9999, route[6].gearPosition = 0;
    route[7].latHemisphere = 'S', route[8].kind = 0, route[9].battery = -1,
    route[10].vehicleMileage = -1;
    ASSERT_TRUE(dc::writeDriveRouteFile(dir / "r.drv", route).saved());
    ASSERT_EQ(cli("drv " + (dir / "r.drv") + " --csv " + (dir / "r.csv")).status, 0);
    expectGolden("sample_route.csv", orvik::test::readFile(dir / "r.csv"));
}
