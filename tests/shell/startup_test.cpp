#include "shell/startup.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include <unistd.h>

extern "C" {
#include <libavcodec/version.h>
}

#include "gui_test_support.h"

namespace orvik::shell {
namespace {

TEST(BrowserEmulation, FirstRunCreatesOnlyTheFirstKey) {
    QTemporaryDir dir;
    platform::KeyValueStore store((dir.path() + "/registry.ini").toStdString());
    ensureBrowserEmulation(store, "orvik");
    EXPECT_EQ(store.queryDword(kBrowserEmulationKeys[0], "orvik"), 11000u);
    // The other four keys do not exist, so they are not written.
    for (int i = 1; i < 5; ++i)
        EXPECT_FALSE(store.keyExists(kBrowserEmulationKeys[i])) << i;
}

TEST(BrowserEmulation, OneMissingValueRewritesAllFourUnderExistingKeys) {
    QTemporaryDir dir;
    platform::KeyValueStore store((dir.path() + "/registry.ini").toStdString());
    for (int i = 0; i < 4; ++i)
        store.createKey(kBrowserEmulationKeys[i]);  // key 4 stays absent
    store.setDword(kBrowserEmulationKeys[1], "orvik", 7);
    store.setDword(kBrowserEmulationKeys[3], "orvik", 7);
    // Only the current-user document-compatible-mode value (key 2) is missing.
    ensureBrowserEmulation(store, "orvik");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(store.queryDword(kBrowserEmulationKeys[i], "orvik"), 11000u) << i;
    EXPECT_FALSE(store.keyExists(kBrowserEmulationKeys[4]));
}

TEST(BrowserEmulation, AllValuesPresentAreLeftAlone) {
    QTemporaryDir dir;
    platform::KeyValueStore store((dir.path() + "/registry.ini").toStdString());
    for (int i = 0; i < 5; ++i) {
        store.createKey(kBrowserEmulationKeys[i]);
        store.setDword(kBrowserEmulationKeys[i], "orvik", 5);
    }
    ensureBrowserEmulation(store, "orvik");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(store.queryDword(kBrowserEmulationKeys[i], "orvik"), 5u) << i;
}

TEST(Startup, VersionTextAndProgramName) {
    EXPECT_EQ(makeVersionText(), "[Ver " ORVIK_TEST_VERSION "]");
    // The product version the settings editor's title shows.
    EXPECT_EQ(makeVersionText(), "[Ver 1.0.2.0]");
    EXPECT_FALSE(programFileName().empty());
}

TEST(Startup, DecodersOfThisMachineArePresent) {
    const DecoderCheck c = checkDecoders();
    EXPECT_TRUE(c.mpvLoads);
    EXPECT_TRUE(c.h264);
    EXPECT_TRUE(c.aac);
    EXPECT_TRUE(c.missing().isEmpty());
    EXPECT_TRUE(c.packages().isEmpty());
    EXPECT_EQ(DecoderCheck{}.missing(),
              QStringList({"libmpv", "H.264 decoder (libavcodec)", "AAC decoder (libavcodec)"}));
}

TEST(Startup, DecoderPromptNamesWhatIsMissingAndItsPackage) {
    testing::app();
    DecoderCheck noAac;
    noAac.mpvLoads = noAac.h264 = true;
    const QString libavcodec = QStringLiteral("libavcodec%1").arg(LIBAVCODEC_VERSION_MAJOR);
    EXPECT_EQ(noAac.packages(), QStringList({libavcodec}));
    EXPECT_EQ(decoderDownloadAddress(noAac),
              "https://packages.debian.org/search?exact=1&keywords=" + libavcodec);
    DecoderCheck noMpv;
    noMpv.h264 = noMpv.aac = true;
    EXPECT_EQ(noMpv.packages(), QStringList({"libmpv2"}));
    EXPECT_TRUE(decoderDownloadAddress(noMpv).endsWith("keywords=libmpv2"));

    platform::setLanguage(platform::Language::English);
    {
        LavFiltersPrompt prompt(nullptr, noAac);
        QStringList lines;
        for (auto* l : prompt.findChildren<QLabel*>())
            lines << l->text();
        EXPECT_TRUE(
            lines.contains("You need to relaunch the viewer after installing the H.264 and "
                           "AAC decoders of FFmpeg (libavcodec) to play the video."))
            << lines.join('|').toStdString();
        EXPECT_TRUE(
            lines.contains("Missing here: AAC decoder (libavcodec). Debian package: " + libavcodec))
            << lines.join('|').toStdString();
    }
    platform::setLanguage(platform::Language::Korean);
    {
        LavFiltersPrompt prompt(nullptr, noAac);
        const auto* detail = prompt.findChild<QLabel*>("detail");
        ASSERT_TRUE(detail);
        EXPECT_TRUE(detail->text().contains(QStringLiteral("데비안 패키지: ") + libavcodec));
        bool firstLine = false;
        for (auto* l : prompt.findChildren<QLabel*>())
            firstLine |= l->text().contains(QStringLiteral("H.264·AAC 디코더"));
        EXPECT_TRUE(firstLine);
    }
    platform::setLanguage(platform::Language::English);
}

TEST(Startup, CommandLine) {
    auto parse = [](QStringList args) {
        args.prepend("orvik");
        return parseViewerArguments(args);
    };
    const ViewerOptions help = parse({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.output.contains("--demo"));
    EXPECT_TRUE(help.output.contains("--enable-card-tools"));
    EXPECT_FALSE(help.output.contains("--platform")) << "Qt's own options stay out of the help";
    EXPECT_EQ(parse({"-v"}).output, "orvik " ORVIK_TEST_VERSION "\n");

    const ViewerOptions run = parse({"--demo", "/media/card", "-platform", "offscreen"});
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_TRUE(run.demo);
    EXPECT_FALSE(run.cardTools);
    EXPECT_EQ(run.folder, "/media/card");

    const ViewerOptions unknown = parse({"--frobnicate"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.output.contains("frobnicate"));
    EXPECT_EQ(parse({"a", "b"}).exitCode, 2) << "one folder at most";
}

TEST(Startup, RootTurnsTheBrowserSandboxOffOnceAndSaysSo) {
    const QByteArray saved = qgetenv("QTWEBENGINE_DISABLE_SANDBOX");
    qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
    EXPECT_FALSE(disableBrowserSandboxForRoot(false));
    EXPECT_FALSE(qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"));
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(disableBrowserSandboxForRoot(true));
    EXPECT_FALSE(disableBrowserSandboxForRoot(true)) << "already off: nothing more is said";
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(qgetenv("QTWEBENGINE_DISABLE_SANDBOX"), "1");
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("sandbox"), std::string::npos);
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", saved);
    if (saved.isNull())
        qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
}

TEST(Startup, DecoderPromptTextsAndResults) {
    testing::app();
    platform::setLanguage(platform::Language::Korean);
    {
        LavFiltersPrompt prompt(nullptr);
        EXPECT_EQ(prompt.windowTitle(), "Orvik");
        EXPECT_EQ(prompt.downloadButton()->text(), "확인");
        EXPECT_EQ(prompt.cancelButton()->text(), "취소");
        QStringList lines;
        for (auto* l : prompt.findChildren<QLabel*>())
            lines << l->text();
        EXPECT_TRUE(lines.contains("다운로드 받으시겠습니까?"));
    }
    platform::setLanguage(platform::Language::English);
    LavFiltersPrompt prompt(nullptr);
    EXPECT_EQ(prompt.downloadButton()->text(), "Download");
    EXPECT_TRUE(prompt.downloadButton()->isDefault());
    QTimer::singleShot(0, &prompt, [&] { prompt.cancelButton()->click(); });
    EXPECT_EQ(prompt.exec(), LavFiltersPrompt::kCancelResult);
    QTimer::singleShot(0, &prompt, [&] { prompt.reject(); });
    EXPECT_EQ(prompt.exec(), LavFiltersPrompt::kCancelResult) << "closing counts as Cancel";
}

// ---- the program itself ------------------------------------------------------------------------

class ViewerProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert("HOME", home_.path());
        env_.insert("XDG_DATA_HOME", home_.path() + "/data");
        env_.insert("XDG_CACHE_HOME", home_.path() + "/cache");
        env_.insert("XDG_RUNTIME_DIR", home_.path());
        // A real display: OpenGL panes do not work on the offscreen platform.
        if (!env_.contains("QT_QPA_PLATFORM"))
            env_.insert("QT_QPA_PLATFORM", "xcb");
        env_.insert("ORVIK_MPV_AO", "null");
        env_.insert("ORVIK_LANG", "en");
        ini_ = home_.path() + "/data/Orvik/tz646xeb.ini";
    }
    std::unique_ptr<QProcess> start() {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env_);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(ORVIK_VIEWER_PATH, {});
        EXPECT_TRUE(p->waitForStarted(5000));
        return p;
    }
    int counter() {
        platform::IniFile ini(ini_.toStdString());
        std::string v;
        return ini.read("TZ646xEB", "ramdom", v) == 0 && v != "error" ? std::stoi(v) : -1;
    }
    // The counter once the viewer has stored a value other than `previous` and it has settled
    // (a first start writes the seed, then the seed plus one).
    int waitForCounter(int previous) {
        for (int i = 0; i < 100; ++i) {
            const int v = counter();
            if (v != previous && v != -1) {
                QTest::qWait(400);
                if (counter() == v)
                    return v;
            }
            QTest::qWait(50);
        }
        return -1;
    }
    static void stop(QProcess& p) {
        p.terminate();
        if (!p.waitForFinished(5000)) {
            p.kill();
            p.waitForFinished(5000);
        }
    }
    QTemporaryDir home_;
    QProcessEnvironment env_;
    QString ini_;
};

TEST_F(ViewerProcess, HelpAndVersionNeedNoDisplay) {
    env_.remove("DISPLAY");
    env_.remove("WAYLAND_DISPLAY");
    env_.remove("QT_QPA_PLATFORM");
    for (const char* option : {"--help", "--version"}) {
        QProcess p;
        p.setProcessEnvironment(env_);
        p.start(ORVIK_VIEWER_PATH, {option});
        ASSERT_TRUE(p.waitForFinished(10000)) << option;
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << option;
        EXPECT_EQ(p.exitCode(), 0) << option << p.readAllStandardError().toStdString();
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        EXPECT_TRUE(out.contains(option == std::string("--help") ? "Usage:" : ORVIK_TEST_VERSION))
            << out.toStdString();
    }
    QProcess bad;
    bad.setProcessEnvironment(env_);
    bad.start(ORVIK_VIEWER_PATH, {"--no-such-option"});
    ASSERT_TRUE(bad.waitForFinished(10000));
    EXPECT_EQ(bad.exitCode(), 2);
    EXPECT_TRUE(bad.readAllStandardError().contains("no-such-option"));
}

TEST_F(ViewerProcess, CounterStartsBetween2And101AndASecondInstanceExitsAtOnce) {
    testing::app();
    auto first = start();
    const int counter = waitForCounter(-1);
    ASSERT_GE(counter, 2);
    EXPECT_LE(counter, 101);
    QTest::qWait(300);  // past the window's creation
    ASSERT_EQ(first->state(), QProcess::Running);

    auto second = start();
    ASSERT_TRUE(second->waitForFinished(5000)) << "second instance kept running";
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(first->state(), QProcess::Running) << "the running viewer is left alone";
    EXPECT_EQ(this->counter(), counter) << "the second start did not count";

    stop(*first);
    auto third = start();
    EXPECT_EQ(waitForCounter(counter), counter + 1);
    stop(*third);
}

TEST_F(ViewerProcess, ALockThatCannotBeTakenEndsWithItsReason) {
    testing::app();
    // A file where the lock's folder should be: nothing is locked, and the user hears why.
    QFile blocker(home_.path() + "/orvik");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    // ... and nowhere else to go: the data folder would be below that file too.
    env_.insert("XDG_DATA_HOME", home_.path() + "/orvik/data");
    QProcess p;
    p.setProcessEnvironment(env_);
    p.start(ORVIK_VIEWER_PATH, {});
    ASSERT_TRUE(p.waitForFinished(10000)) << "a viewer without its lock kept running";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_TRUE(err.contains("orvik: cannot start: ")) << err.toStdString();
}

TEST_F(ViewerProcess, ALockFileOfAnotherUserIsNoRunningViewer) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a file to another user";
    testing::app();
    ASSERT_TRUE(QDir(home_.path()).mkdir("orvik"));
    ASSERT_TRUE(QFile::setPermissions(home_.path() + "/orvik",
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString lock = home_.path() + "/orvik/ORVIK_INSTANCE";
    QFile planted(lock);
    ASSERT_TRUE(planted.open(QIODevice::WriteOnly));
    planted.close();
    ASSERT_EQ(::chown(lock.toLocal8Bit().constData(), 65534, 65534), 0);
    QProcess p;
    p.setProcessEnvironment(env_);
    p.start(ORVIK_VIEWER_PATH, {});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 1) << "another user's file is not a running viewer";
    EXPECT_TRUE(p.readAllStandardError().contains("belongs to another user"));
}

// Two users on one machine: one with a session folder, one without (its temporary files then go
// to a folder of its own under TMPDIR). Links another user planted at the names the viewer once
// used in the shared temporary folder stay links, their targets untouched, and each viewer
// writes its own map page.
TEST_F(ViewerProcess, TwoUsersEachGetTheirMapAndPlantedLinksAreLeftAlone) {
    testing::app();
    QTemporaryDir shared, victim, secondHome;
    const QString target = victim.path() + "/.bashrc";
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("export PATH\n");
    }
    const QStringList plantedNames = {"MAP.HTM", "config_K7x7.bin",
                                      QStringLiteral("ORVIK_INSTANCE-%1").arg(::getuid())};
    for (const QString& name : plantedNames)
        ASSERT_TRUE(QFile::link(target, shared.path() + "/" + name)) << name.toStdString();

    // The first user: no session folder, the shared temporary folder.
    env_.remove("XDG_RUNTIME_DIR");
    env_.insert("TMPDIR", shared.path());
    auto first = start();
    // The second user: a home and a session of their own.
    QProcessEnvironment second = env_;
    second.insert("HOME", secondHome.path());
    second.insert("XDG_DATA_HOME", secondHome.path() + "/data");
    second.insert("XDG_CACHE_HOME", secondHome.path() + "/cache");
    second.insert("XDG_RUNTIME_DIR", secondHome.path());
    QProcess other;
    other.setProcessEnvironment(second);
    other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    other.start(ORVIK_VIEWER_PATH, {});
    ASSERT_TRUE(other.waitForStarted(5000));

    const QString secondPage = secondHome.path() + "/orvik/MAP.HTM";
    auto firstPage = [&] {
        for (const QString& dir : QDir(shared.path()).entryList({"orvik-*"}, QDir::Dirs))
            if (QFile::exists(shared.path() + "/" + dir + "/MAP.HTM"))
                return true;
        return false;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return firstPage() && QFile::exists(secondPage); }, 60000))
        << "each viewer writes its own map page";
    EXPECT_EQ(first->state(), QProcess::Running);
    EXPECT_EQ(other.state(), QProcess::Running) << "the second user is not taken for the first";

    stop(*first);
    stop(other);
    for (const QString& name : plantedNames) {
        const QFileInfo info(shared.path() + "/" + name);
        EXPECT_TRUE(info.isSymLink()) << name.toStdString();
        EXPECT_EQ(info.symLinkTarget(), target) << name.toStdString();
    }
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "export PATH\n");
}

}  // namespace
}  // namespace orvik::shell
