// orvik-cli trips as scripts see it: run as a subprocess with its own cache folder, the JSON
// parsed back, the table, the second (cached) run, and the usage errors.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/test_support.h"
#include "trip_card.h"

namespace orvik::trips {
namespace {

using namespace testing;
using orvik::test::TempDir;

using orvik::test::quote;

class TripsCli : public ::testing::Test {
  protected:
    using Run = orvik::test::RunResult;
    // orvik-cli with `args`, its summary cache kept in the scratch folder.
    Run run(const std::string& args) {
        return orvik::test::runCommand("XDG_CACHE_HOME=" + quote(scratch_.str() + "/cache") + " " +
                                       quote(ORVIK_CLI) + " " + args);
    }

    void SetUp() override {
        // Trip 1: a front/rear pair, an event with a spike; trip 2 after a 121 s pause, in mph.
        ASSERT_TRUE(writePlainRecording(card_.path() / "alwa_20260314_081500_F.mp4", 60));
        ASSERT_TRUE(writePlainRecording(card_.path() / "alwa_20260314_081500_R.mp4", 60));
        ASSERT_TRUE(writeRecording(
            card_.path() / "event_20260314_081600_F.mp4", 20, [](std::size_t f, std::size_t s) {
                auto r = quietRecord(f, s);
                r->latitude =
                    recordings::NmeaAngle(3733.0 + 0.01 * static_cast<double>(f * 11 + s));
                if (f == 10 && s == 0)
                    r->accelZ = 256 + 256;
                return r;
            }));
        ASSERT_TRUE(writePlainRecording(card_.path() / "motion_20260314_081700_F.mp4", 60));
        ASSERT_TRUE(writeRecording(card_.path() / "user_20260314_081821_F.mp4", 30,
                                   [](std::size_t f, std::size_t s) {
                                       auto r = quietRecord(f, s);
                                       r->speedUnitCode = recordings::kSpeedUnitCodeMph;
                                       r->speed = 31;
                                       return r;
                                   }));
    }

    TempDir scratch_;
    TempDir card_;
};

TEST_F(TripsCli, JsonHasTheDocumentedShape) {
    const Run r = run("trips " + quote(card_.str()) + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto trips = nlohmann::ordered_json::parse(r.out);
    ASSERT_TRUE(trips.is_array());
    ASSERT_EQ(trips.size(), 2u);
    const auto& t = trips[0];
    std::vector<std::string> keys;
    for (auto it = t.begin(); it != t.end(); ++it)
        keys.push_back(it.key());
    EXPECT_EQ(keys,
              (std::vector<std::string>{"start", "end", "recordings", "distanceKm",
                                        "durationSeconds", "maxSpeed", "speedUnit", "events"}));
    EXPECT_EQ(t["start"], "2026-03-14T08:15:00");
    EXPECT_EQ(t["end"], "2026-03-14T08:16:20");
    EXPECT_EQ(t["recordings"], (nlohmann::json{card_.str() + "/alwa_20260314_081500_F.mp4",
                                               card_.str() + "/event_20260314_081600_F.mp4"}));
    EXPECT_EQ(t["durationSeconds"], 80.0);
    EXPECT_NEAR(t["distanceKm"].get<double>(), 219 * 0.01 / 60 * 111.19508, 0.001);
    EXPECT_EQ(t["maxSpeed"], 40.0);
    EXPECT_EQ(t["speedUnit"], "km/h");
    ASSERT_EQ(t["events"].size(), 2u);
    EXPECT_EQ(t["events"][0]["kind"], "event");
    EXPECT_EQ(t["events"][0]["path"], card_.str() + "/event_20260314_081600_F.mp4");
    EXPECT_EQ(t["events"][0]["offsetSeconds"], 0.0);
    EXPECT_EQ(t["events"][1]["kind"], "impact");
    EXPECT_NEAR(t["events"][1]["offsetSeconds"].get<double>(), 110 * 20.0 / 219, 0.001);

    EXPECT_EQ(trips[1]["start"], "2026-03-14T08:18:21");
    EXPECT_EQ(trips[1]["speedUnit"], "mph");
    EXPECT_EQ(trips[1]["maxSpeed"], 31.0);
    EXPECT_TRUE(trips[1]["events"].empty());

    // --unit converts; --gap joins the two trips.
    const Run kmh = run("trips " + quote(card_.str()) + " --json --unit km/h --gap 121");
    ASSERT_EQ(kmh.status, 0) << kmh.err;
    const auto one = nlohmann::json::parse(kmh.out);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0]["speedUnit"], "km/h");
    EXPECT_NEAR(one[0]["maxSpeed"].get<double>(), 49.9, 1e-9);  // 31 mph
    EXPECT_EQ(one[0]["recordings"].size(), 3u);
}

TEST_F(TripsCli, TableAndTheCachedRunAgree) {
    const Run first = run("trips " + quote(card_.str()));
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out.rfind("Start", 0), 0u);
    EXPECT_NE(first.out.find("2026-03-14T08:15:00  2026-03-14T08:16:20   0:01:20"),
              std::string::npos)
        << first.out;
    EXPECT_NE(first.out.find("31.0 mph"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(scratch_.path() / "cache" / "Orvik"));
    const Run second = run("trips " + quote(card_.str()));
    EXPECT_EQ(second.out, first.out);
}

TEST_F(TripsCli, UsageAndFailures) {
    EXPECT_EQ(run("trips").status, 2);
    EXPECT_EQ(run("trips " + quote(card_.str()) + " --gap -5").status, 2);
    EXPECT_EQ(run("trips " + quote(card_.str()) + " --gap soon").status, 2);
    EXPECT_EQ(run("trips " + quote(card_.str()) + " --unit knots").status, 2);
    const Run missing = run("trips " + quote(card_.str() + "/absent") + " --json");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find("orvik-cli: "), std::string::npos);
    // An empty card: an empty array, not an error.
    TempDir empty;
    const Run none = run("trips " + quote(empty.str()) + " --json");
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(nlohmann::json::parse(none.out), nlohmann::json::array());
}

}  // namespace
}  // namespace orvik::trips
