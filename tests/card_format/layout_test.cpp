#include <gtest/gtest.h>

#include "card_format/card_format.h"
#include "card_format/fat32_formatter.h"

namespace orvik::card_format {
namespace {

// A 32 GB card of 512-byte sectors, formatted with 64 KiB clusters.
TEST(Fat32Layout, ThirtyTwoGigabyteCard) {
    LayoutCheck c = planFat32(62521344ull * 512, 512, 128);
    ASSERT_EQ(c.code, 0) << c.message;
    EXPECT_EQ(c.layout.fatSizeSectors, 3816u);
    EXPECT_EQ(c.layout.userAreaSectors, 62513680u);
    EXPECT_EQ(c.layout.clusterCount, 488388u);
    EXPECT_EQ(c.layout.freeClusters, 488387u);
    EXPECT_EQ(c.layout.fatSectorsNeeded, 3816u);
    EXPECT_EQ(c.layout.systemAreaSectors, 7792u);
}

TEST(Fat32Layout, AllocationUnitText) {
    EXPECT_EQ(allocationUnitText(32010928128ull), "64K");
    EXPECT_EQ(allocationUnitText(7948206080ull), "64K");
    EXPECT_EQ(allocationUnitText(0x1BFFFFFFFull), "16K");
    EXPECT_EQ(allocationUnitText(0x1C0000000ull), "64K");
    EXPECT_EQ(allocationUnitText(4000000000ull), "16K");
}

}  // namespace
}  // namespace orvik::card_format
