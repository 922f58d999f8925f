#pragma once
// Private messages to the main window and the event that carries them.
//
// Scheme: message number n travels as a WindowMessageEvent whose QEvent::Type is
// QEvent::User + n (windowMessageType(n)); QEvent::registerEventType() hands out numbers from
// QEvent::MaxUser downwards, far above ours. The receiver compares event->type() with
// windowMessageType(WM_...) in its event() override and reads the parameters from the
// WindowMessageEvent (static_cast is safe once the type matched).
// Posted messages (postWindowMessage) are queued and handled on the receiver's thread in posting
// order; sent messages (sendWindowMessage) are delivered at once on the caller's thread.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <cstdint>

namespace orvik::playback {

// Posted by a VideoPane while the left button drags: wParam = dx, lParam = dy (pixels, signed).
inline constexpr int WM_PANE_PAN = 1536;
// Sent by a VideoPane on a double click: wParam = 0, lParam = the pane's channel id.
inline constexpr int WM_PANE_DBLCLK = 1537;
// Sent once to the main window right after it is first shown: both parameters 0.
inline constexpr int WM_STARTUP_CHECKS = 1543;
// Posted by a player's core when events are waiting: the receiver calls HandleGraphEvent().
inline constexpr int WM_GRAPH_EVENT = 2048;
// Posted by the front player when its recording has played to the end: both parameters 0.
inline constexpr int WM_PLAYBACK_COMPLETE = 32770;

constexpr QEvent::Type windowMessageType(int message) {
    return static_cast<QEvent::Type>(QEvent::User + message);
}

class WindowMessageEvent final : public QEvent {
  public:
    WindowMessageEvent(int message, std::intptr_t wParam = 0, std::intptr_t lParam = 0)
        : QEvent(windowMessageType(message)), message_(message), wParam_(wParam), lParam_(lParam) {}

    int message() const { return message_; }
    std::intptr_t wParam() const { return wParam_; }
    std::intptr_t lParam() const { return lParam_; }

  private:
    int message_;
    std::intptr_t wParam_;
    std::intptr_t lParam_;
};

// Queues the message for `window`. Safe to call from any thread; false when window is null.
inline bool postWindowMessage(QObject* window, int message, std::intptr_t wParam = 0,
                              std::intptr_t lParam = 0) {
    if (!window)
        return false;
    QCoreApplication::postEvent(window, new WindowMessageEvent(message, wParam, lParam));
    return true;
}

// Delivers the message to `window` before returning (GUI thread only); returns whether the
// receiver accepted the event.
inline bool sendWindowMessage(QObject* window, int message, std::intptr_t wParam = 0,
                              std::intptr_t lParam = 0) {
    if (!window)
        return false;
    WindowMessageEvent event(message, wParam, lParam);
    event.setAccepted(false);
    QCoreApplication::sendEvent(window, &event);
    return event.isAccepted();
}

}  // namespace orvik::playback
