// What a player's core reports: its end, the restart after an open or a seek, and the steps of
// an open nobody waits for. Read on the GUI thread, one message from the core's wake-up at a time.
#include <mpv/client.h>

#include <QElapsedTimer>

#include "playback/media_player.h"
#include "playback/mpv_properties.h"
#include "playback/video_pane.h"
#include "playback/window_messages.h"

namespace orvik::playback {

using mpv::readFlag;

void MediaPlayer::signalCompletion() {
    if (completionSignalled_)
        return;
    completionSignalled_ = true;
    postWindowMessage(eventWindow_.load(), WM_PLAYBACK_COMPLETE, 0, 0);
}

void MediaPlayer::updateEndOfStream(bool reached) {
    if (reached == eofReached_)
        return;
    eofReached_ = reached;
    if (!reached) {
        // Moved away from the end (a seek): the next arrival counts again.
        completionSignalled_ = false;
    } else if (fileLoaded_ && state_ == PlaybackState::Running) {
        signalCompletion();
    }
}

void MediaPlayer::processEvent(const mpv_event& event) {
    if (background_.opening && processBackgroundOpen(event))
        return;
    if (event.event_id == MPV_EVENT_PLAYBACK_RESTART) {
        seekPending_ = false;
        firstFrameReady_ = fileLoaded_;
        if (videoWindow_ && fileLoaded_)
            videoWindow_->pictureSettled(mpv_);
        return;
    }
    if (event.event_id != MPV_EVENT_PROPERTY_CHANGE || event.reply_userdata != kObserveEof)
        return;
    const auto* property = static_cast<const mpv_event_property*>(event.data);
    updateEndOfStream(property->format == MPV_FORMAT_FLAG && property->data &&
                      *static_cast<const int*>(property->data) != 0);
}

// The steps waitForLoad takes for an open that nobody waits for.
bool MediaPlayer::processBackgroundOpen(const mpv_event& event) {
    switch (event.event_id) {
        case MPV_EVENT_START_FILE: {
            const auto* info = static_cast<const mpv_event_start_file*>(event.data);
            if (static_cast<std::uint64_t>(info->playlist_entry_id) == background_.entryId)
                background_.started = true;
            return true;
        }
        case MPV_EVENT_FILE_LOADED:
            background_.loaded = background_.started;
            return true;
        case MPV_EVENT_PLAYBACK_RESTART: {
            // Asked only now that the first frame is decoded and the core rests: while it is
            // still setting up its output it may wait for the GUI thread, which draws for it, so
            // asking earlier would stall every pane for as long.
            if (!background_.loaded)
                return true;
            background_.opening = false;
            background_.result = finishOpen();
            firstFrameReady_ = succeeded(background_.result);
            return true;
        }
        case MPV_EVENT_END_FILE: {
            const auto* info = static_cast<const mpv_event_end_file*>(event.data);
            if (static_cast<std::uint64_t>(info->playlist_entry_id) != background_.entryId)
                return true;
            background_.opening = false;
            background_.result = VFW_E_INVALID_FILE_FORMAT;
            const char* stop[] = {"stop", nullptr};
            mpv_command(mpv_, stop);
            return true;
        }
        default:
            return false;
    }
}

bool MediaPlayer::readyInBackground() const {
    return !background_.opening && succeeded(background_.result) && fileLoaded_ && firstFrameReady_;
}

HResult MediaPlayer::WaitForFirstFrame(int timeoutMs) {
    if (!mpv_ || !fileLoaded_)
        return VFW_E_WRONG_STATE;
    QElapsedTimer clock;
    clock.start();
    while (!firstFrameReady_) {
        const double remaining = (timeoutMs - clock.elapsed()) / 1000.0;
        if (remaining <= 0)
            return VFW_E_TIMEOUT;
        processEvent(*mpv_wait_event(mpv_, remaining));
    }
    return S_OK;
}

HResult MediaPlayer::HandleGraphEvent() {
    if (!mpv_)
        return S_OK;
    for (;;) {
        mpv_event* event = mpv_wait_event(mpv_, 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        processEvent(*event);
    }
    // The core does not announce every arrival at the end (a seek there while paused is not),
    // so the flag itself is the truth.
    if (fileLoaded_)
        updateEndOfStream(readFlag(mpv_, "eof-reached"));
    return S_OK;
}

}  // namespace orvik::playback
