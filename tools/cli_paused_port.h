// A port opened and held paused for the commands that step through pictures with kxNext.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>
#include <utility>

#include "engine/decoder_dispatch.h"
#include "engine/engine.h"
#include "engine/port_info.h"
#include "kestrel/kx.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "platform/window.h"

namespace kestrel::cli {

// Opens path on port, waits for its index (exact frame counts for the seeks) and leaves it
// paused with a decoder that has seen nothing yet, so that the pictures are those of a decode
// from the key frame a seek lands on (a decoder that keeps pictures back would otherwise still
// hold one from the play thread's first step). The engine runs on a tick that never fires: the
// play thread makes its one first step and waits. False when the file cannot be opened or
// played; the reason is then printed.
inline bool OpenPaused(int32_t port, const char* path, platform::MemoryWindow& window, const char* command) {
    static platform::ManualTick stillTick;
    engine::EnginePlatform platform;
    platform.tick = &stillTick;
    engine::SetEnginePlatform(std::move(platform));
    if (kxOpenFile(port, path) != 1) {
        std::fprintf(stderr, "kestrel-cli %s: %s: %s\n", command, path, engine::OpenFailureReason(port).c_str());
        return false;
    }
    engine::WaitForIndex(port, platform::kWaitForever);
    bool played = kxPlay(port, platform::ToHandle(&window)) == 1;
    engine::PlayerPort& p = engine::Port(port);
    while (played && p.playMode.load() == engine::PlaybackMode::Playing &&
           engine::TheEngine().tickEvent.Waiting() == 0)
        platform::SleepMs(1);
    // Play stops by itself when the first picture cannot be decoded.
    if (!played || kxPause(port) != 1 || p.playMode.load() != engine::PlaybackMode::Paused) {
        std::fprintf(stderr, "kestrel-cli %s: %s cannot be played\n", command, path);
        return false;
    }
    std::lock_guard<std::mutex> hold(p.bufferLock);
    engine::OpenDecoder(p, p.width, p.height);
    return true;
}

enum class NextPicture { Shown, End };

// One more picture with kxNext. A step that meets the end of the file first shows nothing and is
// repeated; the port stops after its last queued picture.
inline NextPicture StepPicture(int32_t port) {
    for (;;) {
        const uint32_t before = kxGetPlayedFrames(port);
        kxNext(port);
        if (engine::Port(port).playMode.load() != engine::PlaybackMode::Paused) return NextPicture::End;
        if (kxGetPlayedFrames(port) != before) return NextPicture::Shown;
    }
}

// The port's picture (planes Y, V, U), read while the port is paused.
inline std::span<const uint8_t> PausedPicture(int32_t port) {
    engine::PlayerPort& p = engine::Port(port);
    if (!p.picture) return {};
    return {p.picture.get(), size_t{p.width} * p.height * 3 / 2};
}

}  // namespace kestrel::cli
