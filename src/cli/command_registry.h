#pragma once
// Subcommands register themselves at static-initialisation time; main() builds the CLI11 app
// from the registry. Exit codes: 0 success, 1 failed operation, 2 bad usage.
#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace orvik::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Adds a subcommand to the app; the returned action runs when that subcommand was chosen and
// returns the process exit code.
using CommandSetup = std::function<std::function<int()>(CLI::App& app)>;

struct CommandRegistry {
    static std::vector<CommandSetup>& all() {
        static std::vector<CommandSetup> commands;
        return commands;
    }
};

struct RegisterCommand {
    explicit RegisterCommand(CommandSetup setup) {
        CommandRegistry::all().push_back(std::move(setup));
    }
};

// One-line error on stderr in the form "orvik-cli: message".
void printError(const std::string& message);

// The command line as typed (the program name first), for what records how it was made.
const std::vector<std::string>& commandLine();

// Builds the app from the registry (after `addMore`, which adds what a program has besides),
// parses argv and runs the chosen command. Whatever a command did not foresee (memory, a file
// system error) still ends as one line and status 1, never as an abort.
int runCommandLine(int argc, char** argv, const std::function<void(CLI::App&)>& addMore = {});

}  // namespace orvik::cli
