#pragma once
// The FAT boot sector: the one reader of its fields, for labelling a volume and for writing a file
// into a freshly formatted card's root.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/result.h"

namespace orvik::platform {

inline constexpr std::size_t kFatDirEntrySize = 32;

struct FatBootSector {
    bool fat32 = false;  // no 16-bit FAT size: FAT32
    std::uint32_t bytesPerSector = 0, sectorsPerCluster = 0, reservedSectors = 0, fatCount = 0;
    std::uint32_t rootEntries = 0, fatSectors = 0, rootCluster = 0, backupBootSector = 0;
    std::uint32_t fsInfoSector = 0;
    std::uint64_t totalSectors = 0;

    std::uint64_t fatOffset() const { return std::uint64_t(reservedSectors) * bytesPerSector; }
    std::uint64_t rootDirOffset() const {  // FAT12/16 fixed root folder
        return (std::uint64_t(reservedSectors) + std::uint64_t(fatCount) * fatSectors) *
               bytesPerSector;
    }
    std::uint64_t dataOffset() const {
        const std::uint64_t rootBytes = std::uint64_t(rootEntries) * kFatDirEntrySize;
        const std::uint64_t rootSectors = (rootBytes + bytesPerSector - 1) / bytesPerSector;
        return rootDirOffset() + rootSectors * bytesPerSector;
    }
    std::uint64_t clusterBytes() const { return std::uint64_t(sectorsPerCluster) * bytesPerSector; }
};

// Reads the fields of the first 512 bytes of a volume. Refused: no 55 AA signature, sector size
// not a power of two in 512..4096, cluster size not a power of two, no reserved sector, no FAT or
// more than four, a FAT32 without FAT size or root cluster, a FAT12/16 without root folder, fewer
// than 512 bytes.
Result<FatBootSector> parseFatBootSector(std::span<const std::uint8_t> sector);

}  // namespace orvik::platform
