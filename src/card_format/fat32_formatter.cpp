#include "card_format/fat32_formatter.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <new>
#include <span>
#include <vector>

#include "platform/byte_order.h"

namespace orvik::card_format {
namespace {

constexpr std::uint32_t kReservedSectors = 32;
constexpr std::uint32_t kRootCluster = 2;
constexpr std::uint32_t kFsInfoSector = 1;
constexpr std::uint32_t kBackupBootSector = 6;
constexpr std::uint8_t kMedia = 0xF8;
constexpr std::uint8_t kPartitionTypeFat32Lba = 0x0C;
// The system area is cleared from one zero buffer of this many sectors.
constexpr std::uint32_t kClearChunkSectors = 128;

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    char small[512];
    va_list ap2;
    va_copy(ap2, ap);
    int n = std::vsnprintf(small, sizeof small, fmt, ap);
    va_end(ap);
    std::string out;
    if (n < static_cast<int>(sizeof small)) {
        out.assign(small, n > 0 ? static_cast<std::size_t>(n) : 0);
    } else {
        out.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, ap2);
        out.resize(static_cast<std::size_t>(n));
    }
    va_end(ap2);
    return out;
}

bool isPowerOfTwo(unsigned v) {
    return v != 0 && (v & (v - 1)) == 0;
}

}  // namespace

LocalTime localTimeNow() {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t t = system_clock::to_time_t(now);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    LocalTime lt;
    lt.year = tm.tm_year + 1900;
    lt.month = tm.tm_mon + 1;
    lt.day = tm.tm_mday;
    lt.hour = tm.tm_hour;
    lt.minute = tm.tm_min;
    lt.second = tm.tm_sec;
    lt.millisecond =
        static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return lt;
}

std::uint8_t DefaultSectorsPerCluster(std::uint64_t lengthBytes, std::uint32_t bytesPerSector) {
    const std::uint64_t mib = lengthBytes / 1048576;
    if (mib <= 512)
        return 1;
    std::uint32_t clusterKiB = 4;
    if (mib > 8192)
        clusterKiB = 8;
    if (mib > 16384)
        clusterKiB = 16;
    if (mib > 32768)
        clusterKiB = 32;
    return static_cast<std::uint8_t>(clusterKiB * 1024 / bytesPerSector);
}

std::uint32_t FatSizeSectors(std::uint32_t totalSectors, std::uint32_t reservedSectors,
                             std::uint32_t sectorsPerCluster, std::uint32_t fatCount,
                             std::uint32_t bytesPerSector) {
    const std::uint64_t numerator = 4ull * (totalSectors - reservedSectors);
    const std::uint64_t denominator =
        static_cast<std::uint64_t>(sectorsPerCluster) * bytesPerSector + 4ull * fatCount;
    return static_cast<std::uint32_t>(numerator / denominator + 1);
}

std::uint32_t MakeVolumeId(const LocalTime& t) {
    const std::uint16_t lo =
        static_cast<std::uint16_t>(t.day + t.month * 256 + (t.millisecond / 10 + t.second * 256));
    const std::uint16_t hi = static_cast<std::uint16_t>(t.minute + t.hour * 256 + t.year);
    return (static_cast<std::uint32_t>(hi) << 16) | lo;
}

LayoutCheck planFat32(std::uint64_t lengthBytes, std::uint32_t bytesPerSector,
                      std::uint8_t sectorsPerCluster) {
    LayoutCheck r;
    Fat32Layout& l = r.layout;
    l.bytesPerSector = bytesPerSector;
    const std::uint64_t total = lengthBytes / bytesPerSector;
    if (total < 0x10000) {
        r.code = kFormatTooSmall;
        r.message = "This drive is too small for FAT32 - there must be at least 64K clusters\n";
        return r;
    }
    if (total >= 0xFFFFFFFFull) {
        r.code = kFormatTooBig;
        r.message = "This drive is too big for FAT32 - max 2TB supported\n";
        return r;
    }
    l.totalSectors = static_cast<std::uint32_t>(total);
    l.sectorsPerCluster = sectorsPerCluster ? sectorsPerCluster
                                            : DefaultSectorsPerCluster(lengthBytes, bytesPerSector);
    if (!isPowerOfTwo(l.sectorsPerCluster)) {
        r.code = kFormatBadParams;
        r.message = format("Sectors per cluster must be a power of two from 1 to 128, not %u\n",
                           l.sectorsPerCluster);
        return r;
    }
    l.fatSizeSectors = FatSizeSectors(l.totalSectors, l.reservedSectors, l.sectorsPerCluster,
                                      l.fatCount, bytesPerSector);
    l.userAreaSectors = l.totalSectors - l.reservedSectors - l.fatCount * l.fatSizeSectors;
    l.clusterCount = l.userAreaSectors / l.sectorsPerCluster;
    // The size formula forgets the two reserved FAT entries: for some volume sizes (64 GiB,
    // 128 GiB cards among them) the FAT would end one entry before the last cluster, which FAT
    // drivers reject or overrun. Grow the FAT until cluster numbers 2..count+1 all fit.
    while ((static_cast<std::uint64_t>(l.clusterCount) + 2) * 4 >
           static_cast<std::uint64_t>(l.fatSizeSectors) * bytesPerSector) {
        ++l.fatSizeSectors;
        l.userAreaSectors = l.totalSectors - l.reservedSectors - l.fatCount * l.fatSizeSectors;
        l.clusterCount = l.userAreaSectors / l.sectorsPerCluster;
    }
    l.fatSectorsNeeded =
        (static_cast<std::uint64_t>(l.clusterCount) * 4 + bytesPerSector - 1) / bytesPerSector;
    l.systemAreaSectors = l.fatCount * l.fatSizeSectors + l.reservedSectors + l.sectorsPerCluster;
    l.freeClusters = l.clusterCount - 1;
    if (l.clusterCount > 0x0FFFFFFF) {
        r.code = kFormatTooManyClusters;
        r.message =
            "This drive has more than 2^28 clusters, try to specify a larger cluster size or use "
            "the default (i.e. don't use -cXX)\n";
    } else if (l.clusterCount < 65536) {
        r.code = kFormatTooFewClusters;
        r.message =
            "FAT32 must have at least 65536 clusters, try to specify a smaller cluster size or use "
            "the default (i.e. don't use -cXX)\n";
    } else if (l.fatSectorsNeeded > l.fatSizeSectors) {
        r.code = kFormatFatTooSmall;
        r.message =
            "This drive is too big for this version of the formatter, check for an upgrade\n";
    }
    return r;
}

std::string buildBootSector(const BootSectorFields& f) {
    const Fat32Layout& l = f.layout;
    std::string s(l.bytesPerSector, '\0');
    const std::span b(reinterpret_cast<unsigned char*>(s.data()), s.size());
    b[0] = 0xEB;  // jump over the parameter block
    b[1] = 0x5A;
    b[2] = 0x90;
    std::memcpy(&b[3], "MSWIN4.1", 8);  // the OEM name every FAT driver is happiest with
    platform::storeLe16(b, 11, l.bytesPerSector);
    b[13] = static_cast<unsigned char>(l.sectorsPerCluster);
    platform::storeLe16(b, 14, l.reservedSectors);
    b[16] = static_cast<unsigned char>(l.fatCount);
    // 17: root entries, 19: 16-bit total, 22: 16-bit FAT size all stay 0 on FAT32.
    b[21] = kMedia;
    platform::storeLe16(b, 24, f.sectorsPerTrack);
    platform::storeLe16(b, 26, f.heads);
    platform::storeLe32(b, 28, f.hiddenSectors);
    platform::storeLe32(b, 32, l.totalSectors);
    platform::storeLe32(b, 36, l.fatSizeSectors);
    // 40: extended flags 0 (FATs mirrored), 42: version 0.0.
    platform::storeLe32(b, 44, kRootCluster);
    platform::storeLe16(b, 48, kFsInfoSector);
    platform::storeLe16(b, 50, kBackupBootSector);
    b[64] = 0x80;  // drive number of a hard disk
    b[66] = 0x29;  // extended boot signature: ID, label and type follow
    platform::storeLe32(b, 67, f.volumeId);
    std::string label = f.volumeLabel.empty() ? std::string("NO NAME") : f.volumeLabel;
    label.resize(11, ' ');
    std::memcpy(&b[71], label.data(), 11);
    std::memcpy(&b[82], "FAT32   ", 8);
    b[510] = 0x55;
    b[511] = 0xAA;
    if (l.bytesPerSector > 512) {
        b[l.bytesPerSector - 2] = 0x55;
        b[l.bytesPerSector - 1] = 0xAA;
    }
    return s;
}

std::string buildFsInfoSector(const Fat32Layout& l) {
    std::string s(l.bytesPerSector, '\0');
    const std::span b(reinterpret_cast<unsigned char*>(s.data()), s.size());
    platform::storeLe32(b, 0, 0x41615252);    // "RRaA"
    platform::storeLe32(b, 484, 0x61417272);  // "rrAa"
    platform::storeLe32(b, 488, l.freeClusters);
    platform::storeLe32(b, 492, 3);  // cluster 2 is the root directory; 3 is the first free one
    platform::storeLe32(b, 508, 0xAA550000);
    if (l.bytesPerSector > 512) {
        // Larger sectors end with the boot signature as well, as the boot sector does.
        b[l.bytesPerSector - 2] = 0x55;
        b[l.bytesPerSector - 1] = 0xAA;
    }
    return s;
}

std::string buildFirstFatSector(const Fat32Layout& l) {
    std::string s(l.bytesPerSector, '\0');
    const std::span b(reinterpret_cast<unsigned char*>(s.data()), s.size());
    platform::storeLe32(b, 0, 0x0FFFFF00u | kMedia);
    platform::storeLe32(b, 4, 0x0FFFFFFF);
    platform::storeLe32(b, 8, 0x0FFFFFFF);  // the root directory is one cluster long
    return s;
}

int FormatFat32(const std::string& devicePath, const FormatParams& params,
                const FormatOptions& options) {
    std::ostream& out = options.out ? *options.out : std::cout;
    std::ostream& err = options.err ? *options.err : std::cerr;
    auto fail = [&](const std::string& message, int sysError, int code) {
        if (sysError != 0)
            err << message
                << format("\nGetLastError()=%d: %s\n", sysError,
                          platform::systemErrorText(sysError).c_str());
        else
            err << message << "\n";
        err.flush();
        return sysError != 0 ? sysError : code;
    };

    // 1. Volume ID and the warning.
    const std::uint32_t volumeId =
        options.volumeId ? *options.volumeId
                         : MakeVolumeId(options.time ? *options.time : localTimeNow());
    if (options.printWarning) {
        out << "Warning ALL data on drive '" << devicePath
            << "' will be lost irretrievably, are you sure\n(y/n) :";
        if (options.confirm) {
            out.flush();
            if (!options.confirm()) {
                out << "\n";
                return fail("Format cancelled; nothing was written", 0, kFormatCancelled);
            }
        } else {
            out << "\n";
        }
    }
    if (params.volumeLabel.size() > 11)
        return fail("The volume label '" + params.volumeLabel + "' is longer than 11 characters", 0,
                    kFormatBadParams);

    // Nothing is opened for writing until the target is known to be a card.
    if (!options.skipTargetCheck) {
        auto target = platform::assessFormatTarget(devicePath, options.view);
        if (!target)
            return fail("Refusing to format: " + target.error(), 0, kFormatRefused);
        if (!target->mounts.empty())
            return fail("Refusing to format: '" + devicePath + "' is mounted at " +
                            target->mounts.front().mountPoint + "; unmount it first",
                        0, kFormatRefused);
    }

    // 2. Open (the lock), geometry, partition information.
    platform::BlockDeviceOptions devOptions;
    devOptions.imageSectorSize = options.imageSectorSize;
    devOptions.view = options.view;
    int sysError = 0;
    auto dev = platform::BlockDevice::open(devicePath, devOptions, &sysError);
    if (!dev)
        return fail(
            "Failed to open device - close any files before formatting and make sure you have "
            "Admin rights when using this formatter\n Are you SURE you're formatting the RIGHT "
            "DRIVE!!!",
            sysError, kFormatRefused);
    if (auto r = dev->lock(); !r)
        return fail("Failed to lock device", r.errorNumber(), kFormatRefused);
    platform::DeviceGeometry geo;
    if (auto r = dev->geometry(&geo); !r)
        return fail("Failed to get device geometry", r.errorNumber(), E2BIG);
    platform::PartitionInfo part;
    if (auto r = dev->partitionInfo(&part); !r)
        return fail("Failed to get parition info", r.errorNumber(), E2BIG);

    // 3.-6. Layout and its checks; nothing has been written yet.
    LayoutCheck plan = planFat32(part.lengthBytes, geo.bytesPerSector, params.sectorsPerCluster);
    if (plan.code != 0)
        return fail(plan.message, 0, plan.code);
    const Fat32Layout& l = plan.layout;

    std::string bootSector, fsInfo, firstFat;
    std::vector<char> zeros;
    try {
        BootSectorFields f;
        f.layout = l;
        f.sectorsPerTrack = geo.sectorsPerTrack;
        f.heads = geo.tracksPerCylinder;
        f.hiddenSectors = part.hiddenSectors;
        f.volumeId = volumeId;
        f.volumeLabel = params.volumeLabel;
        bootSector = buildBootSector(f);
        fsInfo = buildFsInfoSector(l);
        firstFat = buildFirstFatSector(l);
        zeros.assign(static_cast<std::size_t>(kClearChunkSectors) * l.bytesPerSector, 0);
    } catch (const std::bad_alloc&) {
        return fail("Failed to allocate memory", 0, kFormatNoMemory);
    }

    out << format("Size : %lluGB %u sectors\n",
                  static_cast<unsigned long long>(part.lengthBytes / 1000000000ull),
                  l.totalSectors);
    out << format("%u Bytes Per Sector, Cluster size %u bytes\n", l.bytesPerSector,
                  l.bytesPerSector * l.sectorsPerCluster);
    out << format("Volume ID is %x:%x\n", volumeId >> 16, volumeId & 0xFFFF);
    out << format("%u Reserved Sectors, %u Sectors per FAT, %u fats\n", l.reservedSectors,
                  l.fatSizeSectors, l.fatCount);
    out << format("%u Total clusters\n", l.clusterCount);
    out << format("%u Free Clusters\n", l.freeClusters);
    out << "Formatting drive " << devicePath << "...\n";
    out.flush();

    // The last moment a cancel leaves the card as it was.
    if (options.cancelRequested && options.cancelRequested())
        return fail("Format cancelled; nothing was written", 0, kFormatCancelled);

    // 7. Clear reserved sectors, both FATs and the root cluster.
    out << format("Clearing out %u sectors for Reserved sectors, fats and root cluster...\n",
                  l.systemAreaSectors);
    out.flush();
    const std::uint64_t totalBytes =
        static_cast<std::uint64_t>(l.systemAreaSectors) * l.bytesPerSector;
    const auto started = std::chrono::steady_clock::now();
    std::uint64_t written = 0;
    bool punch = options.sparseImages && dev->isImage();
    if (options.progress)
        options.progress(0, totalBytes);
    while (written < totalBytes) {
        const std::size_t chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), totalBytes - written));
        Result<void> r;
        if (punch) {
            r = dev->punchZeros(written, chunk);
            if (!r && (r.errorNumber() == EOPNOTSUPP || r.errorNumber() == EINVAL))
                punch = false;
        }
        if (!punch)
            r = dev->writeAt(written, zeros.data(), chunk);
        if (!r)
            return fail("Failed to write", r.errorNumber(), EIO);
        written += chunk;
        if (options.progress)
            options.progress(written, totalBytes);
    }
    if (auto r = dev->flush(); !r)
        return fail("Failed to write", r.errorNumber(), EIO);
    const double seconds = std::max(
        1e-6, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    out << format("Wrote %llu bytes in %.2f seconds, %.2f Megabytes/sec\n",
                  static_cast<unsigned long long>(written), seconds,
                  static_cast<double>(written) / (seconds * 1048576.0));

    // 8.-9. Boot sectors, FSInfo sectors, the first sector of each FAT.
    out << "Initialising reserved sectors and FATs...\n";
    out.flush();
    const std::uint64_t bps = l.bytesPerSector;
    const std::pair<std::uint64_t, const std::string*> writes[] = {
        {0, &bootSector},
        {kFsInfoSector, &fsInfo},
        {kBackupBootSector, &bootSector},
        {kBackupBootSector + kFsInfoSector, &fsInfo},
        {kReservedSectors, &firstFat},
        {kReservedSectors + static_cast<std::uint64_t>(l.fatSizeSectors), &firstFat},
    };
    for (const auto& [sector, data] : writes) {
        if (auto r = dev->writeAt(sector * bps, data->data(), data->size()); !r)
            return fail("Failed to write", r.errorNumber(), EIO);
    }

    // 10. Mark the partition as FAT32 (LBA); a card without a partition table has nothing to mark.
    if (auto r = dev->setPartitionType(kPartitionTypeFat32Lba); !r && part.hiddenSectors != 0)
        return fail("Failed to set parition info", r.errorNumber(), EIO);

    // 11. Flush and let the kernel read the new file system afresh, then let go.
    if (auto r = dev->dismount(); !r)
        return fail("Failed to dismount device", r.errorNumber(), EIO);
    if (auto r = dev->unlock(); !r)
        return fail("Failed to unlock device", r.errorNumber(), EIO);
    dev->close();
    out << "Done\n";
    out.flush();
    return 0;
}

}  // namespace orvik::card_format
