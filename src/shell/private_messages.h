#pragma once
// Private window messages of the main window, carried as posted QEvents: posting keeps the
// order and the "handled later, on the GUI thread" meaning of the original messages, and the
// numbers stay the same so logs and tests can name them.
#include <QCoreApplication>
#include <QEvent>
#include <cstdint>

namespace orvik::shell {

inline constexpr int WM_PANE_PAN = 1536;
inline constexpr int WM_PANE_DBLCLK = 1537;
inline constexpr int WM_STARTUP_CHECKS = 1543;
inline constexpr int WM_GRAPH_EVENT = 2048;
inline constexpr int WM_PLAYBACK_COMPLETE = 32770;

// The event type of message `message`: QEvent::User + message.
inline QEvent::Type windowMessageType(int message) {
    return static_cast<QEvent::Type>(QEvent::User + message);
}

class WindowMessageEvent : public QEvent {
  public:
    WindowMessageEvent(int message, std::intptr_t wParam = 0, std::intptr_t lParam = 0)
        : QEvent(windowMessageType(message)), message_(message), wParam_(wParam), lParam_(lParam) {}
    int message() const { return message_; }
    std::intptr_t wParam() const { return wParam_; }
    std::intptr_t lParam() const { return lParam_; }

  private:
    int message_;
    std::intptr_t wParam_, lParam_;
};

// Posts the message to `receiver`; safe from any thread.
inline void postWindowMessage(QObject* receiver, int message, std::intptr_t wParam = 0,
                              std::intptr_t lParam = 0) {
    QCoreApplication::postEvent(receiver, new WindowMessageEvent(message, wParam, lParam));
}

}  // namespace orvik::shell
