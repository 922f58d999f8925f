// Searches on a crafted index: whole days, kinds, boxes (also across 180°), circles, speeds,
// their combination and the order of the answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "library/index.h"
#include "library/search.h"
#include "support/test_support.h"

namespace orvik::library {
namespace {

using orvik::test::TempDir;
using recordings::RecordingKind;

IndexedRecording recording(const std::string& name, RecordingKind kind, const std::string& start,
                           std::vector<IndexedPosition> positions = {}) {
    IndexedRecording r;
    r.path = "2026/" + name;
    r.name = name;
    r.kind = kind;
    r.channel = "F";
    r.startSeconds = *parseSearchTime(start, false);
    r.durationSeconds = 60;
    r.sha256 = std::string(64, '0');
    r.positions = std::move(positions);
    for (const IndexedPosition& p : r.positions)
        r.maxSpeedKmh = std::max(r.maxSpeedKmh, p.speedKmh.value_or(0));
    return r;
}

std::vector<std::string> names(const std::vector<SearchHit>& hits) {
    std::vector<std::string> out;
    for (const SearchHit& h : hits)
        out.push_back(h.name);
    return out;
}

class LibrarySearch : public ::testing::Test {
  protected:
    void SetUp() override {
        auto opened = LibraryIndex::open(dir_.str(), LibraryIndex::Check::Thorough);
        ASSERT_TRUE(opened) << opened.error();
        index_.emplace(std::move(*opened));
        // Put in out of time order: the answer must not depend on it.
        for (const IndexedRecording& r : {
                 recording("d", RecordingKind::Event, "2026-05-04T00:00:00"),
                 recording("a", RecordingKind::Always, "2026-05-02T23:59:59"),
                 recording("c", RecordingKind::Always, "2026-05-03T23:59:59",
                           {{0, 37.50, 127.00, 20.0},
                            {1, 37.51, 127.00, 95.0},
                            {2, 37.52, 127.00, 40.0}}),
                 recording("b", RecordingKind::Event, "2026-05-03T00:00:00",
                           {{0, 37.52, 127.00, 30.0}, {1, 37.53, 127.01, std::nullopt}}),
                 recording("dateline", RecordingKind::User, "2026-06-01T12:00:00",
                           {{0, -17.0, 179.95, 50.0}, {1, -17.0, -179.95, 50.0}}),
             })
            index_->put(r);
    }
    std::vector<SearchHit> find(const SearchQuery& q) { return search(*index_, q); }

    TempDir dir_;
    std::optional<LibraryIndex> index_;
};

TEST_F(LibrarySearch, DaysAreWholeAndInclusiveTimesExactAndEverythingInTimeOrder) {
    EXPECT_EQ(names(find({})), (std::vector<std::string>{"a", "b", "c", "d", "dateline"}));
    SearchQuery day;
    day.from = parseSearchTime("2026-05-03", false);
    day.to = parseSearchTime("2026-05-03", true);
    EXPECT_EQ(names(find(day)), (std::vector<std::string>{"b", "c"}));
    SearchQuery exact;
    exact.from = parseSearchTime("2026-05-02T23:59:59", false);
    exact.to = parseSearchTime("2026-05-03T00:00:00", true);
    EXPECT_EQ(names(find(exact)), (std::vector<std::string>{"a", "b"}));
    // Times typed wrong are refused, not read as something else.
    for (const char* bad : {"2026-5-03", "2026-02-30", "2026-05-03T24:00:00", "2026-05-03 10:00:00",
                            "2026-05-03T1:00:00", "yesterday", ""})
        EXPECT_FALSE(parseSearchTime(bad, false)) << bad;
}

TEST_F(LibrarySearch, KindAndDateCombine) {
    SearchQuery q;
    q.kind = RecordingKind::Event;
    EXPECT_EQ(names(find(q)), (std::vector<std::string>{"b", "d"}));
    q.to = parseSearchTime("2026-05-03", true);
    EXPECT_EQ(names(find(q)), (std::vector<std::string>{"b"}));
}

TEST_F(LibrarySearch, PlacesGiveTheFirstMomentThatMatches) {
    SearchQuery box;
    box.box = GeoBox{37.515, 126.99, 37.525, 127.005};
    auto hits = find(box);
    ASSERT_EQ(names(hits), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(hits[0].offsetSeconds, 0.0);
    EXPECT_EQ(hits[1].offsetSeconds, 2.0);

    // 37.51 → 37.52 is about 1112 m: a 600 m circle around 37.5125 holds c's second position only.
    SearchQuery near;
    near.near = GeoCircle{37.5125, 127.0, 600};
    hits = find(near);
    ASSERT_EQ(names(hits), (std::vector<std::string>{"c"}));
    EXPECT_EQ(hits[0].offsetSeconds, 1.0);
    near.near->radiusMetres = 100;
    EXPECT_TRUE(find(near).empty());

    // A box and a circle together: a position must lie in both.
    SearchQuery both;
    both.box = GeoBox{37.515, 126.99, 37.535, 127.02};
    both.near = GeoCircle{37.53, 127.01, 50};
    EXPECT_EQ(names(find(both)), (std::vector<std::string>{"b"}));
}

TEST_F(LibrarySearch, BoxesAndCirclesAcross180Degrees) {
    SearchQuery box;
    box.box = GeoBox{-18, 179.9, -16, -179.9};  // west above east: across the date line
    auto hits = find(box);
    ASSERT_EQ(names(hits), (std::vector<std::string>{"dateline"}));
    EXPECT_EQ(hits[0].offsetSeconds, 0.0);
    box.box = GeoBox{-18, -179.99, -16, -179.9};
    hits = find(box);
    ASSERT_EQ(names(hits), (std::vector<std::string>{"dateline"}));
    EXPECT_EQ(hits[0].offsetSeconds, 1.0);

    SearchQuery near;
    near.near = GeoCircle{-17.0, 180.0, 6000};  // both positions are about 5.3 km away
    EXPECT_EQ(names(find(near)), (std::vector<std::string>{"dateline"}));
    near.near = GeoCircle{89.99, 0, 1000};  // at the pole every longitude is near
    EXPECT_TRUE(find(near).empty());
}

TEST_F(LibrarySearch, SpeedAloneOrWithAPlaceMeetsOnOnePosition) {
    SearchQuery fast;
    fast.minSpeedKmh = 90;
    auto hits = find(fast);
    ASSERT_EQ(names(hits), (std::vector<std::string>{"c"}));
    EXPECT_EQ(hits[0].offsetSeconds, 1.0);
    fast.minSpeedKmh = 30;
    EXPECT_EQ(names(find(fast)), (std::vector<std::string>{"b", "c", "dateline"}));

    // c passed 37.52 at 40 km/h and went 95 only at 37.51: both in one position, or nothing.
    SearchQuery placeAndSpeed;
    placeAndSpeed.box = GeoBox{37.515, 126.99, 37.525, 127.005};
    placeAndSpeed.minSpeedKmh = 90;
    EXPECT_TRUE(find(placeAndSpeed).empty());
    placeAndSpeed.minSpeedKmh = 35;
    hits = find(placeAndSpeed);
    ASSERT_EQ(names(hits), (std::vector<std::string>{"c"}));
    EXPECT_EQ(hits[0].offsetSeconds, 2.0);
}

TEST_F(LibrarySearch, APutRecordingReplacesItsOldPositions) {
    index_->put(
        recording("c", RecordingKind::Always, "2026-05-03T23:59:59", {{5, -33.9, 151.2, 10.0}}));
    SearchQuery old;
    old.box = GeoBox{37.505, 126.99, 37.515, 127.01};
    EXPECT_TRUE(find(old).empty());
    SearchQuery now;
    now.near = GeoCircle{-33.9, 151.2, 10};
    EXPECT_EQ(names(find(now)), (std::vector<std::string>{"c"}));
    EXPECT_EQ(index_->count(), 5u);
}

}  // namespace
}  // namespace orvik::library
