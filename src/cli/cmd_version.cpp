#include <iostream>

#include "cli/command_registry.h"

namespace orvik::cli {
namespace {
const RegisterCommand kVersion([](CLI::App& app) -> std::function<int()> {
    app.add_subcommand("version", "print the program version");
    return [] {
        std::cout << "orvik-cli " << ORVIK_VERSION << '\n';
        return kExitOk;
    };
});
}  // namespace
}  // namespace orvik::cli
