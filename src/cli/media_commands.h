#pragma once
// The commands that need the media libraries (FFmpeg, cairo and pango), or OpenSSL and SQLite for
// hashing and the library's index. They run in helper programs (libexec/orvik/), so that every
// other command starts without loading those libraries (a listing of a card then costs little
// more than the scan): orvik-cli lists them in its help and hands `orvik-cli NAME …` to the
// command's helper unchanged (same arguments, same exit status). The library's commands have a
// helper of their own without the media libraries, whose loading alone would take longer than
// a search of the index.
//
// Adding one: write its NAME_commands.cpp under media/ with a RegisterCommand whose subcommand
// takes its description from here (mediaCommandDescription), add the file to its helper's
// sources in CMakeLists.txt, and add a line below.
#include <string>
#include <string_view>

namespace orvik::cli {

inline constexpr std::string_view kMediaHelperName = "orvik-cli-media";
inline constexpr std::string_view kLibraryHelperName = "orvik-cli-library";

struct MediaCommand {
    std::string_view name;
    std::string_view description;
    std::string_view helper = kMediaHelperName;
};

inline constexpr MediaCommand kMediaCommands[] = {
    {"clip", "cut [--from, --to) of a recording into a clip that keeps its telemetry"},
    {"snapshot", "the frame at a moment as PNG or JPEG"},
    {"evidence",
     "a folder to hand over: clip, stills, track and PDF report of a stretch, with SHA-256 of "
     "every source and file"},
    {"verify",
     "check an evidence package: every file's SHA-256, and the source recordings where they "
     "still are"},
    {"library", "keep recordings in a folder on this computer, indexed to find them again",
     kLibraryHelperName},
};

constexpr const MediaCommand* findMediaCommand(std::string_view name) {
    for (const MediaCommand& c : kMediaCommands) {
        if (c.name == name)
            return &c;
    }
    return nullptr;
}

inline std::string mediaCommandDescription(std::string_view name) {
    const MediaCommand* c = findMediaCommand(name);
    return c ? std::string(c->description) : std::string();
}

}  // namespace orvik::cli
