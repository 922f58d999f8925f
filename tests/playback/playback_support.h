#pragma once
// Shared pieces of the playback tests: generated clips (made once per test program), an event
// window that records what it receives, and waiting while the event loop runs.
#include <QObject>
#include <QThread>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "playback/media_player.h"
#include "playback/window_messages.h"

namespace orvik::playback::test {

struct Clips {
    std::string dir;
    std::string pattern;     // 320x180, 3 s, corner blocks, with sound
    std::string tenSeconds;  // 320x180, 10 s, moving picture, with sound
    std::string shortClip;   // 320x180, 1 s
    std::string rear;        // 160x90, 3 s, the rear camera's tint
    std::string videoOnly;   // 320x180, 10 s, no sound
    std::string powerLoss;   // 320x180, 3 s, cut in its last media box
};

// Generates the clips on first use (fails the test when the generator fails).
const Clips& clips();

// A file in the clips folder written from bytes, for broken-input cases.
std::string writeScratchFile(const std::string& name, const std::string& bytes);

// Remuxes `input` with ffmpeg using the given -map arguments; "" when ffmpeg is not there.
std::string remux(const std::string& input, const std::string& name,
                  const std::vector<std::string>& maps);

// Options for players in tests: no sound device needed.
MediaPlayerOptions headlessOptions();

// Runs the event loop until pred() holds or the time is up; returns pred().
bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds limit);
void pumpEvents(std::chrono::milliseconds duration);

// Stands in for the main window: drains the player's events on WM_GRAPH_EVENT, as the main
// window does, and records every message.
class MessageRecorder : public QObject {
  public:
    struct Received {
        int message;
        std::intptr_t wParam;
        std::intptr_t lParam;
        bool onGuiThread;
    };

    MediaPlayer* player = nullptr;
    std::vector<Received> received;

    int count(int message) const;
    bool event(QEvent* event) override;
};

double mpvDouble(const MediaPlayer& player, const char* property);
bool mpvFlag(const MediaPlayer& player, const char* property);
double seconds(MediaTime t);
// Media time in 100-ns units, written as the tests' numbers.
constexpr MediaTime operator""_mt(unsigned long long units) {
    return MediaTime::fromUnits(static_cast<std::int64_t>(units));
}

inline constexpr MediaTime kFrame30 = MediaTime::fromUnits(MediaTime::kUnitsPerSecond / 30);

}  // namespace orvik::playback::test
