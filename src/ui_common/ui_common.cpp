#include "ui_common/ui_common.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <QUrl>
#include <cstdarg>
#include <vector>

#include "platform/strings.h"

namespace orvik::ui_common {

namespace {
MessageHook& messageHook() {
    static MessageHook hook;
    return hook;
}
ChoiceHook& choiceHook() {
    static ChoiceHook hook;
    return hook;
}
FileDialogHook& fileDialogHook() {
    static FileDialogHook hook;
    return hook;
}
bool& cardTools() {
    static bool enabled = false;
    return enabled;
}

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Critical:
            return QMessageBox::Critical;
        case MessageIcon::Information:
            return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
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

bool installQtTranslations() {
    static QTranslator* installed = nullptr;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    if (!uiKorean())
        return true;  // Qt's own texts are English
    auto* translator = new QTranslator;
    if (!translator->load(QStringLiteral("qtbase_ko"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
    return true;
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
    box.setIcon(boxIcon(icon));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

int askChoice(QWidget* parent, const ChoiceRequest& request) {
    const int count = static_cast<int>(request.buttons.size());
    const int escape =
        request.escapeIndex >= 0 && request.escapeIndex < count ? request.escapeIndex : count - 1;
    if (choiceHook())
        return choiceHook()(request);
    QMessageBox box(boxIcon(request.icon), request.caption, request.text, QMessageBox::NoButton,
                    parent);
    std::vector<QPushButton*> buttons;
    for (const QString& label : request.buttons)
        buttons.push_back(box.addButton(label, QMessageBox::ActionRole));
    if (buttons.empty())
        buttons.push_back(box.addButton(QMessageBox::Ok));
    if (request.defaultIndex >= 0 && request.defaultIndex < count)
        box.setDefaultButton(buttons[static_cast<size_t>(request.defaultIndex)]);
    if (escape >= 0)
        box.setEscapeButton(buttons[static_cast<size_t>(escape)]);
    box.exec();
    for (size_t i = 0; i < buttons.size(); ++i)
        if (box.clickedButton() == buttons[i])
            return static_cast<int>(i);
    return escape;
}

QString askFileName(QWidget* parent, const FileDialogRequest& request) {
    if (fileDialogHook())
        return fileDialogHook()(request);
    QFileDialog dialog(parent, request.title);
    // The folder first: the proposed name is then proposed in it.
    if (!request.shortcuts.isEmpty()) {
        QList<QUrl> urls = dialog.sidebarUrls();
        for (const QString& folder : request.shortcuts)
            urls << QUrl::fromLocalFile(folder);
        dialog.setSidebarUrls(urls);
        dialog.setDirectory(request.shortcuts.constFirst());
    }
    if (!request.startFolder.isEmpty())
        dialog.setDirectory(request.startFolder);
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
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

bool cardToolsEnabled() {
    return cardTools();
}
void setCardToolsEnabled(bool enabled) {
    cardTools() = enabled;
}

void setMessageHook(MessageHook hook) {
    messageHook() = std::move(hook);
}
void setChoiceHook(ChoiceHook hook) {
    choiceHook() = std::move(hook);
}
void setFileDialogHook(FileDialogHook hook) {
    fileDialogHook() = std::move(hook);
}

}  // namespace orvik::ui_common
