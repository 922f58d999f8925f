// What a player is set up with: its result texts, volume scale, hardware decoders and the
// options read from the environment. Nothing here needs a running core.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "playback/media_player.h"

namespace orvik::playback {

std::string resultText(HResult hr) {
    switch (static_cast<std::uint32_t>(hr)) {
        case 0x00000000u:
            return "The operation completed successfully.";
        case 0x80004005u:
            return "Unspecified error";
        case 0x8000FFFFu:
            return "Catastrophic failure";
        case 0x80004003u:
            return "Invalid pointer";
        case 0x80070057u:
            return "The parameter is incorrect.";
        case 0x8007000Eu:
            return "Not enough memory resources are available to complete this operation.";
        case 0x80070002u:
            return "The system cannot find the file specified.";
        case 0x80070005u:
            return "Access is denied.";
        case 0x80040227u:
            return "The operation could not be performed because the filter is in the wrong state.";
        case 0x80040216u:
            return "An object or name was not found.";
        case 0x8004022Fu:
            return "The file format is invalid.";
        case 0x8004022Eu:
            return "The operation timed out.";
        default:
            return "";
    }
}

double volumePercentForAttenuation(std::int32_t attenuation) {
    if (attenuation <= kVolumeSilence)
        return 0.0;
    if (attenuation >= kVolumeFull)
        return 100.0;
    return 100.0 * std::pow(10.0, static_cast<double>(attenuation) / 6000.0);
}

HardwareDecoding chooseHardwareDecoding(const std::string& driFolder,
                                        const std::vector<std::string>& vdpauFolders) {
    // Whether `folder` holds an entry whose name starts with `prefix` and that `fits`.
    const auto holds = [](const std::string& folder, const auto& fits) {
        std::error_code ec;
        for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
             it.increment(ec)) {
            if (fits(it->path().filename().string()))
                return true;
        }
        return false;
    };
    HardwareDecoding hw;
    if (holds(driFolder, [](const std::string& n) { return n.rfind("renderD", 0) == 0; })) {
        hw.decoders = "vaapi";
        hw.interop = "vaapi";
        return hw;
    }
    // A driver, not the tracing layer every installation of the library carries.
    const auto vdpauDriver = [](const std::string& n) {
        return n.rfind("libvdpau_", 0) == 0 && n.rfind("libvdpau_trace", 0) != 0;
    };
    for (const std::string& folder : vdpauFolders) {
        if (holds(folder, vdpauDriver)) {
            hw.decoders = "vdpau-copy";
            break;
        }
    }
    return hw;
}

MediaPlayerOptions MediaPlayerOptions::fromEnvironment() {
    MediaPlayerOptions options;
    options.coreLog = std::getenv("ORVIK_DEBUG") != nullptr;
    if (const char* vo = std::getenv("ORVIK_MPV_VO"))
        options.videoOutput = vo;
    if (const char* ao = std::getenv("ORVIK_MPV_AO"))
        options.audioOutput = ao;
    return options;
}

}  // namespace orvik::playback
