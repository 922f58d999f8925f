#include "device_config/time_file.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "device_config/test_support.h"

namespace dc = orvik::device_config;
using orvik::test::readFile;
using orvik::test::TempDir;

TEST(TimeFile, OneLineWithoutTerminator) {
    EXPECT_EQ(dc::formatTimeFile({2024, 3, 5, 8, 7, 6}), "2024/03/05 08:07:06");
    TempDir dir;
    auto out = dc::writeTimeFile(dir / "timeset.cfg", {2025, 1, 1, 0, 0, 0});
    ASSERT_TRUE(out.saved()) << out.error;
    EXPECT_EQ(readFile(dir / "timeset.cfg"), "2025/01/01 00:00:00");
    EXPECT_EQ(readFile(dir / "timeset.cfg").size(), 19u);
}

TEST(TimeFile, ReplacesAnExistingFileWhole) {
    TempDir dir;
    orvik::test::writeFile(dir / "timeset.cfg", std::string(300, 'x'));
    ASSERT_TRUE(dc::writeTimeFile(dir / "timeset.cfg", {2024, 12, 31, 23, 59, 59}).saved());
    EXPECT_EQ(readFile(dir / "timeset.cfg"), "2024/12/31 23:59:59");
}

TEST(TimeFile, TheLowerMountPointWithAFileWins) {
    TempDir dir;
    auto a = dir.mkdir("a").string(), b = dir.mkdir("b").string(), c = dir.mkdir("c").string();
    orvik::test::writeFile(b + "/timeset.cfg", "");
    orvik::test::writeFile(c + "/timeset.cfg", "old");
    orvik::platform::Volume va, vb, vc;
    va.mountPoint = a, vb.mountPoint = b, vc.mountPoint = c;
    EXPECT_EQ(dc::findTimeFileOnCard({va, vb, vc}), b + "/timeset.cfg");
    EXPECT_FALSE(dc::findTimeFileOnCard({va}));  // never created on a card by itself
}

TEST(TimeFile, ParsesTheCommandLineFormAndRefusesImpossibleMoments) {
    auto t = dc::parseDeviceTime("2024-02-29 23:59:59");
    ASSERT_TRUE(t.ok());
    EXPECT_EQ(*t, (dc::DeviceTime{2024, 2, 29, 23, 59, 59}));
    for (const char* bad : {"2023-02-29 00:00:00", "2024-13-01 00:00:00", "2024-01-01 24:00:00",
                            "2024-01-01 00:60:00", "2024-1-01 00:00:00", "2024-01-01", "",
                            "2024-01-01 00:00:0x", "+024-01-01 00:00:00", "2024-01-01 00:00:00 "}) {
        EXPECT_FALSE(dc::parseDeviceTime(bad).ok()) << bad;
    }
}

TEST(TimeFile, FailedWritesAreErrorsAndKeepTheOldFile) {
    TempDir dir;
    auto missing = dc::writeTimeFile(dir / "no/timeset.cfg", {2024, 1, 1, 0, 0, 0});
    EXPECT_EQ(missing.status, dc::SaveStatus::Failed);
    EXPECT_FALSE(missing.error.empty());
    auto invalid = dc::writeTimeFile(dir / "timeset.cfg", {2024, 2, 30, 0, 0, 0});
    EXPECT_EQ(invalid.status, dc::SaveStatus::Failed);
    EXPECT_FALSE(std::filesystem::exists(dir / "timeset.cfg"));

    orvik::test::TmpfsMount fs(1 << 20);
    if (!fs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    orvik::test::writeFile(fs / "timeset.cfg", "2020/01/01 00:00:00");
    ASSERT_TRUE(fs.remountReadOnly());
    auto ro = dc::writeTimeFile(fs / "timeset.cfg", {2024, 1, 1, 0, 0, 0});
    EXPECT_EQ(ro.status, dc::SaveStatus::WriteProtected);
    EXPECT_EQ(ro.errorNumber, EROFS);
    EXPECT_EQ(readFile(fs / "timeset.cfg"), "2020/01/01 00:00:00");
}
