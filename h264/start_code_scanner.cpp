#include "h264/start_code_scanner.h"

#include <cstring>

#include "h264/bit_reader.h"

namespace kestrel::h264 {

bool StartCodeScanner::FinishUnit() {
    // The buffer ends with the 00 00 01 just seen, possibly after zero bytes.
    uint32_t n = write_ >= 3 ? write_ - 3 : 0;
    while (n > 0 && buffer_[n - 1] == 0) --n;
    unit_size_ = n;
    std::memset(buffer_ + n, 0, kBitReaderPadding);
    write_ = 0;
    return true;
}

const uint8_t* StartCodeScanner::Scan(const uint8_t* p, const uint8_t* end, bool* complete) {
    *complete = false;
    while (p < end) {
        if (state_ == kInUnit && (window_ & 0xFFFF) != 0 && write_ < capacity_) {
            // The next byte cannot complete 00 00 01 or 00 00 03, and no byte of a run of
            // non-zero bytes can either: copy the run in one go.
            const void* z = std::memchr(p, 0, static_cast<size_t>(end - p));
            uint32_t run = static_cast<uint32_t>((z ? static_cast<const uint8_t*>(z) : end) - p);
            uint32_t room = capacity_ - write_;
            if (run > room) run = room;
            if (run > 0) {
                std::memcpy(buffer_ + write_, p, run);
                write_ += run;
                if (run >= 3)
                    window_ = (uint32_t{p[run - 3]} << 16) | (uint32_t{p[run - 2]} << 8) | p[run - 1];
                else
                    for (uint32_t i = 0; i < run; ++i) window_ = ((window_ << 8) | p[i]) & 0xFFFFFF;
                p += run;
                continue;
            }
        }
        if (write_ >= capacity_) {
            // An oversized unit is dropped whole; collecting resumes after the next start code.
            write_ = 0;
            state_ = kSearching;
            ++dropped_oversized_;
        }
        uint8_t b = *p++;
        window_ = ((window_ << 8) | b) & 0xFFFFFF;
        if (state_ == kInUnit && window_ != 0x000003) buffer_[write_++] = b;
        if (window_ == 0x000001) {
            if (state_ == kSearching) {
                state_ = kInUnit;
                write_ = 0;
            } else {
                *complete = FinishUnit();
                return p;
            }
        }
    }
    return p;
}

}  // namespace kestrel::h264
