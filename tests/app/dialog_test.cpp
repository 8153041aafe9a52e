// The player dialog against a recording PlayerLibrary, on Qt's offscreen platform: which engine
// calls each control, menu item, key and timer tick makes, in order, and what the window shows.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QUrl>
#include <climits>
#include <memory>
#include <thread>

#include "app/control_ids.h"
#include "app/layout_rule.h"
#include "app/main_dialog.h"
#include "app/widget_window.h"
#include "tests/app/qt_test_app.h"
#include "tests/app/recording_library.h"

namespace kestrel::app {
namespace {

using testing::HandleName;
using testing::RecordingLibrary;
using Calls = std::vector<std::string>;

class ScriptedChooser final : public FileChooser {
public:
    QString Choose(QWidget*, const FileRequest& request) override {
        requests.push_back(request);
        if (duringDialog) duringDialog();
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    std::vector<FileRequest> requests;
    QStringList answers;  // one per dialog; an empty string or none is Cancel
    std::function<void()> duringDialog;
};

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override { testing::QtApp(); }
    void TearDown() override { dialog.reset(); }

    MainDialog& Open(const QString& commandLine = {}) {
        MainDialog::Services s;
        s.library = &lib;
        s.files = &chooser;
        s.registerFileType = [this] { lib.Mark("RegisterFileType"); };
        s.videoArea = [this](QWidget* parent) { return CreateVideoArea(VideoKind::Plain, link, parent); };
        dialog = std::make_unique<MainDialog>(s, commandLine);
        dialog->show();
        dialog->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
        return *dialog;
    }
    template <typename T = QWidget>
    T* Control(int id) const {
        T* w = dialog->findChild<T*>(ObjectName(id));
        EXPECT_NE(w, nullptr) << "no control " << id;
        return w;
    }
    QAction* Menu(int id) const {
        auto* a = dialog->findChild<QAction*>(ObjectName(id));
        EXPECT_NE(a, nullptr) << "no menu item " << id;
        return a;
    }
    void Click(int id) { QTest::mouseClick(Control<QToolButton>(id), Qt::LeftButton); }
    std::string V() const { return HandleName(dialog->videoArea().window->Handle()); }
    std::string D() const { return HandleName(dialog->messageWindow()); }
    Calls OpenCalls(const std::string& path, bool sound = true) const {
        Calls c{"CloseFile(0)", "OpenFile(0, " + path + ")", "Play(0, " + V() + ")"};
        if (sound) {
            c.push_back("CloseSound(0)");
            c.push_back("OpenSound(0)");
        } else {
            c.push_back("CloseSound(0)");
        }
        c.push_back("SetFileEndMsg(0, " + D() + ", 1225)");
        return c;
    }
    QLabel* Status() const { return Control<QLabel>(kStatusLine); }
    QSlider* Position() const { return Control<QSlider>(kPositionSlider); }
    QTimer* StatusTimer() const { return dialog->findChild<QTimer*>("102"); }
    void Tick() {
        // One timer period and a little.
        QTest::qWait(kStatusTimerPeriodMs * 2);
    }

    RecordingLibrary lib;
    ScriptedChooser chooser;
    std::shared_ptr<DisplayLink> link = std::make_shared<DisplayLink>();
    std::unique_ptr<MainDialog> dialog;
};

TEST_F(DialogTest, ControlsCarryTheirIdsTextsAndTooltips) {
    Open();
    EXPECT_EQ(dialog->windowTitle(), "DVR H264/MPEG4 File Player");
    EXPECT_FALSE(dialog->windowIcon().isNull());
    struct Row {
        int id;
        const char* tip;
    };
    for (const Row& r : {Row{kPlayButton, "Play"}, Row{kPauseButton, "Pause"}, Row{kStopButton, "Stop"},
                         Row{kGoHeadButton, "Go Head"}, Row{kSlowButton, "Slow"}, Row{kFastButton, "Fast"},
                         Row{kGoEndButton, "Go End"}, Row{kPreviousFrameButton, "Previous Frame"},
                         Row{kNextFrameButton, "Next Frame"}, Row{kSnapButton, "Snap Picture"},
                         Row{kSoundButton, "Sound"}}) {
        SCOPED_TRACE(r.id);
        auto* b = Control<QToolButton>(r.id);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->toolTip(), r.tip);
        EXPECT_TRUE(b->isVisible());
        if (r.id == kSnapButton)
            EXPECT_EQ(b->text(), QString::fromUtf8("抓图"));
        else
            EXPECT_FALSE(b->icon().isNull());
    }
    EXPECT_EQ(Control(kVolumeSlider)->toolTip(), "Volume");
    EXPECT_FALSE(Control(kVolumeSlider)->isVisible());
    EXPECT_TRUE(Position()->isVisible());
    EXPECT_EQ(Position()->orientation(), Qt::Horizontal);
    EXPECT_TRUE(Status()->isVisible());
    EXPECT_TRUE(Control(kVideoArea)->isVisible());
    for (int id : {kSeparatorLeft, kSeparatorRight}) EXPECT_TRUE(Control(id)->isVisible());

    struct Item {
        int id;
        const char* text;
        QKeySequence key;
    };
    for (const Item& m : {Item{kMenuOpen, "Open(&O)  \tCtrl+O", QKeySequence("Ctrl+O")},
                          Item{kMenuClose, "Close(&C)  \tCtrl+C", QKeySequence("Ctrl+C")},
                          Item{kMenuExit, "Exit(&X)", {}}, Item{kMenuFullScreen, "Full Screen", {}},
                          Item{kMenuAbout, "About Kestrel(&A)...", {}}}) {
        SCOPED_TRACE(m.id);
        EXPECT_EQ(Menu(m.id)->text(), m.text);
        EXPECT_EQ(Menu(m.id)->shortcut(), m.key);
    }
    for (const char* title : {"File(&F)", "View(&V)", "Help(&H)"}) {
        bool found = false;
        for (QMenu* m : dialog->findChildren<QMenu*>()) found = found || m->title() == title;
        EXPECT_TRUE(found) << title;
    }
    // Nothing was opened: no engine call but the registration ran.
    EXPECT_EQ(lib.calls(), (Calls{"RegisterFileType"}));
    EXPECT_FALSE(StatusTimer()->isActive());
}

TEST_F(DialogTest, ChineseSetFromTheTranslationFile) {
    QTranslator zh;
    ASSERT_TRUE(zh.load(QLocale(QLocale::Chinese, QLocale::China), "kestrel", "_", ":/i18n"));
    QApplication::installTranslator(&zh);
    Open();
    EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("DVR H264/MPEG4 文件播放器"));
    EXPECT_EQ(Control(kPlayButton)->toolTip(), QString::fromUtf8("播放"));
    EXPECT_EQ(Control(kPreviousFrameButton)->toolTip(), QString::fromUtf8("上一帧"));
    EXPECT_EQ(Menu(kMenuOpen)->text(), QString::fromUtf8("打开(&O)  \tCtrl+O"));
    EXPECT_EQ(Control<QToolButton>(kSnapButton)->text(), QString::fromUtf8("抓图"));
    dialog.reset();
    QApplication::removeTranslator(&zh);
}

TEST_F(DialogTest, CommandLinePathOpensAfterRegistration) {
    const QString path = QString::fromUtf8("\"/tmp/with space/录像.H64\"");  // quotes stay
    Open(path);
    Calls expected{"RegisterFileType"};
    for (const std::string& c : OpenCalls(path.toStdString())) expected.push_back(c);
    EXPECT_EQ(lib.calls(), expected);
    EXPECT_TRUE(StatusTimer()->isActive());
    EXPECT_EQ(StatusTimer()->interval(), 100);
    EXPECT_TRUE(dialog->playingFlag());
}

TEST_F(DialogTest, EachButtonMakesItsCalls) {
    Open();
    lib.fileFrames = 375;
    lib.playedFrames = 10;
    struct Row {
        int id;
        Calls calls;
        bool playingAfter;
    };
    const std::string v = V();
    const Row rows[] = {
        {kPlayButton, {"Play(0, " + v + ")"}, true},
        {kPauseButton, {"Pause(0)"}, false},
        {kStopButton, {"Stop(0)"}, false},
        {kGoHeadButton, {"SetPlayPosition(0, 0)"}, true},
        {kSlowButton, {"PlaySlow(0)"}, true},
        {kFastButton, {"PlayFast(0)"}, true},
        {kGoEndButton, {"Pause(0)", "GetFileFrames(0)", "SetPlayedFrames(0, 375)"}, false},
        {kPreviousFrameButton, {"Pause(0)", "GetPlayedFrames(0)", "SetPlayedFrames(0, 9)", "Refresh(0)"}, false},
        {kNextFrameButton, {"Pause(0)", "Next(0)"}, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.id);
        Click(kPlayButton);  // the playing flag is set before each
        lib.Clear();
        Click(r.id);
        EXPECT_EQ(lib.calls(), r.calls);
        EXPECT_EQ(dialog->playingFlag(), r.playingAfter);
    }
}

TEST_F(DialogTest, PreviousFrameAtFrameZeroAsksForTheFrameBeforeIt) {
    Open();
    lib.playedFrames = 0;
    Click(kPreviousFrameButton);
    EXPECT_EQ(lib.calls().back(), "Refresh(0)");
    EXPECT_EQ(lib.CallsStartingWith("SetPlayedFrames"), (Calls{"SetPlayedFrames(0, 4294967295)"}));
}

TEST_F(DialogTest, SoundButtonTogglesAndSoundOffSurvivesAnotherOpen) {
    Open();
    auto* sound = Control<QToolButton>(kSoundButton);
    const qint64 onIcon = sound->icon().cacheKey();
    Click(kSoundButton);
    EXPECT_EQ(lib.calls().back(), "CloseSound(0)");
    EXPECT_FALSE(dialog->soundFlag());
    EXPECT_NE(sound->icon().cacheKey(), onIcon);

    lib.Clear();
    chooser.answers = {"/rec/b.h64"};
    Menu(kMenuOpen)->trigger();
    EXPECT_EQ(lib.calls(), OpenCalls("/rec/b.h64", false));

    lib.Clear();
    Click(kSoundButton);
    EXPECT_EQ(lib.calls(), (Calls{"OpenSound(0)"}));
    EXPECT_EQ(sound->icon().cacheKey(), onIcon);
}

TEST_F(DialogTest, OpeningAnotherFileClosesTheFirstAndZeroesTheSlider) {
    Open("/rec/a.h64");
    lib.fileFrames = 375;
    lib.playedFrames = 200;
    Tick();
    ASSERT_EQ(Position()->value(), 200);
    int sliderAtOpen = -1;
    lib.onCall = [&](const std::string& name) {
        if (name == "OpenFile") sliderAtOpen = Position()->value();
    };
    lib.Clear();
    chooser.answers = {"/rec/b.h64"};
    Menu(kMenuOpen)->trigger();
    lib.onCall = nullptr;
    EXPECT_EQ(lib.calls(), OpenCalls("/rec/b.h64"));
    EXPECT_EQ(sliderAtOpen, 0);
    ASSERT_EQ(chooser.requests.size(), 1u);
    const FileRequest& r = chooser.requests[0];
    EXPECT_EQ(r.mode, FileRequest::Mode::Open);
    EXPECT_EQ(r.defaultSuffix, "H64");
    EXPECT_EQ(r.filters, (QStringList{"H264 File(*.H64 *.h64)", "All Files(*)"}));

    lib.Clear();
    Menu(kMenuOpen)->trigger();  // Cancel
    EXPECT_TRUE(lib.calls().empty());
}

TEST_F(DialogTest, CloseStopsTheTimerAndZeroesTheSlider) {
    Open("/rec/a.h64");
    lib.fileFrames = 375;
    lib.playedFrames = 120;
    Tick();
    lib.Clear();
    Menu(kMenuClose)->trigger();
    EXPECT_EQ(lib.calls(), (Calls{"CloseFile(0)"}));
    EXPECT_EQ(Position()->value(), 0);
    EXPECT_FALSE(StatusTimer()->isActive());
    EXPECT_FALSE(dialog->playingFlag());
    lib.Clear();
    Tick();
    EXPECT_TRUE(lib.calls().empty());
}

TEST_F(DialogTest, TimerMovesStatusLineAndSliderButNeverSeeks) {
    Open("/rec/a.h64");
    struct Row {
        uint32_t frame, total, played, length;
        const char* text;
    };
    const Row rows[] = {
        {0, 0, 0, 0, "0/0      00:00:00/00:00:00"},
        {12, 375, 3723000, 15000, "12/375      01:02:03/00:00:15"},
        {375, 375, 15000, 360000000, "375/375      00:00:15/100:00:00"},
        {7, 4294967295u, 4294967295u, 59999, "7/4294967295      1193:02:47/00:00:59"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        lib.playedFrames = r.frame;
        lib.fileFrames = r.total;
        lib.playedTime = r.played;
        lib.fileTime = r.length;
        lib.Clear();
        Tick();
        EXPECT_EQ(Status()->text(), r.text);
        EXPECT_EQ(Position()->minimum(), 0);
        EXPECT_EQ(Position()->maximum(), int(std::min<uint32_t>(r.total, INT_MAX)));
        EXPECT_EQ(Position()->value(), int(r.frame));
        ASSERT_GE(lib.calls().size(), 4u);
        EXPECT_EQ(Calls(lib.calls().begin(), lib.calls().begin() + 4),
                  (Calls{"GetPlayedFrames(0)", "GetFileFrames(0)", "GetPlayedTime(0)", "GetFileTime(0)"}));
        // The timer moves the thumb; that is no reason to seek.
        EXPECT_TRUE(lib.CallsStartingWith("SetPlayedFrames").empty());
    }
}

TEST_F(DialogTest, SliderSeeksOnEveryUserMove) {
    Open("/rec/a.h64");
    lib.fileFrames = 400;
    lib.playedFrames = 0;
    Tick();
    StatusTimer()->stop();  // keep the engine's frame from moving the thumb during the drag
    QSlider* s = Position();
    lib.Clear();
    s->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(lib.calls(), (Calls{"SetPlayedFrames(0, " + std::to_string(s->pageStep()) + ")"}));

    // A drag of the thumb: a seek at every step of the way.
    lib.Clear();
    s->setValue(0);
    const QPoint start(4, s->height() / 2);
    QTest::mousePress(s, Qt::LeftButton, {}, start);
    for (int x = start.x(); x <= s->width() / 2; x += s->width() / 8) QTest::mouseMove(s, QPoint(x, start.y()));
    QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(s->width() / 2, start.y()));
    const Calls seeks = lib.CallsStartingWith("SetPlayedFrames");
    EXPECT_GE(seeks.size(), 3u);
    EXPECT_EQ(seeks.size(), lib.calls().size());
    EXPECT_EQ(seeks.back(), "SetPlayedFrames(0, " + std::to_string(s->value()) + ")");
    EXPECT_GT(s->value(), 100);

    // The volume slider does nothing at all.
    lib.Clear();
    Control<QSlider>(kVolumeSlider)->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_TRUE(lib.calls().empty());
}

TEST_F(DialogTest, SnapshotPausesAroundItsDialogOnlyWhilePlaying) {
    Open("/rec/a.h64");
    const std::string v = V();
    struct Row {
        bool playing;
        QString answer;
        Calls calls;
    };
    const Row rows[] = {
        {true, "/shots/a.BMP", {"Pause(0)", "SnapPicture(0, /shots/a.BMP)", "Play(0, " + v + ")"}},
        {true, "", {"Pause(0)", "Play(0, " + v + ")"}},
        {false, "/shots/b.BMP", {"SnapPicture(0, /shots/b.BMP)"}},
        {false, "", {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.answer.toStdString() + (r.playing ? " playing" : " paused"));
        Click(r.playing ? kPlayButton : kPauseButton);
        lib.Clear();
        chooser.answers = {r.answer};
        Calls callsDuringDialog;
        chooser.duringDialog = [&] { callsDuringDialog = lib.calls(); };
        Click(kSnapButton);
        EXPECT_EQ(lib.calls(), r.calls);
        EXPECT_EQ(callsDuringDialog, r.playing ? Calls{"Pause(0)"} : Calls{});
    }
    const FileRequest& req = chooser.requests.back();
    EXPECT_EQ(req.mode, FileRequest::Mode::Save);
    EXPECT_EQ(req.defaultSuffix, "BMP");
    EXPECT_EQ(req.filters.first(), "BMP File(*.BMP *.bmp)");
}

TEST_F(DialogTest, FileEndMessageClearsThePlayingFlagSoASnapshotDoesNotRestart) {
    Open("/rec/a.h64");
    ASSERT_TRUE(dialog->playingFlag());
    // As the engine posts it, from another thread.
    std::thread([w = platform::FromHandle(dialog->messageWindow())] { w->Post({kFileEndMessage, 0, 0}); }).join();
    QCoreApplication::processEvents();
    EXPECT_FALSE(dialog->playingFlag());
    lib.Clear();
    chooser.answers = {"/shots/end.BMP"};
    Click(kSnapButton);
    EXPECT_EQ(lib.calls(), (Calls{"SnapPicture(0, /shots/end.BMP)"}));
}

TEST_F(DialogTest, KeysActAsTheirCommands) {
    Open("/rec/a.h64");
    lib.playedFrames = 5;
    chooser.answers = {};
    const std::string v = V();
    struct Row {
        QKeySequence key;
        Calls calls;
    };
    const Row rows[] = {
        {QKeySequence(Qt::Key_Space), {"Pause(0)"}},  // playing since the open
        {QKeySequence(Qt::Key_Space), {"Play(0, " + v + ")"}},
        {QKeySequence(Qt::Key_Right), {"Pause(0)", "Next(0)"}},
        {QKeySequence(Qt::Key_Left), {"Pause(0)", "GetPlayedFrames(0)", "SetPlayedFrames(0, 4)", "Refresh(0)"}},
        {QKeySequence("Ctrl+C"), {"CloseFile(0)"}},
        {QKeySequence("Ctrl+O"), {}},  // the open dialog, cancelled
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.key.toString().toStdString());
        lib.Clear();
        QTest::keySequence(Control(kPlayButton), r.key);  // focus on a button must not eat the keys
        EXPECT_EQ(lib.calls(), r.calls);
    }
    EXPECT_EQ(chooser.requests.size(), 1u);
    QTest::keyClick(dialog.get(), Qt::Key_F);
    EXPECT_TRUE(dialog->isFullScreenView());
    QTest::keyClick(dialog.get(), Qt::Key_F);
    EXPECT_FALSE(dialog->isFullScreenView());
}

TEST_F(DialogTest, EscapeDoesNothingEvenInFullScreen) {
    Open("/rec/a.h64");
    for (bool full : {false, true}) {
        SCOPED_TRACE(full);
        if (full) Menu(kMenuFullScreen)->trigger();
        lib.Clear();
        QTest::keyClick(Control(kPlayButton), Qt::Key_Escape);
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
        QCoreApplication::processEvents();
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), 0);
        EXPECT_EQ(dialog->isFullScreenView(), full);
        EXPECT_TRUE(lib.CallsStartingWith("CloseFile").empty());
        EXPECT_TRUE(lib.CallsStartingWith("Stop").empty());
    }
}

// Where the layout puts every control in a client area of two sizes (pixels).
TEST_F(DialogTest, LayoutRuleAtTwoSizes) {
    Open();
    struct Row {
        int id;
        QRect at640x480, at1000x700;
    };
    const Row rows[] = {
        {kStatusLine, {0, 457, 641, 23}, {0, 677, 1001, 23}},
        {kPlayButton, {5, 427, 20, 20}, {5, 647, 20, 20}},
        {kPauseButton, {25, 427, 20, 20}, {25, 647, 20, 20}},
        {kStopButton, {45, 427, 20, 20}, {45, 647, 20, 20}},
        {kSeparatorLeft, {70, 427, 2, 20}, {70, 647, 2, 20}},
        {kGoHeadButton, {77, 427, 20, 20}, {77, 647, 20, 20}},
        {kSlowButton, {97, 427, 20, 20}, {97, 647, 20, 20}},
        {kFastButton, {117, 427, 20, 20}, {117, 647, 20, 20}},
        {kGoEndButton, {137, 427, 20, 20}, {137, 647, 20, 20}},
        {kSeparatorRight, {162, 427, 2, 20}, {162, 647, 2, 20}},
        {kPreviousFrameButton, {169, 427, 20, 20}, {169, 647, 20, 20}},
        {kNextFrameButton, {189, 427, 20, 20}, {189, 647, 20, 20}},
        {kSnapButton, {209, 427, 20, 20}, {209, 647, 20, 20}},
        {kVolumeSlider, {580, 432, 60, 15}, {940, 652, 60, 15}},
        {kSoundButton, {560, 427, 20, 20}, {920, 647, 20, 20}},
        {kPositionSlider, {0, 403, 640, 20}, {0, 623, 1000, 20}},
        {kVideoArea, {0, 0, 640, 393}, {0, 0, 1000, 613}},
    };
    QWidget* client = dialog->clientArea();
    const int menuHeight = dialog->height() - client->height();
    for (const QSize size : {QSize(640, 480), QSize(1000, 700)}) {
        dialog->resize(size.width(), size.height() + menuHeight);
        QCoreApplication::processEvents();
        ASSERT_EQ(client->size(), size);
        for (const Row& r : rows) {
            SCOPED_TRACE(std::to_string(r.id) + " at " + std::to_string(size.width()));
            EXPECT_EQ(Control(r.id)->geometry(), size.width() == 640 ? r.at640x480 : r.at1000x700);
        }
    }
}

TEST_F(DialogTest, FullScreenRoundTripByMenuDoubleClickAndRightClick) {
    Open("/rec/a.h64");
    QWidget* client = dialog->clientArea();
    const QRect normal = dialog->geometry();
    const int hidden[] = {kPositionSlider, kPlayButton,   kPauseButton,         kStopButton,
                          kGoHeadButton,   kSlowButton,   kFastButton,          kGoEndButton,
                          kPreviousFrameButton, kNextFrameButton, kSnapButton, kSoundButton, kVolumeSlider};
    const std::function<void()> toggles[] = {
        [&] { Menu(kMenuFullScreen)->trigger(); },
        [&] { QTest::mouseDClick(Control(kVideoArea), Qt::LeftButton); },  // the picture passes clicks on
        [&] { QTest::mouseDClick(client, Qt::LeftButton, {}, QPoint(client->width() - 5, client->height() - 60)); },
        [&] { QTest::mouseClick(Control(kVideoArea), Qt::RightButton); },
    };
    for (size_t i = 0; i < std::size(toggles); ++i) {
        SCOPED_TRACE(i);
        toggles[i]();
        QCoreApplication::processEvents();
        ASSERT_TRUE(dialog->isFullScreenView());
        EXPECT_EQ(Control(kVideoArea)->geometry(), client->rect());
        for (int id : hidden) EXPECT_FALSE(Control(id)->isVisible()) << id;
        for (int id : {kStatusLine, kSeparatorLeft, kSeparatorRight}) EXPECT_TRUE(Control(id)->isVisible()) << id;
        // They keep the layout rule's places for the full-screen size, above the picture.
        for (const PlacedControl& c : LayoutControls(client->width(), client->height())) {
            if (c.id == kStatusLine || c.id == kSeparatorLeft || c.id == kSeparatorRight) {
                EXPECT_EQ(Control(c.id)->geometry(), c.rect) << c.id;
            }
        }
        EXPECT_TRUE(Control(kStatusLine)->autoFillBackground());
        // The status line is not refreshed meanwhile.
        lib.Clear();
        Tick();
        EXPECT_TRUE(lib.calls().empty());

        toggles[i]();
        QCoreApplication::processEvents();
        ASSERT_FALSE(dialog->isFullScreenView());
        for (int id : hidden) EXPECT_TRUE(Control(id)->isVisible()) << id;  // the volume slider too
        EXPECT_EQ(Control(kVideoArea)->geometry(), QRect(0, 0, client->width(), client->height() - 87));
        EXPECT_EQ(dialog->geometry().size(), normal.size());
        Tick();
        EXPECT_FALSE(lib.CallsStartingWith("GetPlayedFrames").empty());
    }
    // A left click alone changes nothing.
    QTest::mouseClick(client, Qt::LeftButton, {}, QPoint(client->width() - 5, client->height() - 60));
    EXPECT_FALSE(dialog->isFullScreenView());
}

TEST_F(DialogTest, DropOpensTheFirstLocalItemOnly) {
    Open("/rec/playing.h64");
    const QString folder = QDir::tempPath();
    struct Row {
        QList<QUrl> urls;
        std::string opened;  // empty: nothing happens
    };
    const Row rows[] = {
        {{QUrl::fromLocalFile("/rec/one.h64"), QUrl::fromLocalFile("/rec/two.h64"), QUrl::fromLocalFile("/rec/3.h64")},
         "/rec/one.h64"},
        {{QUrl::fromLocalFile(folder)}, folder.toStdString()},  // a folder goes to the engine as it is
        {{QUrl("https://example.com/a.h64"), QUrl::fromLocalFile("/rec/local.h64")}, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.urls.first().toString().toStdString());
        QMimeData data;
        data.setUrls(r.urls);
        const QPoint at = dialog->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(dialog.get(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        lib.Clear();
        QCoreApplication::sendEvent(dialog.get(), &drop);
        EXPECT_EQ(lib.calls(), r.opened.empty() ? Calls{} : OpenCalls(r.opened));
    }
}

TEST_F(DialogTest, AboutBoxShowsTheIconAndChineseTexts) {
    Open();
    QStringList texts;
    bool hasIcon = false;
    QTimer::singleShot(0, [&] {
        QWidget* about = QApplication::activeModalWidget();
        ASSERT_NE(about, nullptr);
        EXPECT_EQ(about->objectName(), "100");
        EXPECT_TRUE(about->windowTitle().contains(QString::fromUtf8("关于")));
        for (QLabel* l : about->findChildren<QLabel*>()) {
            if (!l->pixmap().isNull()) hasIcon = true;
            if (!l->text().isEmpty()) texts << l->text();
        }
        QTest::mouseClick(about->findChild<QWidget*>("1"), Qt::LeftButton);
    });
    Menu(kMenuAbout)->trigger();
    EXPECT_TRUE(hasIcon);
    ASSERT_EQ(texts.size(), 2);
    EXPECT_TRUE(texts[0].contains(QString::fromUtf8("播放器")));
    EXPECT_TRUE(lib.calls() == Calls{"RegisterFileType"});
}

TEST_F(DialogTest, ExitEndsTheDialogAndDestructionReleasesTheEngine) {
    Open("/rec/a.h64");
    Menu(kMenuExit)->trigger();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    lib.Clear();
    dialog.reset();
    EXPECT_EQ(lib.calls(), (Calls{"CloseFile(0)", "ReleaseDirectDraw()"}));

    Open("/rec/a.h64");
    dialog->close();  // the window's close box
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(DialogTest, StopAndCloseBlankThePicture) {
    Open("/rec/a.h64");
    VideoWindow* video = dialog->videoArea().window;
    for (int command : {int(kStopButton), int(kMenuClose)}) {
        SCOPED_TRACE(command);
        uint8_t white[4 * 4 * 4];
        std::fill(std::begin(white), std::end(white), 0xFF);
        const platform::LockedPixels px{white, 16, 4, 4, platform::PixelFormat::RGB32, 32};
        video->Present(px, {0, 0, 4, 4}, video->ScreenRect());
        QCoreApplication::processEvents();
        QWidget* area = Control(kVideoArea);
        EXPECT_EQ(area->grab().toImage().pixel(area->width() / 2, area->height() / 2), qRgb(255, 255, 255));
        if (command == kStopButton) Click(kStopButton); else Menu(kMenuClose)->trigger();
        QCoreApplication::processEvents();
        EXPECT_EQ(area->grab().toImage().pixel(area->width() / 2, area->height() / 2), qRgb(0, 0, 0));
    }
}

}  // namespace
}  // namespace kestrel::app
