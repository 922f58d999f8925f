#pragma once
// Control ids of the main window. Each control's objectName is its id as decimal text, so
// tests and other modules find a control with findChild<QWidget*>("1005").
namespace orvik::shell::ctl {

inline constexpr int kMinimize = 1001;
inline constexpr int kClose = 1002;
inline constexpr int kInformationTab = 1003;
inline constexpr int kRecordTab = 1004;
inline constexpr int kOpen = 1005;
inline constexpr int kSnapshot = 1006;  // kept hidden and disabled
inline constexpr int kConfiguration = 1007;
inline constexpr int kClock = 1008;  // hidden and disabled: the time-file workflow is not offered
inline constexpr int kPrint = 1009;  // kept hidden and disabled
inline constexpr int kRecordingList = 1011;
inline constexpr int kSeekBar = 1012;
inline constexpr int kGSensorGraph = 1013;
inline constexpr int kZoomIn = 1015;
inline constexpr int kZoomOut = 1016;
inline constexpr int kVolume = 1018;
inline constexpr int kSpeedReadout = 1020;
inline constexpr int kPrecisionReadout = 1023;
inline constexpr int kSatellitesReadout = 1024;
inline constexpr int kFullScreen = 1025;
inline constexpr int kRewind = 1026;
inline constexpr int kPlay = 1027;
inline constexpr int kPause = 1028;
inline constexpr int kStop = 1029;  // kept hidden and disabled
inline constexpr int kFastForward = 1030;
inline constexpr int kSpeedUp = 1031;
inline constexpr int kSpeedDown = 1032;
inline constexpr int kZoomLabel = 1033;
inline constexpr int kRateLabel = 1034;
inline constexpr int kMaximize = 1035;
inline constexpr int kSwap = 1036;
inline constexpr int kZoom = 1037;  // kept hidden and disabled
// Jumps to the previous / next event of the playing recording's trip.
inline constexpr int kPreviousEvent = 1050;
inline constexpr int kNextEvent = 1051;
inline constexpr int kMapHost = 32783;
// Context-menu command of the recording list.
inline constexpr int kCopyCommand = 32777;
inline constexpr int kFindInLibrary = 32800;  // also Ctrl+F
// The dialog's default and cancel commands; the window ignores both.
inline constexpr int kCommandOk = 1;
inline constexpr int kCommandCancel = 2;

}  // namespace orvik::shell::ctl
