#pragma once
// Reading a core's properties: false, 0 or "" where the core has no such property (yet).
#include <mpv/client.h>

#include <cstdint>
#include <string>

namespace orvik::playback::mpv {

inline bool readDouble(mpv_handle* core, const char* name, double* value) {
    return core && mpv_get_property(core, name, MPV_FORMAT_DOUBLE, value) >= 0;
}

inline bool readInt(mpv_handle* core, const char* name, std::int64_t* value) {
    return core && mpv_get_property(core, name, MPV_FORMAT_INT64, value) >= 0;
}

inline bool readFlag(mpv_handle* core, const char* name) {
    int flag = 0;
    return core && mpv_get_property(core, name, MPV_FORMAT_FLAG, &flag) >= 0 && flag != 0;
}

inline std::string readString(mpv_handle* core, const std::string& name) {
    char* text = core ? mpv_get_property_string(core, name.c_str()) : nullptr;
    std::string result = text ? text : "";
    mpv_free(text);
    return result;
}

}  // namespace orvik::playback::mpv
