#pragma once
// The options of orvik-samplecard, shared by the program (which checks them and prints the help)
// and the writer it hands the work to (which needs the media libraries).
#include <CLI/CLI.hpp>

#include <cstdint>
#include <iostream>
#include <optional>
#include <string>

namespace orvik::tools {

struct SampleCardArgs {
    std::string out, single, longFile;
    int width = 0, height = 0, fps = 30, count = -1, threads = 1;  // -1: the card's default
    double duration = 0;
    std::uint64_t seed = 1;
    bool pattern = false, videoOnly = false, corrupt = false, truncated = false, edge = false;
    bool quiet = false, noDeviceFiles = false, ifChanged = false, demo = false;
    std::string preset = "ultrafast";
};

// Parses the command line into `a`. Nothing when the work is to be done; otherwise the exit
// status (0 after --help, 2 for bad usage, with its message printed).
inline std::optional<int> parseSampleCardArgs(int argc, char** argv, SampleCardArgs& a) {
    CLI::App app{"Writes a sample memory card (recordings with telemetry and other files).",
                 "orvik-samplecard"};
    app.set_version_flag("--version", std::string("orvik-samplecard ") + ORVIK_VERSION,
                         "Print the program version and exit");
    app.add_option("--out", a.out, "card folder to write");
    app.add_option("--single", a.single,
                   "write one front recording to this file instead of a card");
    app.add_option("--long", a.longFile,
                   "write one long recording to this file (defaults 1920x1080, 180 s)");
    app.add_option("--duration", a.duration, "seconds per recording (card: 4, demo: 8, single: 2)")
        ->check(CLI::Range(0.1, 3600.0));
    app.add_option("--width", a.width, "front picture width (rear: half)")
        ->check(CLI::Range(16, 4096));
    app.add_option("--height", a.height, "front picture height (rear: half)")
        ->check(CLI::Range(16, 4096));
    app.add_option("--fps", a.fps, "frames per second")->check(CLI::Range(1, 120));
    app.add_option("--count", a.count, "continuous front/rear pairs on the card (3; demo: 6)")
        ->check(CLI::Range(0, 500));
    app.add_option("--seed", a.seed, "seed of the simulated drive");
    app.add_flag("--pattern", a.pattern,
                 "frames of solid corner blocks: red top-left, green top-right, blue "
                 "bottom-left, white bottom-right, grey middle");
    app.add_flag("--video-only", a.videoOnly,
                 "card: add a recording without audio; single: no audio");
    app.add_flag("--corrupt-slots", a.corrupt,
                 "card: add an event pair with damaged slots; single: damage slots");
    app.add_flag("--truncated", a.truncated, "card: add a pair cut short; single: cut it short");
    app.add_flag("--edge-cases", a.edge, "card: all three of the above");
    app.add_flag("--demo", a.demo,
                 "card: the viewer's demo, one drive along real streets with road pictures "
                 "and an Event recording, nothing odd");
    app.add_flag("--no-device-files", a.noDeviceFiles,
                 "card: leave out config_K7x7.bin, timeset.cfg and DrvInfo/orvik_000.drv");
    app.add_flag("--if-changed", a.ifChanged,
                 "card: do nothing when DIR already holds a complete card of these options");
    app.add_option("--preset", a.preset, "x264 preset");
    app.add_option("--threads", a.threads, "encoder threads")->check(CLI::Range(1, 16));
    app.add_flag("-q,--quiet", a.quiet, "no progress on stderr");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    const int modes = !a.out.empty() + !a.single.empty() + !a.longFile.empty();
    if (modes != 1) {
        std::cerr << "orvik-samplecard: give exactly one of --out, --single, --long\n"
                  << app.help();
        return 2;
    }
    return std::nullopt;
}

}  // namespace orvik::tools
