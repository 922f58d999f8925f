#pragma once
// Helpers shared by the generator tests, over the shared tests/support: an independent walk of
// the camera layout that reads the telemetry slots back.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "samplecard/telemetry_record.h"
#include "support/test_support.h"

namespace orvik::tools::test {

using orvik::test::haveProgram;
using orvik::test::readBytes;
using orvik::test::runCommand;
using orvik::test::RunResult;
using orvik::test::TempDir;

// The slots of every fragment, walking ftyp, box 2 and moof+box pairs and taking the last 2222
// bytes of the box after each moof. Stops at the first box that is not complete.
struct ReadSlot {
    std::size_t fragment = 0;
    std::vector<std::uint8_t> bytes;  // 202
};
std::vector<ReadSlot> readSlots(const std::vector<std::uint8_t>& file);

// Decodes the fields of a 200-byte record as the camera stores them.
TelemetrySample decodeRecord(const std::uint8_t* record);
bool recordIsValid(const std::uint8_t* record);

}  // namespace orvik::tools::test
