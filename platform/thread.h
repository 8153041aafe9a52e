// A joinable thread that can also be waited for with a time-out.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "platform/event.h"

namespace kestrel::platform {

class Thread {
public:
    Thread() = default;
    ~Thread() { Join(); }
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts body on a new thread; false when no thread could be created (or one is still held).
    bool Start(std::function<void()> body);
    // True once the body has returned (the thread is then joined and the handle released).
    bool WaitFor(uint32_t timeoutMs);
    // Waits without limit; does nothing when no thread is held.
    void Join();
    bool Held() const { return thread_.joinable(); }

private:
    std::thread thread_;
    std::shared_ptr<Event> finished_;
};

void SleepMs(uint32_t ms);

}  // namespace kestrel::platform
