// Cuts an Annex B byte stream into NAL units, across calls and at any cut of the input.
//
// A 24-bit window of the last three input bytes finds start codes (00 00 01) and
// emulation-prevention bytes (the 03 of 00 00 03, dropped). A unit is complete when the next
// start code has been seen; its trailing zero bytes and that start code are stripped.
#pragma once

#include <cstdint>

namespace kestrel::h264 {

class StartCodeScanner {
public:
    // buffer holds capacity bytes plus kBitReaderPadding bytes of padding.
    void Init(uint8_t* buffer, uint32_t capacity) {
        buffer_ = buffer;
        capacity_ = capacity;
        Restart();
    }

    // Back to "searching for the first start code" (creation, and after a flush).
    void Restart() {
        window_ = kWindowReset;
        state_ = kSearching;
        write_ = 0;
    }

    // Scans [p, end) until a NAL unit is complete or the input is exhausted; returns the
    // first unread byte. When *complete is set, unit() and unit_size() describe the unit
    // until the next call.
    const uint8_t* Scan(const uint8_t* p, const uint8_t* end, bool* complete);

    const uint8_t* unit() const { return buffer_; }
    uint32_t unit_size() const { return unit_size_; }
    uint32_t dropped_oversized() const { return dropped_oversized_; }

private:
    // Low three bytes 01 01 00: neither a start code nor an emulation-prevention pattern.
    static constexpr uint32_t kWindowReset = 0x010100;
    enum State : uint32_t { kSearching = 0, kInUnit = 1 };

    bool FinishUnit();

    uint8_t* buffer_ = nullptr;
    uint32_t capacity_ = 0;
    uint32_t window_ = kWindowReset;
    uint32_t state_ = kSearching;
    uint32_t write_ = 0;
    uint32_t unit_size_ = 0;
    uint32_t dropped_oversized_ = 0;
};

}  // namespace kestrel::h264
