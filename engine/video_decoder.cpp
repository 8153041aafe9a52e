#include "engine/video_decoder.h"

#include <array>
#include <atomic>

namespace kestrel::engine {
namespace {

std::array<std::atomic<VideoDecoderFactory>, kVideoCodecSlots> factories{};

}  // namespace

bool RegisterVideoDecoder(uint32_t codecType, VideoDecoderFactory factory) {
    if (codecType >= kVideoCodecSlots) return false;
    factories[codecType].store(factory);
    return true;
}

VideoDecoderFactory FindVideoDecoder(uint32_t codecType) {
    if (codecType >= kVideoCodecSlots) return nullptr;
    return factories[codecType].load();
}

}  // namespace kestrel::engine
