#include "engine/md5.h"

#include <cmath>
#include <algorithm>
#include <cstring>

namespace kestrel::engine {
namespace {

// Per-round rotations, RFC 1321 clause 3.4.
constexpr uint32_t kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

// T[i] = floor(2^32 * |sin(i + 1)|), RFC 1321 clause 3.4.
const std::array<uint32_t, 64>& SineTable() {
    static const std::array<uint32_t, 64> t = [] {
        std::array<uint32_t, 64> v{};
        for (int i = 0; i < 64; ++i) v[i] = static_cast<uint32_t>(std::floor(std::fabs(std::sin(i + 1.0)) * 4294967296.0));
        return v;
    }();
    return t;
}

constexpr uint32_t Rotl(uint32_t x, uint32_t n) { return x << n | x >> (32 - n); }

}  // namespace

Md5::Md5() : state_{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u} {}

void Md5::Block(const uint8_t* p) {
    const auto& t = SineTable();
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = uint32_t{p[4 * i]} | uint32_t{p[4 * i + 1]} << 8 | uint32_t{p[4 * i + 2]} << 16 | uint32_t{p[4 * i + 3]} << 24;
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (uint32_t i = 0; i < 64; ++i) {
        uint32_t f, g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const uint32_t next = b + Rotl(a + f + t[i] + m[g], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void Md5::Update(std::span<const uint8_t> data) {
    length_ += data.size();
    size_t at = 0;
    if (pendingBytes_ > 0) {
        const size_t take = std::min(data.size(), 64 - pendingBytes_);
        std::memcpy(pending_.data() + pendingBytes_, data.data(), take);
        pendingBytes_ += take;
        at = take;
        if (pendingBytes_ < 64) return;
        Block(pending_.data());
        pendingBytes_ = 0;
    }
    for (; at + 64 <= data.size(); at += 64) Block(data.data() + at);
    std::memcpy(pending_.data(), data.data() + at, data.size() - at);
    pendingBytes_ = data.size() - at;
}

std::array<uint8_t, 16> Md5::Finish() {
    const uint64_t bits = length_ * 8;
    uint8_t pad[72] = {0x80};
    const size_t padBytes = (pendingBytes_ < 56 ? 56 : 120) - pendingBytes_;
    Update({pad, padBytes});
    uint8_t len[8];
    for (int i = 0; i < 8; ++i) len[i] = static_cast<uint8_t>(bits >> (8 * i));
    Update({len, 8});
    std::array<uint8_t, 16> out;
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k) out[4 * i + k] = static_cast<uint8_t>(state_[i] >> (8 * k));
    *this = Md5();
    return out;
}

std::string Md5::FinishHex() {
    static const char* hex = "0123456789abcdef";
    std::string s;
    for (uint8_t b : Finish()) {
        s += hex[b >> 4];
        s += hex[b & 15];
    }
    return s;
}

}  // namespace kestrel::engine
