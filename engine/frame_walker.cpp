#include "engine/frame_walker.h"

#include <mutex>

#include "engine/decoder_dispatch.h"
#include "engine/engine.h"
#include "engine/open_file.h"

namespace kestrel::engine {

FrameWalker::FrameWalker(int32_t port) : port_(port) {}

FrameWalker::Step FrameWalker::Next() {
    if (!ValidPort(port_) || !Port(port_).open.load()) return Step::End;
    PlayerPort& p = Port(port_);
    std::lock_guard<std::mutex> hold(p.bufferLock);
    if (!started_) {
        started_ = true;
        p.video.Empty();
        p.audio.Empty();
        p.readAhead = true;
        p.pacing.waitKeyFrame = true;
        PositionAtFirstKeyFrame(p);
    }
    for (;;) {
        if (p.video.packets == 0) RefillQueues(port_);
        // Audio is not played here: drop whatever was read ahead.
        p.audio.Empty();
        if (p.video.packets == 0) {
            if (!p.readAhead) return Step::End;
            continue;
        }
        const PacketHeader h = PacketHeader::From(p.video.Head());
        const uint32_t length = h.PayloadLength();
        auto consume = [&] {
            p.video.readPos += kHeaderBytes + length;
            p.video.bytes -= kHeaderBytes + length;
            p.video.packets -= 1;
        };
        if (p.pacing.waitKeyFrame && !h.IsKeyFrame()) {
            consume();
            continue;
        }
        p.pacing.waitKeyFrame = false;
        if (!CheckPictureSize(port_, h)) return Step::Failed;
        // Only now: a size change moves the queued bytes into a new buffer.
        const uint8_t* payload = p.video.Head() + kHeaderBytes;
        const uint32_t produced = DecodeVideoPacket(port_, payload, length, h.IsKeyFrame());
        consume();
        ++packets_;
        return produced != 0 ? Step::Picture : Step::NoPicture;
    }
}

std::span<const uint8_t> FrameWalker::Picture() const {
    PlayerPort& p = Port(port_);
    if (!p.picture) return {};
    return {p.picture.get(), size_t{p.width} * p.height * 3 / 2};
}

uint32_t FrameWalker::Width() const { return Port(port_).width; }
uint32_t FrameWalker::Height() const { return Port(port_).height; }

}  // namespace kestrel::engine
