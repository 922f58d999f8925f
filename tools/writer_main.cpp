// orvik-samplecard-writer: the work of orvik-samplecard, which needs the media libraries (the
// encoders). orvik-samplecard checks the options and runs it with the same arguments.
#include <cstdio>
#include <iostream>

extern "C" {
#include <libavutil/log.h>
}

#include "samplecard/sample_card.h"
#include "samplecard_args.h"

int main(int argc, char** argv) {
    orvik::tools::SampleCardArgs a;
    if (auto status = orvik::tools::parseSampleCardArgs(argc, argv, a))
        return *status;
    av_log_set_level(AV_LOG_ERROR);

    if (!a.out.empty()) {
        orvik::tools::SampleCardOptions o =
            a.demo ? orvik::tools::demoCardOptions() : orvik::tools::SampleCardOptions{};
        if (a.width)
            o.width = a.width;
        if (a.height)
            o.height = a.height;
        if (a.duration > 0)
            o.durationSeconds = a.duration;
        o.fps = a.fps;
        if (a.count >= 0)
            o.alwaysPairs = a.count;
        o.seed = a.seed;
        o.pattern = a.pattern;
        o.videoOnlyRecording = a.videoOnly || a.edge;
        o.corruptSlotsRecording = a.corrupt || a.edge;
        o.truncatedRecording = a.truncated || a.edge;
        o.preset = a.preset;
        o.threads = a.threads;
        o.deviceFiles = !a.noDeviceFiles;
        if (!a.quiet)
            o.progress = [](const std::string& path, int i, int total) {
                std::fprintf(stderr, "[%d/%d] %s\n", i + 1, total, path.c_str());
            };
        if (a.ifChanged && orvik::tools::sampleCardUpToDate(a.out, o)) {
            if (!a.quiet)
                std::fprintf(stderr, "%s is up to date\n", a.out.c_str());
            return 0;
        }
        auto card = orvik::tools::writeSampleCard(a.out, o);
        if (!card) {
            std::cerr << "orvik-samplecard: " << card.error() << '\n';
            return 1;
        }
        for (const auto& f : card->files)
            std::cout << f << '\n';
        return 0;
    }

    const bool isLong = !a.longFile.empty();
    orvik::tools::RecordingSpec spec;
    spec.width = a.width ? a.width : (isLong ? 1920 : 320);
    spec.height = a.height ? a.height : (isLong ? 1080 : 180);
    spec.durationSeconds = a.duration > 0 ? a.duration : (isLong ? 180.0 : 2.0);
    spec.fps = a.fps;
    spec.audio = !a.videoOnly;
    spec.pattern = a.pattern;
    spec.corruptSlots = a.corrupt;
    spec.truncated = a.truncated;
    spec.drive.rng = a.seed * 0x9E3779B97F4A7C15ULL + 1;
    spec.preset = a.preset;
    spec.threads = isLong && a.threads == 1 ? 2 : a.threads;
    if (spec.width % 2 || spec.height % 2) {
        std::cerr << "orvik-samplecard: width and height must be even\n";
        return 2;
    }
    if (!a.quiet)
        spec.progress = [](double f) {
            std::fprintf(stderr, "\rencoding %3d%%", static_cast<int>(f * 100 + 0.5));
            if (f >= 1.0)
                std::fputc('\n', stderr);
        };
    const std::string& path = isLong ? a.longFile : a.single;
    auto r = orvik::tools::writeRecording(path, spec);
    if (!r) {
        std::cerr << "orvik-samplecard: " << r.error() << '\n';
        return 1;
    }
    std::cout << path << '\n';
    return 0;
}
