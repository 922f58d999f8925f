#pragma once
// What every window uses: string-table texts, message boxes, file dialogs and the card-tools
// switch. Message boxes and file dialogs go through replaceable hooks so that tests can answer
// them without a modal loop.
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace orvik::ui_common {

// The text of a string-table id in the current user-interface language ("" when missing).
QString uiText(int id);

// A string-table text used as a printf format ("%s", "%d", "%.2f"…), formatted with "C" numbers.
QString uiFormat(int id, ...);

// True when the user-interface language is Korean.
bool uiKorean();
// Loads Qt's own texts (message-box buttons, file dialogs) in the interface language, so a Korean
// window is Korean throughout; false when they are not installed (Debian qt6-translations-l10n).
// Calling it again after a language change replaces them.
bool installQtTranslations();

enum class MessageIcon { Warning, Critical, Information };

struct MessageRecord {
    MessageIcon icon;
    QString caption;
    QString text;
};

// Shows a modal message box (or hands it to the installed hook). Text line ends "\r\n" are shown
// as plain line breaks.
void showMessage(QWidget* parent, MessageIcon icon, const QString& caption, const QString& text);

// A message box whose buttons are a choice.
struct ChoiceRequest {
    MessageIcon icon = MessageIcon::Warning;
    QString caption;
    QString text;
    QStringList buttons;   // left to right
    int defaultIndex = 0;  // the button Enter presses
    int escapeIndex = -1;  // the button Escape and closing the box press (-1: the last one)
};

// Shows the choice modally; returns the index of the button pressed.
int askChoice(QWidget* parent, const ChoiceRequest& request);

struct FileDialogRequest {
    bool save = true;
    bool directory = false;  // choose a folder (the open/save fields below are then unused)
    QStringList shortcuts;   // folders offered in the dialog's side bar
    QString startFolder;     // where the dialog opens ("" : the first shortcut, or Qt's default)
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
using ChoiceHook = std::function<int(const ChoiceRequest&)>;
using FileDialogHook = std::function<QString(const FileDialogRequest&)>;

// Install hooks (an empty function restores the real dialogs).
void setMessageHook(MessageHook hook);
void setChoiceHook(ChoiceHook hook);
void setFileDialogHook(FileDialogHook hook);

}  // namespace orvik::ui_common
