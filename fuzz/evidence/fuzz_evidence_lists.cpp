// What verify reads from a package someone handed over — manifest.json and SHA256SUMS — and the
// moments typed on the command line. The first byte picks the parser. A manifest that is read
// must write back to a manifest that reads the same; a list line must name a plain file.
#include <cstdlib>
#include <string_view>

#include "evidence/manifest.h"
#include "evidence/stretch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    using namespace orvik::evidence;
    switch (data[0] % 3) {
        case 0:
            if (auto m = parseManifest(text)) {
                const std::string again = toJson(*m);
                auto back = parseManifest(again);
                if (!back || toJson(*back) != again)
                    std::abort();
            }
            break;
        case 1:
            if (auto lines = parseSums(text)) {
                for (const SumLine& l : *lines) {
                    if (!isPackageFileName(l.name) || l.sha256.size() != 64)
                        std::abort();
                }
            }
            break;
        default:
            if (auto t = parseLocalTime(text))
                (void)isoLocalTimeMs(*t);
            (void)parseMoment(text);
    }
    return 0;
}
