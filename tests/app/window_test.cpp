// The whole player in a real X session (Xvfb): the dialog, the engine and the Qt display open the
// bundled sample recording and play it. The sample's picture has four flat colour fields (red,
// green, blue and yellow at the corners) and a seconds counter in its middle band; what the video
// area shows, what a snapshot saves and what full screen shows must carry those colours where the
// recording has them, and the picture must move on while it plays.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QTest>
#include <QToolButton>
#include <cstdlib>
#include <memory>

#include "app/control_ids.h"
#include "app/file_chooser.h"
#include "app/main_dialog.h"
#include "app/player_library.h"
#include "app/qt_display.h"
#include "app/video_widgets.h"
#include "engine/engine.h"
#include "tests/support/recording_writer.h"

namespace kestrel::app {
namespace {

class FixedChooser final : public FileChooser {
public:
    explicit FixedChooser(QString path) : path_(std::move(path)) {}
    QString Choose(QWidget*, const FileRequest&) override { return path_; }

private:
    QString path_;
};

enum class Colour { kRed, kGreen, kBlue, kYellow, kOther };

Colour Classify(QRgb c) {
    const int r = qRed(c), g = qGreen(c), b = qBlue(c);
    if (r > 180 && g < 80 && b < 80) return Colour::kRed;
    if (r < 80 && g > 100 && b < 80) return Colour::kGreen;
    if (r < 80 && g < 80 && b > 180) return Colour::kBlue;
    if (r > 180 && g > 180 && b < 80) return Colour::kYellow;
    return Colour::kOther;
}

// The four fields, sampled half way between the picture's corners and its centre.
void ExpectColourFields(const QImage& image, const char* what) {
    const int w = image.width(), h = image.height();
    ASSERT_GT(w, 40) << what;
    ASSERT_GT(h, 40) << what;
    const struct {
        double x, y;
        Colour colour;
        const char* name;
    } fields[] = {{0.25, 0.2, Colour::kRed, "red"},
                  {0.75, 0.2, Colour::kGreen, "green"},
                  {0.25, 0.8, Colour::kBlue, "blue"},
                  {0.75, 0.8, Colour::kYellow, "yellow"}};
    for (const auto& f : fields) {
        const QRgb c = image.pixel(static_cast<int>(f.x * w), static_cast<int>(f.y * h));
        EXPECT_EQ(Classify(c), f.colour) << what << ": the " << f.name << " field shows " << qRed(c) << ","
                                         << qGreen(c) << "," << qBlue(c);
    }
}

// The middle band (stripes, moving square, counter), where consecutive pictures differ.
QImage Band(const QImage& image) {
    const int h = image.height();
    return image.copy(0, h * 256 / 576, image.width(), h * 64 / 576);
}

class PlayerWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!std::getenv("DISPLAY")) return;
        setenv("SDL_AUDIODRIVER", "dummy", 1);  // no sound server needed
        static int argc = 1;
        static char name[] = "kestrel-window-test";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        kind_ = ChooseVideoKind();
        link_ = std::make_shared<DisplayLink>();
        engine::EnginePlatform platform;
        platform.display = QtDisplayFactory(kind_, link_);
        engine::SetEnginePlatform(std::move(platform));
    }
    void SetUp() override {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "no X server: these tests run under xvfb-run (Debian package xvfb)";
    }

    static QApplication* app_;
    static VideoKind kind_;
    static std::shared_ptr<DisplayLink> link_;
};
QApplication* PlayerWindow::app_ = nullptr;
VideoKind PlayerWindow::kind_ = VideoKind::Plain;
std::shared_ptr<DisplayLink> PlayerWindow::link_;

TEST_F(PlayerWindow, PlaysTheSampleSnapsItAndShowsItFullScreen) {
    testing::ScratchDir scratch;
    const QString snapshot = QString::fromStdString(scratch.File("snap.bmp"));
    EnginePlayerLibrary library;
    FixedChooser files(snapshot);
    MainDialog::Services services;
    services.library = &library;
    services.files = &files;
    services.registerFileType = [] {};
    std::shared_ptr<DisplayLink> link = link_;
    const VideoKind kind = kind_;
    services.videoArea = [kind, link](QWidget* parent) { return CreateVideoArea(kind, link, parent); };
    auto dialog = std::make_unique<MainDialog>(services, QString(KESTREL_SOURCE_DIR) + "/samples/sample.h64");
    dialog->resize(720, 700);
    dialog->show();
    QWidget* video = dialog->findChild<QWidget*>(QString::number(kVideoArea));
    ASSERT_NE(video, nullptr);
    SCOPED_TRACE(kind == VideoKind::OpenGL ? "OpenGL video area" : "plain video area");

    QTest::qWait(1500);
    const uint32_t early = library.GetPlayedFrames(0);
    EXPECT_GT(early, 10u) << "the sample plays";
    const QImage first = video->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ExpectColourFields(first, "playing");
    QTest::qWait(1000);
    const QImage later = video->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_GT(library.GetPlayedFrames(0), early + 10) << "in real time, about 25 a second";
    EXPECT_NE(Band(first), Band(later)) << "the picture moves on";

    // Snapshot: the engine's picture as a BMP, at the recording's size.
    dialog->findChild<QToolButton*>(QString::number(kSnapButton))->click();
    QImage saved(snapshot);
    ASSERT_FALSE(saved.isNull()) << "no snapshot at " << snapshot.toStdString();
    EXPECT_EQ(saved.size(), QSize(704, 576));
    ExpectColourFields(saved.convertToFormat(QImage::Format_RGB32), "snapshot");
    EXPECT_TRUE(dialog->playingFlag()) << "playback resumes after the snapshot";

    // Full screen: the picture fills the client area and keeps its colours.
    dialog->findChild<QAction*>(QString::number(kMenuFullScreen))->trigger();
    QTest::qWait(600);
    ASSERT_TRUE(dialog->isFullScreenView());
    EXPECT_EQ(video->geometry(), dialog->clientArea()->rect());
    ExpectColourFields(video->grab().toImage().convertToFormat(QImage::Format_RGB32), "full screen");
    dialog->findChild<QAction*>(QString::number(kMenuFullScreen))->trigger();
    QTest::qWait(300);
    EXPECT_FALSE(dialog->isFullScreenView());

    dialog.reset();  // closes the file and releases the engine
}

}  // namespace
}  // namespace kestrel::app
