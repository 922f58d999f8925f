#include "shell/skin.h"

#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include "gui_test_support.h"

namespace orvik::shell {
namespace {

class SkinTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::app(); }
    const SkinRegistry& reg() { return SkinRegistry::instance(); }
};

TEST_F(SkinTest, PicturesHaveTheirFixedSizes) {
    struct {
        int id;
        QSize size;
    } fixed[] = {{skin::kBackground, {1021, 645}}, {skin::kThumb, {13, 13}},
                 {skin::kProgress, {595, 8}},      {skin::kFrontPicture, {646, 363}},
                 {skin::kRearPicture, {326, 246}}, {skin::kPanel, {326, 61}},
                 {skin::kTitle, {452, 44}},        {skin::kStretchBackground, {1, 645}},
                 {skin::kControlPanel, {656, 90}}, {skin::kListIcons, {318, 16}}};
    for (const auto& f : fixed) {
        const SkinImage* img = reg().image(f.id);
        ASSERT_TRUE(img) << f.id;
        EXPECT_FALSE(img->isNull()) << img->resourceName().toStdString();
        EXPECT_EQ(img->size(), f.size) << img->resourceName().toStdString();
    }
    EXPECT_EQ(reg().image(skin::kListIcons)->sliceSize(), QSize(53, 16));
    EXPECT_EQ(reg().image(skin::kListIcons)->sliceCount(), 6);
}

TEST_F(SkinTest, ButtonPicturesHoldOneSlicePerStateAtTheButtonsSize) {
    struct {
        int id;
        int slices;
        QSize slice;
    } buttons[] = {{skin::kClose, 3, {35, 33}},
                   {skin::kMinimize, 3, {31, 33}},
                   {skin::kMaximize, 3, {32, 33}},
                   {skin::kInformationTab, 2, {167, 29}},
                   {skin::kRecordTab, 2, {167, 29}},
                   {skin::kClockButton, 3, {54, 47}},
                   {skin::kOpenButton, 3, {56, 47}},
                   {skin::kSnapshotButton, 3, {54, 47}},
                   {skin::kConfigurationButton, 3, {54, 47}},
                   {skin::kFullScreenButton, 3, {39, 33}},
                   {skin::kRewindButton, 3, {23, 26}},
                   {skin::kPlayButton, 3, {23, 26}},
                   {skin::kPauseButton, 3, {23, 26}},
                   {skin::kSwapButton, 3, {39, 33}},
                   {skin::kFastForwardButton, 3, {23, 26}},
                   {skin::kPreviousEventButton, 3, {23, 26}},
                   {skin::kNextEventButton, 3, {23, 26}},
                   {skin::kSpeedPlusButton, 3, {16, 20}},
                   {skin::kSpeedMinusButton, 3, {16, 20}},
                   {skin::kZoomInButton, 3, {16, 20}},
                   {skin::kZoomOutButton, 3, {16, 20}}};
    for (const auto& b : buttons) {
        const SkinImage* img = reg().image(b.id);
        ASSERT_TRUE(img) << b.id;
        EXPECT_EQ(img->sliceCount(), b.slices) << b.id;
        EXPECT_EQ(img->sliceSize(), b.slice) << img->resourceName().toStdString();
        // The states differ: a hover or pressed look that equals normal would be invisible.
        EXPECT_NE(img->slice(0).toImage(), img->slice(1).toImage()) << b.id;
    }
}

TEST_F(SkinTest, MagentaIsSeeThroughOnlyWhereAsked) {
    const QImage thumb = reg().image(skin::kThumb)->slice(0).toImage();
    EXPECT_EQ(qAlpha(thumb.pixel(0, 0)), 0) << "corner of the round thumb";
    EXPECT_EQ(qAlpha(thumb.pixel(6, 6)), 255);
    const QImage icons = reg().image(skin::kListIcons)->slice(0).toImage();
    EXPECT_EQ(qAlpha(icons.pixel(52, 8)), 0) << "right of the badge";
    EXPECT_EQ(qAlpha(icons.pixel(10, 8)), 255);
}

TEST_F(SkinTest, MissingOrSliceOutOfRangeDrawsNothing) {
    SkinImage missing(QStringLiteral("no-such.bmp"), 3);
    EXPECT_TRUE(missing.isNull());
    QImage target(20, 20, QImage::Format_RGB32);
    target.fill(Qt::red);
    QPainter p(&target);
    missing.drawSlice(p, 0, {0, 0});
    missing.draw(p, {0, 0});
    reg().image(skin::kListIcons)->drawSlice(p, 6, {0, 0});  // User/Unknown rows: no icon
    p.end();
    EXPECT_EQ(target.pixel(5, 5), QColor(Qt::red).rgb());
}

TEST_F(SkinTest, FontsAndCachedTexts) {
    EXPECT_EQ(reg().font(skin::kFontList).pixelSize(), 14);
    EXPECT_EQ(reg().font(skin::kFontLarge).pixelSize(), 17);
    EXPECT_EQ(reg().font(skin::kFont10pt).pointSize(), 10);
    EXPECT_EQ(reg().font(skin::kFont15pt).pointSize(), 15);
    EXPECT_EQ(reg().font(skin::kFont16pt).pointSize(), 16);
    EXPECT_EQ(reg().cachedTextIds().size(), 106u);
    EXPECT_EQ(reg().cachedTextIds().front(), 258);
    EXPECT_EQ(reg().cachedTextIds().back(), 373);
    EXPECT_EQ(reg().text(287), "Zoom In");
    EXPECT_EQ(reg().text(259), "") << "an id without an entry caches an empty text";
}

TEST_F(SkinTest, ButtonShowsNormalHoverAndPressedSlices) {
    SkinButton b(1005);
    b.setImageId(skin::kOpenButton);
    b.resize(56, 47);
    b.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&b));
    EXPECT_EQ(b.currentSlice(), 0);
    QMouseEvent move(QEvent::MouseMove, QPointF(10, 10), b.mapToGlobal(QPointF(10, 10)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&b, &move);
    EXPECT_TRUE(b.isHovered());
    EXPECT_EQ(b.currentSlice(), 1);
    b.setDown(true);
    EXPECT_EQ(b.currentSlice(), 2);
    b.setDown(false);
    // A two-slice picture has no hover look.
    b.setImageId(skin::kRecordTab);
    b.setTabState(1, 0);
    EXPECT_EQ(b.currentSlice(), 1);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&b, &leave);
    EXPECT_FALSE(b.isHovered());
}

TEST_F(SkinTest, SliderKeepsA64BitRangeAndClamps) {
    SkinSlider s(1012);
    EXPECT_EQ(s.position(), 0);
    const std::int64_t hour = 36'000'000'000LL;  // one hour in 100 ns units
    s.setRange(0, hour);
    s.setPosition(hour / 2);
    EXPECT_EQ(s.position(), hour / 2);
    s.setPosition(hour * 4);
    EXPECT_EQ(s.position(), hour);
    s.setPosition(-5);
    EXPECT_EQ(s.position(), 0);
    s.setRange(7, 7);
    EXPECT_EQ(s.position(), 0) << "reads 0 while minimum equals maximum";
}

TEST_F(SkinTest, ReleasingTheThumbReportsCode276) {
    SkinSlider s(1018);
    s.setRange(0, 99);
    s.resize(59, 13);
    s.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&s));
    QSignalSpy spy(&s, &SkinSlider::notify);
    QTest::mousePress(&s, Qt::LeftButton, {}, {6, 6});
    EXPECT_TRUE(s.isPressed());
    EXPECT_EQ(s.position(), 0);
    QTest::mouseMove(&s, {52, 6});
    EXPECT_EQ(spy.count(), 0) << "nothing is reported while the thumb is held";
    QTest::mouseRelease(&s, Qt::LeftButton, {}, {52, 6});
    EXPECT_FALSE(s.isPressed());
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy[0][0].toInt(), 1018);
    EXPECT_EQ(spy[0][1].toInt(), 276);
    EXPECT_EQ(s.position(), 99);
}

TEST_F(SkinTest, MarksAreDrawnAtTheirPositionsInTheirColours) {
    SkinSlider s(1012);
    s.setRange(0, 1000);
    s.resize(595, 13);
    s.setMarks({{250, SliderMarkKind::Event},
                {750, SliderMarkKind::Impact},
                {500, SliderMarkKind::In},
                {5000, SliderMarkKind::Out}});  // beyond the range: not drawn
    s.setPosition(0);
    const QImage img = s.grab().toImage();
    // The thumb centre at a position is where its mark is drawn.
    EXPECT_EQ(s.centreX(0), 6);
    EXPECT_EQ(s.centreX(1000), 588);
    EXPECT_EQ(s.centreX(250), 6 + (582 * 250 + 500) / 1000);
    EXPECT_EQ(QColor(img.pixel(s.centreX(250), 6)), SkinSlider::markColour(SliderMarkKind::Event));
    EXPECT_EQ(QColor(img.pixel(s.centreX(750), 6)), SkinSlider::markColour(SliderMarkKind::Impact));
    EXPECT_EQ(QColor(img.pixel(s.centreX(500), 6)), SkinSlider::markColour(SliderMarkKind::In));
    // Between marks the groove shows.
    EXPECT_NE(QColor(img.pixel(s.centreX(400), 6)), SkinSlider::markColour(SliderMarkKind::Event));
    // Marks take no clicks: a press on one moves the thumb there like anywhere else.
    s.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&s));
    QTest::mouseClick(&s, Qt::LeftButton, {}, {s.centreX(750), 6});
    EXPECT_NEAR(static_cast<double>(s.position()), 750.0, 2.0);
    s.setMarks({});
    EXPECT_TRUE(s.marks().empty());
}

}  // namespace
}  // namespace orvik::shell
