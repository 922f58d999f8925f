#pragma once
// CRC-32C (Castagnoli), with the processor's instruction where there is one: a check of bytes
// that are compared again later (a copy read back from the disk), at memory speed.
#include <cstdint>
#include <span>

namespace orvik::platform {

// Continues `crc` (0 to start) over `bytes`.
std::uint32_t crc32c(std::uint32_t crc, std::span<const std::uint8_t> bytes);

}  // namespace orvik::platform
