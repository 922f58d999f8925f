#pragma once
// Small services every dialog of the device tools uses: string-table texts, message boxes and
// file dialogs. Message boxes and file dialogs go through replaceable hooks so that tests can
// answer them without a modal loop.
#include <QGroupBox>
#include <QString>
#include <QVBoxLayout>
#include <QStringList>
#include <functional>

class QWidget;

namespace orvik::device_config::ui {

// The text of a string-table id in the current user-interface language ("" when missing).
QString uiText(int id);

// A string-table text used as a printf format ("%s", "%d", "%.2f"…), formatted with "C" numbers.
QString uiFormat(int id, ...);

// True when the user-interface language is Korean.
bool uiKorean();

enum class MessageIcon { Warning, Critical, Information };

struct MessageRecord {
    MessageIcon icon;
    QString caption;
    QString text;
};

// Shows a modal message box (or hands it to the installed hook). Text line ends "\r\n" are shown
// as plain line breaks.
void showMessage(QWidget* parent, MessageIcon icon, const QString& caption, const QString& text);

struct FileDialogRequest {
    bool save = true;
    bool directory = false;  // choose a folder (the open/save fields below are then unused)
    QStringList shortcuts;   // folders offered in the dialog's side bar
    QString title;
    QStringList filters;  // "Binary Files (*.bin)", "All Files (*.*)"
    QString proposedName;
    QString defaultSuffix;
};

// Asks for a file name; returns "" when the user cancels. Save dialogs ask before overwriting.
QString askFileName(QWidget* parent, const FileDialogRequest& request);

// Whether the card tools (device time, SD Card Format) are offered: the viewer's
// --enable-card-tools option; off by default, the buttons stay hidden and disabled.
bool cardToolsEnabled();
void setCardToolsEnabled(bool enabled);

using MessageHook = std::function<void(const MessageRecord&)>;
using FileDialogHook = std::function<QString(const FileDialogRequest&)>;

// Install hooks (an empty function restores the real dialogs).
void setMessageHook(MessageHook hook);
void setFileDialogHook(FileDialogHook hook);

// A group box holding one row widget (a radio row, a list, a slider with its caption).
inline QGroupBox* withRow(QGroupBox* box, QWidget* row) {
    (new QVBoxLayout(box))->addWidget(row);
    return box;
}

}  // namespace orvik::device_config::ui
