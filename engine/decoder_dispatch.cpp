#include "engine/decoder_dispatch.h"

#include <algorithm>
#include <cstring>

#include "engine/api_work.h"
#include "engine/engine.h"

namespace kestrel::engine {

bool OpenDecoder(PlayerPort& p, uint32_t width, uint32_t height) {
    for (uint32_t kind = 0; kind < kVideoCodecSlots; ++kind) {
        if (!p.decoderCreated[kind]) continue;
        p.decoders[kind].reset();
        p.decoderCreated[kind] = false;
    }
    if (p.codecType >= kVideoCodecSlots) return false;
    const VideoDecoderFactory factory = FindVideoDecoder(p.codecType);
    if (factory != nullptr) p.decoders[p.codecType] = factory(VideoDecoderConfig{width, height, 0x601});
    p.decoderCreated[p.codecType] = true;
    return true;
}

namespace {

void Compact(PacketQueue& q) {
    if (q.bytes > 0 && q.readPos > 0) std::memmove(q.buffer.get(), q.buffer.get() + q.readPos, q.bytes);
    q.readPos = 0;
}

enum class Append { Done, Skipped, NoRoom, ShortRead };

// Reads the payload behind the header just read into the queue. A packet larger than the whole
// buffer is damaged and passed over; one that only lacks room now is left for the next refill.
Append AppendPacket(PlayerPort& p, PacketQueue& q, uint32_t length) {
    const size_t packetBytes = kHeaderBytes + size_t{length};
    if (packetBytes > q.capacity) {
        return p.file.Seek(length, platform::File::Origin::Current) >= 0 ? Append::Skipped : Append::ShortRead;
    }
    if (q.readPos + q.bytes + packetBytes > q.capacity) {
        p.file.Seek(-int64_t{kHeaderBytes}, platform::File::Origin::Current);
        return Append::NoRoom;
    }
    uint8_t* at = q.buffer.get() + q.readPos + q.bytes;
    std::memcpy(at, p.currentHeader.bytes.data(), kHeaderBytes);
    if (p.file.Read(at + kHeaderBytes, length) < static_cast<int64_t>(length)) return Append::ShortRead;
    q.bytes += packetBytes;
    q.packets += 1;
    return Append::Done;
}

}  // namespace

bool RefillQueues(int32_t port) {
    PlayerPort& p = Port(port);
    if (!p.readAhead) return true;
    if (p.video.packets >= 1 && p.audio.packets >= 1) return true;
    if (!p.video.buffer || !p.audio.buffer) return true;
    if (p.hasVideo) Compact(p.video);
    Compact(p.audio);

    while (p.readAhead && p.video.packets < p.video.slots && p.audio.packets < p.audio.slots) {
        uint8_t* h = p.currentHeader.bytes.data();
        if (p.file.Read(h, kHeaderBytes) < static_cast<int64_t>(kHeaderBytes)) {
            p.readAhead = false;
            p.playedTime = p.durationMs.load();
            return false;
        }
        if (!StartsWithMagic(h)) {
            const size_t at = FindMagic({h, kHeaderBytes});
            if (at != 0) p.file.Seek(-static_cast<int64_t>(kHeaderBytes - at), platform::File::Origin::Current);
            continue;
        }
        const uint32_t length = p.currentHeader.PayloadLength();
        Append result;
        if (p.currentHeader.IsVideo()) {
            result = AppendPacket(p, p.video, length);
        } else if (p.currentHeader.IsAudio()) {
            p.audioPayloadLength = length;
            result = AppendPacket(p, p.audio, length);
        } else {
            continue;  // not stored, payload not skipped: resynchronisation finds the next packet
        }
        if (result == Append::ShortRead) {
            p.readAhead = false;
            return false;
        }
        if (result == Append::NoRoom) break;
    }
    return true;
}

bool SwitchPictureSize(int32_t port, uint32_t w, uint32_t h) {
    PlayerPort& p = Port(port);
    if (w > p.width || h > p.height) {
        // Both buffers first: a failure leaves the port exactly as it was.
        const size_t packetBytes = std::max(size_t{p.packetBufferFactor} * w * h * 2, p.video.bytes);
        const size_t pictureBytes = size_t{2} * w * h;
        auto packets = AllocateArray<uint8_t>(Allocation::PacketBuffer, packetBytes);
        auto picture = AllocateArray<uint8_t>(Allocation::PictureBuffer, pictureBytes);
        if (!packets || !picture) return false;
        if (p.video.bytes > 0) std::memcpy(packets.get(), p.video.buffer.get() + p.video.readPos, p.video.bytes);
        p.video.buffer = std::move(packets);
        p.video.capacity = packetBytes;
        p.video.readPos = 0;
        std::memset(picture.get(), 0x80, pictureBytes);
        p.picture = std::move(picture);
        p.pictureCapacity = pictureBytes;
        ReplacePictureSurface(port, w, h);
    }
    p.width = w;
    p.height = h;
    return true;
}

bool CheckPictureSize(int32_t port, const PacketHeader& header) {
    PlayerPort& p = Port(port);
    const Resolution& size = kResolutionTable[header.ResolutionIndex()];
    if (size.width == p.width && size.height == p.height) return true;
    if (!SwitchPictureSize(port, size.width, size.height)) return false;
    OpenDecoder(p, size.width, size.height);
    return true;
}

uint32_t DecodeVideoPacket(int32_t port, const uint8_t* payload, uint32_t length, bool keyFrame) {
    PlayerPort& p = Port(port);
    if (!p.picture || !p.video.buffer || p.codecType >= kVideoCodecSlots) return 0;
    VideoDecoder* decoder = p.decoders[p.codecType].get();
    if (decoder == nullptr) return 0;
    const uint32_t threads = TheEngine().playThreadCount.load(std::memory_order_relaxed);
    DecodeRequest request;
    request.payload = {payload, length};
    request.keyFrame = keyFrame;
    request.picture = {p.picture.get(), p.pictureCapacity};
    request.width = p.width;
    request.height = p.height;
    request.fast = threads >= kFastModeThreads;
    request.playThreadCount = threads;
    return decoder->Decode(request);
}

}  // namespace kestrel::engine
