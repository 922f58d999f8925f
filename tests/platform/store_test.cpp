#include "platform/store.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace orvik::platform {
namespace {
namespace fs = std::filesystem;

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("orvik-store-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_F(StoreTest, IniReadDistinguishesMissingFileFromMissingKey) {
    IniFile ini(dir_ / "tz646xeb.ini");
    std::string value = "untouched";
    EXPECT_EQ(ini.read("TZ646xEB", "ramdom", value), -1);
    EXPECT_EQ(value, "untouched");

    ASSERT_EQ(ini.write("TZ646xEB", "other", "1"), 0);
    EXPECT_EQ(ini.read("TZ646xEB", "ramdom", value), 0);
    EXPECT_EQ(value, "error");

    ASSERT_EQ(ini.write("TZ646xEB", "ramdom", "42"), 0);
    EXPECT_EQ(ini.read("tz646xeb", "RAMDOM", value), 0) << "names match ignoring case";
    EXPECT_EQ(value, "42");
    EXPECT_EQ(orvik::test::readFile(dir_ / "tz646xeb.ini"), "[TZ646xEB]\nother=1\nramdom=42\n");
}

TEST_F(StoreTest, IniWriteKeepsOtherSectionsAndLines) {
    { std::ofstream(dir_ / "a.ini") << "; note\r\n[One]\r\nx=1\r\n\r\n[TZ646xEB]\r\nramdom=7\r\n"; }
    IniFile ini(dir_ / "a.ini");
    ASSERT_EQ(ini.write("One", "y", "2"), 0);
    ASSERT_EQ(ini.write("TZ646xEB", "ramdom", "8"), 0);
    EXPECT_EQ(orvik::test::readFile(dir_ / "a.ini"),
              "; note\n[One]\nx=1\ny=2\n\n[TZ646xEB]\nramdom=8\n");
}

TEST_F(StoreTest, IniWriteIntoUnwritableFolderFailsAndKeepsNothingHalfWritten) {
    IniFile ini(dir_ / "missing-parent-is-a-file" / "x.ini");
    std::ofstream(dir_ / "missing-parent-is-a-file") << "file";
    EXPECT_EQ(ini.write("S", "k", "v"), -1);
}

TEST_F(StoreTest, LaunchCounterSeedsThenCountsUp) {
    IniFile ini(dir_ / "Orvik" / "tz646xeb.ini");
    const int first = nextLaunchCounter(ini);
    EXPECT_GE(first, 2);
    EXPECT_LE(first, 101);
    std::string v;
    ASSERT_EQ(ini.read("TZ646xEB", "ramdom", v), 0);
    EXPECT_EQ(v, std::to_string(first));
    EXPECT_EQ(nextLaunchCounter(ini), first + 1);
    EXPECT_EQ(nextLaunchCounter(ini), first + 2);
}

TEST_F(StoreTest, LaunchCounterOddValues) {
    IniFile ini(dir_ / "tz646xeb.ini");
    ini.write("TZ646xEB", "ramdom", "not a number");
    EXPECT_EQ(nextLaunchCounter(ini), 1) << "text that is not a number counts as 0";

    ini.write("TZ646xEB", "ramdom", "-5");
    EXPECT_EQ(nextLaunchCounter(ini), -4);

    ini.write("TZ646xEB", "ramdom", "2147483647");
    EXPECT_EQ(nextLaunchCounter(ini), INT32_MIN) << "wraps instead of overflowing";

    // A key removed by hand is seeded again although the file exists.
    ini.write("TZ646xEB", "other", "x");
    { std::ofstream(dir_ / "tz646xeb.ini") << "[TZ646xEB]\nother=x\n"; }
    const int reseeded = nextLaunchCounter(ini);
    EXPECT_GE(reseeded, 2);
    EXPECT_LE(reseeded, 101);
}

TEST_F(StoreTest, RememberedChoicesKeepLongValuesWholeAndRefuseLineBreaks) {
    ::setenv("XDG_DATA_HOME", dir_.c_str(), 1);
    EXPECT_EQ(rememberedChoice("exportClipFolder"), "");
    const std::string folder = "/home/someone/" + std::string(120, 'v') + "/clips";
    ASSERT_TRUE(rememberChoice("exportClipFolder", folder));
    ASSERT_TRUE(rememberChoice("exportCaption", "1"));
    EXPECT_EQ(rememberedChoice("exportClipFolder"), folder);
    EXPECT_FALSE(rememberChoice("exportClipFolder", "/a\nexportCaption=0"));
    EXPECT_EQ(rememberedChoice("exportClipFolder"), folder);
    EXPECT_EQ(rememberedChoice("exportCaption"), "1");
    // The viewer ini is another file and is left alone.
    EXPECT_FALSE(fs::exists(dir_ / "Orvik" / std::string(kViewerIniName)));
    ::unsetenv("XDG_DATA_HOME");
}

TEST_F(StoreTest, ApplicationDataFolderFollowsXdgAndIsCreated) {
    ::setenv("XDG_DATA_HOME", dir_.c_str(), 1);
    EXPECT_EQ(applicationDataFolder(), dir_ / "Orvik");
    EXPECT_TRUE(fs::is_directory(dir_ / "Orvik"));
    EXPECT_EQ(applicationDataFile("tz646xeb.ini"), dir_ / "Orvik" / "tz646xeb.ini");
    ::unsetenv("XDG_DATA_HOME");
}

TEST_F(StoreTest, KeyValueStoreKeysMustExistBeforeValues) {
    KeyValueStore kv(dir_ / "registry.ini");
    const std::string key = R"(HKEY_CURRENT_USER\Software\Test\Main)";
    EXPECT_FALSE(kv.keyExists(key));
    EXPECT_FALSE(kv.setDword(key, "orvik", 11000));
    EXPECT_FALSE(kv.queryDword(key, "orvik"));
    EXPECT_TRUE(kv.createKey(key));
    EXPECT_TRUE(kv.createKey(key)) << "creating an existing key just opens it";
    EXPECT_TRUE(kv.keyExists(key));
    EXPECT_FALSE(kv.queryDword(key, "orvik"));
    EXPECT_TRUE(kv.setDword(key, "orvik", 11000));
    EXPECT_EQ(kv.queryDword(key, "orvik"), 11000u);
    EXPECT_NE(orvik::test::readFile(dir_ / "registry.ini").find("orvik=dword:00002af8"),
              std::string::npos);
}

TEST(UserFolders, TheCacheFolderFollowsTheEnvironmentAndIsSpeltAsTheDataFolder) {
    const char* saved = std::getenv("XDG_CACHE_HOME");
    const std::string before = saved ? saved : "";
    ::setenv("XDG_CACHE_HOME", "/tmp/xdg-cache-test", 1);
    EXPECT_EQ(userCacheFolder(), std::filesystem::path("/tmp/xdg-cache-test/Orvik"));
    // Base directories must be absolute; a relative one is ignored.
    ::setenv("XDG_CACHE_HOME", "relative", 1);
    EXPECT_NE(userCacheFolder(), std::filesystem::path("relative/Orvik"));
    if (saved)
        ::setenv("XDG_CACHE_HOME", before.c_str(), 1);
    else
        ::unsetenv("XDG_CACHE_HOME");
}

}  // namespace
}  // namespace orvik::platform
