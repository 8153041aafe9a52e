// The engine's decoder for codec type 2, the recorders' own codec (vdec3/vdec3.h).
#pragma once

#include <memory>

#include "engine/video_decoder.h"

namespace kestrel::engine {

// None when the decoder cannot be made for this size (the port then decodes nothing).
std::unique_ptr<VideoDecoder> CreateVdec3VideoDecoder(const VideoDecoderConfig& config);

}  // namespace kestrel::engine
