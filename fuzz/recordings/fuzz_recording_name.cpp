// File-name grammar and key order on arbitrary names.
#include <cstdlib>
#include <string_view>

#include "recordings/catalogue.h"
#include "recordings/recording_file.h"

using namespace orvik::recordings;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    const RecordingFile f = parseRecordingName(name, name);
    (void)f.dateText();
    (void)f.timeText();
    (void)f.channelText();
    (void)ExtensionFilter("mp4").matches(name);
    if (compareRecordingKeys(f.key, f.key) != 0)
        std::abort();
    const int ab = compareRecordingKeys(f.key, name);
    const int ba = compareRecordingKeys(name, f.key);
    if ((ab < 0) != (ba > 0))
        std::abort();  // an order, or sorting would misbehave
    return 0;
}
