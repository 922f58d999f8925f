#include <clocale>
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

namespace {

int run(int argc, char** argv, const std::function<void(CLI::App&)>& addMore) {
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
    if (addMore)
        addMore(app);
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

int runCommandLine(int argc, char** argv, const std::function<void(CLI::App&)>& addMore) {
    try {
        return run(argc, argv, addMore);
    } catch (const std::exception& e) {
        printError(e.what());
    } catch (...) {
        printError("unexpected error");
    }
    return kExitFailed;
}

}  // namespace orvik::cli
