#pragma once
// Explicit-endian reads and writes over byte spans (the little-endian ones over
// platform/le_bytes.h); stored formats are never cast to structs.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "platform/le_bytes.h"

namespace orvik::recordings::detail {

inline std::uint32_t loadBe32(std::span<const std::byte> b, std::size_t at) {
    return (std::uint32_t{std::to_integer<std::uint8_t>(b[at])} << 24) |
           (std::uint32_t{std::to_integer<std::uint8_t>(b[at + 1])} << 16) |
           (std::uint32_t{std::to_integer<std::uint8_t>(b[at + 2])} << 8) |
           std::uint32_t{std::to_integer<std::uint8_t>(b[at + 3])};
}

inline std::uint32_t loadLe32(std::span<const std::byte> b, std::size_t at) {
    return platform::loadLe32(reinterpret_cast<const std::uint8_t*>(b.subspan(at, 4).data()));
}

inline std::int32_t loadLeI32(std::span<const std::byte> b, std::size_t at) {
    return static_cast<std::int32_t>(loadLe32(b, at));
}

inline double loadLeF64(std::span<const std::byte> b, std::size_t at) {
    const std::uint64_t bits =
        std::uint64_t{loadLe32(b, at)} | (std::uint64_t{loadLe32(b, at + 4)} << 32);
    return std::bit_cast<double>(bits);
}

inline void storeBe32(std::span<std::byte> b, std::size_t at, std::uint32_t v) {
    b[at] = std::byte(v >> 24);
    b[at + 1] = std::byte(v >> 16);
    b[at + 2] = std::byte(v >> 8);
    b[at + 3] = std::byte(v);
}

inline void storeLe32(std::span<std::byte> b, std::size_t at, std::uint32_t v) {
    platform::storeLe32(reinterpret_cast<std::uint8_t*>(b.subspan(at, 4).data()), v);
}

inline void storeLeF64(std::span<std::byte> b, std::size_t at, double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    storeLe32(b, at, static_cast<std::uint32_t>(bits));
    storeLe32(b, at + 4, static_cast<std::uint32_t>(bits >> 32));
}

inline bool equalsAscii(std::span<const std::byte> b, std::size_t at, const char (&text)[5]) {
    return std::memcmp(b.data() + at, text, 4) == 0;
}

}  // namespace orvik::recordings::detail
