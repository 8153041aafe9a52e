// The player API: argument checks, state rules and error numbers of every kx function.
#include <cmath>

#include "engine/api_work.h"
#include "engine/audio_link.h"
#include "engine/engine.h"
#include "engine/open_file.h"
#include "engine/presentation_port.h"
#include "kestrel/kx.h"

using namespace kestrel::engine;

namespace {

bool EnsureEngine(PlayerPort& p) {
    if (TheEngine().engineReady.load() || InitEngine() == 1) return true;
    p.Fail(ERR_DISPLAY);
    return false;
}

// The pacing fields belong to the play step; a command that restarts pacing waits for the step
// in progress rather than writing them under it.
void RestartPacing(PlayerPort& p) {
    std::lock_guard<std::mutex> hold(p.bufferLock);
    ResetPacing(p);
}

int32_t Refuse(PlayerPort& p, int32_t error) {
    p.Fail(error);
    return 0;
}

}  // namespace

extern "C" {

int32_t kxReleaseDirectDraw(void) { return ReleaseEngine(); }

int32_t kxOpenFile(int32_t port, const char* path) {
    if (!ValidPort(port)) return 0;
    PlayerPort& p = Port(port);
    if (!EnsureEngine(p)) return 0;
    p.stopEvent.Set();
    if (p.open.load()) {
        StopIndexBuilder(p);  // the refused open still stops the builder; its partial totals stand
        return Refuse(p, ERR_OPEN);
    }
    // A builder left by an earlier failed open appends to the list about to be freed: end it first.
    StopIndexBuilder(p);
    p.doubleHeight = false;
    p.keyFrameIndex.Clear();
    if (!OpenPortFile(port, path)) return 0;
    if (!AllocatePortBuffers(p)) return 0;
    TheEngine().openPortCount.fetch_add(1);
    p.open = true;
    p.state = PortState::PortFile;
    {
        std::lock_guard<std::mutex> hold(p.bufferLock);
        PositionAtFirstKeyFrame(p);
    }
    return 1;
}

int32_t kxCloseFile(int32_t port) {
    if (!ValidPort(port)) return 0;
    PlayerPort& p = Port(port);
    Engine& e = TheEngine();
    p.stopEvent.Set();
    if (!p.open.load()) return Refuse(p, ERR_NOT_OPEN);
    const PlaybackMode mode = p.playMode.load();
    if (mode == PlaybackMode::Playing || mode == PlaybackMode::Paused) {
        p.playMode = PlaybackMode::Stopped;
        e.tickEvent.Set();
    }
    p.playThread.Join();  // sees Stopped at its next wake-up; no step runs on freed buffers
    if (p.audioActive.load()) ResetSoundOutput();
    StopIndexBuilder(p);  // it stops within one read; only then may its list go
    p.keyFrameIndex.Clear();
    p.indexComplete = false;
    {
        std::unique_lock<std::mutex> hold(p.bufferLock, std::defer_lock);
        if (e.engineReady.load()) hold.lock();
        p.video.Free();
        p.audio.Free();
        p.picture.reset();
        p.pictureCapacity = 0;
        p.audioDecode.reset();
        p.audioOutput.reset();
    }
    p.pictureSurface.reset();
    p.file.Close();
    uint32_t count = e.openPortCount.load();
    while (count > 0 && !e.openPortCount.compare_exchange_weak(count, count - 1)) {
    }
    p.open = false;
    return 1;
}

int32_t kxPlay(int32_t port, KxWindow window) {
    if (!ValidPort(port)) return 0;
    PlayerPort& p = Port(port);
    if (!EnsureEngine(p)) return 0;
    EnsurePictureSurface(port);
    p.videoWindow = window;
    if (p.state.load() == PortState::PortIdle) {
        p.playMode = PlaybackMode::Playing;
        return 1;
    }
    if (!p.open.load()) return Refuse(p, ERR_NOT_OPEN);
    switch (p.playMode.load()) {
        case PlaybackMode::Stopped:
            if (StartPlayback(port) == 0) return 0;
            PaintOverlayKey(port);
            return 1;
        case PlaybackMode::Paused:
            p.playMode = PlaybackMode::Playing;
            RestartPacing(p);
            PaintOverlayKey(port);
            return 1;
        case PlaybackMode::Playing:
            p.speedStep = kNormalSpeedStep;
            RestartPacing(p);
            return 1;
    }
    return 0;
}

int32_t kxPause(int32_t port) {
    if (!ValidPort(port)) return 0;
    PlayerPort& p = Port(port);
    if (p.state.load() != PortState::PortFile) return Refuse(p, ERR_STATE);
    PlaybackMode playing = PlaybackMode::Playing;
    p.playMode.compare_exchange_strong(playing, PlaybackMode::Paused);
    return 1;
}

int32_t kxStop(int32_t port) {
    if (!ValidPort(port)) return 0;
    PlayerPort& p = Port(port);
    if (p.playMode.exchange(PlaybackMode::Stopped) != PlaybackMode::Stopped) TheEngine().tickEvent.Set();
    return 1;
}

static int32_t ChangeSpeed(int32_t port, int32_t delta) {
    if (!ValidPort(port)) return 0;
    PlayerPort& p = Port(port);
    if (p.state.load() != PortState::PortFile) return Refuse(p, ERR_STATE);
    if (p.playMode.load() != PlaybackMode::Playing) return Refuse(p, ERR_STATE);
    const uint32_t step = p.speedStep.load();
    const uint32_t limit = delta > 0 ? kMaxSpeedStep : kMinSpeedStep;
    if (step == limit) return 0;
    p.speedStep = step + static_cast<uint32_t>(delta);
    RestartPacing(p);
    return 1;
}

int32_t kxPlayFast(int32_t port) { return ChangeSpeed(port, +1); }
int32_t kxPlaySlow(int32_t port) { return ChangeSpeed(port, -1); }

int32_t kxNext(int32_t port) {
    if (!ValidPort(port)) return 0;
    PlayerPort& p = Port(port);
    if (p.state.load() != PortState::PortFile) return Refuse(p, ERR_STATE);
    if (p.playMode.load() != PlaybackMode::Paused) return Refuse(p, ERR_STATE);
    return StepOneFrame(port);
}

int32_t kxOpenSound(int32_t port) {
    if (!ValidPort(port)) return 0;
    return OpenSoundPort(port);
}

int32_t kxCloseSound(int32_t) {
    for (PlayerPort& p : TheEngine().ports) {
        p.soundPort = false;
        p.audioActive = false;
    }
    CloseSoundOutput();
    return 1;
}

uint32_t kxGetPlayedTime(int32_t port) {
    if (!ValidPort(port)) return 0;
    PlayerPort& p = Port(port);
    if (!p.IsOpen()) return static_cast<uint32_t>(Refuse(p, ERR_NOT_OPEN));
    if (p.playMode.load() == PlaybackMode::Stopped) return 0;
    return p.playedTime.load();
}

uint32_t kxGetPlayedFrames(int32_t port) {
    if (!ValidPort(port)) return 0;
    PlayerPort& p = Port(port);
    if (!p.IsOpen()) return static_cast<uint32_t>(Refuse(p, ERR_NOT_OPEN));
    if (p.playMode.load() == PlaybackMode::Stopped) return 0;
    return p.playedFrames.load();
}

uint32_t kxGetFileTime(int32_t port) {
    if (!ValidPort(port)) return 0;
    PlayerPort& p = Port(port);
    if (!p.open.load()) return static_cast<uint32_t>(Refuse(p, ERR_NOT_OPEN));
    return p.durationMs.load();
}

uint32_t kxGetFileFrames(int32_t port) {
    if (!ValidPort(port)) return 0;
    PlayerPort& p = Port(port);
    if (p.indexComplete.load()) return p.totalFrames.load();
    if (!p.IsOpen()) return static_cast<uint32_t>(Refuse(p, ERR_NOT_OPEN));
    return p.totalFrames.load();
}

int32_t kxSnapPicture(int32_t port, const char* bmpPath) {
    if (!ValidPort(port)) return 0;
    PlayerPort& p = Port(port);
    if (p.state.load() == PortState::PortFile && !p.open.load()) return Refuse(p, ERR_NOT_OPEN);
    if (p.state.load() == PortState::PortIdle) return Refuse(p, ERR_NO_SOURCE);
    if (p.playMode.load() == PlaybackMode::Stopped) return Refuse(p, ERR_STATE);
    return SnapPicture(port, bmpPath);
}

int32_t kxSetPlayPosition(int32_t port, float position) {
    if (!ValidPort(port)) return 0;
    PlayerPort& p = Port(port);
    if (!p.IsOpen()) return Refuse(p, ERR_NOT_OPEN);
    if (std::isnan(position) || position < 0.0f || position > 1.0f) return Refuse(p, ERR_POSITION);
    if (p.playMode.load() == PlaybackMode::Stopped) return 0;
    if (!p.indexComplete.load()) return Refuse(p, ERR_STATE);
    return SeekToPosition(port, position);
}

int32_t kxSetPlayedFrames(int32_t port, uint32_t frame) {
    if (!ValidPort(port)) return 0;
    PlayerPort& p = Port(port);
    if (!p.IsOpen()) return Refuse(p, ERR_NOT_OPEN);
    if (p.playMode.load() == PlaybackMode::Stopped) return 0;
    if (frame > p.totalFrames.load()) return Refuse(p, ERR_POSITION);
    return SeekToFrame(port, frame);
}

int32_t kxRefresh(int32_t port) {
    if (!ValidPort(port)) return 0;
    PlayerPort& p = Port(port);
    if (p.playMode.load() != PlaybackMode::Paused) return Refuse(p, ERR_STATE);
    return RedrawPicture(port);
}

int32_t kxSetFileEndMsg(int32_t port, KxWindow window, uint32_t message) {
    if (!ValidPort(port)) return 0;
    PlayerPort& p = Port(port);
    p.fileEndMessage = message;
    p.fileEndWindow = window;
    return 1;
}

int32_t kxGetLastError(int32_t port) {
    if (!ValidPort(port)) return 0;
    return Port(port).lastError.load();
}

}  // extern "C"
