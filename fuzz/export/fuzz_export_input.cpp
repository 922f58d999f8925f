// Clip and snapshot of an arbitrary file named like a recording: the fragment walk, the opening
// without stream probing, decoding, the layout and the writers must fail with a message or
// succeed, never crash or hang. The first byte picks the range and the way (copy or caption).
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "export/export.h"

namespace {

namespace fs = std::filesystem;

const fs::path& scratch() {
    static const fs::path dir = [] {
        av_log_set_level(AV_LOG_QUIET);
        std::string t = (fs::temp_directory_path() / "orvik-fuzz-export-XXXXXX").string();
        return fs::path(::mkdtemp(t.data()));
    }();
    static const bool cleanup = [] {
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(scratch(), ec);
        });
        return true;
    }();
    (void)cleanup;
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::uint8_t control = data[0];
    const fs::path input = scratch() / "alwa_20260314_081500_F.mp4";
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    }
    using namespace orvik::exporting;
    SnapshotRequest shot;
    shot.input = input.string();
    shot.atSeconds = (control & 3) * 0.25;
    shot.output = (scratch() / ((control & 4) ? "shot.jpg" : "shot.png")).string();
    shot.caption = (control & 8) != 0;
    shot.force = true;
    (void)exportSnapshot(shot);

    ClipRequest clip;
    clip.input = input.string();
    clip.fromSeconds = ((control >> 4) & 3) * 0.1;
    clip.toSeconds = clip.fromSeconds + 0.3;
    clip.output = (scratch() / "clip.mp4").string();
    clip.caption = (control & 0x40) != 0;
    clip.force = true;
    (void)exportClip(clip);
    return 0;
}
