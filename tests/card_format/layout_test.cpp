// The layout arithmetic and the sectors the formatter builds, without touching any file.
#include <gtest/gtest.h>

#include "card_format/card_format.h"
#include "card_format/fat32_formatter.h"
#include "test_support.h"

namespace orvik::card_format {
namespace {
using testing::le16;
using testing::le32;

// A 32 GB card of 512-byte sectors, formatted with 64 KiB clusters.
TEST(Fat32Layout, ThirtyTwoGigabyteCard) {
    LayoutCheck c = planFat32(62521344ull * 512, 512, 128);
    ASSERT_EQ(c.code, 0) << c.message;
    EXPECT_EQ(c.layout.totalSectors, 62521344u);
    EXPECT_EQ(c.layout.fatSizeSectors, 3816u);
    EXPECT_EQ(c.layout.userAreaSectors, 62513680u);
    EXPECT_EQ(c.layout.clusterCount, 488388u);
    EXPECT_EQ(c.layout.freeClusters, 488387u);
    EXPECT_EQ(c.layout.fatSectorsNeeded, 3816u);
    EXPECT_EQ(c.layout.systemAreaSectors, 7792u);
}

TEST(Fat32Layout, ChecksInOrderWithTheirMessages) {
    // 65535 sectors: too small before any cluster arithmetic.
    LayoutCheck small = planFat32(65535ull * 512, 512, 1);
    EXPECT_EQ(small.code, kFormatTooSmall);
    EXPECT_EQ(small.message,
              "This drive is too small for FAT32 - there must be at least 64K clusters\n");
    // 0xFFFFFFFF sectors is one too many; 0xFFFFFFFE is the largest accepted.
    EXPECT_EQ(planFat32(0xFFFFFFFFull * 512, 512, 128).code, kFormatTooBig);
    EXPECT_EQ(planFat32(0xFFFFFFFFull * 512, 512, 128).message,
              "This drive is too big for FAT32 - max 2TB supported\n");
    EXPECT_EQ(planFat32(0xFFFFFFFEull * 512, 512, 128).code, 0);
    // A 4 GB card at 128 sectors per cluster has too few clusters; so has 1 GiB.
    LayoutCheck four = planFat32(4000000000ull, 512, 128);
    EXPECT_EQ(four.code, kFormatTooFewClusters);
    EXPECT_EQ(four.message,
              "FAT32 must have at least 65536 clusters, try to specify a smaller cluster size or "
              "use the default (i.e. don't use -cXX)\n");
    EXPECT_EQ(planFat32(1ull << 30, 512, 128).code, kFormatTooFewClusters);
    // One sector per cluster on a 2 TB volume: more than 2^28 clusters.
    EXPECT_EQ(planFat32(0xFFFFFFFEull * 512, 512, 1).code, kFormatTooManyClusters);
    // Cluster sizes FAT drivers cannot handle are refused rather than written.
    EXPECT_EQ(planFat32(32ull << 30, 512, 96).code, kFormatBadParams);
}

TEST(Fat32Layout, DefaultSectorsPerCluster) {
    const std::uint64_t MiB = 1048576;
    EXPECT_EQ(DefaultSectorsPerCluster(512 * MiB, 512), 1);
    EXPECT_EQ(DefaultSectorsPerCluster(512 * MiB, 4096), 1);  // whatever the sector size
    EXPECT_EQ(DefaultSectorsPerCluster(513 * MiB, 512), 8);   // 4 KiB
    EXPECT_EQ(DefaultSectorsPerCluster(8192 * MiB, 512), 8);
    EXPECT_EQ(DefaultSectorsPerCluster(8193 * MiB, 512), 16);  // 8 KiB
    EXPECT_EQ(DefaultSectorsPerCluster(16384 * MiB, 512), 16);
    EXPECT_EQ(DefaultSectorsPerCluster(16384 * MiB + MiB - 1, 512), 16);  // whole MiB only
    EXPECT_EQ(DefaultSectorsPerCluster(16385 * MiB, 512), 32);
    EXPECT_EQ(DefaultSectorsPerCluster(32769 * MiB, 512), 64);  // 32 KiB
    EXPECT_EQ(DefaultSectorsPerCluster(32769 * MiB, 4096), 8);
    // Automatic clusters on a 16 GiB volume: the formatter fills them in.
    EXPECT_EQ(planFat32(16384 * MiB, 512, 0).layout.sectorsPerCluster, 16u);
}

TEST(Fat32Layout, FatSizeIsOneMoreThanTheQuotientEvenWhenExact) {
    // 4 × 130 / (1 × 512 + 8) = 1 exactly.
    EXPECT_EQ(FatSizeSectors(162, 32, 1, 2, 512), 2u);
    EXPECT_EQ(FatSizeSectors(161, 32, 1, 2, 512), 1u);
    EXPECT_EQ(FatSizeSectors(62521344, 32, 128, 2, 512), 3816u);
}

// Every cluster number 2..count+1 must have its FAT entry, at every size a card can have.
TEST(Fat32Layout, FatCoversTheLastClusterAtEverySize) {
    int grown = 0;
    for (std::uint32_t bps : {512u, 4096u}) {
        for (std::uint8_t spc : {std::uint8_t{8}, std::uint8_t{64}, std::uint8_t{128}}) {
            for (std::uint64_t gib = 1; gib <= 2048; gib += (gib < 64 ? 1 : 7)) {
                for (std::uint64_t extra : {0ull, 123456789ull, 987654321ull}) {
                    LayoutCheck c = planFat32(gib * (1ull << 30) - extra, bps, spc);
                    if (c.code != 0)
                        continue;
                    const Fat32Layout& l = c.layout;
                    ASSERT_LE((std::uint64_t{l.clusterCount} + 2) * 4,
                              std::uint64_t{l.fatSizeSectors} * bps)
                        << gib << " GiB, " << int(spc) << " spc, " << bps;
                    const std::uint32_t plain = FatSizeSectors(l.totalSectors, 32, spc, 2, bps);
                    // Grown by at most a sector, and only where the plain size falls short.
                    ASSERT_LE(l.fatSizeSectors - plain, 1u);
                    grown += l.fatSizeSectors != plain;
                }
            }
        }
    }
    EXPECT_GT(grown, 0);
    // 128 GiB is such a size: the plain formula gives 16382 sectors for 2096895 clusters.
    EXPECT_EQ(FatSizeSectors(268435456, 32, 128, 2, 512), 16382u);
    EXPECT_EQ(planFat32(128ull << 30, 512, 128).layout.fatSizeSectors, 16383u);
}

TEST(Fat32Layout, VolumeIdFromTheClock) {
    LocalTime t{2026, 12, 8, 0, 25, 13, 457};
    // lo = 8 + 12·256 + (45 + 13·256), hi = 25 + 0·256 + 2026.
    EXPECT_EQ(MakeVolumeId(t), 0x08031935u);
    LocalTime sameHundredth = t;
    sameHundredth.millisecond = 451;
    EXPECT_EQ(MakeVolumeId(sameHundredth), MakeVolumeId(t));
    sameHundredth.millisecond = 460;
    EXPECT_NE(MakeVolumeId(sameHundredth), MakeVolumeId(t));
}

TEST(Fat32Sectors, BootSectorFields) {
    BootSectorFields f;
    f.layout = planFat32(62521344ull * 512, 512, 128).layout;
    f.sectorsPerTrack = 63;
    f.heads = 255;
    f.hiddenSectors = 8192;
    f.volumeId = 0xCAFE1234;
    std::string b = buildBootSector(f);
    ASSERT_EQ(b.size(), 512u);
    EXPECT_EQ(b.substr(0, 3), "\xEB\x5A\x90");
    EXPECT_EQ(b.substr(3, 8), "MSWIN4.1");
    EXPECT_EQ(le16(b, 11), 512u);
    EXPECT_EQ(static_cast<unsigned char>(b[13]), 128);
    EXPECT_EQ(le16(b, 14), 32u);
    EXPECT_EQ(b[16], 2);
    EXPECT_EQ(le16(b, 17), 0u);
    EXPECT_EQ(le16(b, 19), 0u);
    EXPECT_EQ(static_cast<unsigned char>(b[21]), 0xF8);
    EXPECT_EQ(le16(b, 22), 0u);
    EXPECT_EQ(le16(b, 24), 63u);
    EXPECT_EQ(le16(b, 26), 255u);
    EXPECT_EQ(le32(b, 28), 8192u);
    EXPECT_EQ(le32(b, 32), 62521344u);
    EXPECT_EQ(le32(b, 36), 3816u);
    EXPECT_EQ(le32(b, 40), 0u);
    EXPECT_EQ(le32(b, 44), 2u);
    EXPECT_EQ(le16(b, 48), 1u);
    EXPECT_EQ(le16(b, 50), 6u);
    EXPECT_EQ(b.substr(52, 12), std::string(12, '\0'));
    EXPECT_EQ(static_cast<unsigned char>(b[64]), 0x80);
    EXPECT_EQ(b[65], 0);
    EXPECT_EQ(b[66], 0x29);
    EXPECT_EQ(le32(b, 67), 0xCAFE1234u);
    EXPECT_EQ(b.substr(71, 11), "NO NAME    ");
    EXPECT_EQ(b.substr(82, 8), "FAT32   ");
    EXPECT_EQ(b.substr(90, 420), std::string(420, '\0'));
    EXPECT_EQ(b.substr(510, 2), "\x55\xAA");
    f.volumeLabel = "CAM";
    EXPECT_EQ(buildBootSector(f).substr(71, 11), "CAM        ");
}

TEST(Fat32Sectors, FsInfoAndFirstFatSector) {
    Fat32Layout l = planFat32(62521344ull * 512, 512, 128).layout;
    std::string fsi = buildFsInfoSector(l);
    EXPECT_EQ(fsi.substr(0, 4), "RRaA");
    EXPECT_EQ(fsi.substr(484, 4), "rrAa");
    EXPECT_EQ(le32(fsi, 488), 488387u);
    EXPECT_EQ(le32(fsi, 492), 3u);
    EXPECT_EQ(fsi.substr(508, 4), std::string("\0\0\x55\xAA", 4));
    std::string fat = buildFirstFatSector(l);
    EXPECT_EQ(le32(fat, 0), 0x0FFFFFF8u);
    EXPECT_EQ(le32(fat, 4), 0x0FFFFFFFu);
    EXPECT_EQ(le32(fat, 8), 0x0FFFFFFFu);
    EXPECT_EQ(fat.substr(12), std::string(500, '\0'));
}

TEST(Fat32Sectors, LargeSectorsCarryTheSignatureTwice) {
    BootSectorFields f;
    f.layout = planFat32(64ull << 30, 4096, 16).layout;
    std::string b = buildBootSector(f);
    ASSERT_EQ(b.size(), 4096u);
    EXPECT_EQ(b.substr(510, 2), "\x55\xAA");
    EXPECT_EQ(b.substr(4094, 2), "\x55\xAA");
    std::string fsi = buildFsInfoSector(f.layout);
    ASSERT_EQ(fsi.size(), 4096u);
    EXPECT_EQ(fsi.substr(484, 4), "rrAa");
    EXPECT_EQ(fsi.substr(508, 4), std::string("\0\0\x55\xAA", 4));
    EXPECT_EQ(fsi.substr(4094, 2), "\x55\xAA");
    // 512-byte sectors carry it once, at 510 of the boot sector and 508 of the FSInfo sector.
    EXPECT_EQ(buildFsInfoSector(planFat32(64ull << 30, 512, 128).layout).size(), 512u);
}

TEST(CardFormatTexts, AllocationUnitAndFailureText) {
    EXPECT_EQ(allocationUnitText(32010928128ull), "64K");
    EXPECT_EQ(allocationUnitText(7948206080ull), "64K");  // an "8 GB" card
    EXPECT_EQ(allocationUnitText(0x1BFFFFFFFull), "16K");
    EXPECT_EQ(allocationUnitText(0x1C0000000ull), "64K");
    EXPECT_EQ(allocationUnitText(4000000000ull), "16K");
    // 4096-byte sectors: the 128-sector clusters actually written.
    EXPECT_EQ(allocationUnitText(32010928128ull, 4096), "512K");
    EXPECT_EQ(allocationUnitText(4000000000ull, 4096), "512K");
    EXPECT_EQ(failureText("Cannot format this drive.", 8198, "Quit."),
              "Cannot format this drive. (8198)\r\n\r\nQuit.");
}

}  // namespace
}  // namespace orvik::card_format
