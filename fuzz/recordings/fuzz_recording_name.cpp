// File-name grammar, key order and the partner rule on arbitrary names.
#include <cstdlib>
#include <string_view>

#include "recordings/catalogue.h"
#include "recordings/partner.h"
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
    // The partner is another file of the same folder, and its partner is the name again.
    const ChannelOfRecording c = channelOfRecording(name);
    if (c.partnerPath) {
        if (*c.partnerPath == name || c.partnerPath->size() > name.size() ||
            c.partnerPath->substr(0, c.partnerPath->rfind('/') + 1) !=
                name.substr(0, name.rfind('/') + 1))
            std::abort();
    }
    return 0;
}
