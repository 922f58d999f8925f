// Thumbnails of a recording's moments: the right keyframe, scaled, cached per recording, and
// nothing but clear errors from damaged files and cache entries.
#include "thumbnails/thumbnail.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "samplecard/recording_writer.h"
#include "support/test_support.h"

namespace orvik::thumbnails {
namespace {

namespace fs = std::filesystem;

// Four seconds at 10 fps, a keyframe every second; the picture moves as time goes on.
std::string recording(const orvik::test::TempDir& dir, const std::string& name) {
    tools::RecordingSpec spec;
    spec.width = 320;
    spec.height = 180;
    spec.fps = 10;
    spec.durationSeconds = 4.0;
    spec.audio = false;
    const std::string path = dir.str() + "/" + name;
    auto written = tools::writeRecording(path, spec);
    EXPECT_TRUE(written.ok()) << written.error();
    return path;
}

long difference(const Thumbnail& a, const Thumbnail& b) {
    long d = 0;
    for (std::size_t i = 0; i < std::min(a.rgb.size(), b.rgb.size()); ++i)
        d += std::abs(a.rgb[i] - b.rgb[i]);
    return d;
}

TEST(Thumbnail, TheKeyframeAtOrBeforeTheMomentScaledToTheWidthAsked) {
    orvik::test::TempDir dir;
    const std::string path = recording(dir, "r.mp4");
    auto early = decodeThumbnail(path, 1.5, 160);
    ASSERT_TRUE(early) << early.error();
    EXPECT_EQ(early->width, 160);
    EXPECT_EQ(early->height, 90);
    EXPECT_EQ(early->rgb.size(), 160u * 90 * 3);
    EXPECT_NEAR(early->keyframeSeconds, 1.0, 0.051);
    // Within one group of pictures the same keyframe; the next second another picture.
    auto sameGroup = decodeThumbnail(path, 1.9, 160);
    auto later = decodeThumbnail(path, 3.2, 160);
    ASSERT_TRUE(sameGroup && later);
    EXPECT_EQ(sameGroup->rgb, early->rgb);
    EXPECT_NEAR(later->keyframeSeconds, 3.0, 0.051);
    EXPECT_GT(difference(*later, *early), 0);
    // Out-of-range moments and widths are clamped, never an error.
    auto before = decodeThumbnail(path, -7, 4);
    ASSERT_TRUE(before);
    EXPECT_EQ(before->width, kMinWidth);
    EXPECT_NEAR(before->keyframeSeconds, 0.0, 0.051);
    auto after = decodeThumbnail(path, 1e9, 100000);
    ASSERT_TRUE(after) << after.error();
    EXPECT_EQ(after->width, kMaxWidth);
    EXPECT_NEAR(after->keyframeSeconds, 3.0, 0.051);
}

TEST(Thumbnail, WhatIsNoRecordingGivesAClearError) {
    orvik::test::TempDir dir;
    EXPECT_FALSE(decodeThumbnail(dir.str() + "/missing.mp4", 0));
    EXPECT_FALSE(decodeThumbnail(dir.str(), 0));  // a folder
    std::mt19937 random(7);
    std::string noise(50000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    std::ofstream(dir.str() + "/noise.mp4", std::ios::binary) << noise;
    auto r = decodeThumbnail(dir.str() + "/noise.mp4", 1);
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find("noise.mp4"), std::string::npos) << r.error();
    // Cut in the middle: the first keyframe is still there.
    const std::string whole = recording(dir, "whole.mp4");
    fs::copy_file(whole, dir.str() + "/cut.mp4");
    fs::resize_file(dir.str() + "/cut.mp4", fs::file_size(whole) / 2);
    auto cut = decodeThumbnail(dir.str() + "/cut.mp4", 0.5);
    EXPECT_TRUE(cut) << cut.error();
}

TEST(ThumbnailPpm, RoundTripsAndRefusesDamage) {
    Thumbnail t;
    t.width = 3;
    t.height = 2;
    t.rgb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    const std::string ppm = encodePpm(t);
    auto back = decodePpm(ppm);
    ASSERT_TRUE(back) << back.error();
    EXPECT_EQ(back->width, 3);
    EXPECT_EQ(back->height, 2);
    EXPECT_EQ(back->rgb, t.rgb);
    for (const std::string& bad :
         {std::string(), std::string("P5\n3 2\n255\n"), ppm.substr(0, ppm.size() - 1), ppm + "x",
          std::string("P6\n3 2\n65535\n") + std::string(36, 'a'), std::string("P6\n-3 2\n255\n"),
          std::string("P6\n99999999999 2\n255\n"), std::string("P6\n100000 100000\n255\n"),
          std::string("P6\n3 2\n255")})
        EXPECT_FALSE(decodePpm(bad)) << bad.substr(0, 20);
    // Every truncation of a good file is refused, none crashes.
    for (std::size_t n = 0; n < ppm.size(); ++n)
        EXPECT_FALSE(decodePpm(ppm.substr(0, n))) << n;
}

TEST(ThumbnailCache, OneFolderPerRecordingAndANewOneForAReplacedFile) {
    orvik::test::TempDir dir;
    const std::string path = recording(dir, "alwa_20260314_081500_F.mp4");
    const ThumbnailCache cache(dir.path() / "cache");
    auto first = cache.get(path, 2.4, 128);
    ASSERT_TRUE(first) << first.error();
    const fs::path file = cache.fileFor(path, 2.4, 128);
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(file.filename(), "128-2.ppm");
    EXPECT_EQ(file.parent_path().parent_path(), dir.path() / "cache");
    // The same second comes from the file; a damaged entry is decoded and written again.
    auto again = cache.get(path, 2.9, 128);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->rgb, first->rgb);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << "P6\n128 72\n255\nshort";
    auto mended = cache.get(path, 2.1, 128);
    ASSERT_TRUE(mended);
    EXPECT_EQ(mended->rgb, first->rgb);
    EXPECT_TRUE(decodePpm(std::string(
        std::istreambuf_iterator<char>(*std::make_unique<std::ifstream>(file, std::ios::binary)),
        {})));
    // The card's next loop writes another recording under the same name: another folder.
    fs::remove(path);
    tools::RecordingSpec other;
    other.durationSeconds = 5.0;
    other.audio = false;
    ASSERT_TRUE(tools::writeRecording(path, other).ok());
    EXPECT_NE(cache.fileFor(path, 2.4, 128).parent_path(), file.parent_path());
    // A cache that cannot be written still gives the picture.
    std::ofstream(dir.str() + "/blocked") << "x";
    const ThumbnailCache blocked(dir.path() / "blocked" / "cache");
    EXPECT_TRUE(blocked.get(path, 1, 64));
    EXPECT_TRUE(cache.fileFor(dir.str() + "/missing.mp4", 1, 64).empty());
}

}  // namespace
}  // namespace orvik::thumbnails
