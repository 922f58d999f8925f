// Any bytes as a driving-route file: decoded, turned into the text table and the CSV.
#include <cstdint>
#include <cstdlib>

#include "device_config/drive_route.h"

namespace dc = orvik::device_config;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto file = dc::decodeDriveRoute(std::span(data, size));
    if (!file.ok()) {
        if (size >= dc::kDrvHeaderSize)
            std::abort();
        return 0;
    }
    if (file->records.size() > (size - dc::kDrvHeaderSize) / dc::kDrvRecordSize)
        std::abort();
    auto rows = dc::buildDriveRouteTable(file->records);
    std::string csv = dc::driveRouteCsv(rows);
    if (std::count(csv.begin(), csv.end(), '\n') != static_cast<long>(rows.size()) + 1)
        std::abort();
    for (const auto& r : file->records) {
        (void)dc::routePosition(r);
        if (dc::decodeDriveRouteRecord(dc::encodeDriveRouteRecord(r)) != r)
            std::abort();
    }
    return 0;
}
