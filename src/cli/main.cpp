#include <clocale>
#include <cstdio>
#include <exception>
#include <iostream>

#include "cli/command_registry.h"

namespace orvik::cli {
namespace {
std::vector<std::string>& typedCommand() {
    static std::vector<std::string> words;
    return words;
}
}  // namespace

void printError(const std::string& message) {
    std::cerr << "orvik-cli: " << message << '\n';
}

const std::vector<std::string>& commandLine() {
    return typedCommand();
}
}  // namespace orvik::cli

namespace {

int run(int argc, char** argv) {
    using namespace orvik::cli;
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");  // numbers in every output use "." whatever the locale
    typedCommand().assign(argv, argv + argc);
    if (!typedCommand().empty())
        typedCommand().front() = "orvik-cli";

    CLI::App app{"orvik-cli — read and prepare a dash camera's memory card", "orvik-cli"};
    app.set_version_flag("--version", std::string("orvik-cli ") + ORVIK_VERSION,
                         "Print the program version and exit");
    app.require_subcommand(1);
    std::vector<std::pair<CLI::App*, std::function<int()>>> actions;
    for (auto& setup : CommandRegistry::all()) {
        auto before = app.get_subcommands({});
        auto action = setup(app);
        auto after = app.get_subcommands({});
        if (after.size() > before.size())
            actions.emplace_back(after.back(), std::move(action));
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);  // --help
        app.exit(e);
        return kExitUsage;
    }
    for (auto& [sub, action] : actions) {
        if (sub->parsed())
            return action();
    }
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    // Whatever a command did not foresee (memory, a file system error) still ends as one line
    // and status 1, never as an abort.
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        orvik::cli::printError(e.what());
    } catch (...) {
        orvik::cli::printError("unexpected error");
    }
    return orvik::cli::kExitFailed;
}
