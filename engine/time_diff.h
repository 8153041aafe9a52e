// Distance between two 32-bit millisecond stamps, the engine's one rule for elapsed time.
#pragma once

#include <cstdint>

namespace kestrel::engine {

// later - earlier when later >= earlier; otherwise earlier - later + 0x7FFFFFFF (a stamp that went
// backwards reads as a distance near 2^31), all in 32-bit unsigned arithmetic.
constexpr uint32_t TimeDiff(uint32_t later, uint32_t earlier) {
    return later >= earlier ? later - earlier : earlier - later + 0x7FFFFFFFu;
}

}  // namespace kestrel::engine
