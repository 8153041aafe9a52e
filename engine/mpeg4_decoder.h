// MPEG-4 Part 2 through xvidcore: the adapter for codec type 0.
#pragma once

#include <memory>

#include "engine/video_decoder.h"

namespace kestrel::engine {

// Once per engine start, before any instance is made.
void InitMpeg4Library();

std::unique_ptr<VideoDecoder> CreateMpeg4VideoDecoder(const VideoDecoderConfig& config);

}  // namespace kestrel::engine
