// The engine's millisecond clock: 32 bits that wrap about every 49.7 days, like the multimedia
// clock the pacing arithmetic was designed for. Tests swap in a clock they move by hand.
#pragma once

#include <atomic>
#include <cstdint>

namespace kestrel::platform {

class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t NowMs() = 0;
};

// Monotonic milliseconds since an arbitrary start, truncated to 32 bits.
Clock& SystemClock();

class ManualClock final : public Clock {
public:
    explicit ManualClock(uint32_t start = 0) : now_(start) {}
    uint32_t NowMs() override { return now_.load(std::memory_order_acquire); }
    void Set(uint32_t ms) { now_.store(ms, std::memory_order_release); }
    void Advance(uint32_t ms) { now_.fetch_add(ms, std::memory_order_acq_rel); }

private:
    std::atomic<uint32_t> now_;
};

}  // namespace kestrel::platform
