// The camera settings that matter for evidence, as the report's table shows them.
#include "evidence/report_settings.h"

#include <string>

#include "device_config/device_config.h"
#include "device_config/validation.h"
#include "evidence/report_canvas.h"
#include "strings/string_ids.h"

namespace orvik::evidence {

std::vector<ReportSetting> cameraSettingRows(platform::Language lang,
                                             const std::vector<ReportStill>& stills,
                                             const device_config::DeviceConfig* config,
                                             const CameraSettingsEntry* settingsFile) {
    std::vector<ReportSetting> out;
    const auto t = [&](int id, const std::vector<std::string>& args = {}) {
        return reportText(lang, id, args);
    };
    std::string sizes;
    for (const ReportStill& s : stills) {
        if (s.moment != "start")
            continue;
        sizes += (sizes.empty() ? "" : ", ") +
                 t(s.channel == "rear" ? strings::evidence::kRear : strings::evidence::kFront) +
                 " " + std::to_string(s.width) + " × " + std::to_string(s.height);
    }
    if (!config)
        return out;
    const device_config::DeviceConfig& c = *config;
    const auto quality = [&](std::uint32_t q) {
        return q <= 3 ? platform::text(3101 + static_cast<int>(q), lang) : std::to_string(q);
    };
    out.push_back({t(strings::evidence::kVideoQuality),
                   t(strings::evidence::kFront) + " " + quality(c.frontQuality()) + ", " +
                       t(strings::evidence::kRear) + " " + quality(c.rearQuality())});
    if (!sizes.empty())
        out.push_back({t(strings::evidence::kPictureSize), sizes});
    out.push_back({t(strings::evidence::kGSensorOn),
                   t(c.gSensorEnabled() ? strings::evidence::kOn : strings::evidence::kOff)});
    const auto sensitivity = [&](int modeId, int presetBase, int preset, std::uint32_t x,
                                 std::uint32_t y, std::uint32_t z) {
        const std::string level = platform::text(presetBase + preset, lang);
        return platform::text(modeId, lang) + " " + level + " (X " + report::fixed(x / 100.0, 2) +
               " g, Y " + report::fixed(y / 100.0, 2) + " g, Z " + report::fixed(z / 100.0, 2) +
               " g)";
    };
    out.push_back({platform::text(3220, lang),
                   sensitivity(3221, 3233, device_config::drivePreset(c), c.driveImpactX(),
                               c.driveImpactY(), c.driveImpactZ()) +
                       "\n" +
                       sensitivity(3222, 3243, device_config::parkPreset(c), c.parkImpactX(),
                                   c.parkImpactY(), c.parkImpactZ())});
    out.push_back({t(strings::evidence::kSpeedUnit), c.speedUnit() == 1 ? "mph" : "km/h"});
    const auto* zone = device_config::findField("timeZoneIndex");
    const std::string zoneText =
        zone ? device_config::describeValue(c, *zone, c.timeZoneIndex()) : std::string();
    out.push_back({t(strings::evidence::kTimeZone),
                   platform::text(3505, lang) + " " +
                       (zoneText.empty() ? std::to_string(c.timeZoneIndex()) : zoneText) + ", " +
                       t(strings::evidence::kSummerTime) + " " +
                       t(c.summerTime() ? strings::evidence::kOn : strings::evidence::kOff)});
    if (settingsFile)
        out.push_back({std::string(device_config::kConfigFileName),
                       settingsFile->path + "\n" +
                           t(strings::evidence::kConfigurationHash, {settingsFile->sha256})});
    return out;
}

}  // namespace orvik::evidence
