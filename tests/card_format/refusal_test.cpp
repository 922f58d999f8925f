// Which paths may be formatted at all: the refusals, each with its reason, on made-up disks and
// on this machine's real ones.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "card_format/card_format.h"
#include "card_format/fat32_formatter.h"
#include "fake_system.h"

namespace orvik::card_format {
namespace {
using testing::FakeSystem;
using ::testing::HasSubstr;

// Fake disks use the experimental majors 60/61, and only where this machine has no such device,
// so a refusal that went wrong could never reach a real disk.
#define REQUIRE_NODES(sys)  \
    if (!(sys).nodesWork()) \
    GTEST_SKIP() << "cannot make safe fake device nodes here (needs root)"

TEST(FormatTarget, RemovableCardAndItsMounts) {
    FakeSystem sys;
    sys.addDisk("sdb", 60, 16, true);
    sys.addPartition("sdb", "sdb1", 1, 60, 17, 8192, 62513152);
    REQUIRE_NODES(sys);
    sys.mount(60, 17, "/media/user/CARD\\040A", "/dev/sdb1");

    auto part = platform::assessFormatTarget(sys.node("sdb1"), sys.view());
    ASSERT_TRUE(part.ok()) << part.error();
    EXPECT_EQ(part->kind, platform::TargetKind::BlockDevice);
    EXPECT_EQ(part->disk, "sdb");
    EXPECT_EQ(part->partitionNumber, 1);
    EXPECT_EQ(part->sizeBytes, 62513152ull * 512);
    ASSERT_EQ(part->mounts.size(), 1u);
    EXPECT_EQ(part->mounts[0].mountPoint, "/media/user/CARD A");
    EXPECT_EQ(part->mounts[0].device, sys.node("sdb1"));

    // The whole disk carries the partition's mount with it.
    auto disk = platform::assessFormatTarget(sys.node("sdb"), sys.view());
    ASSERT_TRUE(disk.ok()) << disk.error();
    EXPECT_EQ(disk->partitionNumber, 0);
    EXPECT_EQ(disk->mounts.size(), 1u);

    // The formatter itself refuses a mounted card, before opening anything.
    std::ostringstream out, err;
    FormatOptions o;
    o.out = &out;
    o.err = &err;
    o.view = sys.view();
    EXPECT_EQ(FormatFat32(sys.node("sdb1"), {128, ""}, o), kFormatRefused);
    EXPECT_THAT(err.str(), HasSubstr("is mounted at /media/user/CARD A; unmount it first"));
}

TEST(FormatTarget, RefusesDisksThatAreNotCards) {
    FakeSystem sys;
    sys.addDisk("sda", 60, 0, false);                          // the machine's fixed disk
    sys.addPartition("sda", "sda1", 1, 60, 1, 2048, 1000000);  // /boot/efi
    sys.addPartition("sda", "sda2", 2, 60, 2, 1002048, 9000000);
    sys.addDisk("sdc", 60, 32, true);  // a removable disk running Linux
    sys.addPartition("sdc", "sdc1", 1, 60, 33, 2048, 100000);
    sys.addPartition("sdc", "sdc2", 2, 60, 34, 102048, 100000);
    sys.addDisk("sdd", 60, 48, true);  // removable with swap on it
    sys.addPartition("sdd", "sdd1", 1, 60, 49, 2048, 100000);
    sys.addDisk("sde", 60, 64, true);  // part of an LVM volume
    sys.addPartition("sde", "sde1", 1, 60, 65, 2048, 100000);
    sys.addHolder("sde/sde1", "dm-0");
    sys.addDisk("sdf", 60, 80, false);  // fixed, nothing mounted
    REQUIRE_NODES(sys);
    sys.mount(60, 2, "/", "/dev/sda2");
    sys.mount(60, 34, "/home", "/dev/sdc2");
    sys.swapOn("sdd1");

    struct Case {
        std::string path, reason;
    } cases[] = {
        {sys.node("sda1"), "holds this system's own files (/ is mounted from it)"},
        {sys.node("sda"), "holds this system's own files"},
        {sys.node("sdc1"), "holds this system's own files (/home is mounted from it)"},
        {sys.node("sdd"), "holds this system's swap space"},
        {sys.node("sde"), "is in use by another device (dm-0"},
        {sys.node("sdf"), "is not a removable device"},
    };
    for (const auto& c : cases) {
        auto r = platform::assessFormatTarget(c.path, sys.view());
        ASSERT_FALSE(r.ok()) << c.path;
        EXPECT_THAT(r.error(), HasSubstr(c.reason)) << c.path;
        // And the formatter says so and stops.
        std::ostringstream out, err;
        FormatOptions o;
        o.out = &out;
        o.err = &err;
        o.view = sys.view();
        EXPECT_EQ(FormatFat32(c.path, {128, ""}, o), kFormatRefused);
        EXPECT_THAT(err.str(), HasSubstr("Refusing to format: "));
    }
}

TEST(FormatTarget, AcceptsSdCardsAndLoopDevices) {
    FakeSystem sys;
    sys.addDisk("mmcblk0", 61, 0, false, 62521344, "SD");  // SD slots report removable 0
    sys.addDisk("loop7", 61, 16, false);
    REQUIRE_NODES(sys);
    auto sd = platform::assessFormatTarget(sys.node("mmcblk0"), sys.view());
    EXPECT_TRUE(sd.ok()) << sd.error();
    auto loop = platform::assessFormatTarget(sys.node("loop7"), sys.view());
    ASSERT_TRUE(loop.ok()) << loop.error();
    EXPECT_EQ(loop->kind, platform::TargetKind::LoopDevice);
}

// System mounts count with everything below them, and a loop device counts as the file behind
// it: a user's home on a removable disk, a package's squashfs image, a virtual machine's disk
// file are not cards.
TEST(FormatTarget, RefusesMountsBelowSystemFoldersAndLoopDevicesOverSystemFiles) {
    FakeSystem sys;
    sys.addDisk("sda", 60, 0, false);
    sys.addPartition("sda", "sda1", 1, 60, 1, 2048, 9000000);
    sys.addDisk("sdb", 60, 16, true);  // a removable disk holding a user's home
    sys.addPartition("sdb", "sdb1", 1, 60, 17, 2048, 100000);
    sys.addDisk("loop3", 61, 3, false);  // a package's image, mounted at /snap/x/1
    sys.addDisk("loop4", 61, 4, false);  // over a virtual machine's disk file
    sys.addDisk("loop5", 61, 5, false);  // over a card image on a USB stick
    sys.addDisk("loop6", 61, 6, false);  // a package's image not mounted just now
    sys.addDisk("sdc", 60, 32, true);    // the USB stick
    sys.addPartition("sdc", "sdc1", 1, 60, 33, 2048, 100000);
    REQUIRE_NODES(sys);
    const auto backing = [&](const std::string& loop, const std::string& file) {
        std::filesystem::create_directories(sys.root() + "/sys/block/" + loop + "/loop");
        std::ofstream(sys.root() + "/sys/block/" + loop + "/loop/backing_file") << file << "\n";
    };
    backing("loop3", "/var/lib/snapd/snaps/x_1.snap");
    backing("loop4", "/home/alice/vm/disk.img (deleted)");
    backing("loop5", "/media/alice/STICK/card.img");
    backing("loop6", "/var/lib/snapd/snaps/y_2.snap");
    sys.mount(60, 1, "/", "/dev/sda1");
    sys.mount(60, 17, "/home/alice", "/dev/sdb1");
    sys.mount(61, 3, "/snap/x/1", "/dev/loop3");
    sys.mount(60, 33, "/media/alice/STICK", "/dev/sdc1");

    struct Case {
        std::string path, reason;
    } cases[] = {
        {sys.node("sdb1"), "holds this system's own files (/home/alice is mounted from it)"},
        {sys.node("loop3"), "holds this system's own files (/snap/x/1 is mounted from it)"},
        {sys.node("loop6"),
         "is a loop device over /var/lib/snapd/snaps/y_2.snap, which lies on "
         "this system's own files (/)"},
        {sys.node("loop4"), "is a loop device over /home/alice/vm/disk.img"},
    };
    for (const auto& c : cases) {
        auto r = platform::assessFormatTarget(c.path, sys.view());
        ASSERT_FALSE(r.ok()) << c.path;
        EXPECT_THAT(r.error(), HasSubstr(c.reason)) << c.path;
    }
    auto stick = platform::assessFormatTarget(sys.node("loop5"), sys.view());
    EXPECT_TRUE(stick.ok()) << (stick.ok() ? "" : stick.error());
}

TEST(FormatTarget, RefusesWhatIsNeitherDeviceNorImage) {
    testing::TempDir dir;
    auto null = platform::assessFormatTarget("/dev/null");
    ASSERT_FALSE(null.ok());
    EXPECT_THAT(null.error(), HasSubstr("is neither a block device nor a card image file"));
    auto folder = platform::assessFormatTarget(dir.str());
    ASSERT_FALSE(folder.ok());
    EXPECT_THAT(folder.error(), HasSubstr("is a directory, not a device or a card image"));
    auto missing = platform::assessFormatTarget((dir / "nothing.img"));
    ASSERT_FALSE(missing.ok());
    EXPECT_THAT(missing.error(), HasSubstr("No such file or directory"));

    for (const std::string& path : {std::string("/dev/null"), dir.str()}) {
        std::ostringstream out, err;
        FormatOptions o;
        o.out = &out;
        o.err = &err;
        EXPECT_EQ(FormatFat32(path, {128, ""}, o), kFormatRefused) << path;
        EXPECT_THAT(err.str(), HasSubstr("Refusing to format: '" + path + "'"));
    }
}

// The disk this machine runs from, through the real sysfs and mount table.
TEST(FormatTarget, RefusesThisMachinesOwnDisk) {
    struct stat root {};
    ASSERT_EQ(::stat("/", &root), 0);
    std::error_code ec;
    auto node = std::filesystem::canonical("/sys/dev/block/" + std::to_string(major(root.st_dev)) +
                                               ":" + std::to_string(minor(root.st_dev)),
                                           ec);
    const std::string dev = "/dev/" + node.filename().string();
    struct stat st {};
    if (ec || ::stat(dev.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
        GTEST_SKIP() << "the root file system is not on a block device here";
    auto r = platform::assessFormatTarget(dev);
    ASSERT_FALSE(r.ok()) << dev << " was accepted";
    EXPECT_THAT(r.error(), HasSubstr("this system's own files"));
    std::ostringstream out, err;
    FormatOptions o;
    o.out = &out;
    o.err = &err;
    EXPECT_EQ(FormatFat32(dev, {128, ""}, o), kFormatRefused);
}

}  // namespace
}  // namespace orvik::card_format
