#include "device_config/validation.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

namespace orvik::device_config {
namespace {

using SV = std::string_view;
constexpr std::uint32_t kU32Max = 0xFFFFFFFFu;

constexpr std::uint32_t kStandbyValues[] = {0, 10, 30, 60, 120, 180, 300, 420, 600};
constexpr std::uint32_t kCutOffVoltageValues[] = {0,   1,   100, 115, 116, 117, 118,
                                                  119, 120, 121, 122, 123, 124};
constexpr std::uint32_t kCutOffTimerValues[] = {0, 3, 6, 9, 12, 24, 36, 48};

constexpr SV kQualityTexts[] = {"Normal", "High", "Highest", "CCTV"};
constexpr SV kOneToFive[] = {"1", "2", "3", "4", "5"};
constexpr SV kFlipTexts[] = {"Not Use", "L/R", "U/D", "L/R + U/D"};
constexpr SV kNotUseUse[] = {"Not Use", "Use"};
constexpr SV kUseNotUse[] = {"Use", "Not Use"};
constexpr SV kOffOn[] = {"Off", "On"};
constexpr SV kSensorTexts[] = {"HDR", "60FPS"};
constexpr SV kLanguageTexts[] = {"Korean",
                                 "English",
                                 "French",
                                 "Spanish(Europe)",
                                 "Arabic",
                                 "Chinese",
                                 "Russian",
                                 "Japanese",
                                 "Thai",
                                 "Bahasa Indonesia",
                                 "Vietnamese",
                                 "Mongolian",
                                 "Spanish(South America)",
                                 "German",
                                 "Turkish",
                                 "Italian",
                                 "Hindi",
                                 "Cantonese",
                                 "Czech",
                                 "Portuguese",
                                 "Malaysia"};
constexpr SV kVolumeTexts[] = {"Not Use", "1(down)", "2", "3(up)"};
constexpr SV kLcdOffTexts[] = {"None", "15 s", "30 s", "60 s"};
constexpr SV kLcdBrightnessTexts[] = {"1", "2", "3", "Auto"};
constexpr SV kMotionTexts[] = {"Not Use", "1 (insensitive)", "2", "3", "4", "5 (sensitive)"};
constexpr SV kPipTexts[] = {"position 1", "position 2", "position 3", "position 4"};
constexpr SV kCableLossTexts[] = {"None", "0.1v", "0.2v", "0.3v", "0.4v", "0.5v", "0.6v"};
constexpr SV kAutoFormatTexts[] = {"None", "4 weeks", "8 weeks", "16 weeks", "32 weeks"};
constexpr SV kVibratorIntensityTexts[] = {"Not Use", "Low", "Middle", "High"};
constexpr SV kVibratorModeTexts[] = {"Not Use", "All", "High Level", "High Speed"};
constexpr SV kVehicleTexts[] = {"Sedan", "SUV", "Truck(Bus)"};
constexpr SV kHeadwayFactorTexts[] = {"1.10", "1.15", "1.20", "1.25", "1.30",
                                      "1.35", "1.40", "1.45", "1.50"};
constexpr SV kSensitivity3Texts[] = {"0 (Insensitive)", "1", "2 (Sensitive)"};
constexpr SV kHeadwayDistanceTexts[] = {"0.60", "0.65", "0.70", "0.75", "0.80", "0.85", "0.90"};
constexpr SV kFcmdTexts[] = {"Not Use", "0(Insensitive)", "1", "2(Sensitive)"};
constexpr SV kSoundOffTexts[] = {"sound on", "sound off"};
constexpr SV kTimeZoneTexts[] = {
    "-12:00", "-11:00", "-10:00", "-09:00", "-08:00", "-07:00", "-06:00", "-05:00", "-04:30",
    "-04:00", "-03:30", "-03:00", "-02:00", "-01:00", " 00:00", "+01:00", "+02:00", "+03:00",
    "+03:30", "+04:00", "+04:30", "+05:00", "+05:30", "+05:45", "+06:00", "+06:30", "+07:00",
    "+08:00", "+09:00", "+09:30", "+10:00", "+11:00", "+12:00", "+13:00"};
constexpr SV kSafeDriveTexts[] = {"Not Use", "Penalty", "All"};
constexpr SV kSpeedUnitTexts[] = {"km/h", "mph"};
constexpr SV kRouteIntervalTexts[] = {"None", "1 s", "3 s", "5 s", "10 s", "15 s", "30 s", "60 s"};
constexpr SV kAntiFlickerTexts[] = {"Auto", "60 Hz", "50 Hz"};

constexpr std::uint32_t kKmhSpeeds[] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
constexpr std::uint32_t kMphSpeeds[] = {10, 15, 20, 25, 30, 40, 45, 50, 55, 60};

struct Range {
    SV name;
    FieldKind kind;
    std::uint32_t min, max, step;
    std::span<const std::uint32_t> allowed;
    std::span<const SV> texts;
};

template <std::size_t N>
constexpr std::span<const SV> T(const SV (&a)[N]) {
    return std::span<const SV>(a, N);
}

// Ranges of the settings, by code name; offsets and defaults come from the image definition.
const std::vector<Range>& ranges() {
    static const std::vector<Range> r = {
        {"frontQuality", FieldKind::Setting, 0, 3, 1, {}, T(kQualityTexts)},
        {"rearQuality", FieldKind::Setting, 0, 3, 1, {}, T(kQualityTexts)},
        {"frontBrightness", FieldKind::Setting, 0, 4, 1, {}, T(kOneToFive)},
        {"rearBrightness", FieldKind::Setting, 0, 4, 1, {}, T(kOneToFive)},
        {"rearFlip", FieldKind::Setting, 0, 3, 1, {}, T(kFlipTexts)},
        {"busMode", FieldKind::Setting, 0, 1, 1, {}, T(kNotUseUse)},
        {"frontSensorMode", FieldKind::Setting, 0, 1, 1, {}, T(kSensorTexts)},
        {"voiceLanguage", FieldKind::Setting, 0, 20, 1, {}, T(kLanguageTexts)},
        {"micVolume", FieldKind::Setting, 0, 3, 1, {}, T(kVolumeTexts)},
        {"speakerVolume", FieldKind::Setting, 0, 3, 1, {}, T(kVolumeTexts)},
        {"hourlyAlarm", FieldKind::Setting, 0, 1, 1, {}, T(kOffOn)},
        {"lcdAutoOff", FieldKind::Setting, 0, 3, 1, {}, T(kLcdOffTexts)},
        {"lcdBrightness", FieldKind::Setting, 0, 3, 1, {}, T(kLcdBrightnessTexts)},
        {"screenSaver", FieldKind::Setting, 0, 1, 1, {}, T(kUseNotUse)},
        {"parkImpactX", FieldKind::Setting, 3, 150, 1, {}, {}},
        {"parkImpactY", FieldKind::Setting, 3, 150, 1, {}, {}},
        {"parkImpactZ", FieldKind::Setting, 3, 150, 1, {}, {}},
        {"driveImpactX", FieldKind::Setting, 3, 150, 1, {}, {}},
        {"driveImpactY", FieldKind::Setting, 3, 150, 1, {}, {}},
        {"driveImpactZ", FieldKind::Setting, 3, 150, 1, {}, {}},
        {"gSensorEnabled", FieldKind::Setting, 0, 1, 1, {}, T(kOffOn)},
        {"parkStandbySeconds", FieldKind::Setting, 0, 600, 1, kStandbyValues, {}},
        {"alwaysSharePercent", FieldKind::Setting, 10, 90, 10, {}, {}},
        {"middleShareValue", FieldKind::Fixed, 10, kU32Max, 1, {}, {}},
        {"parkSharePercent", FieldKind::Setting, 10, 90, 10, {}, {}},
        {"frontMotionSensitivity", FieldKind::Setting, 0, 5, 1, {}, T(kMotionTexts)},
        {"rearMotionSensitivity", FieldKind::Setting, 0, 5, 1, {}, T(kMotionTexts)},
        {"frontMotionArea", FieldKind::Setting, 0, 0xFFF, 1, {}, {}},
        {"rearMotionArea", FieldKind::Setting, 0, 0xFFF, 1, {}, {}},
        {"pipPosition", FieldKind::Setting, 0, 3, 1, {}, T(kPipTexts)},
        {"cutOffVoltage", FieldKind::Setting, 0, 124, 1, kCutOffVoltageValues, {}},
        {"cutOffTimerHours", FieldKind::Setting, 0, 48, 1, kCutOffTimerValues, {}},
        {"externalPower", FieldKind::Setting, 0, 1, 1, {}, T(kOffOn)},
        {"cableVoltageLoss", FieldKind::Setting, 1, 7, 1, {}, T(kCableLossTexts)},
        {"autoFormatWeeks", FieldKind::Setting, 0, 4, 1, {}, T(kAutoFormatTexts)},
        {"frontLed", FieldKind::Setting, 0, 1, 1, {}, T(kUseNotUse)},
        {"rearLed", FieldKind::Setting, 0, 1, 1, {}, T(kUseNotUse)},
        {"nightVision", FieldKind::Setting, 0, 1, 1, {}, T(kNotUseUse)},
        {"vibratorIntensity", FieldKind::Setting, 0, 3, 1, {}, T(kVibratorIntensityTexts)},
        {"vibratorMode", FieldKind::Setting, 0, 3, 1, {}, T(kVibratorModeTexts)},
        {"fixed264", FieldKind::Fixed, 0, kU32Max, 1, {}, {}},
        {"vehicleType", FieldKind::Setting, 0, 2, 1, {}, T(kVehicleTexts)},
        {"fixed272", FieldKind::Fixed, 0, kU32Max, 1, {}, {}},
        {"fixed276", FieldKind::Fixed, 0, kU32Max, 1, {}, {}},
        {"fixed280", FieldKind::Fixed, 0, kU32Max, 1, {}, {}},
        {"headwayFactor", FieldKind::Setting, 0, 8, 1, {}, T(kHeadwayFactorTexts)},
        {"fcwsSensitivity", FieldKind::Setting, 0, 2, 1, {}, T(kSensitivity3Texts)},
        {"ufcwsSensitivity", FieldKind::Setting, 0, 4, 1, {}, T(kOneToFive)},
        {"headwayDistance", FieldKind::Setting, 0, 6, 1, {}, T(kHeadwayDistanceTexts)},
        {"fcwsSpeed", FieldKind::Setting, 0, 10, 1, {}, {}},
        {"ldwsSpeed", FieldKind::Setting, 0, 10, 1, {}, {}},
        {"ldwsSensitivity", FieldKind::Setting, 0, 2, 1, {}, T(kSensitivity3Texts)},
        {"fcmdSensitivity", FieldKind::Setting, 0, 3, 1, {}, T(kFcmdTexts)},
        {"ldwsSoundOff", FieldKind::Setting, 0, 1, 1, {}, T(kSoundOffTexts)},
        {"fcwsSoundOff", FieldKind::Setting, 0, 1, 1, {}, T(kSoundOffTexts)},
        {"fcmdSoundOff", FieldKind::Setting, 0, 1, 1, {}, T(kSoundOffTexts)},
        {"timeZoneIndex", FieldKind::Setting, 0, 33, 1, {}, T(kTimeZoneTexts)},
        {"summerTime", FieldKind::Setting, 0, 1, 1, {}, T(kOffOn)},
        {"parkingGps", FieldKind::Setting, 0, 1, 1, {}, T(kOffOn)},
        {"parkingNotice", FieldKind::Setting, 0, 1, 1, {}, T(kNotUseUse)},
        {"safeDrive", FieldKind::Setting, 0, 2, 1, {}, T(kSafeDriveTexts)},
        {"speedUnit", FieldKind::Setting, 0, 1, 1, {}, T(kSpeedUnitTexts)},
        {"routeSaveInterval", FieldKind::Setting, 0, 7, 1, {}, T(kRouteIntervalTexts)},
        {"osdSpeed", FieldKind::Setting, 0, 1, 1, {}, T(kOffOn)},
        {"antiFlicker", FieldKind::Setting, 0, 2, 1, {}, T(kAntiFlickerTexts)},
        {"ecoThreshold", FieldKind::Setting, 0, 100, 1, {}, {}},
    };
    return r;
}

struct Slot {
    SV name;
    std::size_t offset;
    std::uint32_t def;
};
constexpr Slot kSlots[] = {
#define ORVIK_DC_SLOT(name, Name, offset, def) {#name, offset, def},
    ORVIK_DEVICE_CONFIG_FIELDS(ORVIK_DC_SLOT)
#undef ORVIK_DC_SLOT
};

std::vector<FieldInfo> buildTable() {
    std::vector<FieldInfo> t;
    t.push_back({"magic", 0, 2, FieldKind::Header, kMagic, kMagic, kMagic, 1, {}, {}});
    t.push_back({"checksum", 2, 2, FieldKind::Header, 0, 0, 0xFFFF, 1, {}, {}});
    for (const auto& s : kSlots) {
        for (const auto& r : ranges()) {
            if (r.name != s.name)
                continue;
            t.push_back(
                {s.name, s.offset, 4, r.kind, s.def, r.min, r.max, r.step, r.allowed, r.texts});
        }
    }
    return t;
}

std::string formatFixed2(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    return buf;
}

bool isImpactField(SV name) {
    return name == "parkImpactX" || name == "parkImpactY" || name == "parkImpactZ" ||
           name == "driveImpactX" || name == "driveImpactY" || name == "driveImpactZ";
}

bool inImpactRange(double v) {
    return v >= kImpactMin && v <= kImpactMax;
}  // false for NaN

std::optional<std::uint32_t> parseU32(SV text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty())
        return std::nullopt;
    std::uint32_t v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (ec != std::errc() || p != text.data() + text.size())
        return std::nullopt;
    return v;
}

std::string allowedText(const FieldInfo& f) {
    std::string s;
    if (!f.allowed.empty()) {
        s = "one of ";
        for (std::size_t i = 0; i < f.allowed.size(); ++i)
            s += (i ? ", " : "") + std::to_string(f.allowed[i]);
        return s;
    }
    s = std::to_string(f.minValue) + ".." + std::to_string(f.maxValue);
    if (f.step > 1)
        s += " in steps of " + std::to_string(f.step);
    return s;
}

}  // namespace

std::span<const FieldInfo> fieldTable() {
    static const std::vector<FieldInfo> table = buildTable();
    return table;
}

const FieldInfo* findField(std::string_view name) {
    for (const auto& f : fieldTable()) {
        if (f.name == name)
            return &f;
    }
    return nullptr;
}

std::uint32_t fieldValue(const DeviceConfig& config, const FieldInfo& field) {
    if (field.width == 2)
        return field.offset == 0 ? config.magic() : config.checksum();
    return config.wordAt(field.offset);
}

bool valueAllowed(const FieldInfo& field, std::uint32_t value) {
    if (!field.allowed.empty()) {
        for (auto a : field.allowed) {
            if (a == value)
                return true;
        }
        return false;
    }
    if (value < field.minValue || value > field.maxValue)
        return false;
    return field.step <= 1 || (value - field.minValue) % field.step == 0;
}

std::string describeValue(const DeviceConfig& config, const FieldInfo& field, std::uint32_t value) {
    SV n = field.name;
    if (isImpactField(n))
        return formatFixed2(value / 100.0);
    if (n == "fcwsSpeed" || n == "ldwsSpeed") {
        if (value == 0)
            return "Not Use";
        if (value > 10)
            return "";
        bool mph = config.speedUnit() == 1;
        return std::to_string((mph ? kMphSpeeds : kKmhSpeeds)[value - 1]) + (mph ? "Mi/h" : "km/h");
    }
    if (n == "parkStandbySeconds")
        return value == 0 ? "Not Use" : std::to_string(value) + " s";
    if (n == "cutOffVoltage") {
        if (value == 0)
            return "Not Use";
        if (value == 1)
            return "Auto";
        if (value == 100)
            return "External Power 10v";
        if (value >= 115 && value <= 124) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.1fv / %.1fv", value / 10.0, value / 5.0);
            return buf;
        }
        return "";
    }
    if (n == "cutOffTimerHours") {
        if (!valueAllowed(field, value))
            return "";
        return value == 0 ? "Not Use" : std::to_string(value) + " hours";
    }
    if (n == "alwaysSharePercent" || n == "parkSharePercent")
        return std::to_string(value) + "%";
    if (n == "ecoThreshold")
        return value < 2 ? "not used" : formatFixed2(value / 100.0) + " and over";
    if (!field.valueTexts.empty() && value >= field.minValue &&
        value - field.minValue < field.valueTexts.size())
        return std::string(field.valueTexts[value - field.minValue]);
    return "";
}

int drivePreset(const DeviceConfig& c) {
    for (int p = 0; p < 5; ++p) {
        auto v = kDrivePresetValues[p];
        if (c.driveImpactX() == v && c.driveImpactY() == v && c.driveImpactZ() == v)
            return p;
    }
    return kCustomPreset;
}

int parkPreset(const DeviceConfig& c) {
    for (int p = 0; p < 5; ++p) {
        auto v = kParkPresetValues[p];
        if (c.parkImpactX() == v && c.parkImpactY() == v && c.parkImpactZ() == v)
            return p;
    }
    return kCustomPreset;
}

double parseImpactText(std::string_view text) {
    // Leading blanks and sign as a C decimal conversion takes them; trailing text is ignored.
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    if (text.size() > 31)
        text = text.substr(0, 31);  // the edit holds at most 31 characters
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    double v = 0;
    auto [p, ec] =
        std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
    if (ec != std::errc())
        return 0;
    (void)p;
    return negative ? -v : v;
}

int checkBeforeSave(DeviceConfig& config, const SaveCheckInput& input, SaveCheckFailure* failure) {
    std::array<std::uint32_t, 3> drive{}, park{};
    auto checkMode = [&](const std::array<std::string, 3>& texts, bool parkMode,
                         std::array<std::uint32_t, 3>& out) {
        for (int axis = 0; axis < 3; ++axis) {
            double v = parseImpactText(texts[axis]);
            if (!inImpactRange(v)) {
                if (failure)
                    *failure = {kMsgImpactRange, parkMode, axis, formatFixed2(v)};
                return false;
            }
            out[axis] = static_cast<std::uint32_t>(v * 100);  // truncated, as the camera expects
        }
        return true;
    };
    if (input.driveTexts && !checkMode(*input.driveTexts, false, drive))
        return kMsgImpactRange;
    if (input.parkTexts && !checkMode(*input.parkTexts, true, park))
        return kMsgImpactRange;
    if (config.alwaysSharePercent() < 10 || config.middleShareValue() < 10 ||
        config.parkSharePercent() < 10) {
        if (failure)
            *failure = {kMsgShareMinimum, false, -1, {}};
        return kMsgShareMinimum;
    }
    if (input.driveTexts) {
        config.setDriveImpactX(drive[0]);
        config.setDriveImpactY(drive[1]);
        config.setDriveImpactZ(drive[2]);
    }
    if (input.parkTexts) {
        config.setParkImpactX(park[0]);
        config.setParkImpactY(park[1]);
        config.setParkImpactZ(park[2]);
    }
    return 0;
}

std::string checkMessage(int stringId) {
    switch (stringId) {
        case kMsgImpactRange: {
            char buf[128];
            std::snprintf(buf, sizeof buf,
                          "G-Sensor value has exceeded effective range.(%.2f-%.2f)", kImpactMin,
                          kImpactMax);
            return buf;
        }
        case kMsgShareMinimum:
            return "Each recording mode must be set to minimum 10% or more";
        case kMsgWriteProtected:
            return "The disk cannot be written to because it is write protected.\r\n\r\n"
                   "Please remove the write protection from the volume in drive";
        default:
            return {};
    }
}

Result<void> setFieldFromText(DeviceConfig& config, std::string_view name, std::string_view text) {
    const FieldInfo* f = findField(name);
    if (!f)
        return makeError("unknown field \"" + std::string(name) + "\"");
    if (f->kind == FieldKind::Header)
        return makeError(std::string(name) + " is set when the file is written");
    std::optional<std::uint32_t> value = parseU32(text);
    if (isImpactField(name) && !value) {
        // Thresholds may be given in g, as the dialog's edits take them.
        if (text.find_first_not_of(" +-.0123456789eE") != std::string_view::npos)
            return makeError(std::string(name) + ": \"" + std::string(text) + "\" is not a number");
        double g = parseImpactText(text);
        if (!inImpactRange(g))
            return makeError(checkMessage(kMsgImpactRange));
        value = static_cast<std::uint32_t>(g * 100);
    }
    if (!value)
        return makeError(std::string(name) + ": \"" + std::string(text) + "\" is not a number");
    if (isImpactField(name) && !valueAllowed(*f, *value))
        return makeError(checkMessage(kMsgImpactRange));
    if ((name == "alwaysSharePercent" || name == "parkSharePercent" ||
         name == "middleShareValue") &&
        *value < 10)
        return makeError(checkMessage(kMsgShareMinimum));
    if (!valueAllowed(*f, *value))
        return makeError(std::string(name) + ": " + std::to_string(*value) + " is not allowed (" +
                         allowedText(*f) + ")");
    std::uint32_t v = *value;
    if (name == "frontMotionArea" || name == "rearMotionArea")
        v |= 0x60;  // the fixed middle cells
    config.setWordAt(f->offset, v);
    // The two shares always fill the card together.
    if (name == "alwaysSharePercent")
        config.setParkSharePercent(100 - v);
    if (name == "parkSharePercent")
        config.setAlwaysSharePercent(100 - v);
    return {};
}

}  // namespace orvik::device_config
