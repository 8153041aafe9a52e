#include "app/widget_window.h"

#include <QCoreApplication>

namespace kestrel::app {

QEvent::Type WindowMessageEvent::Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

WidgetWindow::WidgetWindow(QWidget* widget) : QObject(widget), widget_(widget) {
    widget->installEventFilter(this);
    WatchTopLevel();
    RefreshGeometry();
}

void WidgetWindow::Post(const platform::WindowMessage& message) {
    // postEvent is safe from any thread and never waits for the receiver.
    if (QWidget* w = widget_.data()) QCoreApplication::postEvent(w, new WindowMessageEvent(message));
}

platform::Rect WidgetWindow::ScreenRect() const {
    std::lock_guard<std::mutex> hold(rectLock_);
    return screenRect_;
}

platform::Rect WidgetWindow::ClientRect() const {
    std::lock_guard<std::mutex> hold(rectLock_);
    return platform::Rect{0, 0, screenRect_.Width(), screenRect_.Height()};
}

void WidgetWindow::RefreshGeometry() {
    QWidget* w = widget_.data();
    if (w == nullptr) return;
    const QPoint origin = w->mapToGlobal(QPoint(0, 0));
    const platform::Rect r{origin.x(), origin.y(), origin.x() + w->width(), origin.y() + w->height()};
    std::lock_guard<std::mutex> hold(rectLock_);
    screenRect_ = r;
}

void WidgetWindow::WatchTopLevel() {
    QWidget* top = widget_ ? widget_->window() : nullptr;
    if (top == topLevel_.data()) return;
    if (topLevel_ && topLevel_ != widget_) topLevel_->removeEventFilter(this);
    topLevel_ = top;
    if (top && top != widget_) top->installEventFilter(this);
}

bool WidgetWindow::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::ParentChange:
            if (watched == widget_) WatchTopLevel();
            RefreshGeometry();
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::WindowStateChange:
            RefreshGeometry();
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace kestrel::app
