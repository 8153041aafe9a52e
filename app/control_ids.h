// The dialog's control, menu and message numbers. Each control's number is also its object name,
// so that tests and accessibility tools find it by the number users of the old player know.
#pragma once

#include <QString>

namespace kestrel::app {

enum ControlId : int {
    kPositionSlider = 1000,
    kPlayButton = 1001,
    kPauseButton = 1002,
    kStopButton = 1003,
    kGoHeadButton = 1004,
    kSlowButton = 1005,
    kFastButton = 1006,
    kGoEndButton = 1007,
    kPreviousFrameButton = 1008,
    kNextFrameButton = 1009,
    kSnapButton = 1010,
    kSoundButton = 1011,
    kVolumeSlider = 1012,
    kStatusLine = 1013,
    kVideoArea = 1014,
    kSeparatorLeft = 1015,
    kSeparatorRight = 1016,
};

enum MenuId : int {
    kMenuOpen = 32771,
    kMenuClose = 32772,
    kMenuExit = 32774,
    kMenuFullScreen = 32775,
    kMenuAbout = 32776,
};

inline constexpr int kStatusTimerPeriodMs = 100;
// Posted by the engine to the dialog at the end of a file.
inline constexpr uint32_t kFileEndMessage = 1225;

inline QString ObjectName(int id) { return QString::number(id); }

}  // namespace kestrel::app
