#include "platform/tick.h"

#include <chrono>

namespace kestrel::platform {

bool ThreadTick::Start(Event& tick, uint32_t periodMs) {
    if (running_ || periodMs == 0) return false;
    quit_.Reset();
    Event* target = &tick;
    bool started = thread_.Start([this, target, periodMs] {
        using namespace std::chrono;
        auto next = steady_clock::now();
        for (;;) {
            next += milliseconds(periodMs);
            auto now = steady_clock::now();
            if (next < now) next = now;  // after a stall, pick up the rhythm instead of bursting
            auto wait = duration_cast<milliseconds>(next - now).count();
            if (quit_.Wait(static_cast<uint32_t>(wait))) return;
            target->Pulse();
        }
    });
    running_ = started;
    return started;
}

void ThreadTick::Stop() {
    if (!running_) return;
    quit_.Set();
    thread_.Join();
    running_ = false;
}

bool ManualTick::Start(Event& tick, uint32_t periodMs) {
    if (event_.load() != nullptr) return false;
    period_ = periodMs;
    event_.store(&tick);
    return true;
}

void ManualTick::Stop() { event_.store(nullptr); }

bool ManualTick::Fire() {
    Event* e = event_.load();
    if (e == nullptr) return false;
    e->Pulse();
    return true;
}

}  // namespace kestrel::platform
