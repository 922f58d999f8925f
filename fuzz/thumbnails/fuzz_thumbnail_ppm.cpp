// The thumbnail cache's reader on arbitrary bytes (a cache file is whatever is on disk): it must
// refuse or accept, never crash, and what it accepts must write and read back the same.
#include <cstdlib>
#include <string_view>

#include "thumbnails/thumbnail.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto t = orvik::thumbnails::decodePpm(bytes);
    if (t) {
        if (t->rgb.size() != static_cast<std::size_t>(t->width) * t->height * 3)
            std::abort();
        auto again = orvik::thumbnails::decodePpm(orvik::thumbnails::encodePpm(*t));
        if (!again || again->rgb != t->rgb)
            std::abort();
    }
    return 0;
}
