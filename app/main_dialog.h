// The player's one window: video area, position slider, transport buttons, sound toggle, status
// line and menu, driving port 0 of the engine through a PlayerLibrary.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QIcon>
#include <QString>
#include <functional>

#include "app/file_chooser.h"
#include "app/player_library.h"
#include "app/video_widgets.h"

class QLabel;
class QMenuBar;
class QSlider;
class QTimer;
class QToolButton;

namespace kestrel::app {

class WidgetWindow;

class MainDialog final : public QDialog {
    Q_OBJECT

public:
    struct Services {
        PlayerLibrary* library = nullptr;
        FileChooser* files = nullptr;
        std::function<void()> registerFileType;  // run once while the dialog initialises
        VideoAreaFactory videoArea;
    };

    // `path` (the command line) is opened at once when it is not empty.
    MainDialog(Services services, const QString& path, QWidget* parent = nullptr);
    // Closes the file and releases the engine.
    ~MainDialog() override;

    bool isFullScreenView() const { return fullScreen_; }
    bool playingFlag() const { return playing_; }
    bool soundFlag() const { return sound_; }
    const QString& path() const { return path_; }
    QWidget* clientArea() const { return client_; }
    VideoArea videoArea() const { return video_; }
    // The window the engine posts the file-end message to.
    KxWindow messageWindow() const;

    void OpenSequence(const QString& path);
    void CloseSequence();
    void ToggleFullScreen();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildControls();
    void BuildMenu();
    void BuildShortcuts();
    void ApplyLayout();
    void RepaintAll();

    void OnOpen();
    void OnPlay();
    void OnPause();
    void OnStop();
    void OnGoHead();
    void OnSlow();
    void OnFast();
    void OnGoEnd();
    void OnPreviousFrame();
    void OnNextFrame();
    void OnSnap();
    void OnSound();
    void OnTimer();
    void OnSliderAction();
    void OnAbout();
    void PauseAsButton();
    KxWindow VideoHandle() const;

    QToolButton* Button(int id) const;
    void SetControlsShown(bool shown);

    Services services_;
    PlayerLibrary& lib_;
    QString path_;
    bool fullScreen_ = false;
    bool playing_ = false;
    bool sound_ = true;
    bool initialised_ = false;

    QMenuBar* menuBar_ = nullptr;
    QWidget* client_ = nullptr;
    VideoArea video_;
    WidgetWindow* dialogWindow_ = nullptr;
    QSlider* position_ = nullptr;
    QSlider* volume_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer* timer_ = nullptr;  // the status timer, object name "102"
    QByteArray savedGeometry_;
    bool savedMaximized_ = false;

    QIcon soundOn_, soundOff_;
};

}  // namespace kestrel::app
