// The dialogs the main window opens: the device settings and the device time.
#include "card_format/ui/card_format_dialog.h"
#include "device_config/ui/device_time_dialog.h"
#include "device_config/ui/settings_editor.h"
#include "shell/card_monitor.h"
#include "shell/card_notice.h"
#include "shell/main_window.h"
#include "strings/string_ids.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using ui_common::uiText;
namespace text = strings::shell;

void MainWindow::configurationCommand() {
    device_config::ui::SettingsEditor editor(versionText(), this);
    connect(&editor, &device_config::ui::SettingsEditor::cardFormatRequested, &editor,
            [&editor] { card_format::ui::startCardFormat(&editor, editor.rememberedPath()); });
    editor.exec();
    if (!editor.savedPath().isEmpty())
        cards().notice()->showMessage(uiText(text::kSettingsSaved).arg(editor.savedPath()));
}

void MainWindow::clockCommand() {
    // The Clock button exists hidden and disabled; only --enable-card-tools offers it.
    if (!ui_common::cardToolsEnabled())
        return;
    device_config::ui::DeviceTimeDialog dialog(this);
    dialog.exec();
    if (!dialog.savedPath().isEmpty())
        cards().notice()->showMessage(uiText(text::kTimeFileSaved).arg(dialog.savedPath()));
}

}  // namespace orvik::shell
