#include "displays/gsensor_graph.h"

#include <gtest/gtest.h>

#include "displays/qt_app.h"

namespace orvik::displays {
namespace {

using recordings::AccelSample;

const QColor kBackground(28, 28, 28);
const QColor kGrid(160, 160, 160);
const QColor kRed(255, 0, 0);
const QColor kWhite(255, 255, 255);

QColor at(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}

bool anyPixel(const QImage& image, QRect area, const QColor& colour) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixelColor(x, y) == colour) {
                return true;
            }
        }
    }
    return false;
}

class GSensorGraphTest : public ::testing::Test {
  protected:
    void SetUp() override { testApplication(); }
};

TEST_F(GSensorGraphTest, PlacedAsControl1013) {
    GSensorGraph graph;
    EXPECT_EQ(graph.geometry(), QRect(15, 425, 646, 130));
    EXPECT_EQ(graph.property("controlId").toInt(), 1013);
    EXPECT_EQ(graph.samplesPerPage(), 600);
    EXPECT_EQ(graph.cursor(), 0);
}

TEST_F(GSensorGraphTest, EmptyGraphDrawsGridCursorAndZeroReadout) {
    GSensorGraph graph;
    graph.setSamples(nullptr);
    EXPECT_EQ(graph.samplesPerPage(), 1);
    EXPECT_EQ(graph.pageCount(), 0);
    const QImage image = graph.renderImage();
    EXPECT_EQ(at(image, 300, 20), kBackground);
    for (int y : {10, 30, 50, 70, 90}) {
        EXPECT_EQ(at(image, 300, y), kGrid) << y;
    }
    EXPECT_EQ(at(image, 20, 60), kGrid);  // axis drawn over the cursor at x = 20
    EXPECT_EQ(graph.cursorX(), 20);
    EXPECT_TRUE(anyPixel(image, QRect(20, 100, 200, 20), kRed));                // "X=+0.00"
    EXPECT_TRUE(anyPixel(image, QRect(0, 0, 20, 100), QColor(128, 128, 128)));  // scale labels
}

TEST_F(GSensorGraphTest, OneSampleHasTwoSlots) {
    std::vector<AccelSample> samples{{1.0f, 0.0f, 0.0f}};
    GSensorGraph graph;
    graph.setSamples(&samples);
    EXPECT_EQ(graph.samplesPerPage(), 2);
    EXPECT_EQ(graph.pageCount(), 1);
    EXPECT_EQ(graph.sampleX(0), 20);
    graph.setCursor(1);  // a seek release at the end with one sample
    EXPECT_EQ(graph.cursorX(), 320);
    EXPECT_EQ(graph.pageIndex(), 0);
}

TEST_F(GSensorGraphTest, FiftyNineSamplesSpanTheWidth) {
    std::vector<AccelSample> samples(59, AccelSample{1.5f, 0.0f, 0.0f});
    samples[40] = AccelSample{-2.5f, 0.0f, 0.0f};
    GSensorGraph graph;
    graph.setSamples(&samples);
    EXPECT_EQ(graph.samplesPerPage(), 60);
    EXPECT_EQ(graph.sampleX(1), 30);
    EXPECT_EQ(graph.sampleX(58), 600);

    const QImage image = graph.renderImage();
    EXPECT_EQ(at(image, 310, 20), kRed);  // 1.5 g at y = 50 - 30
    // -2.5 g runs down to the -2 g line at y = 90 and stops there: nothing below the frame.
    EXPECT_TRUE(anyPixel(image, QRect(410, 85, 11, 6), kRed));
    EXPECT_FALSE(anyPixel(image, QRect(400, 91, 41, 10), kRed));
    EXPECT_EQ(at(image, 600, 20), kRed);  // the last sample

    graph.setCursor(58);  // seek-bar release at the very end
    EXPECT_EQ(graph.cursorX(), 20 + 58 * 600 / 60);
    const QImage end = graph.renderImage();
    EXPECT_EQ(at(end, 600, 80), kWhite);
    EXPECT_EQ(at(end, 600, 20), kWhite);  // the cursor is drawn over the curves
}

TEST_F(GSensorGraphTest, ReadoutShowsTheCursorSampleOrZeros) {
    std::vector<AccelSample> samples{{0.0f, 0.0f, 0.0f}, {1.99f, -1.25f, 0.5f}};
    GSensorGraph graph;
    graph.setSamples(&samples);
    const QImage zero = graph.renderImage();
    graph.setCursor(1);
    const QImage one = graph.renderImage();
    graph.setCursor(7);  // beyond the samples: zeros again
    const QImage beyond = graph.renderImage();
    const QRect row(20, 100, 600, 22);
    EXPECT_NE(zero.copy(row), one.copy(row));
    EXPECT_EQ(zero.copy(row), beyond.copy(row));
}

TEST_F(GSensorGraphTest, ResetReturnsTheCursorAndFollowsTheNewCount) {
    std::vector<AccelSample> samples(10);
    GSensorGraph graph;
    graph.setSamples(&samples);
    graph.setCursor(9);
    samples.resize(100);
    graph.reset();
    EXPECT_EQ(graph.cursor(), 0);
    EXPECT_EQ(graph.samplesPerPage(), 101);
    samples.clear();
    graph.reset();
    EXPECT_EQ(graph.samplesPerPage(), 1);
}

TEST_F(GSensorGraphTest, HostileValuesAreDrawnWithoutOverflow) {
    std::vector<AccelSample> samples{{1e30f, -1e30f, 0.0f / 0.0f}, {8e6f, 0, 0}};
    GSensorGraph graph;
    graph.setSamples(&samples);
    graph.setCursor(0);
    const QImage image = graph.renderImage();
    EXPECT_EQ(image.size(), QSize(646, 130));
}

}  // namespace
}  // namespace orvik::displays
