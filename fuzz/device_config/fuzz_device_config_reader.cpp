// Any bytes as a configuration file: refused or accepted whole, never half-assigned; the save
// checks and `config set` parsing over texts cut from the same input.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "device_config/device_config.h"
#include "device_config/time_file.h"
#include "device_config/validation.h"

namespace dc = orvik::device_config;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    dc::DeviceConfig config;
    const dc::DeviceConfig before = config;
    auto r = config.assign(std::span(data, size));
    if (!r.ok() && !(config == before))
        std::abort();  // a refused file must change nothing
    if (r.ok()) {
        for (const auto& f : dc::fieldTable())
            (void)dc::describeValue(config, f, dc::fieldValue(config, f));
        auto finalized = config.finalizedBytes();
        dc::DeviceConfig again;
        if (!again.assign(finalized).ok() || !again.checksumValid())
            std::abort();
    }

    std::string text(reinterpret_cast<const char*>(data), size);
    std::array<std::string, 3> edits;
    for (std::size_t i = 0; i < 3; ++i)
        edits[i] = text.substr(std::min(size, i * size / 3), size / 3 + 1);
    dc::SaveCheckInput in;
    in.driveTexts = edits;
    in.parkTexts = edits;
    dc::SaveCheckFailure failure;
    if (dc::checkBeforeSave(config, in, &failure) == 0) {
        if (config.driveImpactX() < 3 || config.driveImpactX() > 150)
            std::abort();
    }

    auto eq = text.find('=');
    if (eq != std::string::npos) {
        dc::DeviceConfig c;
        if (dc::setFieldFromText(c, text.substr(0, eq), text.substr(eq + 1)).ok()) {
            const auto* f = dc::findField(text.substr(0, eq));
            if (!f || !dc::valueAllowed(*f, c.wordAt(f->offset)))
                std::abort();
        }
    }
    (void)dc::parseDeviceTime(text);
    return 0;
}
