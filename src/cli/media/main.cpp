// orvik-cli-media and orvik-cli-library: the commands of orvik-cli that need the media
// libraries, or the library's index. orvik-cli runs them with its own arguments
// (`orvik-cli clip …`), so they parse and answer exactly as orvik-cli would.
#include "cli/command_registry.h"

int main(int argc, char** argv) {
    return orvik::cli::runCommandLine(argc, argv);
}
