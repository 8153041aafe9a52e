// The video area widgets: an OpenGL widget that converts YUY2 in a shader, and a plain widget
// for platforms without OpenGL (Qt's offscreen platform among them). Both paint the latest
// picture of their VideoWindow scaled to the picture's target, on black.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "app/qt_display.h"
#include "app/video_window.h"

namespace kestrel::app {

struct VideoArea {
    QWidget* widget = nullptr;     // owned by its parent
    VideoWindow* window = nullptr;  // owned by the widget
};
using VideoAreaFactory = std::function<VideoArea(QWidget* parent)>;

// OpenGL where the platform has it, else plain (decided once; call after QApplication exists).
VideoKind ChooseVideoKind();
VideoArea CreateVideoArea(VideoKind kind, std::shared_ptr<DisplayLink> link, QWidget* parent);

}  // namespace kestrel::app
