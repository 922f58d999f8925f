#pragma once
// Writes a fresh, empty FAT32 file system over a whole volume (a card, one of its partitions or a
// card image): it clears only the system area (reserved sectors, both FATs, the root directory's
// cluster) and writes the boot and FSInfo sectors with their backups and the first FAT sectors.
// Progress lines go to `out`, one error line to `err`, exactly as the camera's tools print them.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "platform/block_device.h"
#include "platform/result.h"

namespace orvik::card_format {

struct FormatParams {
    // 0 = automatic (DefaultSectorsPerCluster); the card workflow always passes 128.
    std::uint8_t sectorsPerCluster = 0;
    // Boot-sector label, up to 11 characters; empty gives "NO NAME    ".
    std::string volumeLabel;
};

// Local date and time as the volume ID is made from it.
struct LocalTime {
    int year = 1980, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};
LocalTime localTimeNow();

// Progress of the system-area clearing, in bytes.
using FormatProgress = std::function<void(std::uint64_t written, std::uint64_t total)>;

struct FormatOptions {
    std::ostream* out = nullptr;  // nullptr: std::cout
    std::ostream* err = nullptr;  // nullptr: std::cerr
    // Fixed values make the output reproducible (golden tests); unset: the local clock.
    std::optional<std::uint32_t> volumeId;
    std::optional<LocalTime> time;
    FormatProgress progress;
    // The warning line is printed first; `confirm`, when set, reads the answer to it (false stops
    // the format before the device is opened). A caller that asked already clears printWarning.
    bool printWarning = true;
    std::function<bool()> confirm;
    // Polled until the first sector is written; true stops the format with kFormatCancelled and
    // the volume untouched. Once clearing has begun the format runs to its end.
    std::function<bool()> cancelRequested;
    // An image file's system area is cleared by punching holes, so it stays sparse; false writes
    // zeros as on a real card. Cards always get written zeros.
    bool sparseImages = true;
    // Sector size given to a regular-file image (512 or 4096).
    std::uint32_t imageSectorSize = 512;
    platform::SystemView view;
    // Skip the removable/system-disk check (never used by the CLI or the dialog; for tests that
    // format loop devices through paths the check cannot see).
    bool skipTargetCheck = false;
};

// Return codes: 0 success; an errno value (1..4095) when a system call failed; otherwise one of
// these.
inline constexpr int kFormatRefused = 0x2001;   // assessFormatTarget said no
inline constexpr int kFormatTooSmall = 0x2002;  // fewer than 65536 sectors
inline constexpr int kFormatTooBig = 0x2003;    // 0xFFFFFFFF sectors or more
inline constexpr int kFormatNoMemory = 0x2004;
inline constexpr int kFormatTooManyClusters = 0x2005;  // more than 0x0FFFFFFF clusters
inline constexpr int kFormatTooFewClusters = 0x2006;   // fewer than 65536 clusters
inline constexpr int kFormatFatTooSmall = 0x2007;      // FAT cannot address every cluster
inline constexpr int kFormatCancelled = 0x2008;
inline constexpr int kFormatBadParams = 0x2009;  // label longer than 11 bytes

// Sectors per cluster for a volume when the caller leaves it to us.
std::uint8_t DefaultSectorsPerCluster(std::uint64_t lengthBytes, std::uint32_t bytesPerSector);

// Sectors of one FAT: always one more than the quotient, even when it divides exactly.
std::uint32_t FatSizeSectors(std::uint32_t totalSectors, std::uint32_t reservedSectors,
                             std::uint32_t sectorsPerCluster, std::uint32_t fatCount,
                             std::uint32_t bytesPerSector);

std::uint32_t MakeVolumeId(const LocalTime& time);

// Every value the formatter derives from the device.
struct Fat32Layout {
    std::uint32_t bytesPerSector = 512;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t reservedSectors = 32;
    std::uint32_t fatCount = 2;
    std::uint32_t totalSectors = 0;
    std::uint32_t fatSizeSectors = 0;
    std::uint32_t userAreaSectors = 0;
    std::uint32_t clusterCount = 0;
    std::uint64_t fatSectorsNeeded = 0;
    std::uint32_t systemAreaSectors = 0;  // reserved + both FATs + the root cluster
    std::uint32_t freeClusters = 0;
};

// Layout for a volume of `lengthBytes`, or the failure code with its message (the formatter's
// checks, in the order it makes them).
struct LayoutCheck {
    int code = 0;
    std::string message;
    Fat32Layout layout;
};
LayoutCheck planFat32(std::uint64_t lengthBytes, std::uint32_t bytesPerSector,
                      std::uint8_t sectorsPerCluster);

// Geometry values that go into the boot sector.
struct BootSectorFields {
    Fat32Layout layout;
    std::uint32_t sectorsPerTrack = 63;
    std::uint32_t heads = 255;
    std::uint32_t hiddenSectors = 0;
    std::uint32_t volumeId = 0;
    std::string volumeLabel;  // "" = "NO NAME    "
};
// One sector each, bytesPerSector long.
std::string buildBootSector(const BootSectorFields& f);
std::string buildFsInfoSector(const Fat32Layout& layout);
std::string buildFirstFatSector(const Fat32Layout& layout);

// Formats `devicePath` (block device or image file) as FAT32. Runs on the caller's thread.
int FormatFat32(const std::string& devicePath, const FormatParams& params,
                const FormatOptions& options = {});

}  // namespace orvik::card_format
