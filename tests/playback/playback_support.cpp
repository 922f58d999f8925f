// The generator's header first: it has a field named like a Qt keyword macro.
#include "samplecard/recording_writer.h"
// clang-format off
#include "playback_support.h"
// clang-format on

#include <gtest/gtest.h>
#include <mpv/client.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace orvik::playback::test {

namespace {

std::string makeClip(const std::string& dir, const std::string& name, tools::RecordingSpec spec) {
    const std::string path = dir + "/" + name;
    auto written = tools::writeRecording(path, spec);
    if (!written) {
        ADD_FAILURE() << "cannot generate " << name << ": " << written.error();
        return {};
    }
    return path;
}

}  // namespace

const Clips& clips() {
    static QTemporaryDir folder(QDir::tempPath() + "/orvik-playback-test-XXXXXX");
    static const Clips made = [] {
        Clips c;
        c.dir = folder.path().toStdString();
        tools::RecordingSpec base;
        base.width = 320;
        base.height = 180;
        base.telemetry = false;

        auto pattern = base;
        pattern.pattern = true;
        pattern.durationSeconds = 3;
        c.pattern = makeClip(c.dir, "pattern.mp4", pattern);

        auto ten = base;
        ten.durationSeconds = 10;
        c.tenSeconds = makeClip(c.dir, "ten.mp4", ten);

        auto one = base;
        one.durationSeconds = 1;
        c.shortClip = makeClip(c.dir, "short.mp4", one);

        auto rear = base;
        rear.width = 160;
        rear.height = 90;
        rear.durationSeconds = 3;
        rear.channel = 'R';
        c.rear = makeClip(c.dir, "rear.mp4", rear);

        auto silent = base;
        silent.audio = false;
        silent.durationSeconds = 10;
        c.videoOnly = makeClip(c.dir, "video_only.mp4", silent);

        auto cut = base;
        cut.durationSeconds = 3;
        cut.telemetry = true;
        cut.truncated = true;
        c.powerLoss = makeClip(c.dir, "power_loss.mp4", cut);
        return c;
    }();
    return made;
}

std::string writeScratchFile(const std::string& name, const std::string& bytes) {
    const std::string path = clips().dir + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string remux(const std::string& input, const std::string& name,
                  const std::vector<std::string>& maps) {
    const std::string path = clips().dir + "/" + name;
    std::string cmd = "ffmpeg -v error -y -i '" + input + "'";
    for (const auto& m : maps)
        cmd += " -map " + m;
    cmd += " -c copy '" + path + "' 2>/dev/null";
    if (std::system(cmd.c_str()) != 0 || !std::filesystem::exists(path))
        return {};
    return path;
}

MediaPlayerOptions headlessOptions() {
    MediaPlayerOptions options;
    options.audioOutput = "null";
    return options;
}

void pumpEvents(std::chrono::milliseconds duration) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < duration.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > limit.count())
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

int MessageRecorder::count(int message) const {
    int n = 0;
    for (const auto& r : received)
        n += r.message == message;
    return n;
}

bool MessageRecorder::event(QEvent* event) {
    if (event->type() < QEvent::User || event->type() > QEvent::MaxUser) {
        return QObject::event(event);
    }
    auto* message = dynamic_cast<WindowMessageEvent*>(event);
    if (!message)
        return QObject::event(event);
    received.push_back({message->message(), message->wParam(), message->lParam(),
                        QThread::currentThread() == QCoreApplication::instance()->thread()});
    if (message->message() == WM_GRAPH_EVENT && player)
        (void)player->HandleGraphEvent();
    event->accept();
    return true;
}

double mpvDouble(const MediaPlayer& player, const char* property) {
    double value = -1;
    if (!player.mpvHandle() ||
        mpv_get_property(player.mpvHandle(), property, MPV_FORMAT_DOUBLE, &value) < 0) {
        return -1;
    }
    return value;
}

bool mpvFlag(const MediaPlayer& player, const char* property) {
    int value = 0;
    return player.mpvHandle() &&
           mpv_get_property(player.mpvHandle(), property, MPV_FORMAT_FLAG, &value) >= 0 &&
           value != 0;
}

double seconds(MediaTime t) {
    return t.seconds();
}

}  // namespace orvik::playback::test
