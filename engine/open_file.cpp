#include "engine/open_file.h"

#include <algorithm>
#include <cstring>

#include "engine/audio_link.h"
#include "engine/decoder_dispatch.h"
#include "engine/engine.h"
#include "engine/packet_reader.h"
#include "engine/time_diff.h"

namespace kestrel::engine {

namespace {
constexpr int64_t kTailBlockBytes = 524288;
}  // namespace

bool ProbeHeader(PlayerPort& p) {
    if (p.file.Seek(0) < 0) return false;
    uint8_t chunk[kHeaderBytes];
    for (;;) {
        const ChunkResult r = ReadChunk(p.file, chunk, kHeaderBytes);
        if (r == ChunkResult::End) return false;
        if (r == ChunkResult::Resync) continue;
        const PacketHeader h = PacketHeader::From(chunk);
        if (h.IsAudio()) {
            p.audioPayloadLength = h.PayloadLength();
            if (!Skip(p.file, h.PayloadLength())) return false;
            continue;
        }
        if (!h.IsVideo()) continue;  // not skipped: resynchronisation finds the next packet
        p.firstVideoOffset = static_cast<uint64_t>(p.file.Tell()) - kHeaderBytes;
        const Resolution& size = kResolutionTable[h.ResolutionIndex()];
        p.width = size.width;
        p.height = size.height;
        p.doubleHeight = IsHalfHeight(h.ResolutionIndex());
        p.codecType = h.Codec();
        p.headerLength = kHeaderBytes;
        return true;
    }
}

bool ScanTail(PlayerPort& p) {
    TailScan& t = p.tail;
    t.firstFrameNumber = t.firstTimeStamp = t.firstKeyDateTime = 0;
    const int64_t size = p.file.Seek(0, platform::File::Origin::End);
    if (size < 0) return false;
    const int64_t blockBytes = std::min<int64_t>(size, kTailBlockBytes);

    // Forward to the first key frame.
    if (p.file.Seek(static_cast<int64_t>(p.firstVideoOffset)) < 0) return false;
    uint8_t chunk[kHeaderBytes];
    for (;;) {
        const ChunkResult r = ReadChunk(p.file, chunk, kHeaderBytes);
        if (r == ChunkResult::End) break;
        if (r == ChunkResult::Resync) continue;
        const PacketHeader h = PacketHeader::From(chunk);
        if (h.IsKeyFrame()) {
            t.firstFrameNumber = h.FrameNumber();
            t.firstTimeStamp = h.TimeStamp();
            uint8_t dateTime[kDateTimeBytes] = {};
            p.file.Read(dateTime, sizeof dateTime);
            t.firstKeyDateTime = LoadLe32(dateTime);
            p.firstKeyFrameOffset = static_cast<uint64_t>(p.file.Tell()) - kHeaderBytes - kDateTimeBytes;
            break;
        }
        if (!h.IsVideo()) p.audioPayloadLength = h.PayloadLength();
        if (!Skip(p.file, h.PayloadLength())) break;
    }

    // Backward, block by block from the end, to the last video packet that tells the length.
    auto block = AllocateArray<uint8_t>(Allocation::ScanBlock, static_cast<size_t>(blockBytes));
    if (!block) return false;
    uint32_t lastFrame = 0, lastTime = 0;
    for (int64_t k = 1;; ++k) {
        const int64_t start = size - k * blockBytes;
        if (start < 0) return false;
        const int64_t n = p.file.ReadAt(start, block.get(), static_cast<size_t>(blockBytes));
        if (n < static_cast<int64_t>(kHeaderBytes)) return false;
        bool accepted = false;
        for (int64_t at = n - 17; at >= 0;) {
            const uint8_t* c = block.get() + at;
            if (!StartsWithMagic(c)) { --at; continue; }
            const PacketHeader h = PacketHeader::From(c);
            if (at + kHeaderBytes + h.PayloadLength() > n) { --at; continue; }
            if (!h.IsVideo()) { at -= 17; continue; }
            if (!h.IsKeyFrame()) {
                if (h.TimeStamp() > t.firstTimeStamp) {
                    lastFrame = h.FrameNumber();
                    lastTime = h.TimeStamp();
                    accepted = true;
                    break;
                }
                --at;
                continue;
            }
            // A key frame counts only with its date-time inside the block.
            if (at + kHeaderBytes + kDateTimeBytes > n) { --at; continue; }
            lastFrame = h.FrameNumber();
            t.lastKeyDateTime = LoadLe32(c + kHeaderBytes);
            const int64_t seconds = DateTimeToSeconds(t.lastKeyDateTime) - DateTimeToSeconds(t.firstKeyDateTime);
            lastTime = static_cast<uint32_t>(seconds * 1000);
            t.firstTimeStamp = 0;
            accepted = true;
            break;
        }
        if (accepted) break;
    }

    const uint32_t first = t.firstFrameNumber;
    p.totalFrames = lastFrame > first ? lastFrame - first : lastFrame;
    p.durationMs = lastTime >= t.firstTimeStamp ? lastTime - t.firstTimeStamp : lastTime;
    p.totalBytes = static_cast<uint64_t>(size);
    t.estimatedFrames = p.totalFrames;
    t.estimatedDurationMs = p.durationMs;
    return true;
}

bool AllocatePortBuffers(PlayerPort& p) {
    p.video.slots = kPacketSlots;
    p.audio.slots = kPacketSlots;
    const size_t frameBytes = size_t{2} * p.width * p.height;
    auto packets = AllocateArray<uint8_t>(Allocation::PacketBuffer, 2 * frameBytes);
    auto picture = AllocateArray<uint8_t>(Allocation::PictureBuffer, frameBytes);
    if (!packets || !picture) {
        p.Fail(ERR_NO_MEMORY);
        return false;
    }
    p.video.buffer = std::move(packets);
    p.video.capacity = 2 * frameBytes;
    p.video.Empty();
    std::memset(picture.get(), 0x80, frameBytes);
    p.picture = std::move(picture);
    p.pictureCapacity = frameBytes;

    if (!OpenDecoder(p, p.width, p.height)) return false;  // codec type 3: no decoder, no error number

    p.playedFrames = 0;
    p.playedTime = 0;
    p.pacing = PacingState{};

    Engine& e = TheEngine();
    if (!e.audioCodecCreated && !CreateEngineAudioCodec()) {
        p.Fail(ERR_AUDIO_CODEC);
        return false;
    }
    const size_t audioBytes = size_t{p.audio.slots} * kAudioSlotBytes;
    auto audioPackets = AllocateArray<uint8_t>(Allocation::AudioBuffers, audioBytes);
    auto decode = AllocateArray<int16_t>(Allocation::AudioBuffers, kAudioDecodeBytes / 2);
    auto output = AllocateArray<uint8_t>(Allocation::AudioBuffers, kAudioOutputBytes);
    if (!audioPackets || !decode || !output) {
        p.Fail(ERR_NO_MEMORY);
        return false;
    }
    p.audio.buffer = std::move(audioPackets);
    p.audio.capacity = audioBytes;
    p.audio.Empty();
    p.audioDecode = std::move(decode);
    p.audioOutput = std::move(output);
    e.audioCodecCreated = true;
    return true;
}

bool OpenPortFile(int32_t port, const char* path) {
    PlayerPort& p = Port(port);
    p.file.Close();
    // A path the port cannot hold whole is refused, never cut short.
    if (path == nullptr || std::strlen(path) > KX_MAX_PATH || !p.file.Open(path)) {
        p.Fail(ERR_OPEN);
        return false;
    }
    p.totalFrames = 0;
    p.durationMs = 0;
    p.totalBytes = 0;
    p.width = p.height = 0;
    p.firstKeyFrameOffset = 0;
    p.tail = TailScan{};
    p.playMode = PlaybackMode::Stopped;
    p.speedStep = kNormalSpeedStep;
    p.indexComplete = false;

    if (!ProbeHeader(p)) return false;
    if (!ScanTail(p)) return false;

    p.hasVideo = true;
    p.hasAudio = true;
    p.state = PortState::PortFile;
    std::memcpy(p.path, path, std::strlen(path) + 1);

    p.stopEvent.Reset();
    p.indexThread.Start([port] { BuildIndex(port); });
    return true;
}

void PositionAtFirstKeyFrame(PlayerPort& p) {
    const auto first = p.keyFrameIndex.First();
    p.file.Seek(static_cast<int64_t>(first ? first->fileOffset : p.firstKeyFrameOffset));
}

void BuildIndex(int32_t port) {
    Engine& e = TheEngine();
    PlayerPort& p = Port(port);
    // One builder at a time; one that waits for its turn still answers a stop at once, so that
    // closing a port never waits for another port's indexing.
    std::unique_lock<std::mutex> serial(e.indexLock, std::defer_lock);
    if (e.engineReady.load()) {
        while (!serial.try_lock())
            if (p.stopEvent.Wait(2)) return;
    }
    if (p.indexComplete.load()) return;

    platform::File file;
    // The builder only moves forward; kernel read-ahead serves it better than a random-access
    // hint (measured by bench_engine).
    if (!file.Open(p.path, platform::File::Access::Sequential)) {
        p.totalFrames = 0;
        p.durationMs = 0;
        p.totalBytes = 0;
        p.indexComplete = true;
        return;
    }

    // Positional reads of 20 bytes: the header and, for a key frame, its date-time. Payloads are
    // stepped over, never read.
    int64_t pos = static_cast<int64_t>(p.firstVideoOffset);
    uint32_t largestStamp = 0, firstStamp = 0, frames = 0;
    uint64_t byteSum = 0, finalRead = 0;
    bool haveKeyFrame = false;
    uint8_t chunk[kIndexReadBytes];
    const auto& beforeRead = e.platform.beforeIndexRead;
    while (!p.stopEvent.Wait(0)) {
        if (beforeRead) beforeRead(static_cast<uint64_t>(pos));
        const int64_t n = file.ReadAt(pos, chunk, kIndexReadBytes);
        if (n < static_cast<int64_t>(kIndexReadBytes)) {
            finalRead = n > 0 ? static_cast<uint64_t>(n) : 0;
            break;
        }
        if (!StartsWithMagic(chunk)) {
            const size_t at = FindMagic(chunk);
            pos += at != 0 ? static_cast<int64_t>(at) : kIndexReadBytes;
            continue;
        }
        const PacketHeader h = PacketHeader::From(chunk);
        const uint32_t length = h.PayloadLength();
        if (h.IsVideo()) {
            if (h.TimeStamp() > largestStamp) largestStamp = h.TimeStamp();
            if (h.IsKeyFrame()) {
                if (!haveKeyFrame) {
                    haveKeyFrame = true;
                    p.hasVideo = true;
                    firstStamp = h.TimeStamp();
                }
                p.keyFrameIndex.Append({static_cast<uint64_t>(pos), frames, TimeDiff(largestStamp, firstStamp),
                                        LoadLe32(chunk + kHeaderBytes)});
            }
            if (haveKeyFrame) ++frames;  // video before the first key frame is not counted
        } else if (h.IsAudio()) {
            p.hasAudio = true;
            p.audioPayloadLength = length;
        }
        byteSum += kHeaderBytes + uint64_t{length};
        pos += kHeaderBytes + int64_t{length};
    }
    file.Close();
    if (!haveKeyFrame) return;  // an empty index leaves the estimates standing
    p.totalFrames = frames;
    p.durationMs = TimeDiff(largestStamp, firstStamp);
    p.totalBytes = byteSum + finalRead;
    p.indexComplete = true;
}

}  // namespace kestrel::engine
