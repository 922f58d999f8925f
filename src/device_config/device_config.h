#pragma once
// The camera's configuration file "config_K7x7.bin": a 624-byte image of 156 little-endian
// 32-bit words, read and written whole, plus finding it on a card and choosing where to save it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device_config/save_outcome.h"
#include "platform/result.h"
#include "platform/volume_label.h"
#include "platform/volumes.h"

namespace orvik::device_config {

inline constexpr std::size_t kImageSize = 624;
inline constexpr std::size_t kWordCount = kImageSize / 4;
inline constexpr std::uint16_t kMagic = 0x1508;
inline constexpr std::string_view kConfigFileName = "config_K7x7.bin";

// Every setting word: X(codeName, SetterName, byteOffset, defaultValue).
// Words not listed (and not the header word 0) are reserved and carried through unchanged.
#define ORVIK_DEVICE_CONFIG_FIELDS(X)                         \
    X(frontQuality, FrontQuality, 4, 1)                       \
    X(rearQuality, RearQuality, 8, 1)                         \
    X(frontBrightness, FrontBrightness, 12, 2)                \
    X(rearBrightness, RearBrightness, 16, 2)                  \
    X(rearFlip, RearFlip, 20, 0)                              \
    X(busMode, BusMode, 24, 0)                                \
    X(frontSensorMode, FrontSensorMode, 28, 0)                \
    X(voiceLanguage, VoiceLanguage, 52, 0)                    \
    X(micVolume, MicVolume, 56, 3)                            \
    X(speakerVolume, SpeakerVolume, 60, 2)                    \
    X(hourlyAlarm, HourlyAlarm, 64, 1)                        \
    X(lcdAutoOff, LcdAutoOff, 88, 0)                          \
    X(lcdBrightness, LcdBrightness, 92, 2)                    \
    X(screenSaver, ScreenSaver, 96, 0)                        \
    X(parkImpactX, ParkImpactX, 120, 8)                       \
    X(parkImpactY, ParkImpactY, 124, 8)                       \
    X(parkImpactZ, ParkImpactZ, 128, 8)                       \
    X(driveImpactX, DriveImpactX, 132, 50)                    \
    X(driveImpactY, DriveImpactY, 136, 50)                    \
    X(driveImpactZ, DriveImpactZ, 140, 50)                    \
    X(gSensorEnabled, GSensorEnabled, 144, 1)                 \
    X(parkStandbySeconds, ParkStandbySeconds, 148, 10)        \
    X(alwaysSharePercent, AlwaysSharePercent, 152, 70)        \
    X(middleShareValue, MiddleShareValue, 156, 100)           \
    X(parkSharePercent, ParkSharePercent, 160, 30)            \
    X(frontMotionSensitivity, FrontMotionSensitivity, 164, 3) \
    X(rearMotionSensitivity, RearMotionSensitivity, 168, 3)   \
    X(frontMotionArea, FrontMotionArea, 172, 0x60)            \
    X(rearMotionArea, RearMotionArea, 176, 0x60)              \
    X(pipPosition, PipPosition, 180, 0)                       \
    X(cutOffVoltage, CutOffVoltage, 204, 121)                 \
    X(cutOffTimerHours, CutOffTimerHours, 208, 0)             \
    X(externalPower, ExternalPower, 212, 0)                   \
    X(cableVoltageLoss, CableVoltageLoss, 216, 4)             \
    X(autoFormatWeeks, AutoFormatWeeks, 220, 2)               \
    X(frontLed, FrontLed, 224, 0)                             \
    X(rearLed, RearLed, 228, 0)                               \
    X(nightVision, NightVision, 232, 0)                       \
    X(vibratorIntensity, VibratorIntensity, 256, 2)           \
    X(vibratorMode, VibratorMode, 260, 1)                     \
    X(fixed264, Fixed264, 264, 1)                             \
    X(vehicleType, VehicleType, 268, 0)                       \
    X(fixed272, Fixed272, 272, 800)                           \
    X(fixed276, Fixed276, 276, 500)                           \
    X(fixed280, Fixed280, 280, 500)                           \
    X(headwayFactor, HeadwayFactor, 284, 8)                   \
    X(fcwsSensitivity, FcwsSensitivity, 288, 1)               \
    X(ufcwsSensitivity, UfcwsSensitivity, 292, 4)             \
    X(headwayDistance, HeadwayDistance, 296, 3)               \
    X(fcwsSpeed, FcwsSpeed, 300, 3)                           \
    X(ldwsSpeed, LdwsSpeed, 304, 4)                           \
    X(ldwsSensitivity, LdwsSensitivity, 308, 1)               \
    X(fcmdSensitivity, FcmdSensitivity, 312, 2)               \
    X(ldwsSoundOff, LdwsSoundOff, 316, 0)                     \
    X(fcwsSoundOff, FcwsSoundOff, 320, 0)                     \
    X(fcmdSoundOff, FcmdSoundOff, 324, 0)                     \
    X(timeZoneIndex, TimeZoneIndex, 348, 28)                  \
    X(summerTime, SummerTime, 352, 0)                         \
    X(parkingGps, ParkingGps, 356, 0)                         \
    X(parkingNotice, ParkingNotice, 380, 1)                   \
    X(safeDrive, SafeDrive, 384, 0)                           \
    X(speedUnit, SpeedUnit, 388, 0)                           \
    X(routeSaveInterval, RouteSaveInterval, 392, 1)           \
    X(osdSpeed, OsdSpeed, 396, 1)                             \
    X(antiFlicker, AntiFlicker, 400, 1)                       \
    X(ecoThreshold, EcoThreshold, 404, 60)

// The in-memory image. A value type: copy it freely; it never touches a file by itself.
class DeviceConfig {
  public:
    using Bytes = std::array<std::uint8_t, kImageSize>;

    DeviceConfig();  // the factory defaults (checksum left at zero, as after resetToDefaults)

    // Zero bytes, magic, and every default setting; checksum stays zero until finalize().
    void resetToDefaults();

    // Accepts exactly 624 bytes beginning 08 15; otherwise returns an error and leaves the image
    // as it was. The checksum is not verified (the camera does not need it to be right).
    Result<void> assign(std::span<const std::uint8_t> bytes);

    const Bytes& bytes() const { return bytes_; }
    // The image as it goes to the file: magic and checksum set.
    Bytes finalizedBytes() const;
    // Sets magic to 0x1508 and checksum to the XOR of the low halves of words 1..155.
    void finalize();

    std::uint16_t magic() const { return u16(0); }
    std::uint16_t checksum() const { return u16(2); }
    std::uint16_t computeChecksum() const;
    bool checksumValid() const { return checksum() == computeChecksum(); }

    // Word access by byte offset (a multiple of 4 below 624; others are ignored / read as 0).
    std::uint32_t wordAt(std::size_t byteOffset) const;
    void setWordAt(std::size_t byteOffset, std::uint32_t value);

#define ORVIK_DC_ACCESSORS(name, Name, offset, def) \
    std::uint32_t name() const {                    \
        return wordAt(offset);                      \
    }                                               \
    void set##Name(std::uint32_t value) {           \
        setWordAt(offset, value);                   \
    }
    ORVIK_DEVICE_CONFIG_FIELDS(ORVIK_DC_ACCESSORS)
#undef ORVIK_DC_ACCESSORS

    friend bool operator==(const DeviceConfig&, const DeviceConfig&) = default;

  private:
    std::uint16_t u16(std::size_t offset) const;
    void setU16(std::size_t offset, std::uint16_t value);
    Bytes bytes_{};
};

// Reads a configuration file. Refuses (clear message, nothing returned) a file that is missing,
// not exactly 624 bytes, or not beginning 08 15.
Result<DeviceConfig> readConfigFile(const std::string& path);

// Writes the finalized image atomically. `errorNumber` receives errno on failure.
SaveOutcome writeConfigFile(const std::string& path, const DeviceConfig& config);

// ---- on the card ----

// Where the first card holding a 624-byte "config_K7x7.bin" is, in mount-point order.
struct LocatedConfig {
    platform::Volume volume;
    std::string path;
};
std::optional<LocatedConfig> findConfigOnCard(const std::vector<platform::Volume>& volumes);

// Receives the one-line label-failure report ("Could not label volume!: reason"). The default
// writes it to standard output.
using LineSink = std::function<void(const std::string& line)>;

// Asked for a path when the card gives no target; std::nullopt means the user cancelled.
using AskPathFunction = std::function<std::optional<std::string>()>;

// The save target: one removable volume → its root; several → the first labelled "ORVIK";
// otherwise (none, or several and none labelled) the answer of `askPath`.
std::optional<std::string> chooseSaveTarget(const std::vector<platform::Volume>& volumes,
                                            const AskPathFunction& askPath);

// The configuration being edited: the image and the remembered path of its file.
class ConfigSession {
  public:
    DeviceConfig& image() { return image_; }
    const DeviceConfig& image() const { return image_; }
    const std::string& rememberedPath() const { return rememberedPath_; }
    void setRememberedPath(std::string path) { rememberedPath_ = std::move(path); }

    void resetToDefaults() { image_.resetToDefaults(); }

    // Looks for the file on the removable volumes, then on the card the user opened (see
    // opened_card.h), relabels a removable card "ORVIK" when its label differs, and with `readFile`
    // loads it. Returns true only when a file was found and loaded; the remembered path is kept
    // only after a successful load.
    bool locateOnCard(bool readFile, const LineSink& labelReport = {});
    // As above over a given volume list (tests, callers that already enumerated); the label is
    // changed within `labelOptions` (platform::kQuietChange: no prompt, a short wait).
    bool locateOnCard(bool readFile, const std::vector<platform::Volume>& volumes,
                      const LineSink& labelReport = {},
                      const platform::ChangeOptions& labelOptions = {});

    // Loads the image from the remembered path; on any failure the image is unchanged.
    Result<void> read();

    // Finalizes the image and writes it to the remembered path, or to chooseSaveTarget()'s
    // choice. The remembered path is not changed by the choice.
    SaveOutcome write(const AskPathFunction& askPath);
    SaveOutcome write(const AskPathFunction& askPath, const std::vector<platform::Volume>& volumes);

  private:
    DeviceConfig image_;
    std::string rememberedPath_;
};

}  // namespace orvik::device_config
