// Decodes a port's video in file order, from the first key frame, without pacing or
// presentation, through the port's own queues, size checks and decoder: for tools that read
// the pictures out of a recording.
#pragma once

#include <cstdint>
#include <span>

namespace kestrel::engine {

class FrameWalker {
public:
    enum class Step {
        Picture,    // a video packet was decoded; Picture() holds the result
        NoPicture,  // the decoder produced nothing for this packet
        End,
        Failed,     // a picture size change could not get its buffers
    };

    explicit FrameWalker(int32_t port);
    Step Next();
    // The port's picture: width * height * 3 / 2 bytes, planes Y, V, U.
    std::span<const uint8_t> Picture() const;
    uint32_t Width() const;
    uint32_t Height() const;
    uint32_t VideoPackets() const { return packets_; }

private:
    int32_t port_;
    bool started_ = false;
    uint32_t packets_ = 0;
};

}  // namespace kestrel::engine
