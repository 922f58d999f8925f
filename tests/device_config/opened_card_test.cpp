// The folder the user opened counts as a card after every removable one.
#include "device_config/opened_card.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "device_config/device_config.h"
#include "device_config/drive_route.h"
#include "device_config/time_file.h"
#include "support/test_support.h"

namespace dc = orvik::device_config;
using orvik::platform::Volume;
using orvik::test::TempDir;

namespace {

// A removable card with the given files, listed for the whole test.
struct Removable : orvik::platform::VolumeProvider {
    std::vector<Volume> volumes;
    std::vector<Volume> list() override { return volumes; }
    orvik::Result<void> setLabel(const Volume&, std::string_view) override { return {}; }
};

struct OpenedCard : ::testing::Test {
    void SetUp() override {
        removable = std::make_shared<Removable>();
        orvik::platform::setVolumeProvider(removable);
    }
    void TearDown() override {
        dc::setOpenedCard("");
        orvik::platform::setVolumeProvider(nullptr);
    }
    std::shared_ptr<Removable> removable;
};

void writeConfig(const std::string& path, std::uint32_t frontQuality) {
    dc::DeviceConfig c;
    c.setFrontQuality(frontQuality);
    ASSERT_TRUE(dc::writeConfigFile(path, c).saved());
}

}  // namespace

TEST_F(OpenedCard, TheRootIsTheOpenedFolderOrTheNearestOneAboveARecordingThatHoldsCardFiles) {
    TempDir dir;
    // A copy of a card: its files at the top, recordings one folder down.
    dir.touch("copy/DrvInfo/orvik_000.drv");
    const auto rec = dir.touch("copy/Normal/alwa_20260314_081500_F.mp4").string();
    EXPECT_EQ(dc::openedCardRoot(dir / "copy", {rec}), dir / "copy");
    // The recordings' folder opened: the card is the folder above it.
    EXPECT_EQ(dc::openedCardRoot(dir / "copy/Normal", {rec}), dir / "copy");
    // Only the time file marks it as well.
    dir.touch("other/timeset.cfg");
    const auto rec2 = dir.touch("other/Event/even_20260314_081500_F.mp4").string();
    EXPECT_EQ(dc::openedCardRoot(dir / "other/Event", {rec2}), dir / "other");
    // Nothing of a card anywhere: the opened folder itself.
    const auto loose = dir.touch("loose/a/drive_F.mp4").string();
    EXPECT_EQ(dc::openedCardRoot(dir / "loose", {loose}), dir / "loose");
    EXPECT_EQ(dc::openedCardRoot(dir / "loose", {}), dir / "loose");
    // A file named like the folder is no folder.
    dir.touch("fake/DrvInfo");
    EXPECT_FALSE(dc::holdsCardFiles(dir / "fake"));
    EXPECT_FALSE(dc::holdsCardFiles(""));
}

TEST_F(OpenedCard, ComesAfterEveryRemovableCardAndIsNeverRelabelled) {
    TempDir dir;
    const std::string opened = dir.mkdir("opened").string();
    writeConfig(opened + "/config_K7x7.bin", 0);
    dir.touch("opened/DrvInfo/orvik_000.drv");
    dir.touch("opened/timeset.cfg", "2026-03-14 08:15:00\n");
    dc::setOpenedCard(opened);

    // Without a removable card, the opened one's files are found; its label is left alone.
    dc::ConfigSession session;
    EXPECT_TRUE(session.locateOnCard(true));
    EXPECT_EQ(session.rememberedPath(), opened + "/config_K7x7.bin");
    EXPECT_EQ(session.image().frontQuality(), 0u);
    EXPECT_FALSE(std::filesystem::exists(opened + "/.volume-label"));
    EXPECT_EQ(dc::findDriveRouteOnCard(dc::cardVolumes()), opened + "/DrvInfo/orvik_000.drv");
    EXPECT_EQ(dc::findTimeFileOnCard(dc::cardVolumes()), opened + "/timeset.cfg");

    // A removable card that holds the files keeps its place before it.
    const std::string card = dir.mkdir("card").string();
    writeConfig(card + "/config_K7x7.bin", 2);
    dir.touch("card/timeset.cfg", "2026-03-14 08:15:00\n");
    Volume v;
    v.mountPoint = card;
    v.label = "ORVIK";
    v.simulated = true;
    removable->volumes = {v};
    ASSERT_EQ(dc::cardVolumes().size(), 2u);
    EXPECT_TRUE(dc::cardVolumes().back().openedFolder);
    dc::ConfigSession fromCard;
    EXPECT_TRUE(fromCard.locateOnCard(true));
    EXPECT_EQ(fromCard.rememberedPath(), card + "/config_K7x7.bin");
    EXPECT_EQ(dc::findTimeFileOnCard(dc::cardVolumes()), card + "/timeset.cfg");
    // Where the removable card lacks a file, the opened one still has it.
    EXPECT_EQ(dc::findDriveRouteOnCard(dc::cardVolumes()), opened + "/DrvInfo/orvik_000.drv");

    // Forgotten: only the removable cards again.
    dc::setOpenedCard("");
    EXPECT_EQ(dc::cardVolumes().size(), 1u);
}
