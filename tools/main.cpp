// orvik-samplecard: writes a sample card folder, or one recording, for tests and the demo. The
// options are checked (and the help printed) here; the writing, which needs the encoders, is
// done by orvik-samplecard-writer, which this program becomes.
#include <iostream>

#include "platform/helper_program.h"
#include "samplecard_args.h"

int main(int argc, char** argv) {
    orvik::tools::SampleCardArgs a;
    if (auto status = orvik::tools::parseSampleCardArgs(argc, argv, a))
        return *status;
    std::cerr << "orvik-samplecard: "
              << orvik::platform::execHelperProgram("orvik-samplecard-writer", argv) << '\n';
    return 1;
}
