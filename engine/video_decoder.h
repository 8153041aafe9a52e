// The engine's decoder contract. One instance per port, made for the port's picture size when a
// file is opened and again when the picture size changes; it decodes one packet payload at a
// time straight into the port's picture buffer, and is destroyed with its object.
//
// Picture buffer: planar 4:2:0 in the order Y, V (Cr), U (Cb), rows of width and width / 2 bytes
// without padding: Y at 0, V at width * height, U at width * height * 5 / 4. The buffer holds
// 2 * width * height bytes; a decoder writes at most the picture's width * height * 3 / 2.
//
// Adding an adapter from another library: define a factory of type VideoDecoderFactory and, in
// that library's CMakeLists.txt (processed before engine/),
//     set_property(GLOBAL APPEND PROPERTY KESTREL_VIDEO_DECODERS "<codec>:<target>:<factory>")
// e.g. "1:kestrel_h264:kestrel::engine::CreateH264VideoDecoder". The engine links the target and
// registers the factory for that codec type at engine start.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace kestrel::engine {

struct VideoDecoderConfig {
    uint32_t width = 0, height = 0;   // the port's picture size
    uint32_t outputFormat = 0x601;    // planar 4:2:0, one byte per sample (the third codec's code)
};

struct DecodeRequest {
    std::span<const uint8_t> payload;  // the whole packet payload, a key frame's date-time included
    bool keyFrame = false;             // the packet header's frame kind says key frame
    std::span<uint8_t> picture;        // the port's picture buffer (2 * width * height bytes)
    uint32_t width = 0, height = 0;    // the port's picture size
    bool fast = false;                 // many ports play: skip post-filters (quality = !fast)
    uint32_t playThreadCount = 0;      // play threads running at the moment
};

class VideoDecoder {
public:
    virtual ~VideoDecoder() = default;
    // Non-zero when a picture is in the buffer after the call (the byte count of the picture, or
    // for a codec that reports it, the bytes consumed); 0 means no picture and ends playback.
    virtual uint32_t Decode(const DecodeRequest& request) = 0;
};

// Returns none when no instance can be made (the port then decodes nothing).
using VideoDecoderFactory = std::unique_ptr<VideoDecoder> (*)(const VideoDecoderConfig& config);

inline constexpr uint32_t kVideoCodecSlots = 3;  // codec types 0, 1, 2; type 3 has no decoder

// Registers (or replaces) the factory for a codec type; false for a type without a slot.
bool RegisterVideoDecoder(uint32_t codecType, VideoDecoderFactory factory);
VideoDecoderFactory FindVideoDecoder(uint32_t codecType);
// Registers the adapters built into this program (MPEG-4 and those named by the build).
void RegisterBuiltinVideoDecoders();

}  // namespace kestrel::engine
