#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <thread>

#include "engine/engine.h"
#include "platform/window.h"
#include "tests/engine/engine_fixture.h"

namespace kestrel::testing {
namespace {

using engine::PlaybackMode;
using engine::Port;

class PlayerApi : public EngineTest {
protected:
    void OpenPort0() {
        path = Write("a.h64", {.frames = 60});
        ASSERT_EQ(kxOpenFile(0, path.c_str()), 1);
        ASSERT_TRUE(engine::WaitForIndex(0, 10000));
    }
    std::string path;
};

TEST_F(PlayerApi, InvalidPortsAreRefusedWithoutStoringAnything) {
    OpenPort0();
    const std::function<int64_t(int32_t)> calls[] = {
        [](int32_t p) { return kxOpenFile(p, "x"); },     [](int32_t p) { return kxCloseFile(p); },
        [](int32_t p) { return kxPlay(p, nullptr); },     [](int32_t p) { return kxPause(p); },
        [](int32_t p) { return kxStop(p); },              [](int32_t p) { return kxPlayFast(p); },
        [](int32_t p) { return kxPlaySlow(p); },          [](int32_t p) { return kxNext(p); },
        [](int32_t p) { return kxOpenSound(p); },         [](int32_t p) { return kxGetPlayedTime(p); },
        [](int32_t p) { return kxGetPlayedFrames(p); },   [](int32_t p) { return kxGetFileTime(p); },
        [](int32_t p) { return kxGetFileFrames(p); },     [](int32_t p) { return kxSnapPicture(p, "x.bmp"); },
        [](int32_t p) { return kxSetPlayPosition(p, 2.0f); }, [](int32_t p) { return kxSetPlayedFrames(p, 9999); },
        [](int32_t p) { return kxRefresh(p); },           [](int32_t p) { return kxSetFileEndMsg(p, nullptr, 1); },
        [](int32_t p) { return kxGetLastError(p); },
    };
    for (int32_t port : {-1, 128, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()})
        for (size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i](port), 0) << "call " << i << " port " << port;
    for (int32_t port = 0; port < KX_PORT_COUNT; ++port) ASSERT_EQ(kxGetLastError(port), ERR_NONE) << port;
    EXPECT_TRUE(Port(0).open.load());
}

// What each play mode of an open port admits. ERR_NONE with result 0: refused without a reason.
TEST_F(PlayerApi, StateTableOfAnOpenPort) {
    OpenPort0();
    struct Case {
        const char* call;
        std::function<int64_t()> run;
        PlaybackMode mode;
        int64_t result;
        int32_t error;
        PlaybackMode after;
    };
    using M = PlaybackMode;
    const float nan = std::nanf("");
    const uint32_t total = kxGetFileFrames(0);
    const Case cases[] = {
        {"pause", [] { return kxPause(0); }, M::Stopped, 1, 0, M::Stopped},
        {"pause", [] { return kxPause(0); }, M::Paused, 1, 0, M::Paused},
        {"pause", [] { return kxPause(0); }, M::Playing, 1, 0, M::Paused},
        {"fast", [] { return kxPlayFast(0); }, M::Stopped, 0, ERR_STATE, M::Stopped},
        {"fast", [] { return kxPlayFast(0); }, M::Paused, 0, ERR_STATE, M::Paused},
        {"fast", [] { return kxPlayFast(0); }, M::Playing, 1, 0, M::Playing},
        {"slow", [] { return kxPlaySlow(0); }, M::Stopped, 0, ERR_STATE, M::Stopped},
        {"slow", [] { return kxPlaySlow(0); }, M::Paused, 0, ERR_STATE, M::Paused},
        {"slow", [] { return kxPlaySlow(0); }, M::Playing, 1, 0, M::Playing},
        {"next", [] { return kxNext(0); }, M::Stopped, 0, ERR_STATE, M::Stopped},
        {"next", [] { return kxNext(0); }, M::Playing, 0, ERR_STATE, M::Playing},
        {"refresh", [] { return kxRefresh(0); }, M::Stopped, 0, ERR_STATE, M::Stopped},
        {"refresh", [] { return kxRefresh(0); }, M::Playing, 0, ERR_STATE, M::Playing},
        {"snap", [] { return kxSnapPicture(0, "/nonexistent/x.bmp"); }, M::Stopped, 0, ERR_STATE, M::Stopped},
        {"played time", [] { return kxGetPlayedTime(0); }, M::Stopped, 0, 0, M::Stopped},
        {"played time", [] { return kxGetPlayedTime(0); }, M::Paused, 1234, 0, M::Paused},
        {"played frames", [] { return kxGetPlayedFrames(0); }, M::Stopped, 0, 0, M::Stopped},
        {"played frames", [] { return kxGetPlayedFrames(0); }, M::Playing, 17, 0, M::Playing},
        {"file frames", [] { return kxGetFileFrames(0); }, M::Stopped, 60, 0, M::Stopped},
        {"file time", [] { return kxGetFileTime(0); }, M::Playing, 59 * 40, 0, M::Playing},
        {"position 1.5", [] { return kxSetPlayPosition(0, 1.5f); }, M::Playing, 0, ERR_POSITION, M::Playing},
        {"position -0.1", [] { return kxSetPlayPosition(0, -0.1f); }, M::Paused, 0, ERR_POSITION, M::Paused},
        {"position NaN", [=] { return kxSetPlayPosition(0, nan); }, M::Playing, 0, ERR_POSITION, M::Playing},
        {"position NaN", [=] { return kxSetPlayPosition(0, nan); }, M::Stopped, 0, ERR_POSITION, M::Stopped},
        {"position 0.5", [] { return kxSetPlayPosition(0, 0.5f); }, M::Stopped, 0, 0, M::Stopped},
        {"frames total+1", [=] { return kxSetPlayedFrames(0, total + 1); }, M::Playing, 0, ERR_POSITION, M::Playing},
        {"frames 3", [] { return kxSetPlayedFrames(0, 3); }, M::Stopped, 0, 0, M::Stopped},
        {"stop", [] { return kxStop(0); }, M::Playing, 1, 0, M::Stopped},
        {"stop", [] { return kxStop(0); }, M::Stopped, 1, 0, M::Stopped},
        {"play", [] { return kxPlay(0, nullptr); }, M::Paused, 1, 0, M::Playing},
        {"play", [] { return kxPlay(0, nullptr); }, M::Playing, 1, 0, M::Playing},
        {"end message", [] { return kxSetFileEndMsg(0, nullptr, 1225); }, M::Playing, 1, 0, M::Playing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.call << " in mode " << int(c.mode));
        Port(0).playMode = c.mode;
        Port(0).playedTime = 1234;
        Port(0).playedFrames = 17;
        Port(0).speedStep = 4;
        Port(0).lastError = ERR_NONE;
        EXPECT_EQ(c.run(), c.result);
        EXPECT_EQ(kxGetLastError(0), c.error);
        EXPECT_EQ(Port(0).playMode.load(), c.after);
    }
    Port(0).playMode = M::Stopped;
}

// A seek by position needs the finished index; while the builder still reads, a playing or paused
// port refuses it with ERR_STATE and keeps its mode.
TEST_F(PlayerApi, PositionSeekWhileTheIndexIsBuilt) {
    hooks.beforeIndexRead = [](uint64_t) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
    ApplyPlatform();
    path = Write("long.h64", {.frames = 2000, .gop = 10, .audio = false});
    ASSERT_EQ(kxOpenFile(0, path.c_str()), 1);
    ASSERT_FALSE(engine::GetPortInfo(0).indexComplete);
    for (PlaybackMode mode : {PlaybackMode::Playing, PlaybackMode::Paused}) {
        SCOPED_TRACE(int(mode));
        Port(0).playMode = mode;
        Port(0).lastError = ERR_NONE;
        EXPECT_EQ(kxSetPlayPosition(0, 0.5f), 0);
        EXPECT_EQ(kxGetLastError(0), ERR_STATE);
        EXPECT_EQ(Port(0).playMode.load(), mode);
    }
    Port(0).playMode = PlaybackMode::Stopped;
}

TEST_F(PlayerApi, CallsOnAPortNeverOpenedAndOnAClosedPort) {
    OpenPort0();
    ASSERT_EQ(kxCloseFile(0), 1);
    struct Case {
        const char* call;
        std::function<int64_t(int32_t)> run;
        int64_t idle, idleError, closed, closedError;  // port 1 never opened, port 0 closed
    };
    const Case cases[] = {
        {"close", [](int32_t p) { return kxCloseFile(p); }, 0, ERR_NOT_OPEN, 0, ERR_NOT_OPEN},
        {"pause", [](int32_t p) { return kxPause(p); }, 0, ERR_STATE, 1, 0},
        {"fast", [](int32_t p) { return kxPlayFast(p); }, 0, ERR_STATE, 0, ERR_STATE},
        {"next", [](int32_t p) { return kxNext(p); }, 0, ERR_STATE, 0, ERR_STATE},
        {"snap", [](int32_t p) { return kxSnapPicture(p, "x.bmp"); }, 0, ERR_NO_SOURCE, 0, ERR_NOT_OPEN},
        {"played time", [](int32_t p) { return kxGetPlayedTime(p); }, 0, ERR_NOT_OPEN, 0, ERR_NOT_OPEN},
        {"played frames", [](int32_t p) { return kxGetPlayedFrames(p); }, 0, ERR_NOT_OPEN, 0, ERR_NOT_OPEN},
        {"file time", [](int32_t p) { return kxGetFileTime(p); }, 0, ERR_NOT_OPEN, 0, ERR_NOT_OPEN},
        {"file frames", [](int32_t p) { return kxGetFileFrames(p); }, 0, ERR_NOT_OPEN, 0, ERR_NOT_OPEN},
        {"position", [](int32_t p) { return kxSetPlayPosition(p, 0.5f); }, 0, ERR_NOT_OPEN, 0, ERR_NOT_OPEN},
        {"frames", [](int32_t p) { return kxSetPlayedFrames(p, 0); }, 0, ERR_NOT_OPEN, 0, ERR_NOT_OPEN},
        {"refresh", [](int32_t p) { return kxRefresh(p); }, 0, ERR_STATE, 0, ERR_STATE},
        {"stop", [](int32_t p) { return kxStop(p); }, 1, 0, 1, 0},
        {"close sound", [](int32_t p) { return kxCloseSound(p); }, 1, 0, 1, 0},
        {"end message", [](int32_t p) { return kxSetFileEndMsg(p, nullptr, 1225); }, 1, 0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        Port(0).lastError = ERR_NONE;
        Port(1).lastError = ERR_NONE;
        EXPECT_EQ(c.run(1), c.idle);
        EXPECT_EQ(kxGetLastError(1), c.idleError);
        EXPECT_EQ(c.run(0), c.closed);
        EXPECT_EQ(kxGetLastError(0), c.closedError);
    }
    // kxPlay: an idle port becomes Playing without reading anything; a closed one is refused,
    // though it keeps the window.
    platform::MemoryWindow window;
    EXPECT_EQ(kxPlay(1, platform::ToHandle(&window)), 1);
    EXPECT_EQ(Port(1).playMode.load(), PlaybackMode::Playing);
    EXPECT_FALSE(Port(1).playThread.Held());
    EXPECT_EQ(kxPlay(0, platform::ToHandle(&window)), 0);
    EXPECT_EQ(kxGetLastError(0), ERR_NOT_OPEN);
    EXPECT_EQ(Port(0).videoWindow.load(), platform::ToHandle(&window));
}

TEST_F(PlayerApi, SpeedStepsStopAtTheirLimits) {
    OpenPort0();
    Port(0).playMode = PlaybackMode::Playing;
    for (uint32_t step = 5; step <= 8; ++step) {
        EXPECT_EQ(kxPlayFast(0), 1);
        EXPECT_EQ(Port(0).speedStep.load(), step);
    }
    Port(0).lastError = 77;  // a stored number that the refusal at the limit must leave alone
    EXPECT_EQ(kxPlayFast(0), 0);
    EXPECT_EQ(Port(0).speedStep.load(), 8u);
    EXPECT_EQ(kxGetLastError(0), 77);

    Port(0).speedStep = 7;
    EXPECT_EQ(kxPlay(0, nullptr), 1);
    EXPECT_EQ(Port(0).speedStep.load(), 4u) << "a second play returns to normal speed";
    for (uint32_t step = 3; step >= 1; --step) {
        EXPECT_EQ(kxPlaySlow(0), 1);
        EXPECT_EQ(Port(0).speedStep.load(), step);
    }
    EXPECT_EQ(kxPlaySlow(0), 0);
    EXPECT_EQ(kxGetLastError(0), 77);
    Port(0).pacing.clockStart = 99;
    Port(0).speedStep = 4;
    EXPECT_EQ(kxPlayFast(0), 1);
    EXPECT_EQ(Port(0).pacing.clockStart, 0u) << "a speed change restarts pacing";
    EXPECT_EQ(Port(0).pacing.resyncPending, 1u);
    Port(0).playMode = PlaybackMode::Stopped;
}

TEST_F(PlayerApi, EngineStartsLazilyAndRestartsAfterRelease) {
    EXPECT_FALSE(engine::TheEngine().engineReady.load());
    EXPECT_EQ(kxStop(0), 1) << "needs no engine";
    EXPECT_FALSE(engine::TheEngine().engineReady.load());
    EXPECT_EQ(kxPlay(5, nullptr), 1);
    EXPECT_TRUE(engine::TheEngine().engineReady.load());
    EXPECT_TRUE(tick.Running());
    EXPECT_EQ(tick.Period(), 5u);
    EXPECT_EQ(display->displaysCreated(), 1u);
    EXPECT_EQ(engine::InitEngine(), 1);
    EXPECT_EQ(display->displaysCreated(), 1u) << "a ready engine is left alone";
    EXPECT_EQ(Port(5).playMode.load(), PlaybackMode::Playing);

    EXPECT_EQ(kxReleaseDirectDraw(), 1);
    EXPECT_FALSE(tick.Running());
    EXPECT_EQ(Port(5).playMode.load(), PlaybackMode::Stopped);
    EXPECT_EQ(kxReleaseDirectDraw(), 1);
    OpenPort0();
    EXPECT_EQ(display->displaysCreated(), 2u);
}

TEST_F(PlayerApi, DisplayFailuresAtEngineStart) {
    const std::string file = Write("a.h64");
    platform::MemoryDisplayConfig c = DefaultDisplayConfig();
    c.failCreate = true;
    display->SetConfig(c);
    EXPECT_EQ(kxOpenFile(0, file.c_str()), 0);
    EXPECT_EQ(kxGetLastError(0), ERR_DISPLAY);
    EXPECT_EQ(kxGetLastError(1), ERR_DIRECTDRAW);
    EXPECT_EQ(kxGetLastError(127), ERR_DIRECTDRAW);
    EXPECT_EQ(kxPlay(3, nullptr), 0);
    EXPECT_EQ(kxGetLastError(3), ERR_DISPLAY);
    EXPECT_FALSE(engine::TheEngine().engineReady.load());

    // The display comes back: the next call starts the engine, with the same locks and events.
    c.failCreate = false;
    c.failClipper = true;
    display->SetConfig(c);
    EXPECT_EQ(kxOpenFile(0, file.c_str()), 1) << "without a clipper the engine still starts";
    EXPECT_EQ(kxGetLastError(0), ERR_DISPLAY);
    EXPECT_EQ(kxGetLastError(64), ERR_DISPLAY);
    EXPECT_EQ(kxCloseFile(0), 1);
    kxReleaseDirectDraw();

    c.failClipper = false;
    c.failPrimary = true;
    display->SetConfig(c);
    EXPECT_EQ(kxOpenFile(0, file.c_str()), 1);
    EXPECT_EQ(kxGetLastError(0), ERR_DISPLAY);
    EXPECT_EQ(engine::TheEngine().primary, nullptr);
}

TEST_F(PlayerApi, FileEndMessageGoesToTheRegisteredWindow) {
    platform::MemoryWindow window;
    EXPECT_EQ(kxSetFileEndMsg(3, platform::ToHandle(&window), 1225), 1);
    engine::PostFileEnd(3);
    const auto m = window.TakeMessage(1000);
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(*m, (platform::WindowMessage{1225, 3, 0}));
    EXPECT_EQ(kxSetFileEndMsg(3, nullptr, 1225), 1);
    engine::PostFileEnd(3);
    EXPECT_EQ(window.PendingMessages(), 0u) << "a window handle of 0 disables the message";
}

TEST_F(PlayerApi, CloseStopsAPlayingPort) {
    OpenPort0();
    Port(0).playMode = PlaybackMode::Paused;
    EXPECT_EQ(kxCloseFile(0), 1);
    EXPECT_EQ(Port(0).playMode.load(), PlaybackMode::Stopped);
    EXPECT_EQ(Port(0).picture, nullptr);
    EXPECT_EQ(Port(0).video.buffer, nullptr);
    EXPECT_FALSE(Port(0).file.IsOpen());
}

}  // namespace
}  // namespace kestrel::testing
