#include "app/layout_rule.h"

#include "app/control_ids.h"

namespace kestrel::app {

std::array<PlacedControl, 17> LayoutControls(int w, int h) {
    const int row = h - 53;  // the button row
    return {{
        {kStatusLine, QRect(0, h - 23, w + 1, 23)},
        {kPlayButton, QRect(5, row, 20, 20)},
        {kPauseButton, QRect(25, row, 20, 20)},
        {kStopButton, QRect(45, row, 20, 20)},
        {kSeparatorLeft, QRect(70, row, 2, 20)},
        {kGoHeadButton, QRect(77, row, 20, 20)},
        {kSlowButton, QRect(97, row, 20, 20)},
        {kFastButton, QRect(117, row, 20, 20)},
        {kGoEndButton, QRect(137, row, 20, 20)},
        {kSeparatorRight, QRect(162, row, 2, 20)},
        {kPreviousFrameButton, QRect(169, row, 20, 20)},
        {kNextFrameButton, QRect(189, row, 20, 20)},
        {kSnapButton, QRect(209, row, 20, 20)},
        {kVolumeSlider, QRect(w - 60, h - 48, 60, 15)},
        {kSoundButton, QRect(w - 80, row, 20, 20)},
        {kPositionSlider, QRect(0, h - 77, w, 20)},
        {kVideoArea, QRect(0, 0, w, h - 87)},
    }};
}

}  // namespace kestrel::app
