#pragma once
// Private window messages of the main window: the playback layer's posted-event scheme, named
// here for the shell.
#include "playback/window_messages.h"

namespace orvik::shell {
using playback::postWindowMessage;
using playback::sendWindowMessage;
using playback::WindowMessageEvent;
using playback::windowMessageType;
using playback::WM_GRAPH_EVENT;
using playback::WM_PANE_DBLCLK;
using playback::WM_PANE_PAN;
using playback::WM_PLAYBACK_COMPLETE;
using playback::WM_STARTUP_CHECKS;
}  // namespace orvik::shell
