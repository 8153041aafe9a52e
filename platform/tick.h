// The periodic engine tick: something that pulses an event every few milliseconds so that every
// waiting play thread wakes. Tests use ManualTick and fire it themselves.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/event.h"
#include "platform/thread.h"

namespace kestrel::platform {

class TickSource {
public:
    virtual ~TickSource() = default;
    // Begins pulsing tick every periodMs; false when the tick cannot be started.
    virtual bool Start(Event& tick, uint32_t periodMs) = 0;
    // Ends the pulses; no pulse arrives after Stop returns.
    virtual void Stop() = 0;
};

// One thread that sleeps to the next deadline and pulses the event.
class ThreadTick final : public TickSource {
public:
    ~ThreadTick() override { Stop(); }
    bool Start(Event& tick, uint32_t periodMs) override;
    void Stop() override;

private:
    Thread thread_;
    Event quit_{Event::Mode::ManualReset};
    bool running_ = false;
};

class ManualTick final : public TickSource {
public:
    bool Start(Event& tick, uint32_t periodMs) override;
    void Stop() override;
    // Pulses the event once if the tick is running; returns whether it did.
    bool Fire();
    bool Running() const { return event_.load() != nullptr; }
    uint32_t Period() const { return period_; }

private:
    std::atomic<Event*> event_{nullptr};
    uint32_t period_ = 0;
};

}  // namespace kestrel::platform
