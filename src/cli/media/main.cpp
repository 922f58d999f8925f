// orvik-cli-media: the commands of orvik-cli that need the media libraries. orvik-cli runs it
// with its own arguments (`orvik-cli clip …`), so it parses and answers exactly as orvik-cli
// would.
#include "cli/command_registry.h"

int main(int argc, char** argv) {
    return orvik::cli::runCommandLine(argc, argv);
}
