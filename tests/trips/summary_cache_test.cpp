// The summary cache's stored form: what it keeps, and that nothing damaged is ever trusted.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "support/test_support.h"
#include "trips/summary_cache.h"

namespace orvik::trips {
namespace {

RecordingStats sampleStats(double seconds) {
    RecordingStats s;
    s.readable = true;
    s.durationSeconds = seconds;
    s.durationSource = DurationSource::Telemetry;
    s.records = 661;
    s.distanceKm = 0.75;
    s.maxSpeedKmh = 88.5;
    s.speedUnits = kUnitKmh | kUnitMph;
    s.impacts = {1.5, 33.25};
    return s;
}

SummaryCache sampleCache() {
    SummaryCache c({0.5, 0.6, 0.7});
    c.put("/card/alwa_20260314_081500_F.mp4", {1000, 123456789}, sampleStats(60));
    c.put("/card/\xc3\xa9v\xc3\xa9nement.mp4", {2000, -5}, RecordingStats{});
    return c;
}

TEST(SummaryCache, RoundTripKeepsEveryField) {
    const SummaryCache c = sampleCache();
    auto back = SummaryCache::parse(c.serialize(), c.thresholds());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->size(), 2u);
    const RecordingStats* s = back->find("/card/alwa_20260314_081500_F.mp4", {1000, 123456789});
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(*s, sampleStats(60));
    EXPECT_NE(back->find("/card/\xc3\xa9v\xc3\xa9nement.mp4", {2000, -5}), nullptr);
}

TEST(SummaryCache, EntriesHoldOnlyForTheSameSizeAndTime) {
    const SummaryCache c = sampleCache();
    EXPECT_EQ(c.find("/card/alwa_20260314_081500_F.mp4", {1001, 123456789}), nullptr);
    EXPECT_EQ(c.find("/card/alwa_20260314_081500_F.mp4", {1000, 123456788}), nullptr);
    EXPECT_EQ(c.find("/other/alwa_20260314_081500_F.mp4", {1000, 123456789}), nullptr);
    SummaryCache r = sampleCache();
    const std::string keep[] = {"/card/alwa_20260314_081500_F.mp4"};
    r.retain(keep);
    EXPECT_EQ(r.size(), 1u);
}

TEST(SummaryCache, OtherThresholdsInvalidateTheWholeCache) {
    const SummaryCache c = sampleCache();
    EXPECT_FALSE(SummaryCache::parse(c.serialize(), ImpactThresholds{}));
}

TEST(SummaryCache, DamagedDataIsRefused) {
    const std::string good = sampleCache().serialize();
    const ImpactThresholds t{0.5, 0.6, 0.7};
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(SummaryCache::parse(good.substr(0, n), t)) << "prefix of " << n;
    EXPECT_FALSE(SummaryCache::parse(good + "x", t));
    std::string magic = good;
    magic[7] = '2';
    EXPECT_FALSE(SummaryCache::parse(magic, t));

    // A non-finite duration is not a length.
    SummaryCache nan(t);
    RecordingStats s = sampleStats(std::numeric_limits<double>::quiet_NaN());
    nan.put("/a", {1, 1}, s);
    EXPECT_FALSE(SummaryCache::parse(nan.serialize(), t));

    // Random damage never crashes and never yields an entry with impossible values.
    std::mt19937 rng(3);
    for (int round = 0; round < 5000; ++round) {
        std::string bent = good;
        for (int k = 0; k < 3; ++k)
            bent[8 + rng() % (bent.size() - 8)] = static_cast<char>(rng());
        if (auto c = SummaryCache::parse(bent, t)) {
            EXPECT_LE(c->size(), 2u);
        }
    }
}

TEST(SummaryCache, SaveAndLoadThroughTheFile) {
    orvik::test::TempDir dir;
    const auto file = summaryCacheFile(dir.path() / "nested" / "Orvik", "/media/card");
    ASSERT_TRUE(sampleCache().save(file).ok());
    EXPECT_EQ(SummaryCache::load(file, {0.5, 0.6, 0.7}).size(), 2u);
    EXPECT_EQ(SummaryCache::load(file, {}).size(), 0u);
    EXPECT_EQ(SummaryCache::load(dir.path() / "absent.bin", {}).size(), 0u);
    // One cache file per card folder; the same folder spelled differently shares it.
    EXPECT_NE(summaryCacheFile(dir.path(), "/media/card"),
              summaryCacheFile(dir.path(), "/media/other"));
    EXPECT_EQ(summaryCacheFile(dir.path(), dir.str()),
              summaryCacheFile(dir.path(), dir.str() + "/nested/.."));
}

}  // namespace
}  // namespace orvik::trips
