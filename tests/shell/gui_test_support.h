#pragma once
// A QApplication for GUI tests (created on first use, kept for the whole program) and a
// throw-away cache folder; each case's per-user folders are its own (support/test_support.h).
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>

#include "platform/strings.h"
#include "shell/skin.h"

#include <ostream>

// Readable QStrings in test failures.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace orvik::shell::testing {

inline QApplication& app() {
    static QTemporaryDir home;
    static int argc = 1;
    static char name[] = "orvik-test";
    static char* argv[] = {name, nullptr};
    static QApplication* a = [] {
        ::setenv("XDG_CACHE_HOME", qPrintable(home.path() + "/cache"), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 0);
        QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        auto* created = new QApplication(argc, argv);
        platform::setLanguage(platform::Language::English);
        SkinRegistry::instance().fill();
        return created;
    }();
    return *a;
}

}  // namespace orvik::shell::testing
