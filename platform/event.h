// Events with the semantics the engine's threads rely on: auto-reset (one waiter takes the
// signal), manual-reset (stays set until reset), and pulse (wakes whoever waits now, then
// leaves the event clear).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kestrel::platform {

inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

class Event {
public:
    enum class Mode { AutoReset, ManualReset };

    explicit Event(Mode mode, bool signalled = false) : mode_(mode), signalled_(signalled) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // Releases the threads waiting at this moment (all of them for a manual-reset event, one for
    // an auto-reset event) and leaves the event non-signalled; nobody waiting means no effect.
    void Pulse();
    // True when the event was signalled (or pulsed) within timeoutMs; an auto-reset event is
    // cleared by the waiter it releases. A time-out of 0 polls.
    bool Wait(uint32_t timeoutMs = kWaitForever);
    // Threads blocked in Wait now (tests use it to know that a pulse will find its waiters).
    uint32_t Waiting();

private:
    const Mode mode_;
    std::mutex lock_;  // guards the three fields below
    std::condition_variable changed_;
    bool signalled_;
    uint64_t pulses_ = 0;       // manual-reset pulses so far
    uint32_t pulseTickets_ = 0; // auto-reset pulses not yet taken by a waiter
    uint32_t waiters_ = 0;
};

}  // namespace kestrel::platform
