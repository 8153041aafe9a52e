#include "engine/engine.h"

#include "engine/audio_link.h"
#include "engine/mpeg4_decoder.h"
#include "platform/memory_display.h"

namespace kestrel::engine {
namespace {

platform::DisplayFactory DefaultDisplay() {
    platform::MemoryDisplayConfig config;
    config.caps.bltFourcc = config.caps.bltStretch = true;
    config.caps.localVidMem = true;
    return platform::MemoryDisplayFactory(std::make_shared<platform::MemoryDisplayControl>(config));
}

EnginePlatform DefaultPlatform() {
    EnginePlatform p;
    p.display = DefaultDisplay();
    return p;
}

bool CreateDisplay(Engine& e) {
    if (!e.platform.display) return false;
    e.display = e.platform.display();
    return e.display != nullptr;
}

bool CreatePrimary(Engine& e) {
    if (e.display->CreatePrimary(e.primary) != platform::DisplayResult::Ok) {
        e.primary.reset();
        return false;
    }
    if (e.display->CreateClipper(e.clipper) != platform::DisplayResult::Ok) {
        e.clipper.reset();
        return false;
    }
    return true;
}

platform::TickSource& Tick(Engine& e) {
    if (e.platform.tick) return *e.platform.tick;
    if (!e.defaultTick) e.defaultTick = std::make_unique<platform::ThreadTick>();
    return *e.defaultTick;
}

}  // namespace

Engine& TheEngine() {
    static Engine* engine = [] {
        auto* e = new Engine;  // lives as long as the process: threads may still see it at exit
        e->platform = DefaultPlatform();
        return e;
    }();
    return *engine;
}

platform::Clock& EngineClock() {
    Engine& e = TheEngine();
    return e.platform.clock ? *e.platform.clock : platform::SystemClock();
}

bool SetEnginePlatform(EnginePlatform p) {
    Engine& e = TheEngine();
    std::lock_guard<std::mutex> hold(e.teardownLock);
    if (e.engineReady.load()) return false;
    if (!p.display) p.display = DefaultDisplay();
    e.platform = std::move(p);
    return true;
}

bool ResetEnginePlatform() { return SetEnginePlatform(DefaultPlatform()); }

bool AllocationRefused(Allocation what, size_t bytes) {
    const auto& fail = TheEngine().platform.failAllocation;
    return fail && fail(what, bytes);
}

int32_t InitEngine() {
    Engine& e = TheEngine();
    std::lock_guard<std::mutex> hold(e.teardownLock);
    if (e.engineReady.load()) return 1;

    // Locks and events are members of the table, made once with the program; a start that
    // failed before leaves nothing to make twice.
    for (PlayerPort& p : e.ports) {
        p.lastError = ERR_NONE;
        p.soundPort = false;
        p.open = false;
        p.videoWindow = nullptr;
        p.pictureSurface.reset();
        p.surfaceFormatIndicator = 1;
        p.pictureCopy = PictureCopy::Yuy2;
        p.fileEndWindow = nullptr;
        p.keyFrameIndex.Clear();
        p.indexComplete = false;
        p.state = PortState::PortIdle;
        p.video.Free();
        p.audio.Free();
        p.picture.reset();
        p.pictureCapacity = 0;
        p.packetBufferFactor = kPacketBufferFactor;
        p.file.Close();
        p.stopEvent.Reset();
    }

    if (!e.display) {
        if (!CreateDisplay(e)) {
            for (PlayerPort& p : e.ports) p.lastError = ERR_DIRECTDRAW;
            return 0;
        }
        InitMpeg4Library();
        e.mpeg4LibraryReady = true;
    }
    if (!e.primary) {
        if (!CreatePrimary(e))
            for (PlayerPort& p : e.ports) p.lastError = ERR_DISPLAY;
    }
    RegisterBuiltinVideoDecoders();
    FillAudioFormatTable();
    e.engineReady = true;

    e.tickEvent.Reset();
    e.tickRunning = Tick(e).Start(e.tickEvent, kTickPeriodMs);
    return 1;
}

int32_t ReleaseEngine() {
    Engine& e = TheEngine();
    if (!e.engineReady.load()) return 1;

    e.tickEvent.Set();  // wakes every play thread
    if (e.tickRunning) Tick(e).Stop();
    e.tickRunning = false;
    platform::SleepMs(20);

    std::lock_guard<std::mutex> hold(e.teardownLock);
    for (PlayerPort& p : e.ports) p.playMode = PlaybackMode::Stopped;
    // No thread outlives the engine: play threads see Stopped at once, builders within one read.
    for (PlayerPort& p : e.ports) {
        p.playThread.Join();
        StopIndexBuilder(p);
    }
    if (e.display) {
        for (PlayerPort& p : e.ports) p.pictureSurface.reset();
        e.clipper.reset();
        e.primary.reset();
        e.display.reset();
    }
    e.presentation.Reset();
    e.engineReady = false;
    e.tickEvent.Reset();
    return 1;
}

void StopIndexBuilder(PlayerPort& port) {
    if (!port.indexThread.Held()) return;
    port.stopEvent.Set();
    port.indexThread.Join();
}

void ResetPacing(PlayerPort& port) {
    port.pacing.clockStart = 0;
    port.pacing.resyncPending = 1;
    port.pacing.skippedTime = 0;
    port.pacing.lastVideoValid = false;
}

void PostFileEnd(int32_t port) {
    PlayerPort& p = Port(port);
    KxWindow target = p.fileEndWindow.load();
    if (target == nullptr) return;
    platform::FromHandle(target)->Post({p.fileEndMessage.load(), static_cast<uintptr_t>(port), 0});
}

}  // namespace kestrel::engine
