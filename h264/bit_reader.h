// MSB-first reader over one NAL unit (emulation-prevention bytes already removed).
//
// The buffer behind the unit carries at least kBitReaderPadding zero bytes, and the position is
// clamped a little past the unit's end, so a damaged unit can be read on without touching
// memory outside the buffer: past the end every read yields zero bits.
#pragma once

#include <cstdint>
#include <cstring>

namespace kestrel::h264 {

inline constexpr uint32_t kBitReaderPadding = 32;

class BitReader {
public:
    // end_bit: bit offset of the start of the unit's last byte (the one with the stop bit).
    void Init(const uint8_t* data, uint32_t size_bytes, uint32_t end_bit) {
        data_ = data;
        pos_ = 0;
        end_ = end_bit;
        limit_ = (size_bytes + 8) * 8;
        error_ = false;
    }

    // The next 32 bits without consuming them.
    uint32_t Peek32() const {
        uint64_t v;
        std::memcpy(&v, data_ + (pos_ >> 3), 8);
        v = __builtin_bswap64(v);
        return static_cast<uint32_t>((v << (pos_ & 7)) >> 32);
    }

    // At least 57 bits from the position, left-aligned (the hot loops of CAVLC).
    uint64_t Peek64() const {
        uint64_t v;
        std::memcpy(&v, data_ + (pos_ >> 3), 8);
        return __builtin_bswap64(v) << (pos_ & 7);
    }

    void Skip(uint32_t n) {
        pos_ += n;
        pos_ = pos_ < limit_ ? pos_ : limit_;
    }

    // n in 1..32.
    uint32_t U(uint32_t n) {
        uint32_t v = Peek32() >> (32 - n);
        Skip(n);
        return v;
    }

    uint32_t U1() {
        uint32_t v = Peek32() >> 31;
        Skip(1);
        return v;
    }

    // ue(v). A code with 32 or more leading zeros is invalid: it sets the error flag and
    // reads as 0xFFFFFFFF, which every range check refuses.
    uint32_t Ue() {
        uint32_t w = Peek32();
        if (w >= 0x10000u) {
            uint32_t lz = static_cast<uint32_t>(__builtin_clz(w));
            Skip(2 * lz + 1);
            return (w >> (31 - 2 * lz)) - 1;
        }
        if (w == 0) {
            error_ = true;
            Skip(32);
            return 0xFFFFFFFFu;
        }
        uint32_t lz = static_cast<uint32_t>(__builtin_clz(w));
        Skip(lz);
        uint64_t code = U(lz + 1);
        return static_cast<uint32_t>(code - 1);
    }

    // se(v): k odd gives (k + 1) / 2, k even gives -k / 2.
    int32_t Se() {
        uint32_t k = Ue();
        int64_t v = (k & 1) ? (static_cast<int64_t>(k) + 1) / 2 : -static_cast<int64_t>(k / 2);
        return static_cast<int32_t>(v);
    }

    // te(v) for a range of at least 1.
    uint32_t Te(uint32_t range) { return range == 1 ? (U1() ^ 1) : Ue(); }

    bool MoreRbspData() const {
        if (pos_ < end_) return true;
        if (pos_ >= end_ + 8) return false;
        uint32_t rest = 8 - (pos_ - end_);  // bits left in the last byte
        uint32_t bits = data_[end_ >> 3] & ((1u << rest) - 1);
        // zeros only: the stop bit lies behind us, so the unit is damaged and ends here
        return bits != 0 && bits != (1u << (rest - 1));
    }

    bool ByteAligned() const { return (pos_ & 7) == 0; }
    void AlignToByte() { Skip((8 - (pos_ & 7)) & 7); }
    const uint8_t* BytePointer() const { return data_ + (pos_ >> 3); }

    // Whole bytes between the position and the end of the unit's data (clamped at 0).
    uint32_t BytesLeft() const {
        const uint32_t size = limit_ / 8 - 8, at = (pos_ + 7) / 8;
        return at < size ? size - at : 0;
    }

    uint32_t position() const { return pos_; }
    uint32_t end() const { return end_; }
    bool error() const { return error_; }
    bool past_end() const { return pos_ > end_ + 8; }
    void set_error() { error_ = true; }

private:
    const uint8_t* data_ = nullptr;
    uint32_t pos_ = 0;
    uint32_t end_ = 0;
    uint32_t limit_ = 0;
    bool error_ = false;
};

}  // namespace kestrel::h264
