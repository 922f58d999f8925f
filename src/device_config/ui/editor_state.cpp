#include "device_config/ui/editor_state.h"

#include <cassert>

namespace orvik::device_config::ui {

uint32_t EditorState::get(std::string_view field) const {
    const FieldInfo* info = findField(field);
    assert(info && "unknown configuration field");
    return info ? fieldValue(image(), *info) : 0;
}

void EditorState::set(std::string_view field, uint32_t value) {
    const FieldInfo* info = findField(field);
    assert(info && info->kind != FieldKind::Header && "not a setting");
    if (info && info->kind != FieldKind::Header)
        session.image().setWordAt(info->offset, value);
}

void EditorState::resetToDefaults() {
    session.resetToDefaults();
    derivePresets();
}

void EditorState::derivePresets() {
    drivePreset = device_config::drivePreset(image());
    parkPreset = device_config::parkPreset(image());
}

}  // namespace orvik::device_config::ui
