// The dialogs the main window opens: the device settings and the device time.
#include "card_format/ui/card_format_dialog.h"
#include "device_config/ui/device_time_dialog.h"
#include "device_config/ui/settings_editor.h"
#include "device_config/ui/ui_support.h"
#include "shell/main_window.h"

namespace orvik::shell {

void MainWindow::configurationCommand() {
    device_config::ui::SettingsEditor editor(versionText(), this);
    connect(&editor, &device_config::ui::SettingsEditor::cardFormatRequested, &editor,
            [&editor] { card_format::ui::startCardFormat(editor); });
    editor.exec();
}

void MainWindow::clockCommand() {
    // The Clock button exists hidden and disabled; only --enable-card-tools offers it.
    if (!device_config::ui::cardToolsEnabled())
        return;
    device_config::ui::DeviceTimeDialog dialog(this);
    dialog.exec();
}

}  // namespace orvik::shell
