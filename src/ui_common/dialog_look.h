#pragma once
// The look of the dialogs (settings, device time, card format). The main window's skin gives the
// application a dark palette and its own font; the dialogs keep the desktop's standard palette and
// font, and only the controls they name get the main window's registered font 100.
#include <QFont>
#include <QString>
#include <initializer_list>
#include <utility>

class QWidget;

namespace orvik::ui_common {

inline constexpr int kRegisteredFontList = 100;

// The family of the registered fonts: one that holds the Korean texts.
QString registeredFontFamily();

// The main window registers its fonts at start; an id not registered (a dialog opened without the
// main window) gets the same font the main window would register for 100: 14 pixels high.
void setRegisteredFont(int id, const QFont& font);
QFont registeredFont(int id);

// The desktop's standard palette and general font for a dialog (its children follow).
void applyDialogLook(QWidget* dialog);

// Gives every control under `root` whose id (objectName) lies in one of the runs `ids` (first,
// last) the registered font 100, and every other control with an id the dialog's own font, so
// that a group's font does not spread to controls inside it that keep the dialog's font.
void applyRegisteredFont(QWidget* root, std::initializer_list<std::pair<int, int>> ids);

}  // namespace orvik::ui_common
