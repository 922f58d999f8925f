// orvik-samplecard: writes a sample card folder, or one recording, for tests and the demo.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

extern "C" {
#include <libavutil/log.h>
}

#include "samplecard/sample_card.h"

namespace {

int run(int argc, char** argv) {
    CLI::App app{"Writes a sample memory card (recordings with telemetry and other files)."};
    std::string out, single, longFile;
    int width = 0, height = 0, fps = 30, count = 3, threads = 1;
    double duration = 0;
    std::uint64_t seed = 1;
    bool pattern = false, videoOnly = false, corrupt = false, truncated = false, edge = false;
    bool quiet = false, noDeviceFiles = false, ifChanged = false;
    std::string preset = "ultrafast";
    app.add_option("--out", out, "card folder to write");
    app.add_option("--single", single, "write one front recording to this file instead of a card");
    app.add_option("--long", longFile,
                   "write one long recording to this file (defaults 1920x1080, 180 s)");
    app.add_option("--duration", duration, "seconds per recording (card: 4, single: 2)")
        ->check(CLI::Range(0.1, 3600.0));
    app.add_option("--width", width, "front picture width (rear: half)")
        ->check(CLI::Range(16, 4096));
    app.add_option("--height", height, "front picture height (rear: half)")
        ->check(CLI::Range(16, 4096));
    app.add_option("--fps", fps, "frames per second")->check(CLI::Range(1, 120));
    app.add_option("--count", count, "continuous front/rear pairs on the card")
        ->check(CLI::Range(0, 500));
    app.add_option("--seed", seed, "seed of the simulated drive");
    app.add_flag("--pattern", pattern,
                 "frames of solid corner blocks: red top-left, green top-right, blue "
                 "bottom-left, white bottom-right, grey middle");
    app.add_flag("--video-only", videoOnly,
                 "card: add a recording without audio; single: no audio");
    app.add_flag("--corrupt-slots", corrupt,
                 "card: add an event pair with damaged slots; single: damage slots");
    app.add_flag("--truncated", truncated, "card: add a pair cut short; single: cut it short");
    app.add_flag("--edge-cases", edge, "card: all three of the above");
    app.add_flag("--no-device-files", noDeviceFiles,
                 "card: leave out config_K7x7.bin, timeset.cfg and DrvInfo/orvik_000.drv");
    app.add_flag("--if-changed", ifChanged,
                 "card: do nothing when DIR already holds a complete card of these options");
    app.add_option("--preset", preset, "x264 preset");
    app.add_option("--threads", threads, "encoder threads")->check(CLI::Range(1, 16));
    app.add_flag("-q,--quiet", quiet, "no progress on stderr");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    const int modes = !out.empty() + !single.empty() + !longFile.empty();
    if (modes != 1) {
        std::cerr << "orvik-samplecard: give exactly one of --out, --single, --long\n"
                  << app.help();
        return 2;
    }
    av_log_set_level(AV_LOG_ERROR);

    if (!out.empty()) {
        orvik::tools::SampleCardOptions o;
        if (width)
            o.width = width;
        if (height)
            o.height = height;
        if (duration > 0)
            o.durationSeconds = duration;
        o.fps = fps;
        o.alwaysPairs = count;
        o.seed = seed;
        o.pattern = pattern;
        o.videoOnlyRecording = videoOnly || edge;
        o.corruptSlotsRecording = corrupt || edge;
        o.truncatedRecording = truncated || edge;
        o.preset = preset;
        o.threads = threads;
        o.deviceFiles = !noDeviceFiles;
        if (!quiet)
            o.progress = [](const std::string& path, int i, int total) {
                std::fprintf(stderr, "[%d/%d] %s\n", i + 1, total, path.c_str());
            };
        if (ifChanged && orvik::tools::sampleCardUpToDate(out, o)) {
            if (!quiet)
                std::fprintf(stderr, "%s is up to date\n", out.c_str());
            return 0;
        }
        auto card = orvik::tools::writeSampleCard(out, o);
        if (!card) {
            std::cerr << "orvik-samplecard: " << card.error() << '\n';
            return 1;
        }
        for (const auto& f : card->files)
            std::cout << f << '\n';
        return 0;
    }

    const bool isLong = !longFile.empty();
    orvik::tools::RecordingSpec spec;
    spec.width = width ? width : (isLong ? 1920 : 320);
    spec.height = height ? height : (isLong ? 1080 : 180);
    spec.durationSeconds = duration > 0 ? duration : (isLong ? 180.0 : 2.0);
    spec.fps = fps;
    spec.audio = !videoOnly;
    spec.pattern = pattern;
    spec.corruptSlots = corrupt;
    spec.truncated = truncated;
    spec.drive.rng = seed * 0x9E3779B97F4A7C15ULL + 1;
    spec.preset = preset;
    spec.threads = isLong && threads == 1 ? 2 : threads;
    if (spec.width % 2 || spec.height % 2) {
        std::cerr << "orvik-samplecard: width and height must be even\n";
        return 2;
    }
    if (!quiet)
        spec.progress = [](double f) {
            std::fprintf(stderr, "\rencoding %3d%%", static_cast<int>(f * 100 + 0.5));
            if (f >= 1.0)
                std::fputc('\n', stderr);
        };
    const std::string& path = isLong ? longFile : single;
    auto r = orvik::tools::writeRecording(path, spec);
    if (!r) {
        std::cerr << "orvik-samplecard: " << r.error() << '\n';
        return 1;
    }
    std::cout << path << '\n';
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return run(argc, argv);
}
