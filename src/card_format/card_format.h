#pragma once
// The card-format workflow without its dialog: which card to format, what the dialog shows for
// it, and the run itself — save the configuration file away, unmount, format FAT32 with 128
// sectors per cluster (64 KiB clusters on cards of 512-byte sectors, 512 KiB on 4096-byte ones),
// label "ORVIK", remount, and put the configuration file back on the fresh card.
// Safe to run off the GUI thread; it touches no UI and reports through callbacks.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "card_format/fat32_formatter.h"
#include "platform/block_device.h"
#include "platform/result.h"

namespace orvik::card_format {

// String-table ids of the dialog's messages (the tables live with the shell's strings).
inline constexpr int kTextFormatFailed = 297;    // "Cannot format this drive."
inline constexpr int kTextFormatComplete = 298;  // "Format complete."
inline constexpr int kTextQuitPrograms = 299;    // "Quit any disk utilities …"
inline constexpr int kTextNotRemovable = 301;    // "Not removable drive. …"
// Failure message: text 297, the code, text 299.
inline constexpr const char* kFailureTemplate = "%s (%d)\r\n\r\n%s";

// Fixed texts, the same in every language.
inline constexpr std::string_view kFormatCaption = "SD Card Format";
inline constexpr std::string_view kSelectDriveCaption = "Select Drive";
inline constexpr std::string_view kDriveUnavailableText = "The selected drive is unavailable";
inline constexpr std::string_view kFileSystemEntry = "FAT32";

// The run stopped before changing anything: the card holds a configuration file that cannot be
// read or kept (see CardFormatRequest::discardUnreadableSettings).
inline constexpr int kFormatSettingsUnreadable = 0x200A;

// The cluster size used for every card, whatever the allocation-unit list shows.
inline constexpr std::uint8_t kCardSectorsPerCluster = 128;

// The allocation-unit entry shown for a card of `totalBytes`: "64K" from 7 GiB up, else "16K".
// Cards with other than 512-byte sectors show the cluster size the format writes ("512K").
std::string allocationUnitText(std::uint64_t totalBytes, std::uint32_t bytesPerSector = 512);

// Fills kFailureTemplate.
std::string failureText(std::string_view formatFailedText, int code,
                        std::string_view quitProgramsText);

// A card chosen for formatting.
struct CardTarget {
    std::string sourcePath;  // the path the workflow was started with
    std::string device;      // block device or image file handed to the formatter
    std::string mountPoint;  // where the card is mounted now; "" for an image or unmounted card
    std::uint64_t totalBytes = 0;
    std::uint32_t bytesPerSector = 512;
    std::string fileSystem;  // current file system: "FAT32", "FAT16", "FAT12", "exFAT", "ext4"…
    std::string label;       // current volume label
    bool sourceIsConfigFile = false;  // sourcePath is the card's configuration file
};

// True when the file-system list starts with "FAT32" selected.
inline bool fileSystemPreselected(const CardTarget& t) {
    return t.fileSystem == kFileSystemEntry;
}

// The card behind `sourcePath`: the remembered configuration file on a mounted card, the root of
// a mounted removable card, or (CLI) a block device or image file. Refused, with the reason, when
// the path does not lead to a card that may be formatted.
// `imageSectorSize` is the sector size an image file is formatted with.
Result<CardTarget> resolveCardTarget(const std::string& sourcePath,
                                     const platform::SystemView& view = {},
                                     std::uint32_t imageSectorSize = 512);

// A folder chosen in the drive browser: accepted only when it is the root of a mounted removable
// card (the dialog shows text kTextNotRemovable otherwise).
Result<CardTarget> chooseDrive(const std::string& chosenPath,
                               const platform::SystemView& view = {});

// Steps of a run, in order; each is announced through CardFormatRequest::onStep.
enum class CardFormatStep { SaveConfig, Unmount, Format, Label, Remount, RestoreConfig, Done };
std::string_view stepName(CardFormatStep step);

struct CardFormatRequest {
    // Progress, cancellation, output streams, fixed volume ID for the formatter.
    FormatOptions format;
    // Where the configuration copy goes, in a new folder of each run's own; "" = the user's
    // private temporary folder.
    std::string tempDir;
    // A configuration file that is on the card but cannot be read or copied stops the run before
    // anything is changed (kFormatSettingsUnreadable); true formats all the same, losing it.
    bool discardUnreadableSettings = false;
    // Mount the card again after the format (through UDisks2 where available).
    bool remount = true;
    std::function<void(CardFormatStep)> onStep;
    // Stand-ins for the system services (tests); empty = the real ones.
    std::function<Result<void>(const platform::TargetMount&)> unmounter;
    std::function<Result<std::string>(const std::string& device)> remounter;
    // Labels the unmounted volume; empty = platform::writeFatLabel.
    std::function<Result<void>(const std::string& device, std::string_view label)> labeller;
};

struct CardFormatOutcome {
    int code = 0;  // 0 success; else the formatter's code or the errno of the failed step
    bool succeeded() const { return code == 0; }
    CardFormatStep failedStep = CardFormatStep::Done;
    std::string reason;  // one line for logs and the CLI; "" on success

    // What the dialog shows: text 298 on success; on failure kFailureTemplate with text 297,
    // `code` and text 299.
    int textId = kTextFormatComplete;
    int detailTextId = 0;

    std::string savedConfigPath;  // the temporary copy ("" when none was saved this run)
    // The copy is still there: it is removed once the restored file is read back unchanged,
    // or when the run stopped before the card was touched.
    bool copyKept = false;
    bool labelled = false;
    std::string labelError;
    std::string mountPoint;  // where the fresh card is mounted ("" when it is not)
    bool configRestored = false;
    std::string restoredConfigPath;  // on the card, or "<device>::/config_K7x7.bin" unmounted
    std::string restoreError;
    // Why the card's configuration file was lost (the run had discardUnreadableSettings).
    std::string settingsProblem;

    // Formatted, and labelled, and the settings (if any were saved) are back on the card. A
    // formatted card without its label or settings must never be reported as a plain success.
    bool complete() const { return succeeded() && labelled && restoreError.empty(); }
};

// Runs the whole workflow on `target`. A failure before the format leaves the card untouched.
CardFormatOutcome runCardFormat(const CardTarget& target, const CardFormatRequest& request = {});

// A file looked up in the root directory of an unmounted volume.
struct RootFileRead {
    enum class Status { NotFat32, Absent, Found };
    Status status = Status::Absent;
    std::string data;  // the file's bytes when Found
};

// Reads `name` (long or 8.3 name, any case) from the root directory of the unmounted FAT32 volume
// on `device`. NotFat32 when the volume holds no FAT32 file system; an error when the volume or
// the file cannot be read (a damaged chain, a file larger than `maxBytes`).
Result<RootFileRead> readRootFileOnFat32(const std::string& device, std::string_view name,
                                         std::size_t maxBytes, std::uint32_t imageSectorSize = 512);

// Writes `data` as `name` into the root directory of the unmounted FAT32 volume on `device`
// (used to put the configuration file back when the desktop does not mount the card again).
// The directory entry is written last, so a failure never leaves a half-written file visible.
Result<void> writeRootFileOnFat32(const std::string& device, std::string_view name,
                                  const std::string& data, std::uint32_t imageSectorSize = 512);

}  // namespace orvik::card_format
