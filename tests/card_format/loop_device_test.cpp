// The whole workflow on a real block device: a loop device over a sparse image. Needs root (or
// loop-device permission); skipped with exit code 77 and the reason otherwise.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "card_format/card_format.h"
#include "fake_system.h"
#include "test_support.h"

namespace orvik::card_format {
namespace {
using namespace testing;
using ::testing::HasSubstr;

constexpr std::uint64_t GiB = 1ull << 30;

class LoopDevice : public ::testing::Test {
  protected:
    void SetUp() override {
        // The image on a file system of its own, as on a USB stick: a loop device over a file
        // among the system's own (the scratch folder's disk) is refused.
        mnt_ = (dir_ / "stick");
        std::filesystem::create_directories(mnt_);
        RunResult m = run("mount -t tmpfs -o size=64m orvik-test-stick " + quote(mnt_));
        if (m.status != 0) {
            mnt_.clear();
            GTEST_SKIP() << "cannot mount a scratch file system here: " << m.out;
        }
        image_ = mnt_ + "/card.img";
        ASSERT_TRUE(makeSparseImage(image_, 8 * GiB));
        RunResult r = run("losetup -f --show " + quote(image_));
        ASSERT_EQ(r.status, 0) << r.out;
        loop_ = r.out.substr(0, r.out.find('\n'));
        ASSERT_EQ(loop_.rfind("/dev/loop", 0), 0u) << loop_;
    }
    void TearDown() override {
        if (!loop_.empty())
            run("losetup -d " + quote(loop_));
        if (!mnt_.empty())
            run("umount " + quote(mnt_));
    }
    TempDir dir_;
    std::string mnt_, image_, loop_;
};

std::string blkid(const std::string& dev, const std::string& tag) {
    RunResult r = run("blkid -p -o value -s " + tag + " " + quote(dev));
    return r.out.substr(0, r.out.find('\n'));
}

TEST_F(LoopDevice, WholeWorkflow) {
    std::string config(624, '\x5A');
    config[0] = 0x08;
    config[1] = 0x15;
    const std::string configPath = (dir_ / "config_K7x7.bin");
    std::ofstream(configPath, std::ios::binary) << config;

    auto t = resolveCardTarget(loop_);
    ASSERT_TRUE(t.ok()) << t.error();
    EXPECT_EQ(t->totalBytes, 8 * GiB);
    // As if started from the remembered configuration file of that card.
    t->sourcePath = configPath;
    t->sourceIsConfigFile = true;
    std::ostringstream out, err;
    CardFormatRequest req;
    req.format.out = &out;
    req.format.err = &err;
    req.tempDir = dir_.str();
    CardFormatOutcome o = runCardFormat(*t, req);
    ASSERT_TRUE(o.succeeded()) << o.reason << "\n" << err.str();
    EXPECT_THAT(out.str(), HasSubstr("Clearing out 2208 sectors"));
    EXPECT_THAT(out.str(), HasSubstr("Done\n"));
    EXPECT_TRUE(o.labelled) << o.labelError;
    EXPECT_TRUE(o.configRestored) << o.restoreError;

    RunResult fsck = run("fsck.fat -n -v " + quote(loop_));
    EXPECT_EQ(fsck.status, 0) << fsck.out;
    EXPECT_EQ(blkid(loop_, "TYPE"), "vfat");
    EXPECT_EQ(blkid(loop_, "LABEL"), "ORVIK");
    const std::string back = (dir_ / "back.bin");
    RunResult get = run("MTOOLS_SKIP_CHECK=1 mcopy -n -i " + quote(loop_) + " ::/config_K7x7.bin " +
                        quote(back));
    ASSERT_EQ(get.status, 0) << get.out;
    EXPECT_EQ(readFile(back), config);
    // What the loop device wrote reached the image.
    EXPECT_EQ(readBytes(image_, 82, 8), "FAT32   ");
}

// A loop device over a file on the system's own disk (a package's image, a virtual machine's
// disk) is no card, whatever the removable flags say.
TEST_F(LoopDevice, OneOverAFileOfTheSystemIsRefused) {
    const std::string onSystem = (dir_ / "system.img");
    ASSERT_TRUE(makeSparseImage(onSystem, 8 * GiB));
    RunResult r = run("losetup -f --show " + quote(onSystem));
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string loop = r.out.substr(0, r.out.find('\n'));
    auto target = platform::assessFormatTarget(loop);
    run("losetup -d " + quote(loop));
    ASSERT_FALSE(target.ok()) << loop << " over " << onSystem << " was accepted";
    EXPECT_THAT(target.error(), HasSubstr("is a loop device over " + onSystem));
    EXPECT_EQ(allocatedBytes(onSystem), 0u);
}

TEST_F(LoopDevice, ExclusiveOpenIsTheLock) {
    int fd = ::open(loop_.c_str(), O_RDONLY | O_EXCL);
    ASSERT_GE(fd, 0);
    std::ostringstream out, err;
    FormatOptions o;
    o.out = &out;
    o.err = &err;
    EXPECT_EQ(FormatFat32(loop_, {128, ""}, o), EBUSY);
    EXPECT_THAT(err.str(), HasSubstr("Failed to open device - close any files"));
    EXPECT_THAT(err.str(), HasSubstr("GetLastError()=16: Device or resource busy"));
    ::close(fd);
    EXPECT_EQ(allocatedBytes(image_), 0u);
}

// The loop device stands in for partition 1 of a disk whose MBR is a plain file.
class LoopPartition : public LoopDevice {
  protected:
    void SetUp() override {
        LoopDevice::SetUp();
        if (HasFatalFailure())
            return;
        struct stat st {};
        ASSERT_EQ(::stat(loop_.c_str(), &st), 0);
        const unsigned maj = major(st.st_rdev), min = minor(st.st_rdev);
        // Its disk "sdz": a fake sysfs entry whose partition has the loop's device numbers.
        const std::string disk = sys_.root() + "/sys/block/sdz";
        std::filesystem::create_directories(disk + "/sdz1/holders");
        std::filesystem::create_directories(disk + "/holders");
        std::ofstream(disk + "/removable") << "1\n";
        std::ofstream(disk + "/dev") << "60:200\n";
        std::ofstream(disk + "/sdz1/dev") << maj << ":" << min << "\n";
        std::ofstream(disk + "/sdz1/partition") << "1\n";
        std::ofstream(disk + "/sdz1/start") << "2048\n";
        std::ofstream(disk + "/sdz1/size") << (8 * GiB / 512) << "\n";
        std::filesystem::create_directory_symlink(
            disk + "/sdz1",
            sys_.root() + "/sys/dev/block/" + std::to_string(maj) + ":" + std::to_string(min));
        mbr_ = sys_.root() + "/dev/sdz";
    }
    void writeMbr(std::uint32_t lba, unsigned char type, unsigned char otherType = 0) {
        std::string m(512, '\0');
        m[446 + 4] = static_cast<char>(type);
        for (int i = 0; i < 4; ++i)
            m[446 + 8 + i] = static_cast<char>(lba >> (8 * i));
        m[446 + 16 + 4] = static_cast<char>(otherType);
        m[510] = '\x55';
        m[511] = '\xAA';
        std::ofstream(mbr_, std::ios::binary) << m;
    }
    int format(std::string* errText) {
        std::ostringstream out, err;
        FormatOptions o;
        o.out = &out;
        o.err = &err;
        o.view = sys_.view();
        int code = FormatFat32(loop_, {128, ""}, o);
        *errText = err.str();
        return code;
    }
    FakeSystem sys_;
    std::string mbr_;
};

TEST_F(LoopPartition, HiddenSectorsAndPartitionType) {
    writeMbr(2048, 0x0B);
    std::string err;
    ASSERT_EQ(format(&err), 0) << err;
    EXPECT_EQ(le32(readBytes(image_, 0, 512), 28), 2048u);  // hidden sectors
    EXPECT_EQ(static_cast<unsigned char>(readFile(mbr_)[446 + 4]), 0x0C);
    EXPECT_EQ(run("fsck.fat -n " + quote(loop_)).status, 0);
}

TEST_F(LoopPartition, AStrangeEntryIsNotRetyped) {
    // The entry describes another start: it is not this partition's.
    writeMbr(4096, 0x83);
    std::string err;
    EXPECT_EQ(format(&err), EINVAL);
    EXPECT_THAT(err, HasSubstr("Failed to set parition info\nGetLastError()=22"));
    EXPECT_EQ(static_cast<unsigned char>(readFile(mbr_)[446 + 4]), 0x83);
    // A GPT disk's protective MBR is left alone as well.
    writeMbr(2048, 0x0B, 0xEE);
    EXPECT_EQ(format(&err), EINVAL);
    EXPECT_EQ(static_cast<unsigned char>(readFile(mbr_)[446 + 4]), 0x0B);
}

}  // namespace
}  // namespace orvik::card_format

int main(int argc, char** argv) {
    using orvik::card_format::testing::run;
    std::string why;
    if (::geteuid() != 0)
        why = "not root: loop devices cannot be set up";
    else if (run("command -v losetup && command -v fsck.fat && command -v mcopy && command -v "
                 "blkid")
                 .status != 0)
        why = "losetup, fsck.fat, mcopy or blkid is missing";
    else if (::access("/dev/loop-control", W_OK) != 0)
        why = "no /dev/loop-control";
    if (why.empty()) {
        orvik::card_format::testing::TempDir probe;
        const std::string img = (probe / "probe.img");
        orvik::card_format::testing::makeSparseImage(img, 1 << 20);
        auto r = run("losetup -f --show " + img);
        if (r.status != 0)
            why = "losetup is not permitted here: " + r.out;
        else
            run("losetup -d " + r.out.substr(0, r.out.find('\n')));
    }
    if (!why.empty()) {
        std::cout << "SKIPPED: the loop-device tests need loop devices (" << why << ")\n";
        return 77;
    }
    ::testing::InitGoogleMock(&argc, argv);
    return orvik::test::runAllTests();
}
