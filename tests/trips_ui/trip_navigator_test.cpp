// The navigator over a card: trips found in the background, the playing recording located in
// its trip by any of its files, the route sent for the map, and where route clicks and event
// jumps lead.
#include "trips/ui/trip_navigator.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <chrono>
#include <cstdio>
#include <memory>

#include "support/test_support.h"
#include "trips/trip_card.h"

namespace orvik::trips::ui {
namespace {

using namespace trips::testing;

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "trips_ui_navigator";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

class Navigator : public ::testing::Test {
  protected:
    void SetUp() override {
        app();
        // Trip 1: three one-minute recordings, the middle one an event with an impact at record
        // 330 (of 660); trip 2 alone ten minutes later; a parked recording between them.
        ASSERT_TRUE(writePlainRecording(path("alwa_20260314_081500_F.mp4"), 60));
        ASSERT_TRUE(writePlainRecording(path("alwa_20260314_081500_R.mp4"), 60));
        ASSERT_TRUE(writeRecording(path("event_20260314_081600_F.mp4"), 60,
                                   [](std::size_t f, std::size_t s) {
                                       auto r = quietRecord(f, s);
                                       if (f * 11 + s == 330)
                                           r->accelX = 300;
                                       return r;
                                   }));
        ASSERT_TRUE(writePlainRecording(path("event_20260314_081600_R.mp4"), 60));
        ASSERT_TRUE(writePlainRecording(path("alwa_20260314_081700_F.mp4"), 60));
        ASSERT_TRUE(writePlainRecording(path("motion_20260314_082000_F.mp4"), 60));
        ASSERT_TRUE(writePlainRecording(path("alwa_20260314_083000_F.mp4"), 60));
        nav_.setCacheFolder(QString::fromStdString(cache_.str()));
    }
    QString qpath(const std::string& name) { return QString::fromStdString(path(name).string()); }
    std::filesystem::path path(const std::string& name) { return card_.path() / name; }
    void openCard() {
        QSignalSpy found(&nav_, &TripNavigator::tripsFound);
        nav_.setCard(QString::fromStdString(card_.str()));
        EXPECT_FALSE(nav_.tripsReady());
        ASSERT_TRUE(found.wait(20000));
        ASSERT_TRUE(nav_.tripsReady());
    }

    orvik::test::TempDir card_;
    orvik::test::TempDir cache_;
    TripNavigator nav_;
};

TEST_F(Navigator, FindsTheTripOfThePlayingRecordingAndItsRoute) {
    // Playing before the trips are known: located as soon as they are.
    nav_.setPlaying(qpath("event_20260314_081600_R.mp4"));
    EXPECT_EQ(nav_.currentTrip(), nullptr);
    QSignalSpy routes(&nav_, &TripNavigator::routeChanged);
    openCard();
    EXPECT_EQ(nav_.trips().size(), 2u);
    ASSERT_NE(nav_.currentTrip(), nullptr);
    EXPECT_EQ(nav_.currentRecording(), 1u);
    EXPECT_EQ(nav_.currentTrip()->recordings.size(), 3u);

    if (routes.isEmpty()) {
        ASSERT_TRUE(routes.wait(20000));
    }
    const QString route = routes.last().at(0).toString();
    EXPECT_TRUE(route.startsWith("[[37.557028,126.864493,40,0,0.000]"))
        << route.left(80).toStdString();
    EXPECT_TRUE(route.contains(",2,60.000]")) << "the last recording's end is on the route";

    // The event at the recording's start and the impact in its middle.
    const auto events = nav_.playingEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], (PlayingEvent{EventKind::Event, 0}));
    EXPECT_EQ(events[1].kind, EventKind::Impact);
    EXPECT_DOUBLE_EQ(events[1].offsetSeconds, recordMoment(330, 660, 60));

    // Another recording of the same trip: no new route.
    routes.clear();
    nav_.setPlaying(qpath("alwa_20260314_081700_F.mp4"));
    EXPECT_EQ(nav_.currentRecording(), 2u);
    EXPECT_TRUE(nav_.playingEvents().empty());
    QCoreApplication::processEvents();
    EXPECT_TRUE(routes.isEmpty());

    // The lone trip: its own route. A parked recording: no trip, an empty route.
    nav_.setPlaying(qpath("alwa_20260314_083000_F.mp4"));
    ASSERT_TRUE(routes.wait(20000));
    EXPECT_TRUE(routes.last().at(0).toString().contains(",0,60.000]"));
    nav_.setPlaying(qpath("motion_20260314_082000_F.mp4"));
    EXPECT_EQ(nav_.currentTrip(), nullptr);
    ASSERT_EQ(routes.last().at(0).toString(), "[]");
}

TEST_F(Navigator, EventJumpsAndRouteClicksLeadToRecordingsOfTheTrip) {
    openCard();
    nav_.setPlaying(qpath("alwa_20260314_081500_F.mp4"));
    const double impact = recordMoment(330, 660, 60);
    // From the first recording forward: the event recording's start, then its impact.
    EXPECT_EQ(nav_.adjacentEvent(+1, 12), (TripTarget{qpath("event_20260314_081600_F.mp4"), 0}));
    nav_.setPlaying(qpath("event_20260314_081600_F.mp4"));
    EXPECT_EQ(nav_.adjacentEvent(+1, 0),
              (TripTarget{qpath("event_20260314_081600_F.mp4"), impact}));
    EXPECT_FALSE(nav_.adjacentEvent(+1, impact));
    EXPECT_EQ(nav_.adjacentEvent(-1, impact),
              (TripTarget{qpath("event_20260314_081600_F.mp4"), 0}));
    EXPECT_FALSE(nav_.adjacentEvent(-1, 0));

    EXPECT_EQ(nav_.routeTarget(2, 12.5), (TripTarget{qpath("alwa_20260314_081700_F.mp4"), 12.5}));
    EXPECT_EQ(nav_.routeTarget(0, 99), (TripTarget{qpath("alwa_20260314_081500_F.mp4"), 60}));
    EXPECT_FALSE(nav_.routeTarget(3, 0));
    EXPECT_FALSE(nav_.routeTarget(-1, 0));

    // Nothing playing: nowhere to go.
    nav_.setPlaying({});
    EXPECT_FALSE(nav_.adjacentEvent(+1, 0));
    EXPECT_FALSE(nav_.routeTarget(0, 0));
}

TEST_F(Navigator, TheRecordingThatFollowsInTheDrive) {
    openCard();
    // From the rear file too: the next moment's front file, whatever folder it is in.
    nav_.setPlaying(qpath("alwa_20260314_081500_R.mp4"));
    EXPECT_EQ(nav_.followingRecording(), qpath("event_20260314_081600_F.mp4"));
    nav_.setPlaying(qpath("event_20260314_081600_F.mp4"));
    EXPECT_EQ(nav_.followingRecording(), qpath("alwa_20260314_081700_F.mp4"));
    // The end of a trip, a lone trip, a parked recording, nothing: none follows (the parked one
    // ten minutes on is no part of the drive).
    nav_.setPlaying(qpath("alwa_20260314_081700_F.mp4"));
    EXPECT_EQ(nav_.followingRecording(), QString());
    nav_.setPlaying(qpath("alwa_20260314_083000_F.mp4"));
    EXPECT_EQ(nav_.followingRecording(), QString());
    nav_.setPlaying(qpath("motion_20260314_082000_F.mp4"));
    EXPECT_EQ(nav_.followingRecording(), QString());
    nav_.setPlaying({});
    EXPECT_EQ(nav_.followingRecording(), QString());
}

// A card big enough that its first scan takes a while: the navigator (and with it the window)
// goes at once, without waiting for the scan, which stops at its next recording.
TEST_F(Navigator, GoesAtOnceDuringABigFirstScan) {
    orvik::test::TempDir big;
    const std::filesystem::path one = path("alwa_20260314_081500_F.mp4");
    for (int i = 0; i < 3000; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "alwa_2026%02d%02d_%02d%02d00_F.mp4", 1 + i / 1000 % 12,
                      1 + i / 40 % 25, i / 60 % 24, i % 60);
        std::filesystem::create_hard_link(one, big.path() / name);
    }
    auto navigator = std::make_unique<TripNavigator>();
    navigator->setCacheFolder(QString::fromStdString(cache_.str()));
    QSignalSpy bigFound(navigator.get(), &TripNavigator::tripsFound);
    navigator->setCard(QString::fromStdString(big.str()));
    QCoreApplication::processEvents();
    EXPECT_EQ(bigFound.count(), 0) << "the scan takes longer than this";
    const auto start = std::chrono::steady_clock::now();
    navigator.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(Navigator, AnotherCardReplacesTheTrips) {
    openCard();
    orvik::test::TempDir other;
    QSignalSpy found(&nav_, &TripNavigator::tripsFound);
    nav_.setCard(QString::fromStdString(other.str()));
    ASSERT_TRUE(found.wait(20000));
    EXPECT_TRUE(nav_.trips().empty());
    nav_.setCard({});
    EXPECT_TRUE(nav_.trips().empty());
}

}  // namespace
}  // namespace orvik::trips::ui
