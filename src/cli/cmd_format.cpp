// orvik-cli format DEVICE|IMAGE [--yes]: the card-format workflow without a window.
#include <cstdio>
#include <iostream>
#include <string>

#include "card_format/card_format.h"
#include "cli/command_registry.h"
#include "platform/volume_label.h"

namespace orvik::cli {
namespace {

struct FormatArgs {
    std::string target;
    bool yes = false;
    std::uint32_t sectorSize = 512;
    std::string volumeId;
    bool noRemount = false;
    bool noSparse = false;
    bool discardSettings = false;
};

bool readYes() {
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' '))
        answer.pop_back();
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

int runFormat(const FormatArgs& args) {
    using namespace orvik::card_format;
    auto target = resolveCardTarget(args.target, {}, args.sectorSize);
    if (!target) {
        printError("cannot format: " + target.error());
        return kExitFailed;
    }
    CardFormatRequest request;
    request.format.imageSectorSize = args.sectorSize;
    request.remount = !args.noRemount;
    request.format.sparseImages = !args.noSparse;
    request.discardUnreadableSettings = args.discardSettings;
    if (!args.volumeId.empty()) {
        try {
            std::size_t used = 0;
            unsigned long id = std::stoul(args.volumeId, &used, 16);
            if (used != args.volumeId.size() || id > 0xFFFFFFFFul)
                throw std::out_of_range("id");
            request.format.volumeId = static_cast<std::uint32_t>(id);
        } catch (const std::exception&) {
            printError("--volume-id wants up to 8 hexadecimal digits, not '" + args.volumeId + "'");
            return kExitUsage;
        }
    }
    if (!args.yes)
        request.format.confirm = readYes;

    std::cout << "Card: " << target->device << ", " << target->totalBytes << " bytes"
              << (target->fileSystem.empty() ? "" : ", now " + target->fileSystem)
              << (target->mountPoint.empty() ? "" : ", mounted at " + target->mountPoint)
              << ", allocation unit "
              << allocationUnitText(target->totalBytes, target->bytesPerSector) << "\n";
    CardFormatOutcome o = runCardFormat(*target, request);
    if (!o.succeeded()) {
        if (o.code == kFormatCancelled) {
            std::cout << "Not formatted.\n";
            return kExitFailed;
        }
        if (o.code == kFormatSettingsUnreadable) {
            printError("Not formatted: " + o.reason +
                       "; --discard-settings formats all the same and loses them");
            return kExitFailed;
        }
        printError("Cannot format this drive. (" + std::to_string(o.code) +
                   "): " + std::string(stepName(o.failedStep)) + " failed: " + o.reason);
        return kExitFailed;
    }
    // Formatted: what followed (label, settings) decides between "complete" and status 3.
    if (o.labelled) {
        std::cout << "Label : " << platform::kCameraLabel << "\n";
    } else {
        std::cout << "Label : not set (" << o.labelError << ")\n";
        printError("formatted, but the label " + std::string(platform::kCameraLabel) +
                   " was not written: " + o.labelError);
    }
    if (o.configRestored) {
        std::cout << "Configuration file restored to " << o.restoredConfigPath
                  << " (read back and compared)\n";
    } else if (!o.restoreError.empty()) {
        std::cout << "Configuration file not restored (" << o.restoreError << ")"
                  << (o.copyKept ? "; a copy is kept in " + o.savedConfigPath : "") << "\n";
        printError("formatted, but the camera settings were not put back: " + o.restoreError +
                   (o.copyKept ? "; a copy is kept in " + o.savedConfigPath : ""));
    } else if (!o.settingsProblem.empty()) {
        std::cout << "Configuration file lost (" << o.settingsProblem << ")\n";
    } else {
        std::cout << "No configuration file on the card\n";
    }
    if (!o.mountPoint.empty())
        std::cout << "Mounted at " << o.mountPoint << "\n";
    if (!o.complete()) {
        std::cout << "Formatted, not complete.\n";
        return kExitPartial;
    }
    std::cout << "Format complete.\n";
    return kExitOk;
}

const RegisterCommand kFormat([](CLI::App& app) -> std::function<int()> {
    auto args = std::make_shared<FormatArgs>();
    auto* sub = app.add_subcommand(
        "format",
        "format a memory card (or a card image) FAT32 with the camera's label, keeping its "
        "configuration file");
    sub->add_option("target", args->target,
                    "the card's block device (e.g. /dev/sdb1), an image file, the card's mount "
                    "folder or its configuration file")
        ->required();
    sub->add_flag("--yes,-y", args->yes, "do not ask for confirmation");
    sub->add_option("--sector-size", args->sectorSize, "sector size of an image file")
        ->check(CLI::IsMember({512, 4096}));
    sub->add_option("--volume-id", args->volumeId,
                    "fixed volume ID (hexadecimal) instead of one made from the clock");
    sub->add_flag("--no-remount", args->noRemount, "leave the card unmounted afterwards");
    sub->add_flag("--discard-settings", args->discardSettings,
                  "format even when the card's configuration file cannot be read (it is lost)");
    sub->add_flag("--no-sparse", args->noSparse,
                  "clear an image's system area by writing zeros, as on a card (default: punch "
                  "holes, so the image stays sparse)");
    return [args] { return runFormat(*args); };
});

}  // namespace
}  // namespace orvik::cli
