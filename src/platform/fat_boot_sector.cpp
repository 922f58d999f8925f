#include "platform/fat_boot_sector.h"

#include "platform/byte_order.h"

namespace orvik::platform {

Result<FatBootSector> parseFatBootSector(std::span<const std::uint8_t> bs) {
    if (bs.size() < 512 || bs[510] != 0x55 || bs[511] != 0xAA)
        return makeError("no FAT boot sector (signature missing)");
    FatBootSector l;
    l.bytesPerSector = loadLe16(bs, 11);
    l.sectorsPerCluster = bs[13];
    l.reservedSectors = loadLe16(bs, 14);
    l.fatCount = bs[16];
    l.rootEntries = loadLe16(bs, 17);
    const std::uint32_t total16 = loadLe16(bs, 19);
    const std::uint32_t fat16Size = loadLe16(bs, 22);
    l.totalSectors = total16 ? total16 : loadLe32(bs, 32);
    auto pow2 = [](std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
    if (!pow2(l.bytesPerSector) || l.bytesPerSector < 512 || l.bytesPerSector > 4096 ||
        !pow2(l.sectorsPerCluster) || l.reservedSectors == 0 || l.fatCount == 0 || l.fatCount > 4)
        return makeError("not a FAT file system (boot sector values out of range)");
    l.fat32 = fat16Size == 0;
    if (l.fat32) {
        l.fatSectors = loadLe32(bs, 36);
        l.rootCluster = loadLe32(bs, 44);
        l.fsInfoSector = loadLe16(bs, 48);
        l.backupBootSector = loadLe16(bs, 50);
        if (l.fatSectors == 0 || l.rootCluster < 2)
            return makeError("not a FAT32 file system");
    } else {
        l.fatSectors = fat16Size;
        if (l.rootEntries == 0)
            return makeError("not a FAT file system (no root folder)");
    }
    return l;
}

}  // namespace orvik::platform
