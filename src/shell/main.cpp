#include "shell/startup.h"

int main(int argc, char** argv) {
    return orvik::shell::runViewer(argc, argv);
}
