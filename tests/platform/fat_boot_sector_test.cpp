// The one FAT boot-sector reader: the fields of a real layout, and what it refuses.
#include "platform/fat_boot_sector.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "platform/byte_order.h"

namespace orvik::platform {
namespace {

std::array<std::uint8_t, 512> fat32Sector() {
    std::array<std::uint8_t, 512> b{};
    storeLe16(b, 11, 512);
    b[13] = 64;  // 32 KiB clusters
    storeLe16(b, 14, 32);
    b[16] = 2;
    storeLe32(b, 32, 15'000'000);
    storeLe32(b, 36, 1832);
    storeLe32(b, 44, 2);
    storeLe16(b, 48, 1);
    storeLe16(b, 50, 6);
    b[510] = 0x55;
    b[511] = 0xAA;
    return b;
}

TEST(FatBootSector, ReadsAFat32Layout) {
    auto s = fat32Sector();
    auto r = parseFatBootSector(s);
    ASSERT_TRUE(r) << r.error();
    EXPECT_TRUE(r->fat32);
    EXPECT_EQ(r->totalSectors, 15'000'000u);
    EXPECT_EQ(r->fsInfoSector, 1u);
    EXPECT_EQ(r->backupBootSector, 6u);
    EXPECT_EQ(r->fatOffset(), 32u * 512);
    EXPECT_EQ(r->clusterBytes(), 32768u);
}

TEST(FatBootSector, ReadsAFat16LayoutWithItsRootFolder) {
    auto s = fat32Sector();
    storeLe16(s, 17, 512);  // root entries
    storeLe16(s, 19, 40960);
    storeLe16(s, 22, 40);
    s[13] = 4;
    auto r = parseFatBootSector(s);
    ASSERT_TRUE(r) << r.error();
    EXPECT_FALSE(r->fat32);
    EXPECT_EQ(r->totalSectors, 40960u);
    EXPECT_EQ(r->rootDirOffset(), (32u + 2 * 40) * 512);
    EXPECT_EQ(r->dataOffset(), r->rootDirOffset() + 512u * 32);
}

TEST(FatBootSector, RefusesWhatNoFatVolumeHolds) {
    struct Case {
        const char* what;
        void (*spoil)(std::array<std::uint8_t, 512>&);
    };
    const Case cases[] = {
        {"no signature", [](auto& b) { b[511] = 0; }},
        {"sector size 1000", [](auto& b) { storeLe16(b, 11, 1000); }},
        {"sector size 8192", [](auto& b) { storeLe16(b, 11, 8192); }},
        {"three sectors a cluster", [](auto& b) { b[13] = 3; }},
        {"no cluster size", [](auto& b) { b[13] = 0; }},
        {"no reserved sector", [](auto& b) { storeLe16(b, 14, 0); }},
        {"no FAT", [](auto& b) { b[16] = 0; }},
        {"five FATs", [](auto& b) { b[16] = 5; }},
        {"FAT32 without FAT size", [](auto& b) { storeLe32(b, 36, 0); }},
        {"FAT32 root cluster 1", [](auto& b) { storeLe32(b, 44, 1); }},
        {"FAT16 without root folder", [](auto& b) { storeLe16(b, 22, 9); }},
    };
    for (const Case& c : cases) {
        auto s = fat32Sector();
        c.spoil(s);
        auto r = parseFatBootSector(s);
        ASSERT_FALSE(r) << c.what;
        EXPECT_FALSE(r.error().empty()) << c.what;
    }
}

TEST(LittleEndian, StoresAndLoadsEveryWidth) {
    std::array<std::uint8_t, 8> b{};
    storeLe16(b, 0, 0xBEEF);
    EXPECT_EQ(b[0], 0xEF);
    EXPECT_EQ(loadLe16(b, 0), 0xBEEF);
    storeLe32(b, 0, 0x89ABCDEFu);
    EXPECT_EQ(b[0], 0xEF);
    EXPECT_EQ(b[3], 0x89);
    EXPECT_EQ(loadLe32(b, 0), 0x89ABCDEFu);
    storeLe64(b, 0, 0x0123456789ABCDEFull);
    EXPECT_EQ(b[7], 0x01);
    EXPECT_EQ(loadLe64(b, 0), 0x0123456789ABCDEFull);
}

}  // namespace
}  // namespace orvik::platform
