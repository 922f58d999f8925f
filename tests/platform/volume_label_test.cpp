#include "platform/volume_label.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/volumes.h"

namespace fs = std::filesystem;
using namespace orvik::platform;

namespace {

// A command line's output, error output included.
std::string run(const std::string& cmd, int* status = nullptr) {
    const auto r = orvik::test::runCommand(cmd + " 2>&1");
    if (status)
        *status = r.status;
    return r.out;
}

std::string bytesAt(const std::string& file, std::size_t offset, std::size_t n) {
    std::ifstream in(file, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string s(n, '\0');
    in.read(s.data(), static_cast<std::streamsize>(n));
    return s;
}

class FatImage : public ::testing::Test {
  protected:
    void SetUp() override {
        if (run("command -v mkfs.fat fsck.fat minfo mlabel").empty())
            GTEST_SKIP() << "dosfstools/mtools missing";
        image_ = dir_ + "/card.img";
    }
    // A fresh FAT image; `kib` in KiB, extra mkfs.fat options.
    void make(const std::string& opts, int kib) {
        int st = 0;
        std::string out =
            run("mkfs.fat -C -i 12345678 " + opts + " " + image_ + " " + std::to_string(kib), &st);
        ASSERT_EQ(st, 0) << out;
    }
    void expectClean() {
        int st = 0;
        std::string out = run("fsck.fat -n " + image_, &st);
        EXPECT_EQ(st, 0) << out;
    }
    std::string mlabel() { return run("MTOOLS_SKIP_CHECK=1 mlabel -s -i " + image_ + " ::"); }
    orvik::test::TempDir scratch_;
    std::string dir_ = scratch_.str(), image_;
};

}  // namespace

TEST_F(FatImage, Fat32LabelGoesToBootBackupAndRootFolder) {
    make("-F 32 -n OLDLABEL", 40 * 1024);
    ASSERT_TRUE(writeFatLabel(image_, "ORVIK").ok());
    EXPECT_EQ(bytesAt(image_, 71, 11), "ORVIK      ");
    EXPECT_EQ(bytesAt(image_, 6 * 512 + 71, 11), "ORVIK      ");
    EXPECT_NE(mlabel().find("ORVIK"), std::string::npos) << mlabel();
    EXPECT_EQ(mlabel().find("OLDLABEL"), std::string::npos)
        << "the old entry is replaced, not kept";
    std::string info = run("MTOOLS_SKIP_CHECK=1 minfo -i " + image_ + " ::");
    EXPECT_NE(info.find("disk label=\"ORVIK      \""), std::string::npos) << info;
    EXPECT_EQ(probeLabel(image_).value(), "ORVIK");
    expectClean();
}

TEST_F(FatImage, Fat32WithoutLabelEntryGetsOne) {
    make("-F 32", 40 * 1024);
    // A file in the root first, so the label entry is not the first slot.
    ASSERT_EQ(run("echo hi > " + dir_ + "/a.txt && MTOOLS_SKIP_CHECK=1 mcopy -i " + image_ + " " +
                  dir_ + "/a.txt ::A.TXT"),
              "");
    ASSERT_TRUE(writeFatLabel(image_, "orvik").ok()) << "lower case is written upper case";
    EXPECT_EQ(probeLabel(image_).value(), "ORVIK");
    EXPECT_NE(mlabel().find("ORVIK"), std::string::npos);
    EXPECT_NE(run("MTOOLS_SKIP_CHECK=1 mdir -i " + image_ + " ::").find("A        TXT"),
              std::string::npos);
    expectClean();
}

TEST_F(FatImage, Fat16AndRemovingTheLabel) {
    make("-F 16 -n SOMETHING", 20 * 1024);
    ASSERT_TRUE(writeFatLabel(image_, "ORVIK").ok());
    EXPECT_EQ(bytesAt(image_, 43, 11), "ORVIK      ");
    EXPECT_EQ(probeLabel(image_).value(), "ORVIK");
    expectClean();
    ASSERT_TRUE(writeFatLabel(image_, "").ok());
    EXPECT_EQ(probeLabel(image_).value(), "");
    EXPECT_EQ(bytesAt(image_, 43, 11), "NO NAME    ");
    expectClean();
}

TEST_F(FatImage, BadLabelsAndForeignImagesChangeNothing) {
    make("-F 32 -n KEEP", 40 * 1024);
    std::string before = bytesAt(image_, 0, 8 * 512);
    for (const char* bad : {"TWELVE_CHARS", "A.B", "A*", "A\"B", " LEAD", "K\xC3\xA4SE"}) {
        auto r = writeFatLabel(image_, bad);
        EXPECT_FALSE(r.ok()) << bad;
        EXPECT_FALSE(setVolumeLabel(image_, bad).ok()) << bad;
    }
    EXPECT_EQ(bytesAt(image_, 0, 8 * 512), before);

    std::string junk = dir_ + "/junk.img";
    std::ofstream(junk) << std::string(64 * 1024, 'x');
    auto r = writeFatLabel(junk, "ORVIK");
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().find("junk.img"), std::string::npos) << r.error();
    EXPECT_EQ(bytesAt(junk, 0, 16), std::string(16, 'x'));

    fs::resize_file(image_, 1024);  // truncated after the boot sector
    EXPECT_FALSE(writeFatLabel(image_, "ORVIK").ok());
    EXPECT_FALSE(writeFatLabel(dir_ + "/none.img", "ORVIK").ok());
    EXPECT_FALSE(writeFatLabel(dir_, "ORVIK").ok());
}

TEST_F(FatImage, SetVolumeLabelOnAnImagePathWritesIt) {
    make("-F 32", 40 * 1024);
    ASSERT_TRUE(setVolumeLabel(image_, kCameraLabel).ok());
    EXPECT_EQ(probeLabel(image_).value(), "ORVIK");
    expectClean();
}

TEST_F(FatImage, MountedCardIsLabelledThroughItsMountPoint) {
    make("-F 32 -n OLD", 40 * 1024);
    std::string loop = run("losetup -f --show " + image_);
    while (!loop.empty() && loop.back() == '\n')
        loop.pop_back();
    if (loop.rfind("/dev/loop", 0) != 0)
        GTEST_SKIP() << "no loop device: " << loop;
    std::string mnt = dir_ + "/mnt";
    fs::create_directory(mnt);
    if (::mount(loop.c_str(), mnt.c_str(), "vfat", 0, nullptr) != 0) {
        run("losetup -d " + loop);
        GTEST_SKIP() << "cannot mount the image";
    }
    auto r = setVolumeLabel(mnt, "ORVIK");
    ::umount2(mnt.c_str(), 0);
    run("losetup -d " + loop);
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ(probeLabel(image_).value(), "ORVIK");
    expectClean();
}
