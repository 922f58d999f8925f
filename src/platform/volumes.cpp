#include "platform/volumes.h"

#include <blkid/blkid.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/commit_writer.h"
#include "platform/readable_file.h"
#include "platform/udisks.h"
#include "platform/volume_label.h"

namespace orvik::platform {
namespace fs = std::filesystem;

namespace {

constexpr const char* kLabelFileName = ".volume-label";

std::string readSmallFile(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (in)
        std::getline(in, line);
    return line;
}

std::string trimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

void sortByMountPoint(std::vector<Volume>& volumes) {
    std::stable_sort(volumes.begin(), volumes.end(),
                     [](const Volume& a, const Volume& b) { return a.mountPoint < b.mountPoint; });
}

// Decodes the \ooo escapes the kernel uses for blanks, tabs, newlines and backslashes.
std::string unescapeMountField(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        auto oct = [](char c) { return c >= '0' && c <= '7'; };
        if (s[i] == '\\' && i + 3 < s.size() && oct(s[i + 1]) && oct(s[i + 2]) && oct(s[i + 3])) {
            out.push_back(
                static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
            i += 3;
            continue;
        }
        out.push_back(s[i]);
    }
    return out;
}

// udev writes blanks and other unsafe bytes in link names as \xNN.
std::string unescapeUdev(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 3]))) {
            out.push_back(
                static_cast<char>(std::stoi(std::string(s.substr(i + 2, 2)), nullptr, 16)));
            i += 3;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

std::string labelFromUdevLinks(const std::string& device,
                               const std::string& byLabel = "/dev/disk/by-label") {
    std::error_code ec;
    fs::path dev = fs::canonical(device, ec);
    if (ec)
        return {};
    for (fs::directory_iterator it(byLabel, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ec2;
        if (fs::canonical(it->path(), ec2) == dev && !ec2)
            return unescapeUdev(it->path().filename().string());
    }
    return {};
}

class FolderVolumeProvider final : public VolumeProvider {
  public:
    // Each entry "path" or "path=LABEL".
    explicit FolderVolumeProvider(std::vector<std::string> entries)
        : entries_(std::move(entries)) {}

    std::vector<Volume> list() override {
        std::vector<Volume> out;
        for (const auto& entry : entries_) {
            std::string path = entry, label;
            if (auto eq = entry.find('='); eq != std::string::npos) {
                path = entry.substr(0, eq);
                label = entry.substr(eq + 1);
            }
            if (path.empty())
                continue;
            std::error_code ec;
            if (!fs::is_directory(path, ec))
                continue;  // an unmounted card is not listed
            Volume v;
            v.mountPoint = withoutTrailingSlash(path);
            v.simulated = true;
            std::string labelFile = (fs::path(v.mountPoint) / kLabelFileName).string();
            if (fs::exists(labelFile, ec))
                label = trimRight(readSmallFile(labelFile));
            v.label = label;
            out.push_back(std::move(v));
        }
        sortByMountPoint(out);
        return out;
    }

    Result<void> setLabel(const Volume& volume, std::string_view label) override {
        std::string file = (fs::path(volume.mountPoint) / kLabelFileName).string();
        auto r = writeFileAtomic(file, std::string(label) + "\n");
        if (!r)
            return makeError(r.error());
        return {};
    }

  private:
    std::vector<std::string> entries_;
};

class SystemVolumeProvider final : public VolumeProvider {
  public:
    std::vector<Volume> list() override {
        // The desktop's disk service when it runs; the kernel's view otherwise.
        if (auto fromService = removableVolumesFromUDisks())
            return std::move(*fromService);
        auto text = readFileLimited("/proc/self/mountinfo", 16 << 20);
        if (!text)
            return {};
        return removableVolumesFromMountInfo(*text, "/sys");
    }

    Result<void> setLabel(const Volume& volume, std::string_view label) override {
        return setLabel(volume, label, ChangeOptions{});
    }
    Result<void> setLabel(const Volume& volume, std::string_view label,
                          const ChangeOptions& options) override {
        // The disk service needs no root; writing the label ourselves is the fallback. The
        // service is asked once, so one that stalls costs one timeout, not two.
        ChangeOptions rest = options;
        if (!volume.device.empty()) {
            if (setLabelThroughUDisks(volume.device, label, options))
                return {};
            rest.askDiskService = false;
        }
        return setVolumeLabel(volume.mountPoint, label, rest);
    }
};

std::mutex& providerMutex() {
    static std::mutex m;
    return m;
}
std::shared_ptr<VolumeProvider>& installedProvider() {
    static std::shared_ptr<VolumeProvider> p;
    return p;
}

std::vector<std::string> splitColonList(const std::string& s) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == ':') {
            if (!cur.empty())
                out.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty())
        out.push_back(cur);
    return out;
}

std::shared_ptr<VolumeProvider> activeProvider() {
    {
        std::lock_guard lock(providerMutex());
        if (installedProvider())
            return installedProvider();
    }
    if (const char* env = std::getenv("ORVIK_REMOVABLE_VOLUMES"))
        return std::make_shared<FolderVolumeProvider>(splitColonList(env));
    return std::make_shared<SystemVolumeProvider>();
}

}  // namespace

std::vector<Volume> removableVolumes() {
    return activeProvider()->list();
}

Result<void> relabelVolume(const Volume& volume, std::string_view label,
                           const ChangeOptions& options) {
    if (volume.simulated) {
        // A simulated volume keeps its label in the folder, whoever listed it.
        FolderVolumeProvider folders({});
        return folders.setLabel(volume, label);
    }
    return activeProvider()->setLabel(volume, label, options);
}

void setVolumeProvider(std::shared_ptr<VolumeProvider> provider) {
    std::lock_guard lock(providerMutex());
    installedProvider() = std::move(provider);
}

std::vector<Volume> VolumeSnapshot::refresh() {
    auto now = beneath_->list();
    std::lock_guard lock(m_);
    volumes_ = now;
    return now;
}

std::vector<Volume> VolumeSnapshot::list() {
    {
        std::lock_guard lock(m_);
        if (volumes_)
            return *volumes_;
    }
    return beneath_->list();
}

Result<void> VolumeSnapshot::setLabel(const Volume& volume, std::string_view label) {
    return setLabel(volume, label, ChangeOptions{});
}

Result<void> VolumeSnapshot::setLabel(const Volume& volume, std::string_view label,
                                      const ChangeOptions& options) {
    auto r = beneath_->setLabel(volume, label, options);
    if (!r)
        return r;
    std::lock_guard lock(m_);
    if (volumes_) {
        for (Volume& v : *volumes_)
            if (v.mountPoint == volume.mountPoint)
                v.label = std::string(label);
    }
    return r;
}

std::shared_ptr<VolumeSnapshot> installVolumeSnapshot() {
    std::lock_guard lock(providerMutex());
    if (installedProvider() || std::getenv("ORVIK_REMOVABLE_VOLUMES"))
        return nullptr;
    auto snapshot = std::make_shared<VolumeSnapshot>(std::make_shared<SystemVolumeProvider>());
    installedProvider() = snapshot;
    return snapshot;
}

void removeVolumeSnapshot(const std::shared_ptr<VolumeSnapshot>& snapshot) {
    std::lock_guard lock(providerMutex());
    if (snapshot && installedProvider() == snapshot)
        installedProvider() = nullptr;
}

std::shared_ptr<VolumeProvider> makeFolderVolumeProvider(std::vector<std::string> folders) {
    return std::make_shared<FolderVolumeProvider>(std::move(folders));
}

std::vector<MountEntry> parseMountInfo(std::string_view text) {
    // 36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue
    // (1)(2)(3)   (4)   (5)      (6)      (7)   (8) (9)   (10)         (11)
    std::vector<MountEntry> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;

        std::vector<std::string_view> f;
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && line[i] == ' ')
                ++i;
            std::size_t j = i;
            while (j < line.size() && line[j] != ' ')
                ++j;
            if (j > i)
                f.push_back(line.substr(i, j - i));
            i = j;
        }
        auto dash = std::find(f.begin(), f.end(), std::string_view("-"));
        if (f.size() < 6 || dash == f.end() || dash - f.begin() < 6 || f.end() - dash < 3)
            continue;
        MountEntry m;
        std::string_view mm = f[2];
        auto colon = mm.find(':');
        if (colon == std::string_view::npos)
            continue;
        try {
            m.major = static_cast<unsigned>(std::stoul(std::string(mm.substr(0, colon))));
            m.minor = static_cast<unsigned>(std::stoul(std::string(mm.substr(colon + 1))));
        } catch (...) {
            continue;
        }
        m.root = unescapeMountField(f[3]);
        m.mountPoint = unescapeMountField(f[4]);
        m.fsType = unescapeMountField(*(dash + 1));
        m.source = unescapeMountField(*(dash + 2));
        out.push_back(std::move(m));
    }
    return out;
}

std::vector<Volume> removableVolumesFromMountInfo(std::string_view mountinfo,
                                                  const std::string& sysRoot) {
    std::vector<Volume> out;
    for (const auto& m : parseMountInfo(mountinfo)) {
        if (m.root != "/")
            continue;  // bind mounts of a sub-folder
        if (m.source.rfind("/dev/", 0) != 0)
            continue;  // not a block device
        if (!isRemovableBlockDevice(m.major, m.minor, sysRoot))
            continue;
        struct statvfs sv {};
        if (::statvfs(m.mountPoint.c_str(), &sv) != 0)
            continue;  // volume information cannot be read
        Volume v;
        v.mountPoint = withoutTrailingSlash(m.mountPoint);
        v.device = m.source;
        v.fsType = m.fsType;
        auto label = probeLabel(m.source);
        // Without read access to the device (an ordinary user), udev's links still say it.
        v.label = label ? *label : labelFromUdevLinks(m.source);
        out.push_back(std::move(v));
    }
    sortByMountPoint(out);
    // One device mounted twice is one card: keep its first mount point.
    std::vector<Volume> unique;
    for (auto& v : out) {
        bool seen = std::any_of(unique.begin(), unique.end(),
                                [&](const Volume& u) { return u.device == v.device; });
        if (!seen)
            unique.push_back(std::move(v));
    }
    return unique;
}

bool isRemovableBlockDevice(unsigned major, unsigned minor, const std::string& sysRoot) {
    std::error_code ec;
    fs::path link =
        fs::path(sysRoot) / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor));
    fs::path dev = fs::canonical(link, ec);
    if (ec)
        return false;
    // A partition's folder sits inside its disk's folder.
    fs::path disk = fs::exists(dev / "partition", ec) ? dev.parent_path() : dev;
    if (trimRight(readSmallFile((disk / "removable").string())) == "1")
        return true;
    // SD and MMC cards in a built-in slot report removable 0; the card's type says what it is.
    std::string type = trimRight(readSmallFile((disk / "device" / "type").string()));
    return disk.filename().string().rfind("mmcblk", 0) == 0 && (type == "SD" || type == "MMC");
}

bool onRemovableMedia(const std::string& folder, const std::string& sysfs) {
    struct statfs sf {};
    if (::statfs(folder.c_str(), &sf) == 0) {
        constexpr long kFat = 0x4d44, kExfat = 0x2011BAB0, kFuseBlock = 0x65735546;
        if (sf.f_type == kFat || sf.f_type == kExfat || sf.f_type == kFuseBlock)
            return true;
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return false;
    std::error_code ec;
    const fs::path link =
        fs::path(sysfs) / "dev" / "block" /
        (std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev)));
    fs::path device = fs::canonical(link, ec);
    if (ec)
        return false;  // not a block device (tmpfs, network): nothing to pull out
    const std::string where = device.string();
    if (where.find("/usb") != std::string::npos || where.find("/mmc") != std::string::npos)
        return true;
    if (fs::exists(device / "partition", ec))
        device = device.parent_path();
    return trimRight(readSmallFile((device / "removable").string())) == "1";
}

Result<std::string> probeLabel(const std::string& devicePath) {
    blkid_probe pr = blkid_new_probe_from_filename(devicePath.c_str());
    if (!pr)
        return makeError("cannot read the volume information of " + devicePath);
    blkid_probe_enable_superblocks(pr, 1);
    blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE);
    int rc = blkid_do_safeprobe(pr);
    std::string label;
    if (rc == 0) {
        const char* value = nullptr;
        std::size_t len = 0;
        if (blkid_probe_lookup_value(pr, "LABEL", &value, &len) == 0 && value)
            label = value;
    }
    blkid_free_probe(pr);
    if (rc < 0)
        return makeError("cannot read the volume information of " + devicePath);
    return label;
}

}  // namespace orvik::platform
