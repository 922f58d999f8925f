// Where the core must draw the whole picture so that exactly the source rectangle shows.
#include <gtest/gtest.h>

#include <cmath>

#include "playback/video_renderer.h"

namespace orvik::playback {
namespace {

// Screen position of a native pixel under mpv's rule: fit the picture, scale by 2^zoom, centre,
// move by pan times the scaled size.
struct Placed {
    double left, top, scale;
};

Placed place(const VideoLayout& l, double W, double H, double tw, double th) {
    const double fit = std::min(tw / W, th / H);
    const double k = fit * std::pow(2.0, l.zoom);
    return {(tw - W * k) / 2 + l.panX * W * k, (th - H * k) / 2 + l.panY * H * k, k};
}

TEST(VideoLayout, WholePictureIntoItsOwnShapeIsMpvsDefault) {
    const auto l = computeVideoLayout(1280, 720, nullptr, nullptr, 640, 360);
    ASSERT_TRUE(l.valid);
    EXPECT_NEAR(l.zoom, 0, 1e-12);
    EXPECT_NEAR(l.panX, 0, 1e-12);
    EXPECT_NEAR(l.panY, 0, 1e-12);
    EXPECT_EQ(l.visible, (VideoRect{0, 0, 640, 360}));
}

TEST(VideoLayout, CentredCropIsLog2ZoomAndHalfMinusCentrePan) {
    // A quarter of the picture, right of and below the centre, in a pane of the same shape.
    const VideoRect src{640, 360, 960, 540};
    const auto l = computeVideoLayout(1280, 720, &src, nullptr, 640, 360);
    EXPECT_NEAR(l.zoom, std::log2(1 / 0.25), 1e-12);
    EXPECT_NEAR(l.panX, 0.5 - 0.625, 1e-12);
    EXPECT_NEAR(l.panY, 0.5 - 0.625, 1e-12);
    const Placed p = place(l, 1280, 720, 640, 360);
    EXPECT_NEAR(p.left + 640 * p.scale, 0, 1e-9);  // source's left edge at the pane's left
    EXPECT_NEAR(p.top + 360 * p.scale, 0, 1e-9);
    EXPECT_NEAR(p.left + 960 * p.scale, 640, 1e-9);
    EXPECT_EQ(l.visible, (VideoRect{0, 0, 640, 360}));
}

TEST(VideoLayout, SourceOfAnotherShapeIsLetterboxed) {
    // Tall crop into a wide pane: bars left and right, nothing of the rest of the picture.
    const VideoRect src{0, 0, 320, 360};
    const auto l = computeVideoLayout(1280, 720, &src, nullptr, 640, 360);
    const Placed p = place(l, 1280, 720, 640, 360);
    EXPECT_NEAR(p.scale, 1.0, 1e-12);
    EXPECT_NEAR(p.left, 160, 1e-9);
    EXPECT_NEAR(p.top, 0, 1e-9);
    EXPECT_EQ(l.visible, (VideoRect{160, 0, 480, 360}));
}

TEST(VideoLayout, DestinationInsideTheTarget) {
    const VideoRect dst{100, 50, 420, 230};
    const auto l = computeVideoLayout(640, 360, nullptr, &dst, 800, 600);
    const Placed p = place(l, 640, 360, 800, 600);
    EXPECT_NEAR(p.left, 100, 1e-9);
    EXPECT_NEAR(p.top, 50, 1e-9);
    EXPECT_NEAR(p.scale, 0.5, 1e-12);
    EXPECT_EQ(l.visible, dst);
}

TEST(VideoLayout, SourceIsClippedToThePicture) {
    const VideoRect beyond{-100, -50, 2000, 900};
    const auto clipped = computeVideoLayout(1280, 720, &beyond, nullptr, 640, 360);
    const auto whole = computeVideoLayout(1280, 720, nullptr, nullptr, 640, 360);
    EXPECT_NEAR(clipped.zoom, whole.zoom, 1e-12);
    EXPECT_NEAR(clipped.panX, whole.panX, 1e-12);
    // A source with nothing left in it shows the whole picture.
    const VideoRect outside{2000, 0, 2100, 100};
    const auto none = computeVideoLayout(1280, 720, &outside, nullptr, 640, 360);
    EXPECT_NEAR(none.zoom, 0, 1e-12);
}

TEST(VideoLayout, UnknownSizesGiveNoLayout) {
    EXPECT_FALSE(computeVideoLayout(0, 720, nullptr, nullptr, 640, 360).valid);
    EXPECT_FALSE(computeVideoLayout(1280, 720, nullptr, nullptr, 0, 360).valid);
}

}  // namespace
}  // namespace orvik::playback
