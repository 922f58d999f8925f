#pragma once
// Start-up of the viewer: the state kept between runs, the checks made once the window is on
// screen (decoders present), the prompt offered when they are missing, and the entry itself.
#include <QDialog>
#include <QString>
#include <QStringList>
#include <string>

#include "platform/store.h"

class QLabel;
class QPushButton;

namespace orvik::shell {

// "[Ver x.y.z]" from the program version.
QString makeVersionText();

// The five browser feature-control keys, in the order they are checked.
extern const char* const kBrowserEmulationKeys[5];
inline constexpr std::uint32_t kBrowserEmulationValue = 11000;
// Makes sure the browser feature-control values named `programName` exist: the first key is
// created when its value is unreadable; when any of the other four values is unreadable all
// four are written again, under keys that exist only. Failures are silent.
void ensureBrowserEmulation(platform::KeyValueStore& store, const std::string& programName);
// The file name of the running program ("orvik").
std::string programFileName();

// Playback needs libmpv and the H.264 and AAC decoders of FFmpeg's libavcodec.
struct DecoderCheck {
    bool mpvLoads = false;
    bool h264 = false;
    bool aac = false;
    bool ok() const { return mpvLoads && h264 && aac; }
    // What is missing, by name ("libmpv", "H.264 decoder (libavcodec)", ...).
    QStringList missing() const;
    // The distribution's packages that provide what is missing ("libavcodec59", "libmpv2").
    QStringList packages() const;
};
DecoderCheck checkDecoders();

// The line under the prompt's first line: what is missing and the package that provides it.
QString decoderDetailText(const DecoderCheck& check);
// Where the Download button of the decoder prompt leads: the page of the first missing package.
QString decoderDownloadAddress(const DecoderCheck& check = {});

// Dialog 221: the decoders are missing; "Download" opens the install page (result 1), "Cancel"
// or closing gives 2.
class LavFiltersPrompt : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kDialogId = 221;
    static constexpr int kDownloadResult = 1;
    static constexpr int kCancelResult = 2;

    explicit LavFiltersPrompt(QWidget* owner, const DecoderCheck& check = {});
    QPushButton* downloadButton() const { return download_; }
    QPushButton* cancelButton() const { return cancel_; }

  protected:
    void showEvent(QShowEvent* e) override;

  public:
    void reject() override;

  private:
    QPushButton* download_;
    QPushButton* cancel_;
    QString address_;
};

// What the command line asks for. exitCode >= 0: print `output` (stdout for 0, stderr
// otherwise) and end with that code without starting the viewer (--help, --version, bad usage).
struct ViewerOptions {
    int exitCode = -1;
    QString output;
    bool demo = false;
    bool cardTools = false;
    QString folder;
};
// Needs no QApplication and no display. `arguments` includes the program name.
ViewerOptions parseViewerArguments(const QStringList& arguments);

// As root, turns the browser engine's sandbox off for this process (unless the environment
// already decides) and says so once on stderr. Returns true when it did.
bool disableBrowserSandboxForRoot(bool isRoot);

// The process entry: single instance, locale, launch counter, main window, event loop.
// `--demo` writes the sample card once and lists it. Returns the process exit code.
int runViewer(int argc, char** argv);

}  // namespace orvik::shell
