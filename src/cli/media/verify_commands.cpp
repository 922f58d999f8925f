// orvik-cli verify: the check of an evidence package — every file's SHA-256, and the source
// recordings where they still are. Needs no media library, so it stays in orvik-cli.
#include <iostream>
#include <memory>
#include <string>

#include "cli/command_registry.h"
#include "cli/media_commands.h"
#include "evidence/verify.h"

namespace orvik::cli {
namespace {

using namespace orvik::evidence;

int runVerify(const std::string& folder, bool checkSources) {
    VerifyOptions options;
    options.checkSources = checkSources;
    auto report = verifyPackage(folder, options);
    if (!report) {
        printError(report.error());
        return kExitFailed;
    }
    for (const PackageFinding& f : report->problems)
        std::cout << describe(f) << '\n';
    for (const std::string& name : report->extraFiles)
        std::cout << name << ": not part of the package\n";
    for (const SourceCheck& s : report->sources) {
        if (s.state == SourceState::Changed || s.state == SourceState::Unreadable)
            std::cout << describe(s) << '\n';
    }
    if (!report->sources.empty()) {
        std::cout << "sources: " << report->sourcesIn(SourceState::Intact) << " intact, "
                  << report->sourcesIn(SourceState::Changed) +
                         report->sourcesIn(SourceState::Unreadable)
                  << " differ, " << report->sourcesIn(SourceState::NotFound) << " not found";
        if (report->sourcesIn(SourceState::NotFound) > 0)
            std::cout << " (moved, deleted or on a card not inserted; not a fault of the package)";
        std::cout << '\n';
    }
    if (report->packageIntact())
        std::cout << "package intact: " << report->filesChecked << " files match\n";
    else
        std::cout << "package NOT intact: " << report->problems.size()
                  << (report->problems.size() == 1 ? " file differs" : " files differ")
                  << " or cannot be checked\n";
    return report->packageIntact() && report->sourcesConsistent() ? kExitOk : kExitFailed;
}

struct VerifyArgs {
    std::string folder;
    bool noSources = false;
};

const RegisterCommand kVerify([](CLI::App& app) -> std::function<int()> {
    auto* sub = app.add_subcommand("verify", mediaCommandDescription("verify"));
    auto a = std::make_shared<VerifyArgs>();
    sub->add_option("FOLDER", a->folder, "the package folder")->required();
    sub->add_flag("--no-sources", a->noSources, "check the package's files only");
    return [a] { return runVerify(a->folder, !a->noSources); };
});

}  // namespace
}  // namespace orvik::cli
