#include "app/main_dialog.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

#include "app/about_dialog.h"
#include "app/control_ids.h"
#include "app/layout_rule.h"
#include "app/status_text.h"
#include "app/widget_window.h"

namespace kestrel::app {
namespace {

constexpr int kPort = 0;
// The dialog template measures 236 x 252 dialog units.
constexpr int kTemplateWidthUnits = 236, kTemplateHeightUnits = 252;
// Below this the controls of the bottom rows would overlap.
constexpr int kMinClientWidth = 320, kMinClientHeight = 160;

QByteArray LocalPath(const QString& path) { return QFile::encodeName(path); }

struct ButtonSpec {
    int id;
    QIcon icon;
    QString tip;
    void (MainDialog::*slot)();
};

}  // namespace

MainDialog::MainDialog(Services services, const QString& path, QWidget* parent)
    : QDialog(parent), services_(std::move(services)), lib_(*services_.library), path_(path) {
    // A top-level window of its own with a resizable frame and minimise and maximise boxes.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setAcceptDrops(true);
    setSizeGripEnabled(false);
    soundOn_ = style()->standardIcon(QStyle::SP_MediaVolume);
    soundOff_ = style()->standardIcon(QStyle::SP_MediaVolumeMuted);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    BuildMenu();
    layout->setMenuBar(menuBar_);
    client_ = new QWidget(this);
    client_->setObjectName("client");
    client_->installEventFilter(this);
    layout->addWidget(client_, 1);
    BuildControls();
    BuildShortcuts();
    dialogWindow_ = new WidgetWindow(this);

    // Dialog initialisation.
    const QString title = tr("DVR H264/MPEG4 File Player");
    setWindowTitle(title);
    setWindowIcon(QIcon(":/kestrel/icons/kestrel-player.svg"));
    if (services_.registerFileType) services_.registerFileType();
    Button(kSoundButton)->setIcon(soundOn_);
    if (!path_.isEmpty()) OpenSequence(path_);
    initialised_ = true;

    const QFontMetrics fm(font());
    const int baseX = (fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 + 1) / 2;
    const int clientWidth = std::max(kMinClientWidth, kTemplateWidthUnits * baseX / 4);
    const int clientHeight = std::max(kMinClientHeight, kTemplateHeightUnits * fm.height() / 8);
    setMinimumSize(kMinClientWidth, kMinClientHeight + menuBar_->sizeHint().height());
    resize(clientWidth, clientHeight + menuBar_->sizeHint().height());
    client_->resize(clientWidth, clientHeight);
    ApplyLayout();
}

MainDialog::~MainDialog() {
    timer_->stop();
    lib_.CloseFile(kPort);
    lib_.ReleaseDirectDraw();
}

void MainDialog::BuildMenu() {
    menuBar_ = new QMenuBar(this);
    QMenu* file = menuBar_->addMenu(tr("File(&F)"));
    QAction* open = file->addAction(tr("Open(&O)  \tCtrl+O"), this, &MainDialog::OnOpen);
    open->setObjectName(ObjectName(kMenuOpen));
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    QAction* close = file->addAction(tr("Close(&C)  \tCtrl+C"), this, &MainDialog::CloseSequence);
    close->setObjectName(ObjectName(kMenuClose));
    close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    file->addSeparator();
    QAction* exit = file->addAction(tr("Exit(&X)"), this, &QDialog::accept);
    exit->setObjectName(ObjectName(kMenuExit));
    QMenu* view = menuBar_->addMenu(tr("View(&V)"));
    QAction* full = view->addAction(tr("Full Screen"), this, &MainDialog::ToggleFullScreen);
    full->setObjectName(ObjectName(kMenuFullScreen));
    // Help sits at the right end of the menu bar, in a bar of its own.
    auto* helpBar = new QMenuBar(menuBar_);
    QMenu* help = helpBar->addMenu(tr("Help(&H)"));
    QAction* about = help->addAction(tr("About Kestrel(&A)..."), this, &MainDialog::OnAbout);
    about->setObjectName(ObjectName(kMenuAbout));
    menuBar_->setCornerWidget(helpBar, Qt::TopRightCorner);
    for (QMenu* m : {file, view, help}) m->setObjectName(m == file ? "menuFile" : m == view ? "menuView" : "menuHelp");
}

void MainDialog::BuildControls() {
    QStyle* s = style();
    const ButtonSpec specs[] = {
        {kPlayButton, s->standardIcon(QStyle::SP_MediaPlay), tr("Play"), &MainDialog::OnPlay},
        {kPauseButton, s->standardIcon(QStyle::SP_MediaPause), tr("Pause"), &MainDialog::OnPause},
        {kStopButton, s->standardIcon(QStyle::SP_MediaStop), tr("Stop"), &MainDialog::OnStop},
        {kGoHeadButton, s->standardIcon(QStyle::SP_MediaSkipBackward), tr("Go Head"), &MainDialog::OnGoHead},
        {kSlowButton, s->standardIcon(QStyle::SP_MediaSeekBackward), tr("Slow"), &MainDialog::OnSlow},
        {kFastButton, s->standardIcon(QStyle::SP_MediaSeekForward), tr("Fast"), &MainDialog::OnFast},
        {kGoEndButton, s->standardIcon(QStyle::SP_MediaSkipForward), tr("Go End"), &MainDialog::OnGoEnd},
        {kPreviousFrameButton, QIcon(":/kestrel/icons/previous-frame.svg"), tr("Previous Frame"),
         &MainDialog::OnPreviousFrame},
        {kNextFrameButton, QIcon(":/kestrel/icons/next-frame.svg"), tr("Next Frame"), &MainDialog::OnNextFrame},
        {kSnapButton, QIcon(), tr("Snap Picture"), &MainDialog::OnSnap},
        {kSoundButton, soundOn_, tr("Sound"), &MainDialog::OnSound},
    };

    video_ = services_.videoArea(client_);
    video_.widget->setObjectName(ObjectName(kVideoArea));
    video_.widget->setAccessibleName("Video wnd");

    position_ = new QSlider(Qt::Horizontal, client_);
    position_->setObjectName(ObjectName(kPositionSlider));
    position_->setTickPosition(QSlider::NoTicks);
    position_->setRange(0, 0);
    // Only the user's own moves seek; the timer's setValue() triggers no action.
    connect(position_, &QSlider::actionTriggered, this, &MainDialog::OnSliderAction);

    for (const ButtonSpec& spec : specs) {
        auto* b = new QToolButton(client_);
        b->setObjectName(ObjectName(spec.id));
        b->setToolTip(spec.tip);
        b->setAutoRaise(false);
        if (spec.id == kSnapButton) {
            b->setText(QString::fromUtf8("抓图"));
            b->setToolButtonStyle(Qt::ToolButtonTextOnly);
            // The layout gives it 20 pixels: small enough type that both characters show.
            QFont small = b->font();
            small.setPixelSize(9);
            b->setFont(small);
        } else {
            b->setIcon(spec.icon);
            b->setIconSize(QSize(16, 16));
        }
        connect(b, &QToolButton::clicked, this, spec.slot);
    }

    for (int id : {kSeparatorLeft, kSeparatorRight}) {
        auto* line = new QFrame(client_);
        line->setObjectName(ObjectName(id));
        line->setFrameShape(QFrame::VLine);
        line->setFrameShadow(QFrame::Sunken);
    }

    volume_ = new QSlider(Qt::Horizontal, client_);
    volume_->setObjectName(ObjectName(kVolumeSlider));
    volume_->setToolTip(tr("Volume"));
    volume_->setTickPosition(QSlider::NoTicks);
    volume_->hide();

    status_ = new QLabel(client_);
    status_->setObjectName(ObjectName(kStatusLine));
    status_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    status_->setIndent(3);
    // Opaque, so that the text stays readable over the picture in full screen.
    status_->setAutoFillBackground(true);

    timer_ = new QTimer(this);
    timer_->setObjectName("102");
    timer_->setInterval(kStatusTimerPeriodMs);
    connect(timer_, &QTimer::timeout, this, &MainDialog::OnTimer);
}

void MainDialog::BuildShortcuts() {
    const auto add = [this](QKeySequence key, auto slot) {
        auto* sc = new QShortcut(key, this);
        connect(sc, &QShortcut::activated, this, slot);
    };
    add(QKeySequence(Qt::Key_Space), [this] { playing_ ? OnPause() : OnPlay(); });
    add(QKeySequence(Qt::Key_Right), [this] { OnNextFrame(); });
    add(QKeySequence(Qt::Key_Left), [this] { OnPreviousFrame(); });
    add(QKeySequence(Qt::Key_F), [this] { ToggleFullScreen(); });
}

QToolButton* MainDialog::Button(int id) const { return client_->findChild<QToolButton*>(ObjectName(id)); }

KxWindow MainDialog::VideoHandle() const { return video_.window->Handle(); }

KxWindow MainDialog::messageWindow() const { return dialogWindow_->Handle(); }

void MainDialog::ApplyLayout() {
    // The rule places every control at every size, full screen included, where the status line
    // and the separators stay visible along the bottom of the screen; the picture then takes the
    // whole client area under them.
    const int w = client_->width(), h = client_->height();
    for (const PlacedControl& c : LayoutControls(w, h))
        if (QWidget* control = client_->findChild<QWidget*>(ObjectName(c.id))) control->setGeometry(c.rect);
    if (fullScreen_) {
        video_.widget->setGeometry(0, 0, w, h);
        status_->raise();
        for (int id : {kSeparatorLeft, kSeparatorRight}) client_->findChild<QWidget*>(ObjectName(id))->raise();
    }
    video_.window->RefreshGeometry();
    RepaintAll();
}

void MainDialog::RepaintAll() {
    client_->update();
    for (QWidget* child : client_->findChildren<QWidget*>()) child->update();
}

void MainDialog::SetControlsShown(bool shown) {
    for (int id = kPositionSlider; id <= kVolumeSlider; ++id)
        if (QWidget* w = client_->findChild<QWidget*>(ObjectName(id))) w->setVisible(shown);
    // The status line and the separators stay; they sit above the picture.
    status_->raise();
    for (int id : {kSeparatorLeft, kSeparatorRight}) client_->findChild<QWidget*>(ObjectName(id))->raise();
}

void MainDialog::OpenSequence(const QString& path) {
    path_ = path;
    CloseSequence();
    lib_.OpenFile(kPort, LocalPath(path).constData());
    lib_.Play(kPort, VideoHandle());
    playing_ = true;
    if (sound_) {
        // Closing first lets the sound device take the new file's sample rate.
        lib_.CloseSound(kPort);
        lib_.OpenSound(kPort);
    } else {
        lib_.CloseSound(kPort);
    }
    timer_->start();
    lib_.SetFileEndMsg(kPort, dialogWindow_->Handle(), kFileEndMessage);
}

void MainDialog::CloseSequence() {
    playing_ = false;
    timer_->stop();
    lib_.CloseFile(kPort);
    position_->setValue(0);
    video_.window->Clear();
    RepaintAll();
}

void MainDialog::OnOpen() {
    const QString chosen = services_.files->Choose(this, OpenRecordingRequest());
    if (chosen.isEmpty()) return;
    OpenSequence(chosen);
}

void MainDialog::OnPlay() {
    lib_.Play(kPort, VideoHandle());
    playing_ = true;
}

void MainDialog::PauseAsButton() {
    lib_.Pause(kPort);
    playing_ = false;
}

void MainDialog::OnPause() { PauseAsButton(); }

void MainDialog::OnStop() {
    playing_ = false;
    lib_.Stop(kPort);
    video_.window->Clear();
    RepaintAll();
}

void MainDialog::OnGoHead() { lib_.SetPlayPosition(kPort, 0.0f); }
void MainDialog::OnSlow() { lib_.PlaySlow(kPort); }
void MainDialog::OnFast() { lib_.PlayFast(kPort); }

void MainDialog::OnGoEnd() {
    PauseAsButton();
    lib_.SetPlayedFrames(kPort, lib_.GetFileFrames(kPort));
}

void MainDialog::OnPreviousFrame() {
    PauseAsButton();
    // At frame 0 this asks for frame 0xFFFFFFFF, which the engine refuses: the picture stays.
    lib_.SetPlayedFrames(kPort, lib_.GetPlayedFrames(kPort) - 1u);
    lib_.Refresh(kPort);
}

void MainDialog::OnNextFrame() {
    PauseAsButton();
    lib_.Next(kPort);
}

void MainDialog::OnSnap() {
    const bool wasPlaying = playing_;
    if (wasPlaying) lib_.Pause(kPort);
    const QString chosen = services_.files->Choose(this, SaveSnapshotRequest());
    if (!chosen.isEmpty()) lib_.SnapPicture(kPort, LocalPath(chosen).constData());
    if (wasPlaying) lib_.Play(kPort, VideoHandle());
}

void MainDialog::OnSound() {
    sound_ = !sound_;
    Button(kSoundButton)->setIcon(sound_ ? soundOn_ : soundOff_);
    if (sound_)
        lib_.OpenSound(kPort);
    else
        lib_.CloseSound(kPort);
}

void MainDialog::OnTimer() {
    if (fullScreen_) return;
    const uint32_t current = lib_.GetPlayedFrames(kPort);
    const uint32_t total = lib_.GetFileFrames(kPort);
    const uint32_t played = lib_.GetPlayedTime(kPort);
    const uint32_t duration = lib_.GetFileTime(kPort);
    status_->setText(StatusLineText(current, total, played, duration));
    const auto toInt = [](uint32_t v) { return static_cast<int>(std::min<uint32_t>(v, INT_MAX)); };
    position_->setRange(0, toInt(total));
    position_->setValue(toInt(current));
}

void MainDialog::OnSliderAction() {
    // During the action the new place is in sliderPosition(); value() follows after.
    lib_.SetPlayedFrames(kPort, static_cast<uint32_t>(std::max(0, position_->sliderPosition())));
}

void MainDialog::OnAbout() {
    AboutDialog about(this);
    about.exec();
}

void MainDialog::ToggleFullScreen() {
    if (!fullScreen_) {
        savedGeometry_ = saveGeometry();
        savedMaximized_ = isMaximized();
        fullScreen_ = true;
        menuBar_->hide();
        SetControlsShown(false);
        showFullScreen();
        // Without a window manager nothing else would size the window to the screen.
        if (QScreen* sc = screen()) setGeometry(sc->geometry());
    } else {
        fullScreen_ = false;
        menuBar_->show();
        showNormal();
        restoreGeometry(savedGeometry_);
        if (savedMaximized_) showMaximized();
        SetControlsShown(true);
    }
    ApplyLayout();
}

bool MainDialog::event(QEvent* e) {
    if (e->type() == WindowMessageEvent::Type()) {
        // The file has ended and the engine has stopped: a snapshot must not start it again.
        if (static_cast<WindowMessageEvent*>(e)->message().message == kFileEndMessage) playing_ = false;
        return true;
    }
    return QDialog::event(e);
}

bool MainDialog::eventFilter(QObject* watched, QEvent* e) {
    if (watched == client_) {
        switch (e->type()) {
            case QEvent::Resize:
                if (initialised_) ApplyLayout();
                break;
            case QEvent::MouseButtonDblClick:
                if (static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
                    ToggleFullScreen();
                    return true;
                }
                break;
            case QEvent::MouseButtonPress:
                if (static_cast<QMouseEvent*>(e)->button() == Qt::RightButton) {
                    ToggleFullScreen();
                    return true;
                }
                break;
            default:
                break;
        }
    }
    return QDialog::eventFilter(watched, e);
}

void MainDialog::keyPressEvent(QKeyEvent* e) {
    // Escape neither closes the window nor leaves full screen.
    if (e->key() == Qt::Key_Escape) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void MainDialog::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void MainDialog::dropEvent(QDropEvent* e) {
    const QList<QUrl> urls = e->mimeData()->urls();
    e->acceptProposedAction();
    if (urls.isEmpty()) return;
    // Only the first item counts; one that is not a local file is ignored.
    const QString path = urls.first().toLocalFile();
    if (!path.isEmpty()) OpenSequence(path);
}

}  // namespace kestrel::app
