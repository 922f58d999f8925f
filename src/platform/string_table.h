#pragma once
// The embedded string tables as the build step generates them (see resources/strings/).
#include <cstddef>

namespace orvik::platform::detail {

struct StringTableEntry {
    int id;
    int language;  // 0 English, 1 Korean
    const char* text;
    const char* origin;  // table file name, for conflict reports
};

// Entries in table-file-name order, then line order.
extern const StringTableEntry kStringTable[];
extern const std::size_t kStringTableSize;

}  // namespace orvik::platform::detail
