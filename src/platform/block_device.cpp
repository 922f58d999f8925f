#include "platform/block_device.h"

#include "platform/udisks.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace orvik::platform {
namespace fs = std::filesystem;

namespace {

std::string readFirstLine(const fs::path& p) {
    std::ifstream in(p);
    std::string line;
    if (in)
        std::getline(in, line);
    return line;
}

bool fileExists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

// mountinfo escapes blanks and backslashes in paths as \ooo.
std::string unescapeMountPath(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3') {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

struct MountEntry {
    unsigned major = 0, minor = 0;
    std::string mountPoint;
    std::string fsType;
    std::string source;
};

std::vector<MountEntry> readMounts(const SystemView& view) {
    std::vector<MountEntry> mounts;
    std::ifstream in(view.mountInfo);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string id, parent, devno, root, point;
        if (!(ls >> id >> parent >> devno >> root >> point))
            continue;
        MountEntry m;
        if (std::sscanf(devno.c_str(), "%u:%u", &m.major, &m.minor) != 2)
            continue;
        m.mountPoint = unescapeMountPath(point);
        std::string field;
        while (ls >> field && field != "-") {
        }
        ls >> m.fsType >> m.source;
        m.source = unescapeMountPath(m.source);
        mounts.push_back(std::move(m));
    }
    return mounts;
}

// Mount points that belong to this machine's own installation, not to a card: these folders and
// everything mounted below them (a user's /home/alice, a package's /snap/x/1). "/" holds every
// path and /tmp is where scratch mounts go, so those two count only as themselves.
bool isSystemMountPoint(const std::string& p) {
    static const char* const kSystem[] = {"/boot", "/efi",   "/home", "/usr",  "/var",      "/opt",
                                          "/srv",  "/root",  "/nix",  "/snap", "/gnu",      "/etc",
                                          "/lib",  "/lib64", "/bin",  "/sbin", "/run/snapd"};
    if (p == "/" || p == "/tmp")
        return true;
    for (const char* root : kSystem) {
        const std::size_t n = std::strlen(root);
        if (p.compare(0, n, root) == 0 && (p.size() == n || p[n] == '/'))
            return true;
    }
    return false;
}

// The kernel's sysfs node for a block device number, e.g. /sys/devices/…/block/sdb/sdb1.
fs::path sysfsNode(const SystemView& view, unsigned maj, unsigned min) {
    std::error_code ec;
    fs::path link = fs::path(view.sysRoot) / "dev" / "block" /
                    (std::to_string(maj) + ":" + std::to_string(min));
    fs::path real = fs::canonical(link, ec);
    return ec ? fs::path() : real;
}

bool parseDevNo(const std::string& text, unsigned* maj, unsigned* min) {
    return std::sscanf(text.c_str(), "%u:%u", maj, min) == 2;
}

bool dirHasEntries(const fs::path& p) {
    std::error_code ec;
    fs::directory_iterator it(p, ec);
    return !ec && it != fs::directory_iterator();
}

std::set<std::pair<unsigned, unsigned>> swapDevices(const SystemView& view) {
    std::set<std::pair<unsigned, unsigned>> out;
    std::ifstream in(view.swaps);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string path;
        ls >> path;
        struct stat st {};
        if (!path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
            out.insert({major(st.st_rdev), minor(st.st_rdev)});
    }
    return out;
}

}  // namespace

Result<FormatTarget> assessFormatTarget(const std::string& path, const SystemView& view) {
    FormatTarget t;
    t.path = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return makeError("'" + path + "' cannot be opened: " + systemErrorText(errno));
    if (S_ISDIR(st.st_mode))
        return makeError("'" + path + "' is a directory, not a device or a card image");
    if (S_ISREG(st.st_mode)) {
        t.kind = TargetKind::ImageFile;
        t.sizeBytes = static_cast<std::uint64_t>(st.st_size);
        return t;
    }
    if (!S_ISBLK(st.st_mode))
        return makeError("'" + path + "' is neither a block device nor a card image file");

    const unsigned maj = major(st.st_rdev), min = minor(st.st_rdev);
    fs::path node = sysfsNode(view, maj, min);
    if (node.empty())
        return makeError("'" + path + "' is not known to the kernel's device list (sysfs)");
    fs::path diskDir = node;
    if (fileExists(node / "partition")) {
        t.partitionName = node.filename().string();
        t.partitionNumber = std::atoi(readFirstLine(node / "partition").c_str());
        diskDir = node.parent_path();
    }
    t.disk = diskDir.filename().string();
    t.kind = t.disk.rfind("loop", 0) == 0 ? TargetKind::LoopDevice : TargetKind::BlockDevice;
    t.sizeBytes = std::strtoull(readFirstLine(node / "size").c_str(), nullptr, 10) * 512;

    // Device numbers of the whole disk and each of its partitions.
    std::set<std::pair<unsigned, unsigned>> diskDevs, targetDevs{{maj, min}};
    std::vector<fs::path> parts{diskDir};
    {
        unsigned a, b;
        if (parseDevNo(readFirstLine(diskDir / "dev"), &a, &b))
            diskDevs.insert({a, b});
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(diskDir, ec)) {
            if (!fileExists(e.path() / "partition"))
                continue;
            parts.push_back(e.path());
            if (parseDevNo(readFirstLine(e.path() / "dev"), &a, &b)) {
                diskDevs.insert({a, b});
                if (t.partitionNumber == 0)
                    targetDevs.insert({a, b});
            }
        }
    }
    for (const auto& p : parts) {
        if (dirHasEntries(p / "holders"))
            return makeError("'" + path + "' is in use by another device (" +
                             fs::directory_iterator(p / "holders")->path().filename().string() +
                             ", device-mapper or RAID); it is not formatted");
    }
    const auto swaps = swapDevices(view);
    for (const auto& d : diskDevs) {
        if (swaps.count(d))
            return makeError("'" + path + "' is on the disk that holds this system's swap space");
    }
    for (const auto& m : readMounts(view)) {
        if (!diskDevs.count({m.major, m.minor}))
            continue;
        if (isSystemMountPoint(m.mountPoint))
            return makeError("'" + path + "' is on the disk that holds this system's own files (" +
                             m.mountPoint + " is mounted from it)");
    }
    if (t.kind == TargetKind::LoopDevice) {
        // A loop device stands for its backing file: one that lies among the system's own files
        // (a package's squashfs image, a virtual machine's disk) is not a card.
        std::string backing = readFirstLine(diskDir / "loop" / "backing_file");
        if (const auto deleted = backing.rfind(" (deleted)");
            deleted != std::string::npos && deleted + 10 == backing.size())
            backing.resize(deleted);
        if (!backing.empty()) {
            auto where = mountContaining(backing, view);
            if (where && isSystemMountPoint(where->mountPoint))
                return makeError("'" + path + "' is a loop device over " + backing +
                                 ", which lies on this system's own files (" + where->mountPoint +
                                 "); format a card image by its file name instead");
        }
    }
    if (t.kind == TargetKind::BlockDevice) {
        const bool removable = readFirstLine(diskDir / "removable") == "1";
        const std::string mmcType = readFirstLine(diskDir / "device" / "type");
        const bool sdCard = mmcType == "SD" || mmcType == "MMC";
        if (!removable && !sdCard)
            return makeError("'" + path +
                             "' is not a removable device; only memory cards and card readers are "
                             "formatted");
    }
    for (const auto& m : readMounts(view)) {
        if (!targetDevs.count({m.major, m.minor}))
            continue;
        std::string dev = m.source;
        if (fs::path n = sysfsNode(view, m.major, m.minor); !n.empty())
            dev = (fs::path(view.devRoot) / n.filename()).string();
        t.mounts.push_back({dev, m.mountPoint});
    }
    return t;
}

Result<TargetMount> mountContaining(const std::string& path, const SystemView& view) {
    std::error_code ec;
    std::string p = fs::weakly_canonical(fs::path(path), ec).string();
    if (ec)
        p = path;
    const MountEntry* best = nullptr;
    auto mounts = readMounts(view);
    for (const auto& m : mounts) {
        const std::string& mp = m.mountPoint;
        bool inside =
            p == mp || mp == "/" ||
            (p.size() > mp.size() && p.compare(0, mp.size(), mp) == 0 && p[mp.size()] == '/');
        // Later entries mount over earlier ones at the same point.
        if (inside && (!best || mp.size() >= best->mountPoint.size()))
            best = &m;
    }
    if (!best)
        return makeError("'" + path + "' is not on a mounted volume");
    std::string dev = best->source;
    if (fs::path n = sysfsNode(view, best->major, best->minor); !n.empty())
        dev = (fs::path(view.devRoot) / n.filename()).string();
    return TargetMount{dev, best->mountPoint};
}

std::unique_ptr<BlockDevice> BlockDevice::open(const std::string& path,
                                               const BlockDeviceOptions& options, int* error) {
    int dummy = 0;
    int& err = error ? *error : dummy;
    err = 0;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        err = errno;
        return nullptr;
    }
    const bool image = S_ISREG(st.st_mode);
    if (!image && !S_ISBLK(st.st_mode)) {
        err = ENODEV;
        return nullptr;
    }
    if (options.imageSectorSize != 512 && options.imageSectorSize != 4096) {
        err = EINVAL;
        return nullptr;
    }
    int flags = O_RDWR | O_CLOEXEC | (image ? 0 : O_EXCL);
    int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        err = errno;
        return nullptr;
    }
    std::unique_ptr<BlockDevice> dev(new BlockDevice());
    dev->path_ = path;
    dev->fd_ = fd;
    dev->image_ = image;
    dev->imageSectorSize_ = options.imageSectorSize;
    dev->view_ = options.view;
    return dev;
}

BlockDevice::~BlockDevice() {
    close();
}

void BlockDevice::close() {
    if (fd_ >= 0) {
        ::close(fd_);  // also drops an image's flock
        fd_ = -1;
        locked_ = false;
    }
}

Result<void> BlockDevice::status(int error) const {
    if (error == 0)
        return {};
    return makeError(path_ + ": " + systemErrorText(error), error);
}

Result<void> BlockDevice::lock() {
    if (fd_ < 0)
        return status(EBADF);
    if (image_ && ::flock(fd_, LOCK_EX | LOCK_NB) != 0)
        return status(errno);
    locked_ = true;
    return {};
}

Result<void> BlockDevice::unlock() {
    if (fd_ < 0)
        return status(EBADF);
    if (image_ && locked_ && ::flock(fd_, LOCK_UN) != 0)
        return status(errno);
    locked_ = false;
    return {};
}

Result<void> BlockDevice::geometry(DeviceGeometry* out) const {
    if (fd_ < 0)
        return status(EBADF);
    DeviceGeometry g;
    if (image_) {
        g.bytesPerSector = imageSectorSize_;
    } else {
        int ssz = 0;
        if (::ioctl(fd_, BLKSSZGET, &ssz) != 0)
            return status(errno);
        if (ssz < 512)
            return status(EINVAL);
        g.bytesPerSector = static_cast<std::uint32_t>(ssz);
        hd_geometry geo{};
        // Loop devices and many card readers report no geometry: keep 63/255.
        if (::ioctl(fd_, HDIO_GETGEO, &geo) == 0 && geo.sectors != 0 && geo.heads != 0) {
            g.sectorsPerTrack = geo.sectors;
            g.tracksPerCylinder = geo.heads;
        }
    }
    *out = g;
    return {};
}

Result<void> BlockDevice::partitionInfo(PartitionInfo* out) const {
    if (fd_ < 0)
        return status(EBADF);
    PartitionInfo p;
    if (image_) {
        struct stat st {};
        if (::fstat(fd_, &st) != 0)
            return status(errno);
        p.lengthBytes = static_cast<std::uint64_t>(st.st_size);
    } else {
        std::uint64_t size = 0;
        if (::ioctl(fd_, BLKGETSIZE64, &size) != 0)
            return status(errno);
        p.lengthBytes = size;
        struct stat st {};
        if (::fstat(fd_, &st) != 0)
            return status(errno);
        fs::path node = sysfsNode(view_, major(st.st_rdev), minor(st.st_rdev));
        if (!node.empty() && fileExists(node / "partition")) {
            DeviceGeometry g;
            if (auto r = geometry(&g); !r)
                return r;
            // sysfs counts in 512-byte units whatever the sector size.
            std::uint64_t start = std::strtoull(readFirstLine(node / "start").c_str(), nullptr, 10);
            std::uint64_t hidden = start * 512 / g.bytesPerSector;
            p.hiddenSectors =
                hidden > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(hidden);
        }
    }
    *out = p;
    return {};
}

namespace {
// pread/pwrite until the whole range is done; a zero-length transfer is an I/O error, not progress.
template <typename Ptr, typename Io>
int transferAll(Ptr p, std::size_t size, std::uint64_t offset, Io io) {
    while (size > 0) {
        ssize_t n = io(p, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return 0;
}
}  // namespace

Result<void> BlockDevice::writeAt(std::uint64_t offset, const void* data, std::size_t size) {
    return status(transferAll(
        static_cast<const char*>(data), size, offset,
        [this](const char* p, std::size_t n, off_t at) { return ::pwrite(fd_, p, n, at); }));
}

Result<void> BlockDevice::readAt(std::uint64_t offset, void* data, std::size_t size) const {
    return status(
        transferAll(static_cast<char*>(data), size, offset,
                    [this](char* p, std::size_t n, off_t at) { return ::pread(fd_, p, n, at); }));
}

Result<void> BlockDevice::punchZeros(std::uint64_t offset, std::uint64_t size) {
    if (fd_ < 0)
        return status(EBADF);
    if (!image_)
        return status(EOPNOTSUPP);
    if (::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                    static_cast<off_t>(size)) != 0)
        return status(errno == ENOSYS ? EOPNOTSUPP : errno);
    return {};
}

Result<void> BlockDevice::setPartitionType(std::uint8_t type) {
    if (fd_ < 0)
        return status(EBADF);
    if (image_)
        return status(ENOTTY);
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        return status(errno);
    fs::path node = sysfsNode(view_, major(st.st_rdev), minor(st.st_rdev));
    if (node.empty() || !fileExists(node / "partition"))
        return status(ENOTTY);
    const int number = std::atoi(readFirstLine(node / "partition").c_str());
    // Only the four primary entries live in the MBR itself.
    if (number < 1 || number > 4)
        return status(EOPNOTSUPP);
    const std::uint64_t start = std::strtoull(readFirstLine(node / "start").c_str(), nullptr, 10);
    const std::string diskPath = (fs::path(view_.devRoot) / node.parent_path().filename()).string();
    int dfd = ::open(diskPath.c_str(), O_RDWR | O_CLOEXEC);
    if (dfd < 0)
        return status(errno);
    std::array<unsigned char, 512> mbr{};
    int result = 0;
    if (::pread(dfd, mbr.data(), mbr.size(), 0) != static_cast<ssize_t>(mbr.size())) {
        result = errno ? errno : EIO;
    } else if (mbr[510] != 0x55 || mbr[511] != 0xAA) {
        result = ENOTTY;
    } else {
        for (int i = 0; i < 4; ++i) {
            if (mbr[446 + 16 * i + 4] == 0xEE)
                result = EINVAL;  // GPT protective MBR
        }
        const std::size_t entry = 446 + 16 * static_cast<std::size_t>(number - 1);
        std::uint64_t lba = mbr[entry + 8] | (mbr[entry + 9] << 8) | (mbr[entry + 10] << 16) |
                            (static_cast<std::uint64_t>(mbr[entry + 11]) << 24);
        DeviceGeometry g;
        (void)geometry(&g);  // on failure the check below uses the 512-byte default
        // The entry must describe this very partition, or we would retype a stranger.
        if (result == 0 && lba * g.bytesPerSector != start * 512)
            result = EINVAL;
        if (result == 0 && mbr[entry + 4] != type) {
            if (::pwrite(dfd, &type, 1, static_cast<off_t>(entry + 4)) != 1)
                result = errno ? errno : EIO;
            else if (::fsync(dfd) != 0)
                result = errno;
        }
    }
    ::close(dfd);
    return status(result);
}

Result<void> BlockDevice::flush() {
    if (fd_ < 0)
        return status(EBADF);
    if (::fsync(fd_) != 0)
        return status(errno);
    // Dropping the cache needs CAP_SYS_ADMIN; without it the fsync has still put every sector
    // on the card, so a user with mere device access is not failed for it.
    if (!image_ && ::ioctl(fd_, BLKFLSBUF, 0) != 0 && errno != EACCES && errno != EPERM)
        return status(errno);
    return {};
}

Result<void> BlockDevice::dismount() {
    if (auto r = flush(); !r)
        return r;
    if (!image_) {
        struct stat st {};
        if (::fstat(fd_, &st) == 0) {
            fs::path node = sysfsNode(view_, major(st.st_rdev), minor(st.st_rdev));
            // A whole disk that carried partitions now holds one file system: let the kernel
            // forget the old table. Fails harmlessly on devices without partition support.
            if (!node.empty() && !fileExists(node / "partition"))
                ::ioctl(fd_, BLKRRPART, 0);
        }
    }
    return {};
}

Result<void> unmountVolume(const std::string& device, const std::string& mountPoint) {
    auto viaService = unmountThroughUDisks(device);
    if (viaService)
        return {};
    // The volume may not be under the disk service's control; root can unmount it directly.
    if (::umount2(mountPoint.c_str(), 0) == 0)
        return {};
    return makeError("cannot unmount " + mountPoint + ": " + systemErrorText(errno) + " (" +
                     viaService.error() + ")");
}

Result<std::string> remountVolume(const std::string& device) {
    return mountThroughUDisks(device);
}

}  // namespace orvik::platform
