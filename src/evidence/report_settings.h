#pragma once
// The camera settings that matter for evidence (resolution, G-sensor, speed unit, time zone), as
// rows of the report; none without the card's settings file.

#include <vector>

#include "evidence/manifest.h"
#include "evidence/report_pdf.h"

namespace orvik::device_config {
class DeviceConfig;
}

namespace orvik::evidence {

std::vector<ReportSetting> cameraSettingRows(platform::Language lang,
                                             const std::vector<ReportStill>& stills,
                                             const device_config::DeviceConfig* config,
                                             const CameraSettingsEntry* settingsFile);

}  // namespace orvik::evidence
