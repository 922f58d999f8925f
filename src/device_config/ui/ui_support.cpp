#include "device_config/ui/ui_support.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>
#include <cstdarg>

#include "platform/strings.h"

namespace orvik::device_config::ui {

namespace {
MessageHook& messageHook() {
    static MessageHook hook;
    return hook;
}
FileDialogHook& fileDialogHook() {
    static FileDialogHook hook;
    return hook;
}
}  // namespace

QString uiText(int id) {
    return QString::fromStdString(std::string(orvik::platform::text(id)));
}

QString uiFormat(int id, ...) {
    const QByteArray format = uiText(id).toUtf8();
    va_list args;
    va_start(args, id);
    QString out = QString::vasprintf(format.constData(), args);
    va_end(args);
    return out;
}

bool uiKorean() {
    return orvik::platform::language() == orvik::platform::Language::Korean;
}

void showMessage(QWidget* parent, MessageIcon icon, const QString& caption, const QString& text) {
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    if (messageHook()) {
        messageHook()({icon, caption, shown});
        return;
    }
    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setText(shown);
    box.setIcon(icon == MessageIcon::Warning    ? QMessageBox::Warning
                : icon == MessageIcon::Critical ? QMessageBox::Critical
                                                : QMessageBox::Information);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

QString askFileName(QWidget* parent, const FileDialogRequest& request) {
    if (fileDialogHook())
        return fileDialogHook()(request);
    QFileDialog dialog(parent, request.title);
    if (request.directory) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
    } else {
        dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        dialog.setNameFilters(request.filters);
        dialog.setDefaultSuffix(request.defaultSuffix);
        dialog.selectFile(request.proposedName);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.save);
    }
    if (!request.shortcuts.isEmpty()) {
        QList<QUrl> urls = dialog.sidebarUrls();
        for (const QString& folder : request.shortcuts)
            urls << QUrl::fromLocalFile(folder);
        dialog.setSidebarUrls(urls);
        dialog.setDirectory(request.shortcuts.constFirst());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

namespace {
bool& cardTools() {
    static bool enabled = false;
    return enabled;
}
}  // namespace

bool cardToolsEnabled() { return cardTools(); }
void setCardToolsEnabled(bool enabled) { cardTools() = enabled; }

void setMessageHook(MessageHook hook) {
    messageHook() = std::move(hook);
}
void setFileDialogHook(FileDialogHook hook) {
    fileDialogHook() = std::move(hook);
}

}  // namespace orvik::device_config::ui
