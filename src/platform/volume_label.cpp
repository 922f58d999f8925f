#include "platform/volume_label.h"

#include "platform/udisks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/byte_order.h"
#include "platform/fat_boot_sector.h"
#include "platform/readable_file.h"
#include "platform/run_program.h"
#include "platform/system_error.h"
#include "platform/volumes.h"

namespace orvik::platform {
namespace {

constexpr std::size_t kLabelLength = 11;
constexpr std::size_t kFat32LabelOffset = 71;  // BS_VolLab of the FAT32 extended boot record
constexpr std::size_t kFat16LabelOffset = 43;  // BS_VolLab of the FAT12/16 one
constexpr std::size_t kDirEntrySize = kFatDirEntrySize;
constexpr std::uint8_t kAttrVolumeId = 0x08;
constexpr std::uint8_t kAttrLongName = 0x0F;

// The 11-byte, space-padded, upper-case field; refuses what FAT does not allow in a label.
Result<std::array<char, kLabelLength>> labelField(std::string_view label) {
    if (label.size() > kLabelLength)
        return makeError("the label \"" + std::string(label) + "\" is longer than 11 characters");
    std::array<char, kLabelLength> field;
    field.fill(' ');
    for (std::size_t i = 0; i < label.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(label[i]);
        if (c < 0x20 || c > 0x7E || std::strchr("\"*+,./:;<=>?[\\]|", c) != nullptr)
            return makeError("the label \"" + std::string(label) +
                             "\" holds a character a FAT label cannot have");
        field[i] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    if (!label.empty() && field[0] == ' ')
        return makeError("a FAT label cannot begin with a blank");
    return field;
}

std::string trimmed(std::string_view s) {
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return std::string(s);
}

class Device {
  public:
    ~Device() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Result<void> open(const std::string& path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            return makeError(path + ": " + systemErrorText(errno));
        bool block = S_ISBLK(st.st_mode);
        if (!block && !S_ISREG(st.st_mode))
            return makeError(path + " is neither a block device nor an image file");
        // O_EXCL on a block device fails while it is mounted, so a live file system is never
        // written behind the kernel's back.
        fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (block ? O_EXCL : 0));
        if (fd_ < 0)
            return makeError(path + ": " + systemErrorText(errno));
        off_t end = ::lseek(fd_, 0, SEEK_END);
        if (end < 0)
            return makeError(path + ": " + systemErrorText(errno));
        size_ = static_cast<std::uint64_t>(end);
        return {};
    }
    std::uint64_t size() const { return size_; }
    Result<void> read(std::uint64_t offset, void* out, std::size_t n) {
        if (offset > size_ || n > size_ - offset)
            return makeError("the file system is truncated");
        ssize_t got = ::pread(fd_, out, n, static_cast<off_t>(offset));
        if (got != static_cast<ssize_t>(n))
            return makeError(std::string("read failed: ") + systemErrorText(errno));
        return {};
    }
    Result<void> write(std::uint64_t offset, const void* data, std::size_t n) {
        if (offset > size_ || n > size_ - offset)
            return makeError("the file system is truncated");
        ssize_t put = ::pwrite(fd_, data, n, static_cast<off_t>(offset));
        if (put != static_cast<ssize_t>(n))
            return makeError(std::string("write failed: ") + systemErrorText(errno));
        return {};
    }
    Result<void> sync() {
        if (::fsync(fd_) != 0)
            return makeError(std::string("flush failed: ") + systemErrorText(errno));
        return {};
    }

  private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

using FatLayout = FatBootSector;

// File offsets of every 32-byte slot of the root folder, in order.
Result<std::vector<std::uint64_t>> rootSlots(Device& dev, const FatLayout& l) {
    std::vector<std::uint64_t> slots;
    if (!l.fat32) {
        for (std::uint32_t i = 0; i < l.rootEntries; ++i)
            slots.push_back(l.rootDirOffset() + i * kDirEntrySize);
        return slots;
    }
    std::uint64_t maxClusters = l.fatSectors * std::uint64_t(l.bytesPerSector) / 4;
    std::uint32_t cluster = l.rootCluster;
    // A looping chain cannot take more steps than there are clusters.
    for (std::uint64_t steps = 0; cluster >= 2 && cluster < 0x0FFFFFF8; ++steps) {
        if (steps >= maxClusters || cluster >= maxClusters)
            return makeError("the root folder's cluster chain is broken");
        std::uint64_t base = l.dataOffset() + (std::uint64_t(cluster) - 2) * l.clusterBytes();
        if (base > dev.size() || l.clusterBytes() > dev.size() - base)
            return makeError("the root folder lies beyond the end of the volume");
        for (std::uint64_t off = 0; off < l.clusterBytes(); off += kDirEntrySize)
            slots.push_back(base + off);
        std::uint8_t entry[4];
        if (auto r = dev.read(l.fatOffset() + std::uint64_t(cluster) * 4, entry, 4); !r)
            return makeError(r.error());
        cluster = loadLe32(entry, 0) & 0x0FFFFFFF;
        // FAT folders hold at most 65536 entries; a longer chain is a loop or garbage.
        if (slots.size() > 65536)
            return makeError("the root folder's cluster chain is broken");
    }
    return slots;
}

void fatTimestamp(std::uint8_t* time2, std::uint8_t* date2) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    unsigned t = static_cast<unsigned>(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
    unsigned year = tm.tm_year >= 80 ? static_cast<unsigned>(tm.tm_year - 80) : 0;
    unsigned d =
        year << 9 | static_cast<unsigned>(tm.tm_mon + 1) << 5 | static_cast<unsigned>(tm.tm_mday);
    time2[0] = t & 0xFF, time2[1] = (t >> 8) & 0xFF;
    date2[0] = d & 0xFF, date2[1] = (d >> 8) & 0xFF;
}

Result<void> writeRootLabel(Device& dev, const FatLayout& l,
                            const std::array<char, kLabelLength>& field, bool remove) {
    auto slots = rootSlots(dev, l);
    if (!slots)
        return makeError(slots.error());
    std::optional<std::size_t> freeSlot;
    bool freeIsEnd = false;
    for (std::size_t i = 0; i < slots->size(); ++i) {
        std::uint8_t e[kDirEntrySize];
        if (auto r = dev.read((*slots)[i], e, sizeof e); !r)
            return r;
        if (e[0] == 0x00 || e[0] == 0xE5) {
            if (!freeSlot)
                freeSlot = i, freeIsEnd = e[0] == 0x00;
            if (e[0] == 0x00)
                break;  // end of the folder
            continue;
        }
        std::uint8_t attr = e[11];
        if (attr == kAttrLongName || (attr & 0x18) != kAttrVolumeId)
            continue;
        if (remove) {
            std::uint8_t deleted = 0xE5;
            return dev.write((*slots)[i], &deleted, 1);
        }
        return dev.write((*slots)[i], field.data(), field.size());
    }
    if (remove)
        return {};
    if (!freeSlot)
        return makeError("the root folder has no free entry for the label");
    std::uint8_t e[kDirEntrySize] = {};
    std::memcpy(e, field.data(), field.size());
    e[11] = kAttrVolumeId;
    fatTimestamp(e + 22, e + 24);
    if (auto r = dev.write((*slots)[*freeSlot], e, sizeof e); !r)
        return r;
    // The slot was the end marker: the one after it must now end the folder.
    if (freeIsEnd && *freeSlot + 1 < slots->size()) {
        std::uint8_t end = 0x00;
        if (auto r = dev.write((*slots)[*freeSlot + 1], &end, 1); !r)
            return r;
    }
    return {};
}

Result<void> labelMounted(const std::string& device, const std::string& fsType,
                          std::string_view label, const ChangeOptions& options) {
    // The desktop's disk service labels a mounted card without root.
    std::string reason;
    if (options.askDiskService) {
        auto viaService = setLabelThroughUDisks(device, label, options);
        if (viaService)
            return {};
        reason = viaService.error();
    }
    const std::string fatlabel = findSystemProgram("fatlabel");
    if ((fsType == "vfat" || fsType == "msdos" || fsType.empty()) && !fatlabel.empty()) {
        auto r = runProgram({fatlabel, device, std::string(label)}, options.timeoutMs);
        if (r.status == 0)
            return {};
        reason = r.output.empty() ? "fatlabel failed" : r.output;
    }
    if (reason.empty())
        reason = "neither UDisks2 nor fatlabel is available to label " + device;
    return makeError(reason);
}

}  // namespace

Result<void> writeFatLabel(const std::string& devicePath, std::string_view label) {
    auto field = labelField(label);
    if (!field)
        return makeError(field.error());
    Device dev;
    if (auto r = dev.open(devicePath); !r)
        return r;
    std::vector<std::uint8_t> boot(512);
    if (auto r = dev.read(0, boot.data(), boot.size()); !r)
        return makeError(devicePath + ": " + r.error());
    auto layout = parseFatBootSector(boot);
    if (!layout)
        return makeError(devicePath + ": " + layout.error());
    const FatLayout& l = *layout;

    // An empty label is stored as "NO NAME" in the boot sector and as no entry in the folder.
    std::array<char, kLabelLength> bootField = *field;
    if (label.empty())
        std::memcpy(bootField.data(), "NO NAME    ", kLabelLength);
    std::size_t labelOffset = l.fat32 ? kFat32LabelOffset : kFat16LabelOffset;
    std::uint8_t signatureByte = boot[l.fat32 ? 66 : 38];
    if (signatureByte == 0x29) {  // only the extended boot record carries a label field
        if (auto r = dev.write(labelOffset, bootField.data(), kLabelLength); !r)
            return makeError(devicePath + ": " + r.error());
        if (l.fat32 && l.backupBootSector != 0 && l.backupBootSector < l.reservedSectors) {
            std::uint64_t backup = std::uint64_t(l.backupBootSector) * l.bytesPerSector;
            std::uint8_t sig[2];
            if (auto r = dev.read(backup + 510, sig, 2); r && sig[0] == 0x55 && sig[1] == 0xAA) {
                if (auto w = dev.write(backup + labelOffset, bootField.data(), kLabelLength); !w)
                    return makeError(devicePath + ": " + w.error());
            }
        }
    }
    if (auto r = writeRootLabel(dev, l, *field, label.empty()); !r)
        return makeError(devicePath + ": " + r.error());
    if (auto r = dev.sync(); !r)
        return makeError(devicePath + ": " + r.error());

    auto now = probeLabel(devicePath);
    if (!now)
        return makeError(now.error());
    std::string want = trimmed(std::string_view(field->data(), kLabelLength));
    if (*now != want)
        return makeError(devicePath + ": the label reads \"" + *now + "\" after writing \"" + want +
                         "\"");
    return {};
}

Result<void> setVolumeLabel(const std::string& mountPointOrDevice, std::string_view label,
                            const ChangeOptions& options) {
    auto field = labelField(label);
    if (!field)
        return makeError(field.error());
    std::string want = trimmed(std::string_view(field->data(), kLabelLength));

    struct stat st {};
    if (::stat(mountPointOrDevice.c_str(), &st) != 0)
        return makeError(mountPointOrDevice + ": " + systemErrorText(errno));

    std::string device, fsType;
    auto mountinfo = readFileLimited("/proc/self/mountinfo", 16 << 20);
    auto mounts = mountinfo ? parseMountInfo(*mountinfo) : std::vector<MountEntry>{};
    std::error_code ec;
    std::string canonical = std::filesystem::weakly_canonical(mountPointOrDevice, ec).string();
    if (ec)
        canonical = mountPointOrDevice;
    if (S_ISDIR(st.st_mode)) {
        for (const auto& m : mounts) {
            if (m.mountPoint == canonical)
                device = m.source, fsType = m.fsType;
        }
        if (device.empty())
            return makeError(mountPointOrDevice + " is not a mounted volume");
    } else {
        bool mounted = false;
        for (const auto& m : mounts) {
            if (m.source == canonical || m.source == mountPointOrDevice)
                mounted = true, fsType = m.fsType;
        }
        if (!mounted)
            return writeFatLabel(mountPointOrDevice, want);
        device = mountPointOrDevice;
    }
    if (auto r = labelMounted(device, fsType, want, options); !r)
        return r;
    auto now = probeLabel(device);
    if (now && *now != want)
        return makeError(device + ": the label reads \"" + *now + "\" after writing \"" + want +
                         "\"");
    return {};
}

}  // namespace orvik::platform
