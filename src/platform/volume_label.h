#pragma once
// Writing a FAT volume label: the boot-sector label field (and the backup boot sector on FAT32)
// and the root directory's volume-label entry, on an unmounted device or a card image.
#include <string>
#include <string_view>

#include "platform/result.h"
#include "platform/udisks.h"

namespace orvik::platform {

// The label the camera expects on its card.
inline constexpr std::string_view kCameraLabel = "ORVIK";

// Writes `label` (at most 11 characters, upper-cased, padded with spaces) to the FAT file system
// on `devicePath`, an unmounted block device or an image file.
Result<void> writeFatLabel(const std::string& devicePath, std::string_view label);

// Sets the label of the volume mounted at `mountPoint` (through UDisks2 or fatlabel, whichever is
// available), or of an unmounted device / image when `mountPoint` is a device or file path.
Result<void> setVolumeLabel(const std::string& mountPointOrDevice, std::string_view label,
                            const ChangeOptions& options = {});

}  // namespace orvik::platform
