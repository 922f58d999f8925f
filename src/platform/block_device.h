#pragma once
// Raw access to a card for formatting: a block device (a whole card or one of its partitions) or
// a regular file holding a card image. Opening takes the exclusive lock; every operation reports
// the errno of the failed system call (0 = success) so callers can print the system's own text.
//
// Before anything is opened for writing, assessFormatTarget() decides whether the path may be
// formatted at all: only removable media (or loop devices and image files), never a disk that
// holds this machine's own file systems.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/result.h"
#include "platform/system_error.h"

namespace orvik::platform {

// Where the system's view of devices and mounts is read; tests point these at a fake tree.
struct SystemView {
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
    std::string mountInfo = "/proc/self/mountinfo";
    std::string swaps = "/proc/swaps";
};

enum class TargetKind { ImageFile, LoopDevice, BlockDevice };

// One mounted file system that lives on the target (or on a partition of the target disk).
struct TargetMount {
    std::string device;      // e.g. "/dev/sdb1"
    std::string mountPoint;  // e.g. "/media/user/CARD"
};

// What assessFormatTarget() found out about a path that may be formatted.
struct FormatTarget {
    std::string path;  // as given
    TargetKind kind = TargetKind::ImageFile;
    std::string disk;           // kernel name of the whole disk, e.g. "sdb" ("" for images)
    std::string partitionName;  // kernel name when the target is a partition, e.g. "sdb1"
    int partitionNumber = 0;    // 0 when the target is a whole disk or an image
    std::uint64_t sizeBytes = 0;
    std::vector<TargetMount> mounts;  // non-system mounts the workflow must release first
};

// Decides whether `path` may be formatted. Refused, with the reason as the message:
// a path that does not exist, a directory, anything that is neither a block device nor a regular
// file, a disk (or partition of a disk) holding a file system of this machine's own (/, /boot,
// /home, swap …) or used by device-mapper/RAID, and a block device that is not removable.
// Mounts of the card itself are listed in `mounts`, not refused: the workflow unmounts them.
Result<FormatTarget> assessFormatTarget(const std::string& path, const SystemView& view = {});

struct DeviceGeometry {
    std::uint32_t bytesPerSector = 512;
    std::uint32_t sectorsPerTrack = 63;
    std::uint32_t tracksPerCylinder = 255;  // heads
};

struct PartitionInfo {
    std::uint64_t lengthBytes = 0;
    std::uint32_t hiddenSectors = 0;  // sectors before the partition on its disk
};

struct BlockDeviceOptions {
    // Sector size reported for a regular-file image (512, or 4096 to test large-sector cards).
    std::uint32_t imageSectorSize = 512;
    SystemView view;
};

class BlockDevice {
  public:
    // Opens `path` for reading and writing. Block devices are opened O_EXCL, which fails with
    // EBUSY while the device is mounted or opened exclusively elsewhere. Returns nullptr and sets
    // *error (errno) on failure.
    static std::unique_ptr<BlockDevice> open(const std::string& path,
                                             const BlockDeviceOptions& options, int* error);
    ~BlockDevice();
    BlockDevice(const BlockDevice&) = delete;
    BlockDevice& operator=(const BlockDevice&) = delete;

    // Every operation below fails with "PATH: reason" and the errno in errorNumber().
    // The O_EXCL open already holds block devices; an image file takes an exclusive flock.
    Result<void> lock();
    Result<void> unlock();
    // BLKSSZGET, HDIO_GETGEO; 63 sectors per track and 255 heads when the device reports none.
    Result<void> geometry(DeviceGeometry* out) const;
    // BLKGETSIZE64 and the partition's start sector from sysfs (0 for a whole disk or an image).
    Result<void> partitionInfo(PartitionInfo* out) const;
    // pwrite of the whole buffer at byte `offset`, retried on short writes.
    Result<void> writeAt(std::uint64_t offset, const void* data, std::size_t size);
    Result<void> readAt(std::uint64_t offset, void* data, std::size_t size) const;
    // Makes a range of an image file read as zeros by punching a hole (the image stays sparse).
    // EOPNOTSUPP for block devices and file systems without hole punching: write zeros then.
    Result<void> punchZeros(std::uint64_t offset, std::uint64_t size);
    // Writes `type` into this partition's entry of the parent disk's MBR. ENOTTY when there is no
    // partition table entry to change (a whole-disk card, an image file), EINVAL for a GPT disk.
    Result<void> setPartitionType(std::uint8_t type);
    // fsync, and BLKFLSBUF for block devices so later readers see the new sectors.
    Result<void> flush();
    // Flushes and drops the kernel's cached view of the device so the new file system is read
    // afresh (a partition table re-read is asked for on a whole disk, best effort).
    Result<void> dismount();
    void close();

    const std::string& path() const { return path_; }
    bool isImage() const { return image_; }
    int fd() const { return fd_; }

  private:
    BlockDevice() = default;
    Result<void> status(int error) const;  // success for 0
    std::string path_;
    int fd_ = -1;
    bool image_ = false;
    bool locked_ = false;
    std::uint32_t imageSectorSize_ = 512;
    SystemView view_;
};

// Unmounts the file system mounted at `mountPoint` (device `device`): through UDisks2
// (Filesystem.Unmount, no root needed) when it runs, otherwise umount2. Returns an error with
// the reason.
Result<void> unmountVolume(const std::string& device, const std::string& mountPoint);

// Asks the desktop (UDisks2) to mount `device` again. Returns the new mount point, or an error
// when there is no desktop service to do it (the caller then works on the unmounted device).
Result<std::string> remountVolume(const std::string& device);

// The mount point of the file system that contains `path` (longest mount-point prefix) and the
// device it is mounted from; error when `path` is not inside any mount listed in `view`.
Result<TargetMount> mountContaining(const std::string& path, const SystemView& view = {});

}  // namespace orvik::platform
