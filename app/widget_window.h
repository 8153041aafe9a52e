// A Qt widget as the engine's window object. The engine asks for the window's rectangles and
// posts messages from its own threads, where a widget must not be touched: the rectangles are
// kept here, refreshed on the GUI thread whenever the widget or its top-level window moves or
// changes size, and posted messages travel as Qt events.
#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <mutex>

#include "platform/window.h"

namespace kestrel::app {

// A message posted by the engine, delivered to the widget on the GUI thread.
class WindowMessageEvent final : public QEvent {
public:
    explicit WindowMessageEvent(const platform::WindowMessage& message) : QEvent(Type()), message_(message) {}
    static QEvent::Type Type();
    const platform::WindowMessage& message() const { return message_; }

private:
    platform::WindowMessage message_;
};

class WidgetWindow : public QObject, public platform::Window {
public:
    explicit WidgetWindow(QWidget* widget);

    void Post(const platform::WindowMessage& message) override;
    platform::Rect ScreenRect() const override;
    platform::Rect ClientRect() const override;

    KxWindow Handle() const { return platform::ToHandle(const_cast<WidgetWindow*>(this)); }
    QWidget* widget() const { return widget_; }
    // Takes the widget's current place again (GUI thread).
    void RefreshGeometry();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void WatchTopLevel();

    QPointer<QWidget> widget_;
    QPointer<QWidget> topLevel_;
    mutable std::mutex rectLock_;  // guards screenRect_
    platform::Rect screenRect_;
};

}  // namespace kestrel::app
