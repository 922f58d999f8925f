// The one partner rule: which camera a recording comes from and which file is its other channel.
#include "recordings/partner.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace orvik::recordings {
namespace {

using orvik::test::TempDir;

TEST(PartnerRule, TheLetterInFrontOfTheExtensionNamesTheOtherChannel) {
    const auto front = channelOfRecording("/card/event_20190305_142233_F.mp4");
    EXPECT_TRUE(front.front);
    EXPECT_EQ(front.partnerPath, "/card/event_20190305_142233_R.mp4");
    const auto rear = channelOfRecording("/card/evtLR_20190305_142233_R.mp4");
    EXPECT_FALSE(rear.front);
    EXPECT_EQ(rear.partnerPath, "/card/evtLR_20190305_142233_F.mp4");
    // An Unknown name has no channel letter: it counts as rear, and the character in the letter
    // slot is replaced whatever it is.
    const auto unknown = channelOfRecording("/card/clip1.mp4");
    EXPECT_FALSE(unknown.front);
    EXPECT_EQ(unknown.partnerPath, "/card/clipF.mp4");
    // The catalogue's row gives the same answer as its path.
    const RecordingFile row =
        parseRecordingName("alwa_20240101_080000_F.MP4", "/c/alwa_20240101_080000_F.MP4");
    EXPECT_EQ(channelOfRecording(row).partnerPath, "/c/alwa_20240101_080000_R.MP4");
}

TEST(PartnerRule, ARecordingIsNeverItsOwnPartner) {
    // Outside the camera's grammar the channel is empty (rear), and the slot already holds "F".
    const auto self = channelOfRecording("/card/drive_F.mp4");
    EXPECT_FALSE(self.front);
    EXPECT_FALSE(self.partnerPath);
    // Too short to have a letter slot, or a slot outside the file name.
    EXPECT_FALSE(channelOfRecording("a.mp").partnerPath);
    EXPECT_FALSE(channelOfRecording("/x/.mp4").partnerPath);
    EXPECT_EQ(channelOfRecording("a.mp4").partnerPath, "F.mp4");
}

TEST(PartnerRule, TheSlotIsOneCharacterNotOneByte) {
    // The whole character before the extension is replaced, as in the camera's UTF-16 names.
    EXPECT_EQ(channelOfRecording("/card/주행영상.mp4").partnerPath, "/card/주행영F.mp4");
    EXPECT_EQ(channelOfRecording("/카드/x_é.mp4").partnerPath, "/카드/x_F.mp4");
}

TEST(PartnerRule, PairsPlayFrontFirstAndOnlyWithAPartnerThatIsThere) {
    TempDir d;
    const std::string front = d.touch("event_20190305_142233_F.mp4").string();
    auto alone = pairRecording(front);
    EXPECT_FALSE(alone.paired());
    EXPECT_TRUE(alone.givenIsFront);
    EXPECT_EQ(alone.front, front);

    const std::string rear = d.touch("event_20190305_142233_R.mp4").string();
    for (const std::string& given : {front, rear}) {
        const auto pair = pairRecording(given);
        ASSERT_TRUE(pair.paired()) << given;
        EXPECT_EQ(pair.front, front);
        EXPECT_EQ(pair.rear, rear);
        EXPECT_EQ(pair.givenIsFront, given == front);
    }

    // A rear recording without its front plays alone, in the front player.
    const std::string lone = d.touch("alwa_20190305_150000_R.mp4").string();
    const auto rearAlone = pairRecording(lone);
    EXPECT_FALSE(rearAlone.paired());
    EXPECT_FALSE(rearAlone.givenIsFront);
    EXPECT_EQ(rearAlone.front, lone);

    // drive_F.mp4 exists, and the rule names that very file: still no partner.
    const std::string self = d.touch("drive_F.mp4").string();
    EXPECT_FALSE(pairRecording(self).paired());
}

}  // namespace
}  // namespace orvik::recordings
