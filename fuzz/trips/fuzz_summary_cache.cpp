// The summary cache's parser on arbitrary bytes: it must refuse or accept, never crash, and
// whatever it accepts must store and parse again. The thresholds are taken from the input's
// own header, so inputs get past that check.
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "trips/summary_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    orvik::trips::ImpactThresholds t;
    if (size >= 32) {
        std::memcpy(&t.x, data + 8, 8);
        std::memcpy(&t.y, data + 16, 8);
        std::memcpy(&t.z, data + 24, 8);
    }
    auto cache = orvik::trips::SummaryCache::parse(bytes, t);
    if (cache) {
        auto again = orvik::trips::SummaryCache::parse(cache->serialize(), t);
        if (!again || again->size() != cache->size())
            std::abort();
    }
    return 0;
}
