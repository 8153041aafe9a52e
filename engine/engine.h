// The engine-wide objects and the engine's start and stop.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>

#include "engine/player_port.h"
#include "engine/presentation.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/event.h"
#include "platform/tick.h"

namespace kestrel::engine {

inline constexpr uint32_t kTickPeriodMs = 5;

// Where a port's memory comes from while opening; tests make chosen steps fail.
enum class Allocation { PacketBuffer, PictureBuffer, AudioCodec, AudioBuffers, ScanBlock };

// What the engine reaches the machine through. Defaults: a headless memory display with YUY2
// blitting, a thread pulsing the tick, the monotonic clock, no injected failures.
struct EnginePlatform {
    platform::DisplayFactory display;
    platform::TickSource* tick = nullptr;
    platform::Clock* clock = nullptr;
    std::function<bool(Allocation what, size_t bytes)> failAllocation;
    // Called by the index builder before each of its reads (a slow disk, for tests).
    std::function<void(uint64_t offset)> beforeIndexRead;
    // Called by the frame seek's scan (no complete index) with the offset of each header it reads.
    std::function<void(uint64_t offset)> beforeScanRead;
};

// Replaces the platform; refused (false) while the engine is running.
bool SetEnginePlatform(EnginePlatform platform);
// Back to the defaults (also refused while running).
bool ResetEnginePlatform();

struct Engine {
    std::array<PlayerPort, KX_PORT_COUNT> ports;
    std::atomic<bool> engineReady{false};
    std::atomic<uint32_t> openPortCount{0};
    std::atomic<uint32_t> playThreadCount{0};

    std::unique_ptr<platform::Display> display;
    std::unique_ptr<platform::Surface> primary;
    std::unique_ptr<platform::Clipper> clipper;
    PresentationState presentation;  // the display-lost flag, the overlay key and where it was painted

    platform::Event tickEvent{platform::Event::Mode::ManualReset};
    bool tickRunning = false;

    std::mutex indexLock;     // held by an index builder for its whole run: one builder at a time
    std::mutex teardownLock;  // start-up and teardown of the engine
    std::mutex drawLock;      // every presentation of a picture

    bool mpeg4LibraryReady = false;
    std::atomic<bool> audioCodecCreated{false};  // opens of different ports may run at once

    EnginePlatform platform;
    std::unique_ptr<platform::ThreadTick> defaultTick;
};

Engine& TheEngine();
inline bool ValidPort(int32_t port) { return port >= 0 && port < KX_PORT_COUNT; }
inline PlayerPort& Port(int32_t port) { return TheEngine().ports[static_cast<size_t>(port)]; }
platform::Clock& EngineClock();

// 1 on success, 0 when the display cannot be created (every port then reads ERR_DIRECTDRAW).
int32_t InitEngine();
int32_t ReleaseEngine();

// Allocation that honours injected failures; none on failure.
template <typename T>
std::unique_ptr<T[]> AllocateArray(Allocation what, size_t count) {
    const auto& fail = TheEngine().platform.failAllocation;
    if (fail && fail(what, count * sizeof(T))) return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}
bool AllocationRefused(Allocation what, size_t bytes);

// Stops and joins the port's index builder.
void StopIndexBuilder(PlayerPort& port);
// Re-anchors pacing on the packets at the heads of the queues at the next step. The caller holds
// the port's bufferLock.
void ResetPacing(PlayerPort& port);
// Posts the file-end message to the registered window, if any, without waiting.
void PostFileEnd(int32_t port);

}  // namespace kestrel::engine
