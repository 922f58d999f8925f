#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "platform/result.h"

namespace orvik::tools {

// Writes a file next to its final place, syncs it and renames it over `path`, so a reader never
// sees a half-written file and a failure leaves any old file untouched. Creates missing folders.
Result<void> writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace orvik::tools
