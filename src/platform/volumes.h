#pragma once
// Mounted removable volumes (memory cards in SD slots and USB card readers), the Linux stand-in
// for the "removable drives with readable volume information" that the configuration, time-file
// and driving-route code look through, in ascending mount-point order.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "platform/udisks.h"

namespace orvik::platform {

struct Volume {
    std::string mountPoint;     // root folder of the volume, without a trailing '/'
    std::string device;         // "/dev/mmcblk0p1", empty for a folder presented as a volume
    std::string fsType;         // "vfat", "exfat", …; empty when unknown
    std::string label;          // as libblkid reports it, empty when the volume has none
    bool simulated = false;     // a folder listed by ORVIK_REMOVABLE_VOLUMES or a test provider
    bool openedFolder = false;  // the folder opened in the viewer, not a drive: never relabelled
};

// Source of the volume list. The default reads /proc/self/mountinfo and sysfs; tests and the
// demo install their own.
class VolumeProvider {
  public:
    virtual ~VolumeProvider() = default;
    virtual std::vector<Volume> list() = 0;
    // Gives the volume a new label; the default one goes through setVolumeLabel().
    virtual Result<void> setLabel(const Volume& volume, std::string_view label) = 0;
    // The same within `options`; providers that ask nobody and never wait need not override it.
    virtual Result<void> setLabel(const Volume& volume, std::string_view label,
                                  const ChangeOptions& options) {
        (void)options;
        return setLabel(volume, label);
    }
};

// The removable volumes, sorted by mount point. When the environment variable
// ORVIK_REMOVABLE_VOLUMES is set (folders separated by ':', each optionally followed by
// "=LABEL"), exactly those existing folders are listed instead, as simulated volumes; a
// simulated volume's label is kept in the file ".volume-label" inside the folder when present.
std::vector<Volume> removableVolumes();

// Sets the label of a volume from removableVolumes() through the active provider.
Result<void> relabelVolume(const Volume& volume, std::string_view label,
                           const ChangeOptions& options = {});

// Installs a provider for the whole process (tests, demo); nullptr restores the default.
void setVolumeProvider(std::shared_ptr<VolumeProvider> provider);

// The list of a watcher that scans in the background, so that a window's dialogs never wait on
// the disk service or a hung mount to list the cards. Until the first list arrives it asks the
// provider beneath it; labels always go to that provider (and show in the list at once).
class VolumeSnapshot final : public VolumeProvider {
  public:
    explicit VolumeSnapshot(std::shared_ptr<VolumeProvider> beneath)
        : beneath_(std::move(beneath)) {}
    // What the provider beneath lists now (call it off the window's thread), kept as the list.
    std::vector<Volume> refresh();

    std::vector<Volume> list() override;
    Result<void> setLabel(const Volume& volume, std::string_view label) override;
    Result<void> setLabel(const Volume& volume, std::string_view label,
                          const ChangeOptions& options) override;

  private:
    std::shared_ptr<VolumeProvider> beneath_;
    std::mutex m_;
    std::optional<std::vector<Volume>> volumes_;
};

// Puts a snapshot over the system's list for the whole process, unless a provider is installed
// or ORVIK_REMOVABLE_VOLUMES names the volumes (those ask no service and cannot stall, and their
// folders may change without a mount to announce it): then nullptr.
std::shared_ptr<VolumeSnapshot> installVolumeSnapshot();
// Takes it away again while it is still the one installed.
void removeVolumeSnapshot(const std::shared_ptr<VolumeSnapshot>& snapshot);

// A provider over folders, as used for ORVIK_REMOVABLE_VOLUMES; labels live in ".volume-label".
std::shared_ptr<VolumeProvider> makeFolderVolumeProvider(std::vector<std::string> folders);

// ---- parts of the default provider, exposed for tests ----

struct MountEntry {
    unsigned major = 0, minor = 0;
    std::string root;        // path inside the file system that is mounted ("/" for a whole fs)
    std::string mountPoint;  // octal escapes (\040 …) decoded
    std::string fsType;
    std::string source;
};

// The removable volumes that the desktop's disk service (UDisks2) has mounted, listed as above
// (sorted by mount point, only roots whose volume information can be read). An error when the
// service cannot be asked; the default provider then reads mountinfo and sysfs.
Result<std::vector<Volume>> removableVolumesFromUDisks();

// Parses the text of /proc/self/mountinfo; malformed lines are skipped.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// Whether the block device major:minor is removable media, judged from sysfs below `sysRoot`
// ("/sys"): the disk's "removable" flag, or an SD/MMC card.
bool isRemovableBlockDevice(unsigned major, unsigned minor, const std::string& sysRoot = "/sys");

// The default provider's list, from mountinfo text and a sysfs tree.
std::vector<Volume> removableVolumesFromMountInfo(std::string_view mountinfo,
                                                  const std::string& sysRoot = "/sys");

// True when `folder` lies on media users pull out: a FAT/exFAT or FUSE block volume, or a block
// device that is removable or attached through USB or an SD/MMC reader. `sysfs` is the sysfs
// mount (tests pass a stand-in tree).
bool onRemovableMedia(const std::string& folder, const std::string& sysfs = "/sys");

// The file-system label of a device or image as libblkid reads it; empty when it has none.
Result<std::string> probeLabel(const std::string& devicePath);

}  // namespace orvik::platform
