// orvik-cli: the commands of the core libraries, and the front of those that need the media
// libraries (media_commands.h), which it hands to their helper programs.
#include <string_view>

#include "cli/command_registry.h"
#include "cli/media_commands.h"
#include "platform/helper_program.h"

int main(int argc, char** argv) {
    using namespace orvik::cli;
    if (const MediaCommand* command = argc > 1 ? findMediaCommand(argv[1]) : nullptr) {
        // Only returns when the helper cannot be started.
        printError(orvik::platform::execHelperProgram(std::string(command->helper), argv));
        return kExitFailed;
    }
    return runCommandLine(argc, argv, [](CLI::App& app) {
        // Listed in the help with the others; never parsed here.
        for (const MediaCommand& c : kMediaCommands)
            app.add_subcommand(std::string(c.name), std::string(c.description));
    });
}
