#include "platform/thread.h"

#include <chrono>
#include <system_error>

namespace kestrel::platform {

bool Thread::Start(std::function<void()> body) {
    if (thread_.joinable()) return false;
    auto finished = std::make_shared<Event>(Event::Mode::ManualReset);
    try {
        thread_ = std::thread([finished, body = std::move(body)] {
            body();
            finished->Set();
        });
    } catch (const std::system_error&) {
        return false;
    }
    finished_ = std::move(finished);
    return true;
}

bool Thread::WaitFor(uint32_t timeoutMs) {
    if (!thread_.joinable()) return true;
    if (!finished_->Wait(timeoutMs)) return false;
    thread_.join();
    finished_.reset();
    return true;
}

void Thread::Join() {
    if (!thread_.joinable()) return;
    thread_.join();
    finished_.reset();
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace kestrel::platform
