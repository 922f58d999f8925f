// The process entry of the viewer.
// Before any Qt header: the generator's headers use names Qt defines as macros ("slots").
#include "samplecard/sample_card.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QPalette>
#include <QProgressDialog>
#include <QStyleFactory>
#include <QThread>
#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

#include <unistd.h>

#include "platform/single_instance.h"
#include "platform/store.h"
#include "platform/strings.h"
#include "shell/control_ids.h"
#include "shell/main_window.h"
#include "shell/private_messages.h"
#include "shell/skin.h"
#include "shell/startup.h"
#include "strings/string_ids.h"
#include "ui_common/guarded_application.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using ui_common::uiText;

namespace {

// Text in UTF-8 whatever the session's locale; numbers stay in "C" conventions (libmpv
// requires it, and our formats spell numbers themselves).
void setRuntimeLocale() {
    if (!std::setlocale(LC_CTYPE, ""))
        std::setlocale(LC_CTYPE, "C.UTF-8");
    const char* ctype = std::setlocale(LC_CTYPE, nullptr);
    if (!ctype || (!std::strstr(ctype, "UTF-8") && !std::strstr(ctype, "utf8")))
        std::setlocale(LC_CTYPE, "C.UTF-8");
    std::setlocale(LC_NUMERIC, "C");
}

void applyDarkPalette(QApplication& app) {
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x1d, 0x21, 0x27));
    p.setColor(QPalette::WindowText, QColor(0xdc, 0xe3, 0xea));
    p.setColor(QPalette::Base, QColor(0x14, 0x17, 0x1c));
    p.setColor(QPalette::AlternateBase, QColor(0x22, 0x27, 0x2e));
    p.setColor(QPalette::Text, QColor(0xdc, 0xe3, 0xea));
    p.setColor(QPalette::Button, QColor(0x2a, 0x30, 0x38));
    p.setColor(QPalette::ButtonText, QColor(0xdc, 0xe3, 0xea));
    p.setColor(QPalette::Highlight, QColor(0x2f, 0x7f, 0xd8));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(0x24, 0x29, 0x31));
    p.setColor(QPalette::ToolTipText, QColor(0xe8, 0xee, 0xf5));
    p.setColor(QPalette::PlaceholderText, QColor(0x7b, 0x86, 0x92));
    p.setColor(QPalette::Link, QColor(0x4c, 0xb0, 0xff));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(0x6b, 0x75, 0x80));
    app.setPalette(p);
    QFont font(SkinRegistry::fontFamily());
    font.setPixelSize(13);
    app.setFont(font);
}

QString demoCardFolder() {
    return QString::fromStdString((platform::userCacheFolder() / "demo-card").string());
}

// Writes the demo card unless a complete one is already there; returns "" on success or the
// reason it failed.
QString prepareDemoCard(QWidget* owner, const QString& folder) {
    const tools::SampleCardOptions defaults = tools::demoCardOptions();
    if (tools::sampleCardUpToDate(folder.toStdString(), defaults))
        return {};
    QProgressDialog progress(uiText(strings::shell::kPreparingDemo), QString(), 0, 100, owner);
    progress.setWindowTitle(QStringLiteral("ORVIK"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setCancelButton(nullptr);
    progress.setValue(0);
    std::atomic<int> done{0}, total{1};
    std::string error;
    QThread* worker = QThread::create([&] {
        tools::SampleCardOptions options = defaults;
        options.progress = [&](const std::string&, int index, int count) {
            done = index;
            total = std::max(1, count);
        };
        // The folder is the program's own cache: an older demo (or its odd test files) goes
        // first, so that only this demo is listed.
        std::error_code ignored;
        std::filesystem::remove_all(folder.toStdString(), ignored);
        auto result = tools::writeSampleCard(folder.toStdString(), options);
        if (!result)
            error = result.error();
    });
    QEventLoop loop;
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &progress,
                     [&] { progress.setValue(done * 100 / std::max(1, total.load())); });
    worker->start();
    poll.start(100);
    loop.exec();
    worker->wait();
    delete worker;
    progress.close();
    return QString::fromStdString(error);
}

}  // namespace

ViewerOptions parseViewerArguments(const QStringList& arguments) {
    QCoreApplication::setApplicationName(QStringLiteral("orvik"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVIK_VERSION));
    QCommandLineParser parser;
    // Qt's own options are spelt with one dash ("-platform xcb").
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Plays the front and rear recordings of a dash camera's memory card with their speed,\n"
        "GPS, map position and G-sensor curves, and edits the camera's settings."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the program version and exit."));
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Write a sample card to the cache folder (once) "
                                                 "and list it."));
    const QCommandLineOption cardTools(
        QStringLiteral("enable-card-tools"),
        QStringLiteral("Offer the camera-clock button, which is hidden otherwise."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(demo);
    parser.addOption(cardTools);
    // The options every Qt program takes; QApplication reads them itself.
    for (const char* name : {"platform", "style", "stylesheet", "display", "geometry"}) {
        QCommandLineOption qtOption(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    parser.addPositionalArgument(QStringLiteral("folder"),
                                 QStringLiteral("A card or folder to list at start."),
                                 QStringLiteral("[folder]"));

    ViewerOptions o;
    if (!parser.parse(arguments)) {
        o.exitCode = 2;
        o.output = QStringLiteral("orvik: %1\nTry 'orvik --help'.\n").arg(parser.errorText());
        return o;
    }
    if (parser.isSet(help)) {
        o.exitCode = 0;
        // Without an application object the parser cannot know the program's name.
        o.output =
            parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("orvik"));
        return o;
    }
    if (parser.isSet(version)) {
        o.exitCode = 0;
        o.output = QStringLiteral("orvik %1\n").arg(QStringLiteral(ORVIK_VERSION));
        return o;
    }
    if (parser.positionalArguments().size() > 1) {
        o.exitCode = 2;
        o.output = QStringLiteral("orvik: give at most one folder\nTry 'orvik --help'.\n");
        return o;
    }
    o.demo = parser.isSet(demo);
    o.cardTools = parser.isSet(cardTools);
    if (!parser.positionalArguments().isEmpty())
        o.folder = parser.positionalArguments().constFirst();
    return o;
}

bool disableBrowserSandboxForRoot(bool isRoot) {
    // The browser engine refuses to start as root with its sandbox on.
    if (!isRoot || qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        return false;
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    std::fputs("orvik: running as root: the map's browser engine runs without its sandbox\n",
               stderr);
    return true;
}

int runViewer(int argc, char** argv) {
    // Arguments first, so --help and --version work without a display or a running viewer.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ViewerOptions options = parseViewerArguments(arguments);
    if (options.exitCode >= 0) {
        std::fputs(options.output.toLocal8Bit().constData(),
                   options.exitCode == 0 ? stdout : stderr);
        return options.exitCode;
    }

    // A second start leaves the running viewer alone and ends at once; a lock that cannot be
    // taken at all is a failure the user must hear about, not a silent "already running".
    const auto instance = platform::SingleInstance::acquire();
    if (instance.status == platform::SingleInstance::Status::HeldByAnother)
        return 0;
    if (instance.status == platform::SingleInstance::Status::Failed) {
        std::fprintf(stderr, "orvik: cannot start: %s\n", instance.error.c_str());
        return 1;
    }

    disableBrowserSandboxForRoot(::geteuid() == 0);
    const bool demo = options.demo;
    const QString folder = options.folder;  // a card folder to list at start
    if (options.cardTools)
        ui_common::setCardToolsEnabled(true);

    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    ui_common::GuardedApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvik"));
    QApplication::setQuitOnLastWindowClosed(false);
    setRuntimeLocale();
    platform::setLanguage(platform::languageFromEnvironment());
    if (!ui_common::installQtTranslations())
        std::fputs(
            "orvik: Qt's Korean texts are not installed (Debian qt6-translations-l10n); "
            "its buttons and file dialogs stay English\n",
            stderr);

    platform::nextLaunchCounter();

    SkinRegistry::instance().fill();
    applyDarkPalette(app);

    MainWindow window;
    if (ui_common::cardToolsEnabled()) {
        // --enable-card-tools: the Clock button, created hidden and disabled, is offered.
        if (QWidget* clock = window.button(ctl::kClock)) {
            clock->setVisible(true);
            clock->setEnabled(true);
        }
    }
    window.show();
    WindowMessageEvent checks(WM_STARTUP_CHECKS);
    QCoreApplication::sendEvent(&window, &checks);

    if (!folder.isEmpty())
        window.listFolder(folder);
    if (demo) {
        const QString folder = demoCardFolder();
        QDir().mkpath(folder);
        const QString failure = prepareDemoCard(&window, folder);
        if (!failure.isEmpty())
            ui_common::showMessage(&window, ui_common::MessageIcon::Critical,
                                   QStringLiteral("ORVIK"),
                                   uiText(strings::shell::kDemoFailed).arg(failure));
        else if (window.listFolder(folder))
            window.demoCardListed();
    }
    return app.exec();
}

}  // namespace orvik::shell
