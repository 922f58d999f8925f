#include "platform/volumes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>

#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace orvik::platform;

namespace {

// A scratch folder whose sub-folders are made on demand.
struct Scratch : orvik::test::TempDir {
    std::string sub(const std::string& name) const { return mkdir(name).string(); }
};

void put(const std::string& file, const std::string& text) {
    fs::create_directories(fs::path(file).parent_path());
    orvik::test::writeFile(file, text);
}

}  // namespace

TEST(MountInfo, ParsesFieldsAndDecodesEscapes) {
    const char* text =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "98 22 179:1 / /media/u/MY\\040CARD rw,nosuid shared:5 - vfat /dev/mmcblk0p1 rw,uid=1000\n"
        "99 22 8:17 /sub /mnt/bind rw master:2 opt:3 - vfat /dev/sdb1 rw\n"
        "garbage line\n"
        "100 22 x:y / /bad rw - vfat /dev/sdc1 rw\n"
        "101 22 0:5 / /proc rw - proc proc rw";  // no trailing newline
    auto m = parseMountInfo(text);
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[1].major, 179u);
    EXPECT_EQ(m[1].minor, 1u);
    EXPECT_EQ(m[1].mountPoint, "/media/u/MY CARD");
    EXPECT_EQ(m[1].fsType, "vfat");
    EXPECT_EQ(m[1].source, "/dev/mmcblk0p1");
    EXPECT_EQ(m[2].root, "/sub");  // optional fields before "-" are skipped
    EXPECT_EQ(m[2].source, "/dev/sdb1");
    EXPECT_EQ(m[3].fsType, "proc");
    EXPECT_TRUE(parseMountInfo("").empty());
    EXPECT_TRUE(parseMountInfo("\\\\\\ - - -\n\n\n").empty());
}

TEST(Removable, JudgedFromTheDiskInSysfs) {
    Scratch s;
    std::string sys = s.str();
    // sdb: a USB card reader (removable 1) with a partition; sda: a fixed disk; mmcblk0: an SD
    // card in a built-in slot (removable 0, type SD); mmcblk1: soldered eMMC (type MMC? no: eMMC
    // says MMC) is treated like a card only when the kernel calls it SD or MMC.
    put(sys + "/devices/usb/sdb/removable", "1\n");
    put(sys + "/devices/usb/sdb/sdb1/partition", "1\n");
    put(sys + "/devices/pci/sda/removable", "0\n");
    put(sys + "/devices/pci/sda/sda1/partition", "1\n");
    put(sys + "/devices/mmc/mmcblk0/removable", "0\n");
    put(sys + "/devices/mmc/mmcblk0/device/type", "SD\n");
    put(sys + "/devices/mmc/mmcblk0/mmcblk0p1/partition", "1\n");
    put(sys + "/devices/mmc/mmcblk2/removable", "0\n");
    put(sys + "/devices/mmc/mmcblk2/device/type", "SDIO\n");
    fs::create_directories(sys + "/dev/block");
    fs::create_directory_symlink(sys + "/devices/usb/sdb/sdb1", sys + "/dev/block/8:17");
    fs::create_directory_symlink(sys + "/devices/pci/sda/sda1", sys + "/dev/block/8:1");
    fs::create_directory_symlink(sys + "/devices/mmc/mmcblk0/mmcblk0p1", sys + "/dev/block/179:1");
    fs::create_directory_symlink(sys + "/devices/usb/sdb", sys + "/dev/block/8:16");
    fs::create_directory_symlink(sys + "/devices/mmc/mmcblk2", sys + "/dev/block/179:16");
    EXPECT_TRUE(isRemovableBlockDevice(8, 17, sys));
    EXPECT_TRUE(isRemovableBlockDevice(8, 16, sys));  // a card without a partition table
    EXPECT_FALSE(isRemovableBlockDevice(8, 1, sys));
    EXPECT_TRUE(isRemovableBlockDevice(179, 1, sys));
    EXPECT_FALSE(isRemovableBlockDevice(179, 16, sys));
    EXPECT_FALSE(isRemovableBlockDevice(7, 0, sys));  // no such device
}

TEST(Removable, ListKeepsMountedRemovableFileSystemsOncePerDevice) {
    Scratch s;
    std::string sys = s.str() + "/sys";
    put(sys + "/devices/usb/sdb/removable", "1\n");
    put(sys + "/devices/usb/sdb/sdb1/partition", "1\n");
    put(sys + "/devices/usb/sdc/removable", "1\n");
    put(sys + "/devices/pci/sda/removable", "0\n");
    fs::create_directories(sys + "/dev/block");
    fs::create_directory_symlink(sys + "/devices/usb/sdb/sdb1", sys + "/dev/block/8:17");
    fs::create_directory_symlink(sys + "/devices/usb/sdc", sys + "/dev/block/8:32");
    fs::create_directory_symlink(sys + "/devices/pci/sda", sys + "/dev/block/8:0");
    std::string z = s.sub("media/z"), a = s.sub("media/a card"), again = s.sub("media/again");
    std::string esc = s.str() + "/media/a\\040card";
    std::string text =
        "1 0 8:0 / / rw - ext4 /dev/sda rw\n"
        "2 1 8:17 / " +
        z +
        " rw - vfat /dev/sdb1 rw\n"
        "3 1 8:32 / " +
        esc +
        " rw - exfat /dev/sdc rw\n"
        "4 1 8:17 / " +
        again +
        " rw - vfat /dev/sdb1 rw\n"
        "5 1 8:17 /DCIM " +
        s.sub("bind") +
        " rw - vfat /dev/sdb1 rw\n"
        "6 1 8:32 / " +
        s.str() +
        "/gone rw - exfat /dev/sdc rw\n"
        "7 1 0:44 / " +
        s.sub("fuse") + " rw - fuse.x /dev/fuse rw\n";
    auto v = removableVolumesFromMountInfo(text, sys);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].mountPoint, a);  // "a card" sorts first; the \\040 is a blank
    EXPECT_EQ(v[0].device, "/dev/sdc");
    EXPECT_EQ(v[0].fsType, "exfat");
    EXPECT_EQ(v[1].mountPoint, again);  // sdb1's first mount point in order, once
    EXPECT_EQ(v[1].device, "/dev/sdb1");
    EXPECT_TRUE(removableVolumesFromMountInfo("", sys).empty());
}

TEST(SimulatedVolumes, EnvironmentListsExistingFoldersInMountPointOrder) {
    Scratch s;
    std::string b = s.sub("b"), a = s.sub("a"), c = s.sub("c");
    put(c + "/.volume-label", "FROMFILE\n");
    std::string env = b + "=ORVIK:" + s.str() + "/missing:" + a + "/:" + c + "=IGNORED";
    ::setenv("ORVIK_REMOVABLE_VOLUMES", env.c_str(), 1);
    auto v = removableVolumes();
    ::unsetenv("ORVIK_REMOVABLE_VOLUMES");
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].mountPoint, a);
    EXPECT_EQ(v[0].label, "");
    EXPECT_EQ(v[1].mountPoint, b);
    EXPECT_EQ(v[1].label, "ORVIK");
    EXPECT_EQ(v[2].label, "FROMFILE");
    EXPECT_TRUE(v[2].simulated);
}

TEST(SimulatedVolumes, RelabelWritesTheLabelFileAndProvidersCanBeInstalled) {
    Scratch s;
    std::string a = s.sub("a");
    setVolumeProvider(makeFolderVolumeProvider({a + "=old"}));
    auto v = removableVolumes();
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].label, "old");
    ASSERT_TRUE(relabelVolume(v[0], "ORVIK").ok());
    EXPECT_EQ(removableVolumes()[0].label, "ORVIK");

    struct None : VolumeProvider {
        std::vector<Volume> list() override { return {}; }
        orvik::Result<void> setLabel(const Volume&, std::string_view) override {
            return orvik::makeError("no");
        }
    };
    setVolumeProvider(std::make_shared<None>());
    EXPECT_TRUE(removableVolumes().empty());
    setVolumeProvider(nullptr);
}

TEST(RemovableMedia, AreToldFromTheBlockDevice) {
    Scratch folder;
    Scratch sys;
    struct stat st {};
    ASSERT_EQ(::stat(folder.path().c_str(), &st), 0);
    const fs::path link =
        sys.path() / "dev" / "block" /
        (std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev)));
    fs::create_directories(link.parent_path());
    const auto deviceAt = [&](const std::string& where, bool removable) {
        const fs::path disk = sys.path() / "devices" / where;
        const fs::path part = disk / "part1";
        fs::create_directories(part);
        std::ofstream(part / "partition") << "1\n";
        std::ofstream(disk / "removable") << (removable ? "1\n" : "0\n");
        fs::remove(link);
        fs::create_directory_symlink(part, link);
    };
    const std::string dir = folder.path().string();
    const std::string root = sys.path().string();
    if (onRemovableMedia(dir))
        GTEST_SKIP() << "the scratch folder itself lies on removable media";
    EXPECT_FALSE(onRemovableMedia(dir, root)) << "no block device: tmpfs or a network share";
    deviceAt("pci0000:00/0000:00:04.0/virtio1/block/vda", false);
    EXPECT_FALSE(onRemovableMedia(dir, root));
    deviceAt("pci0000:00/0000:00:1f.2/ata1/host0/block/sdc", true);
    EXPECT_TRUE(onRemovableMedia(dir, root)) << "the disk of the partition says removable";
    deviceAt("pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/block/sdb", false);
    EXPECT_TRUE(onRemovableMedia(dir, root)) << "a USB disk that calls itself fixed";
    deviceAt("platform/fe320000.mmc/mmc_host/mmc1/mmc1:aaaa/block/mmcblk1", false);
    EXPECT_TRUE(onRemovableMedia(dir, root)) << "an SD card reader";
}
