#pragma once
// The checks made before the configuration is saved, shared by the settings dialog and
// `orvik-cli config set`, and the table of every named field with the values it may take.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "device_config/device_config.h"

namespace orvik::device_config {

// String ids of the save checks' messages.
inline constexpr int kMsgImpactRange =
    230;  // "G-Sensor value has exceeded effective range.(%.2f-%.2f)"
inline constexpr int kMsgShareMinimum =
    305;  // "Each recording mode must be set to minimum 10% or more"
inline constexpr int kMsgWriteProtected = 300;

inline constexpr double kImpactMin = 0.03;  // custom G-sensor thresholds, in g
inline constexpr double kImpactMax = 1.5;

enum class FieldKind {
    Header,   // magic, checksum (u16)
    Setting,  // edited by the settings pages
    Fixed,    // carried through, not edited by the viewer
};

struct FieldInfo {
    std::string_view name;  // the code name, also the JSON key and the `config set` name
    std::size_t offset;
    std::size_t width;  // bytes: 2 for the header halves, 4 for every setting
    FieldKind kind;
    std::uint32_t defaultValue;
    std::uint32_t minValue;
    std::uint32_t maxValue;
    std::uint32_t step;                            // 1, or 10 for the card shares
    std::span<const std::uint32_t> allowed;        // when not empty, only these values
    std::span<const std::string_view> valueTexts;  // text for value minValue + i, if known
};

// magic, checksum, then every setting in offset order.
std::span<const FieldInfo> fieldTable();
const FieldInfo* findField(std::string_view name);

// Reads the field's current value from the image (u16 for header fields).
std::uint32_t fieldValue(const DeviceConfig& config, const FieldInfo& field);

// Whether `value` is one the field may take.
bool valueAllowed(const FieldInfo& field, std::uint32_t value);

// A readable text for a value ("High", "+09:00", "10km/h"…), empty when there is none.
std::string describeValue(const DeviceConfig& config, const FieldInfo& field, std::uint32_t value);

// Sensitivity presets of the impact thresholds: 0..4 fixed levels, 5 custom.
inline constexpr int kCustomPreset = 5;
inline constexpr std::array<std::uint32_t, 5> kDrivePresetValues{70, 60, 50, 40, 30};
inline constexpr std::array<std::uint32_t, 5> kParkPresetValues{25, 20, 15, 12, 8};
int drivePreset(const DeviceConfig& config);
int parkPreset(const DeviceConfig& config);

// The dialog's custom-threshold edits; present only for a mode whose preset is Customize.
struct SaveCheckInput {
    std::optional<std::array<std::string, 3>> driveTexts;  // X, Y, Z as typed
    std::optional<std::array<std::string, 3>> parkTexts;
};

struct SaveCheckFailure {
    int stringId = 0;
    bool parkMode = false;      // for 230: which group of edits
    int axis = -1;              // for 230: 0 X, 1 Y, 2 Z — the edit to rewrite
    std::string rewrittenText;  // for 230: the entered number as "%.2f"
};

// Runs the save checks in the dialog's order: driving custom values, parking custom values,
// the card shares. Returns 0 when all pass — the custom thresholds are then stored in `config`
// (value × 100, truncated) — or the string id of the first failed check, with `config`
// unchanged and `failure` filled.
int checkBeforeSave(DeviceConfig& config, const SaveCheckInput& input = {},
                    SaveCheckFailure* failure = nullptr);

// A typed threshold text as the dialog converts it: a decimal number, unreadable → 0.
double parseImpactText(std::string_view text);

// English text of a check's message, formatted ("…range.(0.03-1.50)"); the UI takes the
// translated text from its string tables instead.
std::string checkMessage(int stringId);

// Sets one named field from its text (decimal or 0x… hex) as `config set` does: refuses unknown
// names, header fields, unreadable numbers and values the field may not take, with a message;
// keeps parkSharePercent = 100 − alwaysSharePercent and the fixed motion-area bits.
Result<void> setFieldFromText(DeviceConfig& config, std::string_view name, std::string_view text);

}  // namespace orvik::device_config
