#pragma once
// One QApplication for a GUI test program, created on first use with a temporary folder of its
// own (the map page file goes there, so test programs running side by side do not share it).
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>

inline QApplication& testApplication() {
    static QTemporaryDir* tempDir = [] {
        auto* dir = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/orvik-test-XXXXXX"));
        qputenv("TMPDIR", dir->path().toLocal8Bit());
        return dir;
    }();
    (void)tempDir;
    static int argc = 1;
    static char name[] = "orvik-test";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) {
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        new QApplication(argc, argv);
    }
    return *static_cast<QApplication*>(QApplication::instance());
}
