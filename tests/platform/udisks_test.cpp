// The disk-service client against a stand-in service (python3-dbusmock with our UDisks2
// template) on a private bus: enumeration, ordering, labels, mount/unmount/label calls, cards
// added and removed, and the service going away.
#include "platform/udisks.h"

#include <gtest/gtest.h>
#include <poll.h>

#include "platform/udisks_mock.h"
#include "platform/volume_label.h"
#include "platform/volumes.h"

namespace orvik::platform {
namespace {
using testing::Clock;
using testing::UDisksMock;
namespace fs = std::filesystem;

TEST_F(UDisksMock, ListsMountedRemovableCardsInMountPointOrderWithTheirLabels) {
    const std::string b = folder("b-card"), a = folder("a-card"), sys = folder("system");
    addCard("sdc1", "CAM2", true, b);
    addCard("sdb1", "ORVIK", true, a);
    addCard("sda2", "root", false, sys, "ext4");                 // a fixed disk is no card
    addCard("sdd1", "LOOSE", true, "");                          // not mounted: no root to list
    addCard("sde1", "GONE", true, (dir_ / "missing").string());  // root cannot be read

    auto volumes = removableVolumes();
    ASSERT_EQ(volumes.size(), 2u);
    EXPECT_EQ(volumes[0].mountPoint, a);
    EXPECT_EQ(volumes[0].device, "/dev/sdb1");
    EXPECT_EQ(volumes[0].label, "ORVIK");
    EXPECT_EQ(volumes[0].fsType, "vfat");
    EXPECT_FALSE(volumes[0].simulated);
    EXPECT_EQ(volumes[1].mountPoint, b);
    EXPECT_EQ(volumes[1].label, "CAM2");

    auto client = UDisksClient::connect();
    ASSERT_TRUE(client);
    auto all = (*client)->removableFileSystems();
    ASSERT_TRUE(all) << all.error();
    EXPECT_EQ(all->size(), 4u) << "every removable file system, mounted or not";
    auto object = (*client)->objectForDevice("/dev/sdd1");
    ASSERT_TRUE(object);
    EXPECT_EQ(*object, "/org/freedesktop/UDisks2/block_devices/sdd1");
    EXPECT_EQ(*(*client)->objectForDevice("/dev/nothing"), "");
}

TEST_F(UDisksMock, MountsUnmountsAndLabelsWithoutRoot) {
    addCard("sdb1", "NO NAME", true, "");
    auto client = UDisksClient::connect();
    ASSERT_TRUE(client);
    const std::string object = "/org/freedesktop/UDisks2/block_devices/sdb1";

    auto point = (*client)->mount(object);
    ASSERT_TRUE(point) << point.error();
    EXPECT_EQ(*point, (dir_ / "sdb1-mnt").string());
    auto volumes = removableVolumes();
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(volumes[0].mountPoint, *point);

    auto again = (*client)->mount(object);
    ASSERT_FALSE(again);
    EXPECT_NE(again.error().find("already mounted"), std::string::npos) << again.error();

    // The camera's label, through the volume list as the configuration code sets it.
    ASSERT_TRUE(relabelVolume(volumes[0], kCameraLabel));
    EXPECT_EQ(removableVolumes()[0].label, "ORVIK");
    auto tooLong = (*client)->setLabel(object, "FAR TOO LONG A LABEL");
    EXPECT_FALSE(tooLong);

    ASSERT_TRUE((*client)->unmount(object));
    EXPECT_TRUE(removableVolumes().empty());
    auto twice = (*client)->unmount(object);
    ASSERT_FALSE(twice);
    EXPECT_NE(twice.error().find("not mounted"), std::string::npos) << twice.error();

    // The one-call forms by device path, as the formatter uses them.
    auto byDevice = mountThroughUDisks("/dev/sdb1");
    ASSERT_TRUE(byDevice) << byDevice.error();
    EXPECT_TRUE(unmountThroughUDisks("/dev/sdb1"));
    auto unknown = unmountThroughUDisks("/dev/sdz9");
    ASSERT_FALSE(unknown);
    EXPECT_NE(unknown.error().find("/dev/sdz9"), std::string::npos);
}

class Watcher {
  public:
    explicit Watcher(UDisksClient& c) : c_(c) {
        auto r = c_.watch([this](UDisksClient::Change ch) { changes.push_back(ch); });
        EXPECT_TRUE(r) << (r ? "" : r.error());
    }
    // Dispatches until `count` changes have arrived.
    bool waitFor(std::size_t count) {
        const auto end = Clock::now() + std::chrono::seconds(20);
        while (changes.size() < count && Clock::now() < end) {
            pollfd p{c_.fd(), POLLIN, 0};
            ::poll(&p, 1, 200);
            if (!c_.processPending())
                return false;
        }
        return changes.size() >= count;
    }
    std::vector<UDisksClient::Change> changes;

  private:
    UDisksClient& c_;
};

TEST_F(UDisksMock, ReportsCardsAddedChangedAndRemoved) {
    auto client = UDisksClient::connect();
    ASSERT_TRUE(client);
    Watcher w(**client);

    addCard("sdb1", "ORVIK", true, "");
    ASSERT_TRUE(w.waitFor(2)) << "drive and file system added";
    EXPECT_EQ(w.changes[0], UDisksClient::Change::ObjectsChanged);

    const std::size_t before = w.changes.size();
    control("SetMountPoint", "ss", "sdb1", folder("auto").c_str());
    ASSERT_TRUE(w.waitFor(before + 1)) << "mounted by the desktop";
    ASSERT_EQ(removableVolumes().size(), 1u);

    const std::size_t mounted = w.changes.size();
    control("RemoveCard", "s", "sdb1");
    ASSERT_TRUE(w.waitFor(mounted + 2)) << "file system and drive removed";
    EXPECT_TRUE(removableVolumes().empty());
}

TEST_F(UDisksMock, AServiceThatGoesAwayIsNoticedAndTheKernelViewTakesOver) {
    addCard("sdb1", "ORVIK", true, folder("card"));
    auto client = UDisksClient::connect();
    ASSERT_TRUE(client);
    Watcher w(**client);
    ASSERT_EQ(removableVolumes().size(), 1u);

    testing::stopProcess(mockPid_);
    ASSERT_TRUE(w.waitFor(1));
    EXPECT_EQ(w.changes.back(), UDisksClient::Change::ServiceStopped);
    EXPECT_FALSE((*client)->serviceRunning());

    // No answer is waited for from a service that is gone.
    const auto start = Clock::now();
    auto listed = removableVolumesFromUDisks();
    EXPECT_FALSE(listed);
    auto mounted = (*client)->mount("/org/freedesktop/UDisks2/block_devices/sdb1");
    EXPECT_FALSE(mounted);
    for (const auto& v : removableVolumes())
        EXPECT_NE(v.mountPoint, (dir_ / "card").string()) << "the mock's card is not listed";
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));

    startService();
    ASSERT_TRUE(w.waitFor(2));
    EXPECT_EQ(w.changes.back(), UDisksClient::Change::ServiceStarted);
}

TEST(UDisksWithoutBus, EveryCallFailsCleanly) {
    const char* saved = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string keep = saved ? saved : "";
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/orvik-bus", 1);
    auto listed = removableVolumesFromUDisks();
    EXPECT_FALSE(listed);
    EXPECT_FALSE(mountThroughUDisks("/dev/sdb1"));
    EXPECT_FALSE(setLabelThroughUDisks("/dev/sdb1", "ORVIK"));
    (void)removableVolumes();  // falls back to mountinfo without an error
    if (saved)
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", keep.c_str(), 1);
    else
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace
}  // namespace orvik::platform
