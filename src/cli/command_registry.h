#pragma once
// Subcommands register themselves at static-initialisation time; main() builds the CLI11 app
// from the registry. Exit codes: 0 success, 1 failed operation, 2 bad usage, 3 done in part.
#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace orvik::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// The main work was done but a step after it failed (which one is on stderr), e.g. a card that
// was formatted but not labelled.
inline constexpr int kExitPartial = 3;

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

// A day: no recording is longer, so no time within one (or gap between two) is either.
inline constexpr double kMostSeconds = 86400;

// An option in seconds from 0 to `most`. Anything else (text, inf, nan, 1e300) is refused with
// one short line ("--gap: 0 to 86400 seconds"), never with the number written out in full.
inline CLI::Validator secondsUpTo(double most = kMostSeconds) {
    return CLI::Validator(
        [most](std::string& text) -> std::string {
            char* end = nullptr;
            const double v = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || *end != '\0' || !std::isfinite(v) || v < 0 || v > most)
                return "0 to " + std::to_string(static_cast<long long>(most)) + " seconds";
            return {};
        },
        "SECONDS");
}

// The command line as typed (the program name first), for what records how it was made.
const std::vector<std::string>& commandLine();

// Builds the app from the registry (after `addMore`, which adds what a program has besides),
// parses argv and runs the chosen command. Whatever a command did not foresee (memory, a file
// system error) still ends as one line and status 1, never as an abort.
int runCommandLine(int argc, char** argv, const std::function<void(CLI::App&)>& addMore = {});

}  // namespace orvik::cli
