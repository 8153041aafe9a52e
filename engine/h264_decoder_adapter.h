// The engine's decoder for codec type 1, H.264 (h264/h264dec.h).
#pragma once

#include <memory>

#include "engine/video_decoder.h"

namespace kestrel::engine {

// None when no decoder instance can be made (the port then decodes nothing).
std::unique_ptr<VideoDecoder> CreateH264VideoDecoder(const VideoDecoderConfig& config);

}  // namespace kestrel::engine
