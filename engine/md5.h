// MD5 (RFC 1321) of pictures, for tools that print frame digests.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace kestrel::engine {

class Md5 {
public:
    Md5();
    void Update(std::span<const uint8_t> data);
    std::array<uint8_t, 16> Finish();
    // Lower-case hexadecimal digest; the object starts again afterwards.
    std::string FinishHex();

private:
    void Block(const uint8_t* block);
    std::array<uint32_t, 4> state_;
    uint64_t length_ = 0;
    std::array<uint8_t, 64> pending_{};
    size_t pendingBytes_ = 0;
};

}  // namespace kestrel::engine
