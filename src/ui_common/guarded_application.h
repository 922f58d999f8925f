#pragma once
// The viewer's application object. An exception thrown while an event is handled (a slot, a
// paint, a timer, a dialog's button) would otherwise end the program and with it the user's
// work; here it is reported, the event counts as not handled, and the viewer goes on.
#include <QApplication>
#include <QString>
#include <functional>

namespace orvik::ui_common {

class GuardedApplication : public QApplication {
  public:
    GuardedApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // What is done with a caught exception's text; by default a line on stderr and, once the
    // event loop is free again, a message box. Tests install their own.
    static void setReporter(std::function<void(const QString& what)> reporter);
};

}  // namespace orvik::ui_common
