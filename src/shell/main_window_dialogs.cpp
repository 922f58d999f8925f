// The dialogs the main window opens: the device settings and the device time.
#include "shell/main_window.h"

namespace orvik::shell {

void MainWindow::configurationCommand() {}
void MainWindow::clockCommand() {}

}  // namespace orvik::shell
