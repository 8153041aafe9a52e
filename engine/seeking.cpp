// The two seeks: by a fraction of the file's bytes and by a played-frame count. Both land on a
// key frame and decode forward, without showing anything, to the place asked for.
#include <cstring>
#include <mutex>

#include "engine/api_work.h"
#include "engine/engine.h"
#include "engine/packet_reader.h"
#include "engine/play_loop.h"

namespace kestrel::engine {
namespace {

constexpr int64_t kFirstBackOffBytes = 16384;
constexpr uint32_t kJumpFrames = 100;
constexpr float kBytesPerFrame = 1638.4f;

// Empties both queues; reading goes on from where the caller has just put the port's file.
void Reposition(PlayerPort& p, uint32_t frameIndex, uint32_t timeMs) {
    if (p.hasVideo.load()) p.video.Empty();
    if (p.hasAudio.load()) p.audio.Empty();
    p.playedFrames = frameIndex;
    p.playedTime = timeMs;
    p.readAhead = true;
    ResetPacing(p);
}

// Decodes n video packets without showing them; stops at the end and at a packet that gives no
// picture (it stays queued, so another step would only fail on it again).
void DecodeForward(int32_t port, uint32_t n) {
    PlayerPort& p = Port(port);
    while (n > 0) {
        ResetPacing(p);
        const StepResult r = RunStep(port, {.count = true, .bookAudio = true}, &n);
        if (r == StepResult::End || r == StepResult::NoPicture) break;
    }
}

struct Landing {
    uint64_t fileOffset;  // of the key frame's packet
    uint32_t frameIndex;  // its count from the first key frame
    uint32_t timeMs;      // played time there, or the key frame's stamp when fromStamp is set
    bool fromStamp;
};

// Moves the port to the key frame and decodes n packets from it.
int32_t LandOn(int32_t port, const Landing& at, uint32_t n) {
    PlayerPort& p = Port(port);
    std::lock_guard<std::mutex> hold(p.bufferLock);
    if (!CanStep(p)) return 0;
    if (p.file.Seek(static_cast<int64_t>(at.fileOffset)) < 0) return 0;
    // A stamp gives played time as everywhere else: its distance from the origin of play.
    const uint32_t time = at.fromStamp ? PlayedTimeOf(at.timeMs, p.pacing.timeOrigin) : at.timeMs;
    Reposition(p, at.frameIndex, time);
    DecodeForward(port, n);
    return 1;
}

int64_t FrameBytes(uint32_t frames) {
    return static_cast<int64_t>(static_cast<float>(frames) * kBytesPerFrame);
}

// Without a complete index: estimate the offset from the byte and frame totals, then scan the
// packets through a descriptor of its own (the play thread's file position is moved only under
// bufferLock, in LandOn). Frame numbers in the file are the recorder's running numbers; the
// frame asked for is a count from the first key frame.
int32_t SeekByScan(int32_t port, uint32_t frame) {
    PlayerPort& p = Port(port);
    platform::File file;
    if (!file.Open(p.path, platform::File::Access::Random)) return 0;
    const uint64_t totalBytes = p.totalBytes.load();
    const uint32_t totalFrames = p.totalFrames.load();
    const int64_t first = p.tail.firstFrameNumber;
    const auto& beforeRead = TheEngine().platform.beforeScanRead;

    int64_t est = totalFrames == 0 ? 0
                                   : static_cast<int64_t>(static_cast<double>(totalBytes) * frame / totalFrames);
    if (est > kFirstBackOffBytes) est -= kFirstBackOffBytes;
    if (file.Seek(est) < 0) return 0;

    uint32_t n = 0;
    bool haveKey = false, backedOff = false;
    uint64_t keyOffset = 0;
    uint32_t keyNumber = 0, keyStamp = 0;
    uint8_t chunk[kHeaderBytes];
    for (;;) {
        const int64_t at = file.Tell();
        if (at < 0) return 0;
        if (beforeRead) beforeRead(static_cast<uint64_t>(at));
        const ChunkResult r = ReadChunk(file, chunk, kHeaderBytes);
        if (r == ChunkResult::End) return 0;
        if (r == ChunkResult::Resync) continue;
        const PacketHeader h = PacketHeader::From(chunk);
        const uint32_t length = h.PayloadLength();
        if (h.IsAudio()) {
            if (!Skip(file, length)) return 0;
            continue;
        }
        if (!h.IsVideo()) continue;  // types 0 and 3: resynchronisation passes the payload

        const int64_t index = int64_t{h.FrameNumber()} - first;
        if (index < int64_t{frame}) {
            const int64_t shortBy = int64_t{frame} - index;
            // Far short: jump ahead by an estimate, but never after backing off in this call, or
            // the two could undo each other for ever.
            if (!backedOff && shortBy > kJumpFrames) {
                const int64_t jump = FrameBytes(static_cast<uint32_t>(shortBy));
                if (static_cast<uint64_t>(file.Tell() + jump) < totalBytes) {
                    if (!Skip(file, jump)) return 0;
                    n = 0;
                    haveKey = false;
                    continue;
                }
            }
            if (h.IsKeyFrame()) {
                haveKey = true;
                keyOffset = static_cast<uint64_t>(at);
                keyNumber = h.FrameNumber();
                keyStamp = h.TimeStamp();
            }
            if (!Skip(file, length)) return 0;
            n += 1;
            continue;
        }

        if (!haveKey) {
            // Reached the frame without a key frame before it: start earlier.
            if (est == 0) return 0;
            est -= FrameBytes(n < kJumpFrames ? kJumpFrames - n : kJumpFrames);
            if (est < 0) est = 0;
            if (file.Seek(est) < 0) return 0;
            n = 0;
            haveKey = false;
            backedOff = true;
            continue;
        }
        const uint32_t keyIndex = static_cast<uint32_t>(int64_t{keyNumber} - first);
        return LandOn(port, {keyOffset, keyIndex, keyStamp, true}, frame - keyIndex);
    }
}

}  // namespace

int32_t SeekToPosition(int32_t port, float position) {
    PlayerPort& p = Port(port);
    platform::File counting;
    if (!counting.Open(p.path, platform::File::Access::Random)) return 0;
    const uint64_t target = static_cast<uint64_t>(static_cast<double>(p.totalBytes.load()) * position);
    const auto e = p.keyFrameIndex.FindByOffset(target);
    if (!e) return 0;
    if (counting.Seek(static_cast<int64_t>(e->fileOffset)) < 0) return 0;

    // Key frames from the entry up to the target: normally just the entry itself.
    uint32_t n = 0;
    if (e->fileOffset < target) {
        uint8_t chunk[kHeaderBytes];
        for (;;) {
            if (counting.Read(chunk, kHeaderBytes) < static_cast<int64_t>(kHeaderBytes)) break;
            const PacketHeader h = PacketHeader::From(chunk);
            const int64_t pos = counting.Seek(h.PayloadLength(), platform::File::Origin::Current);
            if (h.FrameKind() == 1) n += 1;
            if (pos < 0 || static_cast<uint64_t>(pos) >= target) break;
        }
    }
    return LandOn(port, {e->fileOffset, e->frameIndex, e->timeOffset, false}, n);
}

int32_t SeekToFrame(int32_t port, uint32_t frame) {
    PlayerPort& p = Port(port);
    if (!p.indexComplete.load()) return SeekByScan(port, frame);
    const auto e = p.keyFrameIndex.FindByFrame(frame);
    if (!e) return 0;
    const uint32_t n = frame > e->frameIndex ? frame - e->frameIndex : 0;
    return LandOn(port, {e->fileOffset, e->frameIndex, e->timeOffset, false}, n);
}

}  // namespace kestrel::engine
