#include "ui_common/guarded_application.h"

#include <QMetaObject>
#include <cstdio>
#include <exception>

#include "strings/string_ids.h"
#include "ui_common/ui_common.h"

namespace orvik::ui_common {
namespace {

std::function<void(const QString&)>& reporter() {
    static std::function<void(const QString&)> r = [](const QString& what) {
        std::fprintf(stderr, "orvik: unexpected error: %s\n", what.toLocal8Bit().constData());
        // Not from inside the failed event's handler: a message box there would run a nested
        // loop in the middle of whatever threw.
        QMetaObject::invokeMethod(
            qApp,
            [what] {
                showMessage(nullptr, MessageIcon::Critical, QStringLiteral("ORVIK"),
                            uiText(strings::shell::kUnexpectedError).arg(what));
            },
            Qt::QueuedConnection);
    };
    return r;
}

}  // namespace

GuardedApplication::GuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool GuardedApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        reporter()(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        reporter()(QStringLiteral("unknown error"));
    }
    return false;
}

void GuardedApplication::setReporter(std::function<void(const QString&)> r) {
    reporter() = std::move(r);
}

}  // namespace orvik::ui_common
