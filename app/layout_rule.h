// Where each control goes in a client area of w x h pixels; applied on every size change.
#pragma once

#include <QRect>
#include <array>

namespace kestrel::app {

struct PlacedControl {
    int id;
    QRect rect;
};

std::array<PlacedControl, 17> LayoutControls(int w, int h);

}  // namespace kestrel::app
