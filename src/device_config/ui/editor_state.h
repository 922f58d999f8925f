#pragma once
// What the settings editor and its pages share while the editor is open: the configuration
// session (image and remembered path) and the two sensitivity presets derived from the image.
#include <cstdint>
#include <string_view>

#include "device_config/device_config.h"
#include "device_config/validation.h"

namespace orvik::device_config::ui {

class EditorState {
  public:
    // A field of the image by its code name ("frontQuality"). An unknown name is a programming
    // error: it asserts in debug builds; release builds read 0 and ignore the write.
    uint32_t get(std::string_view field) const;
    void set(std::string_view field, uint32_t value);

    DeviceConfig& image() { return session.image(); }
    const DeviceConfig& image() const { return session.image(); }

    // Factory defaults, presets derived again.
    void resetToDefaults();
    void derivePresets();

    ConfigSession session;
    int drivePreset = 2;
    int parkPreset = 4;
};

}  // namespace orvik::device_config::ui
