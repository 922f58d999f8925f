#pragma once
// Result codes of the media and telemetry layers: 0 is success, negative values are failures,
// with the numeric values callers and logs already know.
#include <cstdint>

namespace orvik {

using HResult = std::int32_t;

inline constexpr HResult S_OK = 0;
inline constexpr HResult S_FALSE = 1;
inline constexpr HResult E_FAIL = static_cast<HResult>(0x80004005u);
inline constexpr HResult E_UNEXPECTED = static_cast<HResult>(0x8000FFFFu);
inline constexpr HResult E_POINTER = static_cast<HResult>(0x80004003u);
inline constexpr HResult E_INVALIDARG = static_cast<HResult>(0x80070057u);
inline constexpr HResult E_OUTOFMEMORY = static_cast<HResult>(0x8007000Eu);
inline constexpr HResult E_NOTIMPL = static_cast<HResult>(0x80004001u);
inline constexpr HResult VFW_E_WRONG_STATE = static_cast<HResult>(0x80040227u);
inline constexpr HResult VFW_E_NOT_FOUND = static_cast<HResult>(0x80040216u);
inline constexpr HResult VFW_E_NO_AUDIO_HARDWARE = static_cast<HResult>(0x80040256u);

constexpr bool succeeded(HResult hr) { return hr >= 0; }
constexpr bool failed(HResult hr) { return hr < 0; }

}  // namespace orvik
