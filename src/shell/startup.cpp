#include "shell/startup.h"

#include <dlfcn.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <QApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>
#include <clocale>
#include <filesystem>

#include "platform/strings.h"
#include "strings/string_ids.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using ui_common::uiText;

namespace {}  // namespace

QString makeVersionText() {
    return QStringLiteral("[Ver %1]").arg(QStringLiteral(ORVIK_VERSION));
}

const char* const kBrowserEmulationKeys[5] = {
    R"(HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\Microsoft\Internet Explorer\Main\FeatureControl\FEATURE_BROWSER_EMULATION)",
    R"(HKEY_CURRENT_USER\Software\Microsoft\Internet Explorer\Main\FeatureControl\FEATURE_BROWSER_EMULATION)",
    R"(HKEY_CURRENT_USER\Software\Microsoft\Internet Explorer\Main\FeatureControl\FEATURE_DOCUMENT_COMPATIBLE_MODE)",
    R"(HKEY_LOCAL_MACHINE\Software\Microsoft\Internet Explorer\Main\FeatureControl\FEATURE_BROWSER_EMULATION)",
    R"(HKEY_LOCAL_MACHINE\Software\Microsoft\Internet Explorer\Main\FeatureControl\FEATURE_DOCUMENT_COMPATIBLE_MODE)",
};

void ensureBrowserEmulation(platform::KeyValueStore& store, const std::string& programName) {
    if (!store.queryDword(kBrowserEmulationKeys[0], programName)) {
        store.createKey(kBrowserEmulationKeys[0]);
        store.setDword(kBrowserEmulationKeys[0], programName, kBrowserEmulationValue);
    }
    bool allReadable = true;
    for (int i = 1; i < 5 && allReadable; ++i)
        allReadable = store.queryDword(kBrowserEmulationKeys[i], programName).has_value();
    if (!allReadable)
        for (int i = 1; i < 5; ++i)
            store.setDword(kBrowserEmulationKeys[i], programName, kBrowserEmulationValue);
}

std::string programFileName() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("orvik") : exe.filename().string();
}

QStringList DecoderCheck::missing() const {
    QStringList m;
    if (!mpvLoads)
        m << QStringLiteral("libmpv");
    if (!h264)
        m << QStringLiteral("H.264 decoder (libavcodec)");
    if (!aac)
        m << QStringLiteral("AAC decoder (libavcodec)");
    return m;
}

QStringList DecoderCheck::packages() const {
    QStringList p;
    // The decoders live in the libavcodec this program was built against.
    if (!h264 || !aac)
        p << QStringLiteral("libavcodec%1").arg(LIBAVCODEC_VERSION_MAJOR);
    if (!mpvLoads)
        p << QStringLiteral("libmpv2");
    return p;
}

DecoderCheck checkDecoders() {
    DecoderCheck c;
    // Tests exercise the prompt by pretending the decoders are gone.
    if (qEnvironmentVariableIsSet("ORVIK_PRETEND_NO_DECODERS"))
        return c;
    for (const char* lib : {"libmpv.so.2", "libmpv.so.1", "libmpv.so"}) {
        if (void* h = ::dlopen(lib, RTLD_LAZY | RTLD_LOCAL)) {
            c.mpvLoads = ::dlsym(h, "mpv_create") != nullptr;
            ::dlclose(h);
            if (c.mpvLoads)
                break;
        }
    }
    c.h264 = avcodec_find_decoder(AV_CODEC_ID_H264) != nullptr;
    c.aac = avcodec_find_decoder(AV_CODEC_ID_AAC) != nullptr;
    return c;
}

QString decoderDetailText(const DecoderCheck& check) {
    return uiText(strings::shell::kMissingDetail)
        .arg(check.missing().join(QStringLiteral(", ")),
             check.packages().join(QStringLiteral(", ")));
}

QString decoderDownloadAddress(const DecoderCheck& check) {
    const QStringList packages = check.packages();
    return QStringLiteral("https://packages.debian.org/search?exact=1&keywords=%1")
        .arg(packages.isEmpty() ? QStringLiteral("libavcodec%1").arg(LIBAVCODEC_VERSION_MAJOR)
                                : packages.constFirst());
}

LavFiltersPrompt::LavFiltersPrompt(QWidget* owner, const DecoderCheck& check)
    : QDialog(owner), address_(decoderDownloadAddress(check)) {
    setObjectName(QString::number(kDialogId));
    setWindowTitle(uiText(strings::shell::kPromptCaption));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(10);
    auto* line1 = new QLabel(uiText(strings::shell::kPromptLine1), this);
    line1->setWordWrap(true);
    auto* line2 = new QLabel(uiText(strings::shell::kPromptLine2), this);
    layout->addWidget(line1);
    if (!check.ok()) {
        auto* d = new QLabel(decoderDetailText(check), this);
        d->setObjectName(QStringLiteral("detail"));
        d->setWordWrap(true);
        d->setStyleSheet(QStringLiteral("color: #8a96a3;"));
        layout->addWidget(d);
    }
    layout->addWidget(line2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    download_ = new QPushButton(uiText(strings::shell::kPromptDownload), this);
    download_->setDefault(true);
    cancel_ = new QPushButton(uiText(strings::shell::kPromptCancel), this);
    buttons->addWidget(download_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);
    connect(download_, &QPushButton::clicked, this, [this] {
        QDesktopServices::openUrl(QUrl(address_));
        done(kDownloadResult);
    });
    connect(cancel_, &QPushButton::clicked, this, [this] { done(kCancelResult); });
    setMinimumWidth(460);
}

void LavFiltersPrompt::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    adjustSize();
    if (QWidget* owner = parentWidget()) {
        const QRect o = owner->frameGeometry();
        move(o.center() - rect().center());
    }
}

void LavFiltersPrompt::reject() {
    done(kCancelResult);
}

}  // namespace orvik::shell
