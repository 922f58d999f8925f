#pragma once
// Shared set-up of the device-tools GUI tests: a QApplication, a temporary folder presented as
// the one removable volume, and message boxes / file dialogs answered by the test.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QString>
#include <filesystem>
#include <string>
#include <vector>

#include "device_config/device_config.h"
#include "platform/strings.h"
#include "platform/volumes.h"
#include "ui_common/ui_common.h"

namespace orvik::testing {

inline QApplication& app() {
    static int argc = 1;
    static char name[] = "orvik-gui-test";
    static char* argv[] = {name, nullptr};
    static QApplication* instance = [] {
        qputenv("QT_QPA_PLATFORM",
                qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
        // The Position window's map runs Chromium, which refuses root without this.
        if (::geteuid() == 0)
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        auto* a = new QApplication(argc, argv);
        a->setStyle(QStringLiteral("Fusion"));
        return a;
    }();
    return *instance;
}

class GuiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app();
        platform::setLanguage(platform::Language::English);
        root_ = std::filesystem::temp_directory_path() /
                ("orvik-gui-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root_);
        card_ = root_ / "card";
        std::filesystem::create_directories(card_);
        useVolumes({card_.string()});
        ui_common::setMessageHook(
            [this](const ui_common::MessageRecord& m) { messages_.push_back(m); });
        ui_common::setFileDialogHook([this](const ui_common::FileDialogRequest& r) {
            dialogs_.push_back(r);
            return answer_;
        });
    }
    void TearDown() override {
        ui_common::setMessageHook({});
        ui_common::setFileDialogHook({});
        platform::setVolumeProvider(nullptr);
        platform::setLanguage(platform::Language::English);
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    void useVolumes(std::vector<std::string> folders) {
        platform::setVolumeProvider(platform::makeFolderVolumeProvider(std::move(folders)));
    }
    std::string configPath() const { return (card_ / "config_K7x7.bin").string(); }
    void writeConfig(const device_config::DeviceConfig& config) {
        ASSERT_TRUE(device_config::writeConfigFile(configPath(), config).saved());
    }

    std::filesystem::path root_;
    std::filesystem::path card_;
    std::vector<ui_common::MessageRecord> messages_;
    std::vector<ui_common::FileDialogRequest> dialogs_;
    QString answer_;  // what the file dialog answers; "" = cancelled
};

}  // namespace orvik::testing
