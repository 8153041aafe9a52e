// Ring of buffer indices waiting to be returned to the caller.
#pragma once

#include <cstdint>

namespace kestrel::h264 {

class OutputQueue {
public:
    static constexpr uint32_t kEntries = 64;

    // Refuses (returns false) when full instead of overwriting entries not yet taken.
    bool Push(uint32_t buffer_index) {
        if (write_ - read_ == kEntries) return false;
        entries_[write_ % kEntries] = buffer_index;
        ++write_;
        return true;
    }

    // Skips void entries (index not below buffer_count); false when empty.
    bool Pop(uint32_t buffer_count, uint32_t* buffer_index) {
        while (read_ != write_) {
            uint32_t& e = entries_[read_ % kEntries];
            ++read_;
            uint32_t index = e;
            e = kVoid;
            if (index < buffer_count) {
                *buffer_index = index;
                return true;
            }
        }
        return false;
    }

    // Makes every waiting entry for this buffer void.
    void Remove(uint32_t buffer_index) {
        for (uint32_t i = read_; i != write_; ++i)
            if (entries_[i % kEntries] == buffer_index) entries_[i % kEntries] = kVoid;
    }

    uint32_t size() const { return write_ - read_; }
    void Clear() { read_ = write_ = 0; }

private:
    static constexpr uint32_t kVoid = 0xFFFFFFFFu;
    uint32_t entries_[kEntries] = {};
    uint32_t read_ = 0;
    uint32_t write_ = 0;
};

}  // namespace kestrel::h264
