#include "card_format/card_format.h"

namespace orvik::card_format {

Result<void> writeRootFileOnFat32(const std::string& device, std::string_view name,
                                  const std::string& data, std::uint32_t imageSectorSize) {
    (void)device;
    (void)name;
    (void)data;
    (void)imageSectorSize;
    return makeError("writing files on an unmounted card is not available yet");
}

}  // namespace orvik::card_format
