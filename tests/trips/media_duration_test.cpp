// The playing length from the box headers: movie header, fragment headers, and the damaged
// files that must give no duration rather than a wrong one.
#include <gtest/gtest.h>

#include <random>

#include "trip_card.h"
#include "trips/media_duration.h"

namespace orvik::trips {
namespace {

using namespace testing;

std::optional<double> durationOf(const std::vector<std::byte>& bytes) {
    recordings::MemoryByteSource source(bytes);
    return mediaDurationSeconds(source);
}

std::optional<TelemetryRecord> noRecord(std::size_t, std::size_t) {
    return std::nullopt;
}

// ftyp, then the given boxes as they stand.
std::vector<std::byte> file(const std::string& boxes) {
    RecordingImage image;
    image.ftyp();
    image.raw(boxes);
    return image.bytes();
}

TEST(MediaDuration, MovieHeaderStatesTheLength) {
    EXPECT_DOUBLE_EQ(*durationOf(recordingBytes(moovWithDuration(59.5), 2, noRecord)), 59.5);
    EXPECT_DOUBLE_EQ(*durationOf(file(box("moov", mvhd64(90000, 90000ull * 3600)))), 3600.0);
}

TEST(MediaDuration, FragmentsSayItWhenTheMovieHeaderDoesNot) {
    // Video at 90 kHz (3000 per frame = 30 fps) and audio at 48 kHz in 1 s fragments; the
    // audio runs a little longer, and the longer track is the length.
    const std::string moov = box("moov", mvhd(1000, 0) + trak(1, 90000) + trak(2, 48000) +
                                             box("mvex", trex(1, 3000) + trex(2, 1024)));
    std::string fragments;
    for (std::uint64_t f = 0; f < 3; ++f) {
        fragments += box("moof", traf(1, f * 90000, 30, 3000) + traf(2, f * 48000, 47, 1024));
        fragments += box("mdat", std::string(16, 'x'));
    }
    const double audioEnd = (2 * 48000 + 47 * 1024) / 48000.0;
    EXPECT_NEAR(*durationOf(file(moov + fragments)), audioEnd, 1e-9);

    // Without decode times the fragments follow each other.
    std::string chained;
    for (int f = 0; f < 4; ++f)
        chained += box("moof", traf(1, std::nullopt, 30, 3000)) + box("mdat", "");
    EXPECT_NEAR(*durationOf(file(moov + chained)), 4.0, 1e-9);

    // The fragment duration of "mehd" answers without the fragments.
    const std::string withMehd =
        box("moov", mvhd(1000, 0) + trak(1, 90000) +
                        box("mvex", fullBox("mehd", 0, 0, be32(12345)) + trex(1, 3000)));
    EXPECT_NEAR(*durationOf(file(withMehd + chained)), 12.345, 1e-9);
}

TEST(MediaDuration, TrackRunsWithoutPerSampleDurationsUseTheDefaults) {
    const std::string moov = box("moov", mvhd(1000, 0) + trak(1, 1000) + box("mvex", trex(1, 40)));
    // trun with no optional fields: 25 samples of the trex default (40 ms) = 1 s each.
    const std::string run = fullBox("trun", 0, 0, be32(25));
    std::string fragments;
    for (int f = 0; f < 2; ++f)
        fragments +=
            box("moof", box("traf", fullBox("tfhd", 0, 0, be32(1)) + run)) + box("mdat", "");
    EXPECT_NEAR(*durationOf(file(moov + fragments)), 2.0, 1e-9);
    // tfhd's own default wins over trex.
    const std::string ownDefault =
        box("moof", box("traf", fullBox("tfhd", 0, 0x08, be32(1) + be32(80)) + run));
    EXPECT_NEAR(*durationOf(file(moov + ownDefault)), 2.0, 1e-9);
}

TEST(MediaDuration, NoUsableDurationGivesNothing) {
    EXPECT_FALSE(durationOf({}));
    EXPECT_FALSE(durationOf(file("")));
    // Zero duration, no fragments.
    EXPECT_FALSE(durationOf(file(box("moov", mvhd(1000, 0)))));
    // A zero time scale cannot be divided by.
    EXPECT_FALSE(durationOf(file(box("moov", mvhd(0, 5000)))));
    // Fragments of a track the movie box never declared.
    EXPECT_FALSE(durationOf(file(box("moov", mvhd(1000, 0)) + box("moof", traf(7, 0, 10, 100)))));
    // The unknown-duration marker is not a length.
    EXPECT_FALSE(durationOf(file(box("moov", mvhd(1000, 0xFFFFFFFFu)))));
}

TEST(MediaDuration, DamagedFilesNeverReadOutsideTheirBoxes) {
    const std::string moov = box("moov", mvhd(1000, 0) + trak(1, 1000));
    // A run that claims far more samples than its box holds is ignored.
    const std::string hugeRun =
        box("moof", box("traf", fullBox("tfhd", 0, 0, be32(1)) +
                                    fullBox("trun", 0, 0x100, be32(0x7FFFFFFF) + be32(5))));
    EXPECT_FALSE(durationOf(file(moov + hugeRun)));

    // A movie box cut short: its header is gone, nothing is read past the end.
    auto cut = file(box("moov", mvhd(1000, 60000)));
    cut.resize(cut.size() - 50);
    EXPECT_FALSE(durationOf(cut));

    // Every prefix and random damage of a good file is survived.
    auto good = file(moov + box("moof", traf(1, 0, 30, 33)) + box("mdat", "abc"));
    for (std::size_t n = 0; n <= good.size(); ++n)
        (void)durationOf(std::vector<std::byte>(good.begin(), good.begin() + n));
    std::mt19937 rng(17);
    for (int round = 0; round < 2000; ++round) {
        auto bent = good;
        for (int k = 0; k < 4; ++k)
            bent[rng() % bent.size()] = std::byte(rng());
        if (auto d = durationOf(bent)) {
            EXPECT_GE(*d, 0.0);
        }
    }
}

}  // namespace
}  // namespace orvik::trips
