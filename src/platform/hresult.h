#pragma once
// Result codes of the media and telemetry layers: 0 is success, negative values are failures,
// with the numeric values callers and logs already know.
#include <cstdint>

namespace orvik {

// A result code that cannot be ignored by accident: a caller handles it or drops it with
// `(void)` and a comment saying why. Converts to and from the plain number.
class [[nodiscard]] HResult {
  public:
    constexpr HResult() = default;
    constexpr HResult(std::int32_t code) : code_(code) {}  // NOLINT(google-explicit-constructor)
    constexpr operator std::int32_t() const {
        return code_;
    }  // NOLINT(google-explicit-constructor)

  private:
    std::int32_t code_ = 0;
};

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

constexpr bool succeeded(HResult hr) {
    return hr >= 0;
}
constexpr bool failed(HResult hr) {
    return hr < 0;
}

}  // namespace orvik
