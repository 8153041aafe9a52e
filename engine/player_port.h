// One port of the engine: the open recording, its picture size and codec, decoder, buffers, play
// state, totals, progress and key-frame index. The table of 128 is created with the program.
//
// Threads: the API thread, the port's play thread and its index builder. Fields written by one of
// them and read by another are atomics; buffers, file position and decoder are guarded by
// bufferLock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "engine/h64_format.h"
#include "engine/key_frame_index.h"
#include "engine/picture_copy.h"
#include "engine/video_decoder.h"
#include "kestrel/kx.h"
#include "platform/display.h"
#include "platform/event.h"
#include "platform/file.h"
#include "platform/thread.h"

namespace kestrel::engine {

enum class PortState : uint32_t { PortIdle = 0, PortFile = 2 };
enum class PlaybackMode : uint32_t { Stopped = 0, Paused = 1, Playing = 2 };

inline constexpr uint32_t kNormalSpeedStep = 4;
inline constexpr uint32_t kMinSpeedStep = 1;
inline constexpr uint32_t kMaxSpeedStep = 8;
inline constexpr uint32_t kPacketSlots = 2;
inline constexpr uint32_t kAudioSlotBytes = 32416;
inline constexpr uint32_t kAudioDecodeBytes = 32000;
inline constexpr uint32_t kAudioOutputBytes = 33024;
inline constexpr uint32_t kPacketBufferFactor = 4;
inline constexpr size_t kPathCapacity = KX_MAX_PATH + 1;

// Packets read ahead of the play loop, each stored as its header and payload, back to back.
struct PacketQueue {
    std::unique_ptr<uint8_t[]> buffer;
    size_t capacity = 0;
    size_t readPos = 0;   // start of the queued bytes inside buffer
    size_t bytes = 0;     // queued bytes from readPos
    uint32_t packets = 0;
    uint32_t slots = kPacketSlots;

    void Empty() { readPos = bytes = 0; packets = 0; }
    void Free() { buffer.reset(); capacity = 0; Empty(); }
    uint8_t* Head() { return buffer.get() + readPos; }
};

// Pacing of the play loop against the clock.
struct PacingState {
    uint32_t clockStart = 0, clockNow = 0;
    uint32_t paceBase = 0;
    uint32_t resyncPending = 1;
    uint32_t timeOrigin = 0;
    bool originPending = true;
    uint32_t lastVideoStamp = 0;
    bool lastVideoValid = false;
    uint32_t lastFrameNumber = 0;
    uint32_t skippedTime = 0;
    uint32_t videoStamp = 0, audioStamp = 0;
    bool waitKeyFrame = false;
};

// What the synchronous part of opening found at the start and the end of the file.
struct TailScan {
    uint32_t firstKeyDateTime = 0, lastKeyDateTime = 0;
    uint32_t firstFrameNumber = 0, firstTimeStamp = 0;
    uint32_t estimatedFrames = 0, estimatedDurationMs = 0;
};

struct PlayerPort {
    // Presentation.
    std::unique_ptr<platform::Surface> pictureSurface;
    uint32_t surfaceFormatIndicator = 1;  // 1: a YUY2 picture surface is allowed
    PictureCopy pictureCopy = PictureCopy::Yuy2;

    std::atomic<KxWindow> videoWindow{nullptr};
    std::atomic<KxWindow> fileEndWindow{nullptr};
    std::atomic<uint32_t> fileEndMessage{0};

    std::atomic<PortState> state{PortState::PortIdle};
    platform::File file;  // the play loop's descriptor (bufferLock)
    std::atomic<bool> open{false};
    uint32_t headerLength = kHeaderBytes;
    uint32_t codecType = 0;
    std::atomic<bool> hasVideo{false}, hasAudio{false};
    std::atomic<bool> audioActive{false};
    bool readAhead = false;
    std::atomic<uint32_t> audioPayloadLength{0};

    // Decoder: at most one instance at a time, for the codec type of the file.
    std::array<std::unique_ptr<VideoDecoder>, kVideoCodecSlots> decoders;
    std::array<bool, kVideoCodecSlots> decoderCreated{};

    uint32_t width = 0, height = 0;

    // Buffers (bufferLock).
    PacketQueue video, audio;
    std::unique_ptr<uint8_t[]> picture;
    size_t pictureCapacity = 0;
    std::unique_ptr<int16_t[]> audioDecode;
    std::unique_ptr<uint8_t[]> audioOutput;
    uint32_t packetBufferFactor = kPacketBufferFactor;

    std::atomic<uint32_t> speedStep{kNormalSpeedStep};
    std::atomic<PlaybackMode> playMode{PlaybackMode::Stopped};

    // Totals: estimates after open, exact once the index is complete.
    std::atomic<uint64_t> totalBytes{0};
    std::atomic<uint32_t> durationMs{0};
    std::atomic<uint32_t> totalFrames{0};

    std::atomic<uint32_t> playedFrames{0};
    std::atomic<uint32_t> playedTime{0};

    platform::Event stopEvent{platform::Event::Mode::AutoReset};
    platform::Thread playThread;
    std::atomic<uint32_t> playWakeups{0};  // tick wake-ups of the play thread (tests step by them)
    platform::Thread indexThread;

    PacketHeader currentHeader;
    TailScan tail;
    PacingState pacing;

    KeyFrameIndex keyFrameIndex;
    std::atomic<bool> indexComplete{false};
    uint64_t firstKeyFrameOffset = 0;
    uint64_t firstVideoOffset = 0;

    char path[kPathCapacity] = {};

    std::atomic<int32_t> lastError{ERR_NONE};
    std::atomic<bool> soundPort{false};
    bool doubleHeight = false;

    std::mutex bufferLock;  // buffers, file position and decoder, against the play thread
    std::mutex audioLock;   // hand-over of decoded audio to the sound output

    bool IsOpen() const { return open.load() && state.load() == PortState::PortFile; }
    void Fail(int32_t error) { lastError.store(error); }
};

}  // namespace kestrel::engine
