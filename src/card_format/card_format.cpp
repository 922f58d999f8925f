#include "card_format/card_format.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "device_config/device_config.h"
#include "platform/commit_writer.h"
#include "platform/private_folder.h"
#include "platform/readable_file.h"
#include "platform/system_error.h"
#include "platform/volume_label.h"
#include "platform/volumes.h"

namespace orvik::card_format {
namespace fs = std::filesystem;

namespace {

struct Probe {
    std::string type, version, label;
};

// What is on the device now, as libblkid sees it (empty when it cannot be read).
Probe probeDevice(const std::string& device) {
    Probe p;
    blkid_probe pr = blkid_new_probe_from_filename(device.c_str());
    if (!pr)
        return p;
    blkid_probe_enable_superblocks(pr, 1);
    blkid_probe_set_superblocks_flags(
        pr, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL | BLKID_SUBLKS_VERSION);
    if (blkid_do_safeprobe(pr) == 0) {
        const char* v = nullptr;
        if (blkid_probe_lookup_value(pr, "TYPE", &v, nullptr) == 0)
            p.type = v;
        if (blkid_probe_lookup_value(pr, "VERSION", &v, nullptr) == 0)
            p.version = v;
        if (blkid_probe_lookup_value(pr, "LABEL", &v, nullptr) == 0)
            p.label = v;
    }
    blkid_free_probe(pr);
    return p;
}

std::string fileSystemName(const Probe& p) {
    if (p.type == "vfat")
        return p.version.empty() ? "FAT" : p.version;  // FAT12/FAT16/FAT32
    if (p.type == "exfat")
        return "exFAT";
    if (p.type == "ntfs")
        return "NTFS";
    return p.type;
}

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

// Far larger than any configuration file, small enough to hold in memory.
constexpr std::size_t kConfigReadLimit = 1 << 20;

// The camera's settings as found on the card before the format.
struct SavedSettings {
    bool found = false;
    std::string data;
    std::string problem;  // why a file that is there cannot be kept ("" when none)
};

// The configuration file in the root of a mounted card. Any file of that name counts, whatever its
// size: the camera's settings are kept byte for byte, not judged.
SavedSettings readMountedSettings(const std::string& path) {
    SavedSettings s;
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) {
        s.problem = path + " cannot be examined: " + ec.message();
        return s;
    }
    if (!fs::exists(status))
        return s;
    auto data = platform::readFileLimited(path, kConfigReadLimit);
    if (!data) {
        s.problem = data.error();
        return s;
    }
    s.found = true;
    s.data = std::move(*data);
    return s;
}

// The configuration file on an unmounted card, read through its FAT32 structures.
SavedSettings readUnmountedSettings(const std::string& device, std::uint32_t imageSectorSize) {
    SavedSettings s;
    auto r = readRootFileOnFat32(device, device_config::kConfigFileName, kConfigReadLimit,
                                 imageSectorSize);
    if (!r) {
        s.problem = r.error();
        return s;
    }
    if (r->status == RootFileRead::Status::NotFat32) {
        // An empty card holds nothing to keep; any other file system might hold the file.
        const std::string fsName = fileSystemName(probeDevice(device));
        if (!fsName.empty())
            s.problem = "the card's " + fsName + " file system can only be searched for " +
                        std::string(device_config::kConfigFileName) + " while the card is mounted";
        return s;
    }
    if (r->status == RootFileRead::Status::Found) {
        s.found = true;
        s.data = std::move(r->data);
    }
    return s;
}

// The logical sector size of a block device; `imageSectorSize` for an image file.
std::uint32_t sectorSizeOf(const std::string& device, std::uint32_t imageSectorSize) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
        return imageSectorSize;
    int fd = ::open(device.c_str(), O_RDONLY | O_CLOEXEC);
    int size = 0;
    if (fd >= 0) {
        if (::ioctl(fd, BLKSSZGET, &size) != 0)
            size = 0;
        ::close(fd);
    }
    return size > 0 ? static_cast<std::uint32_t>(size) : 512;
}

Result<CardTarget> targetForDevice(const std::string& sourcePath, const std::string& device,
                                   const platform::SystemView& view,
                                   std::uint32_t imageSectorSize = 512) {
    auto assessed = platform::assessFormatTarget(device, view);
    if (!assessed)
        return makeError(assessed.error());
    CardTarget t;
    t.sourcePath = sourcePath;
    t.device = device;
    t.totalBytes = assessed->sizeBytes;
    t.bytesPerSector = sectorSizeOf(device, imageSectorSize);
    if (!assessed->mounts.empty())
        t.mountPoint = assessed->mounts.front().mountPoint;
    Probe p = probeDevice(device);
    t.fileSystem = fileSystemName(p);
    t.label = p.label;
    return t;
}

Result<void> labelCard(const std::string& device, std::string_view label) {
    return platform::writeFatLabel(device, label);
}

// A folder of this run's own for the settings copy, so that a copy an earlier run kept (after a
// failed restore) is never overwritten, and no other user can reach or replace it.
Result<fs::path> makeCopyFolder(const std::string& tempDir) {
    if (tempDir.empty())
        return platform::createPrivateSubfolder("format-");
    std::string tmpl = (fs::path(tempDir) / "format-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        return makeError(
            "cannot create a folder in " + tempDir + ": " + platform::systemErrorText(errno),
            errno);
    return fs::path(tmpl);
}

// The file as the medium holds it now: the cached pages are dropped first, so a write the card
// did not keep shows as a difference.
Result<std::string> readBackFromMedium(const std::string& path) {
    auto file = platform::ReadableFile::open(path);
    if (!file)
        return makeError(file.error());
    ::posix_fadvise(file->fd(), 0, 0, POSIX_FADV_DONTNEED);
    if (file->size() > kConfigReadLimit)
        return makeError(path + " has grown to " + std::to_string(file->size()) + " bytes");
    std::string data(static_cast<std::size_t>(file->size()), '\0');
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n =
            ::pread(file->fd(), data.data() + done, data.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return makeError("cannot read " + path +
                             " back: " + platform::systemErrorText(n < 0 ? errno : EIO));
        done += static_cast<std::size_t>(n);
    }
    return data;
}

// Removes the settings copy and its folder once the card holds the settings again.
void removeCopy(const std::string& copy) {
    std::error_code ec;
    fs::remove(copy, ec);
    fs::remove(fs::path(copy).parent_path(), ec);
}

}  // namespace

std::string allocationUnitText(std::uint64_t totalBytes, std::uint32_t bytesPerSector) {
    if (bytesPerSector != 512)
        return std::to_string(std::uint64_t{kCardSectorsPerCluster} * bytesPerSector / 1024) + "K";
    return totalBytes > 0x1BFFFFFFFull ? "64K" : "16K";
}

std::string failureText(std::string_view formatFailedText, int code,
                        std::string_view quitProgramsText) {
    std::string a(formatFailedText), b(quitProgramsText);
    int n = std::snprintf(nullptr, 0, kFailureTemplate, a.c_str(), code, b.c_str());
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), kFailureTemplate, a.c_str(), code, b.c_str());
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string_view stepName(CardFormatStep step) {
    switch (step) {
        case CardFormatStep::SaveConfig:
            return "saving the configuration file";
        case CardFormatStep::Unmount:
            return "unmounting";
        case CardFormatStep::Format:
            return "formatting";
        case CardFormatStep::Label:
            return "labelling";
        case CardFormatStep::Remount:
            return "mounting";
        case CardFormatStep::RestoreConfig:
            return "restoring the configuration file";
        case CardFormatStep::Done:
            return "done";
    }
    return "";
}

Result<CardTarget> resolveCardTarget(const std::string& sourcePath,
                                     const platform::SystemView& view,
                                     std::uint32_t imageSectorSize) {
    struct stat st {};
    if (::stat(sourcePath.c_str(), &st) != 0)
        return makeError("'" + sourcePath +
                         "' cannot be found: " + platform::systemErrorText(errno));
    if (S_ISBLK(st.st_mode))
        return targetForDevice(sourcePath, sourcePath, view);
    if (S_ISDIR(st.st_mode))
        return chooseDrive(sourcePath, view);
    if (S_ISREG(st.st_mode) && fs::path(sourcePath).filename() == device_config::kConfigFileName) {
        // The remembered configuration file: format the card it lives on.
        auto mount = platform::mountContaining(sourcePath, view);
        if (!mount)
            return makeError(mount.error());
        auto t = targetForDevice(sourcePath, mount->device, view);
        if (!t)
            return t;
        t->mountPoint = mount->mountPoint;
        t->sourceIsConfigFile = true;
        return t;
    }
    // An image file, or anything else: the safety check says what it is.
    return targetForDevice(sourcePath, sourcePath, view, imageSectorSize);
}

Result<CardTarget> chooseDrive(const std::string& chosenPath, const platform::SystemView& view) {
    std::error_code ec;
    if (!fs::is_directory(chosenPath, ec))
        return makeError("'" + chosenPath + "' is not the folder of a mounted card");
    auto mount = platform::mountContaining(chosenPath, view);
    if (!mount)
        return makeError(mount.error());
    if (!sameFile(chosenPath, mount->mountPoint))
        return makeError("'" + chosenPath + "' is a folder on a drive, not the card itself (" +
                         mount->mountPoint + ")");
    auto t = targetForDevice(chosenPath, mount->device, view);
    if (!t)
        return t;
    t->mountPoint = mount->mountPoint;
    return t;
}

CardFormatOutcome runCardFormat(const CardTarget& target, const CardFormatRequest& request) {
    CardFormatOutcome o;
    std::ostream& out = request.format.out ? *request.format.out : std::cout;
    auto announce = [&](CardFormatStep s) {
        if (request.onStep)
            request.onStep(s);
    };
    auto failAt = [&](CardFormatStep step, int code, std::string reason) {
        o.code = code;
        o.failedStep = step;
        o.reason = std::move(reason);
        o.textId = kTextFormatFailed;
        o.detailTextId = kTextQuitPrograms;
        return o;
    };

    FormatOptions fmt = request.format;
    if (fmt.confirm) {
        // Ask before anything happens to the card, not only before the sectors are written.
        out << "Warning ALL data on drive '" << target.device
            << "' will be lost irretrievably, are you sure\n(y/n) :";
        out.flush();
        if (!fmt.confirm()) {
            out << "\n";
            return failAt(CardFormatStep::Format, kFormatCancelled,
                          "cancelled; nothing was changed");
        }
        fmt.confirm = nullptr;
        fmt.printWarning = false;
    }
    if (fmt.cancelRequested && fmt.cancelRequested())
        return failAt(CardFormatStep::Format, kFormatCancelled, "cancelled; nothing was changed");

    // The card is checked again now: it may have changed since the dialog opened.
    platform::FormatTarget assessed;
    if (!fmt.skipTargetCheck) {
        auto a = platform::assessFormatTarget(target.device, fmt.view);
        if (!a)
            return failAt(CardFormatStep::Format, kFormatRefused, a.error());
        assessed = *a;
    }

    // 1. Keep a copy of the camera's settings: from the mounted card, or straight from the
    // unmounted volume's root directory.
    announce(CardFormatStep::SaveConfig);
    SavedSettings settings;
    {
        std::string mountPoint = target.mountPoint;
        if (mountPoint.empty() && !assessed.mounts.empty())
            mountPoint = assessed.mounts.front().mountPoint;
        if (target.sourceIsConfigFile)
            settings = readMountedSettings(target.sourcePath);
        else if (!mountPoint.empty())
            settings = readMountedSettings(
                (fs::path(mountPoint) / std::string(device_config::kConfigFileName)).string());
        else
            settings = readUnmountedSettings(target.device, fmt.imageSectorSize);
    }
    if (settings.found) {
        auto dir = makeCopyFolder(request.tempDir);
        if (!dir) {
            settings.problem = "no copy could be kept: " + dir.error();
        } else {
            std::string copy = (*dir / std::string(device_config::kConfigFileName)).string();
            if (auto w = platform::writeFileAtomic(copy, settings.data); w) {
                o.savedConfigPath = copy;
                o.copyKept = true;
            } else {
                settings.problem = "no copy could be kept in " + dir->string() + ": " + w.error();
                std::error_code ec;
                fs::remove(*dir, ec);
            }
        }
    }
    if (!settings.problem.empty()) {
        // Losing the camera's settings is the user's decision, never a side effect.
        if (!request.discardUnreadableSettings)
            return failAt(CardFormatStep::SaveConfig, kFormatSettingsUnreadable,
                          "the camera settings (" + std::string(device_config::kConfigFileName) +
                              ") cannot be kept: " + settings.problem);
        o.settingsProblem = settings.problem;
    }
    const std::string& configData = settings.data;

    // 2. Release the card's mounts.
    announce(CardFormatStep::Unmount);
    const bool wasMounted = !assessed.mounts.empty() || !target.mountPoint.empty();
    for (const auto& m : assessed.mounts) {
        auto r = request.unmounter ? request.unmounter(m)
                                   : platform::unmountVolume(m.device, m.mountPoint);
        if (!r) {
            // The card still holds its settings: the copy is not needed.
            if (o.copyKept) {
                removeCopy(o.savedConfigPath);
                o.copyKept = false;
            }
            return failAt(CardFormatStep::Unmount, EBUSY, r.error());
        }
    }

    // 3. Format.
    announce(CardFormatStep::Format);
    FormatParams params;
    params.sectorsPerCluster = kCardSectorsPerCluster;
    if (int code = FormatFat32(target.device, params, fmt); code != 0) {
        // The card we unmounted goes back where it was: after a refusal, a cancel or a failed
        // check it still holds its old contents.
        if (request.remount && !assessed.mounts.empty()) {
            auto r = request.remounter ? request.remounter(target.device)
                                       : platform::remountVolume(target.device);
            if (r)
                o.mountPoint = *r;
        }
        return failAt(CardFormatStep::Format, code,
                      "the formatter failed (code " + std::to_string(code) + ")");
    }

    // 4. The label the camera looks for; a failure here does not undo the format.
    announce(CardFormatStep::Label);
    {
        auto r = request.labeller ? request.labeller(target.device, platform::kCameraLabel)
                                  : labelCard(target.device, platform::kCameraLabel);
        o.labelled = r.ok();
        if (!r)
            o.labelError = r.error();
    }

    // 5. Mount the card again where the desktop does that.
    if (request.remount && wasMounted) {
        announce(CardFormatStep::Remount);
        auto r = request.remounter ? request.remounter(target.device)
                                   : platform::remountVolume(target.device);
        if (r)
            o.mountPoint = *r;
    }

    // 6. Put the camera's settings back on the fresh card.
    if (settings.found) {
        announce(CardFormatStep::RestoreConfig);
        Result<void> r;
        if (!o.mountPoint.empty()) {
            o.restoredConfigPath =
                (fs::path(o.mountPoint) / std::string(device_config::kConfigFileName)).string();
            r = platform::writeFileAtomic(o.restoredConfigPath, configData);
        } else {
            o.restoredConfigPath =
                target.device + "::/" + std::string(device_config::kConfigFileName);
            r = writeRootFileOnFat32(target.device, device_config::kConfigFileName, configData,
                                     fmt.imageSectorSize);
        }
        // The copy goes only once the card is read back holding the same bytes.
        if (r) {
            auto back = !o.mountPoint.empty() ? readBackFromMedium(o.restoredConfigPath)
                                              : [&]() -> Result<std::string> {
                auto f = readRootFileOnFat32(target.device, device_config::kConfigFileName,
                                             kConfigReadLimit, fmt.imageSectorSize);
                if (!f)
                    return makeError(f.error());
                if (f->status != RootFileRead::Status::Found)
                    return makeError("the file is not there when read back");
                return std::move(f->data);
            }();
            if (!back)
                r = makeError(back.error());
            else if (*back != configData)
                r = makeError("the file read back differs from the one written");
        }
        o.configRestored = r.ok();
        if (!r) {
            o.restoreError = r.error();
            o.restoredConfigPath.clear();
        } else if (o.copyKept) {
            removeCopy(o.savedConfigPath);
            o.copyKept = false;
        }
    }
    announce(CardFormatStep::Done);
    o.code = 0;
    o.textId = kTextFormatComplete;
    o.detailTextId = 0;
    return o;
}

}  // namespace orvik::card_format
