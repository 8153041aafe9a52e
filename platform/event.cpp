#include "platform/event.h"

#include <chrono>

namespace kestrel::platform {

void Event::Set() {
    std::lock_guard<std::mutex> hold(lock_);
    signalled_ = true;
    if (mode_ == Mode::ManualReset)
        changed_.notify_all();
    else
        changed_.notify_one();
}

void Event::Reset() {
    std::lock_guard<std::mutex> hold(lock_);
    signalled_ = false;
}

void Event::Pulse() {
    std::lock_guard<std::mutex> hold(lock_);
    signalled_ = false;
    if (waiters_ == 0) return;
    if (mode_ == Mode::ManualReset) {
        ++pulses_;
        changed_.notify_all();
    } else if (pulseTickets_ < waiters_) {
        ++pulseTickets_;
        changed_.notify_all();  // the ticket goes to whichever waiter wakes first
    }
}

uint32_t Event::Waiting() {
    std::lock_guard<std::mutex> hold(lock_);
    return waiters_;
}

bool Event::Wait(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> hold(lock_);
    const uint64_t pulsesAtStart = pulses_;
    auto released = [&] { return signalled_ || pulses_ != pulsesAtStart || pulseTickets_ > 0; };
    bool woke;
    if (timeoutMs == 0) {
        // A poll never sleeps (a condition wait with an expired time-out may still schedule).
        if (!signalled_ && pulseTickets_ == 0) return false;
        if (mode_ == Mode::AutoReset) {
            if (signalled_)
                signalled_ = false;
            else
                --pulseTickets_;
        }
        return true;
    }
    ++waiters_;
    if (timeoutMs == kWaitForever) {
        changed_.wait(hold, released);
        woke = true;
    } else {
        woke = changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), released);
    }
    --waiters_;
    if (!woke) return false;
    if (mode_ == Mode::AutoReset) {
        if (signalled_)
            signalled_ = false;
        else if (pulses_ == pulsesAtStart && pulseTickets_ > 0)
            --pulseTickets_;
    }
    return true;
}

}  // namespace kestrel::platform
