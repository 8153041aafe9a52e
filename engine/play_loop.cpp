#include "engine/play_loop.h"

#include <mutex>

#include "engine/api_work.h"
#include "engine/audio_link.h"
#include "engine/decoder_dispatch.h"
#include "engine/engine.h"
#include "engine/open_file.h"
#include "engine/presentation_port.h"

namespace kestrel::engine {
namespace {

constexpr uint32_t kFrameMs = 40;
constexpr uint32_t kVideoGapMs = 1020;
constexpr uint32_t kAudioGapMs = 2000;
constexpr int32_t kClockBackMs = -5000;

void Consume(PacketQueue& q, size_t bytes) {
    q.readPos += bytes;
    q.bytes -= bytes;
}

// Offset of the first packet in the queued bytes whose header and payload are both queued.
// Nothing past the queued bytes is looked at.
bool FindWholePacket(const PacketQueue& q, size_t& at) {
    const uint8_t* data = q.buffer.get() + q.readPos;
    for (size_t i = 0; i + kHeaderBytes <= q.bytes; ++i) {
        if (!StartsWithMagic(data + i)) continue;
        const uint32_t length = PacketHeader::From(data + i).PayloadLength();
        if (kHeaderBytes + size_t{length} <= q.bytes - i) {
            at = i;
            return true;
        }
    }
    return false;
}

bool HeadStamp(const PacketQueue& q, uint32_t& stamp) {
    if (q.packets == 0 || q.bytes < kHeaderBytes || !StartsWithMagic(q.buffer.get() + q.readPos)) return false;
    stamp = PacketHeader::From(q.buffer.get() + q.readPos).TimeStamp();
    return true;
}

void AddPlayedTime(PlayerPort& p, uint32_t ms) { p.playedTime.fetch_add(ms); }

void StepAudio(int32_t port, PlayerPort& p, const StepFlags& f, int32_t elapsed) {
    PacingState& s = p.pacing;
    PacketQueue& q = p.audio;
    if (q.bytes < kHeaderBytes || !StartsWithMagic(q.Head())) {
        q.Empty();  // the refill only queues whole packets; anything else is not playable
        return;
    }
    const PacketHeader h = PacketHeader::From(q.Head());
    const uint32_t length = h.PayloadLength();
    if (kHeaderBytes + size_t{length} > q.bytes) {
        q.Empty();
        return;
    }
    p.currentHeader = h;
    s.audioStamp = h.TimeStamp();

    if (f.wait && s.audioStamp >= s.paceBase) {
        uint32_t g = s.skippedTime;
        if (s.lastVideoValid && s.audioStamp > s.lastVideoStamp && s.audioStamp - s.lastVideoStamp > kAudioGapMs)
            g += s.audioStamp - s.lastVideoStamp;
        const int32_t d = static_cast<int32_t>(s.audioStamp - s.paceBase - g);
        if (elapsed < d) return;
    }
    // A stamp below the base is late: played now. (Measured from the base it would come out
    // near 2^31 after a long skipped gap and hold the queue for ever.)

    Consume(q, kHeaderBytes);
    if (p.audioActive.load()) PlayAudioPacket(port, q.Head(), length);
    Consume(q, length);
    q.packets -= 1;

    if (f.bookAudio) {
        if (s.waitKeyFrame) {
            s.timeOrigin = s.audioStamp;
        } else {
            const uint32_t t = PlayedTimeOf(s.audioStamp, s.timeOrigin);
            if (p.playedTime.load() < t) p.playedTime = t;
        }
    }
}

}  // namespace

int32_t ScaleElapsed(int32_t elapsed, uint32_t speedStep) {
    const uint32_t u = static_cast<uint32_t>(elapsed);
    switch (speedStep) {
        case 1: return elapsed / 8;
        case 2: return elapsed / 4;
        case 3: return elapsed / 2;
        case 5: return static_cast<int32_t>(u * 2);
        case 6: return static_cast<int32_t>(u * 4);
        case 7:
        case 8: return static_cast<int32_t>(u * 8);
        default: return elapsed;
    }
}

bool CanStep(const PlayerPort& p) {
    return p.open.load() && p.video.buffer && p.audio.buffer && p.picture && p.file.IsOpen();
}

StepResult PlayStep(int32_t port, StepFlags f, uint32_t* counter) {
    PlayerPort& p = Port(port);
    PacingState& s = p.pacing;
    if (p.video.packets == 0 && p.audio.packets == 0) return StepResult::End;
    const uint32_t speed = p.speedStep.load();

    int32_t elapsed = 0;
    if (s.clockStart != 0) {
        s.clockNow = EngineClock().NowMs();
        elapsed = ScaleElapsed(static_cast<int32_t>(s.clockNow - s.clockStart), speed);
        p.audioActive = speed == kNormalSpeedStep && p.soundPort.load();
    } else {
        s.clockStart = s.clockNow = EngineClock().NowMs();
    }

    if (s.resyncPending != 0) {
        uint32_t audioStamp = 0, videoStamp = 0;
        const bool haveAudio = p.hasAudio.load() && HeadStamp(p.audio, audioStamp);
        const bool haveVideo = p.hasVideo.load() && HeadStamp(p.video, videoStamp);
        if (haveVideo)
            s.paceBase = videoStamp;
        else if (haveAudio)
            s.paceBase = audioStamp;
        s.resyncPending = 0;
        if (s.originPending) {
            s.originPending = false;
            s.timeOrigin = s.paceBase;
        }
    }

    if (p.audio.packets > 0) StepAudio(port, p, f, elapsed);

    if (p.video.packets == 0) return StepResult::Continue;
    PacketQueue& q = p.video;
    size_t at = 0;
    if (!FindWholePacket(q, at)) {
        q.bytes = 0;
        q.packets = 0;
        return StepResult::Continue;
    }
    Consume(q, at);

    const PacketHeader h = PacketHeader::From(q.Head());
    const uint32_t length = h.PayloadLength();
    p.currentHeader = h;
    s.videoStamp = h.TimeStamp();
    const bool key = h.FrameKind() == 1;

    if (s.waitKeyFrame) {
        s.timeOrigin = s.videoStamp;
        if (!key) {
            Consume(q, kHeaderBytes + length);
            q.packets -= 1;
            p.playedFrames.fetch_add(1);
            return StepResult::Continue;
        }
        s.waitKeyFrame = false;
        s.clockStart = 0;
        s.resyncPending = 1;
        s.skippedTime = 0;
        s.lastVideoValid = false;
    }

    uint32_t g = s.skippedTime;
    if (s.videoStamp >= s.paceBase) {
        // A gap in the recording (stamps jump, frame numbers too) is not waited for.
        if (s.lastVideoValid && s.videoStamp > s.lastVideoStamp && s.videoStamp - s.lastVideoStamp > kVideoGapMs &&
            h.FrameNumber() - s.lastFrameNumber > 1)
            g += s.videoStamp - s.lastVideoStamp;
        const int32_t d = static_cast<int32_t>(s.videoStamp - s.paceBase - g);
        if (f.wait && elapsed < d) return StepResult::Continue;
    } else if (static_cast<int32_t>(s.videoStamp - s.lastVideoStamp) < kClockBackMs) {
        // The recorder's clock went back: pacing starts again on this packet.
        s.paceBase = s.timeOrigin = s.videoStamp;
        g = 0;
        s.skippedTime = 0;
        s.clockStart = 0;
        const int32_t d = f.wait ? 1 : 0;
        if (f.wait && elapsed < d) return StepResult::Continue;
    }
    // Otherwise the stamp lies a little below the base: late, so it is due now (a distance
    // measured backwards from the base can come out just under 2^31 and would stall video).

    Consume(q, kHeaderBytes);
    s.lastFrameNumber = h.FrameNumber();
    if (!CheckPictureSize(port, h)) return StepResult::End;

    bool decoded = false;
    if (speed != kMaxSpeedStep || key) {
        // The size check may have moved the queue into a new buffer: take the head again.
        if (DecodeVideoPacket(port, q.Head(), length, key) == 0) return StepResult::NoPicture;
        decoded = true;
    }
    const uint32_t played = p.playedFrames.load();
    if (decoded && f.present &&
        (speed == kMaxSpeedStep || speed <= kNormalSpeedStep || played % (2 * speed - 8) == 0))
        ShowPicture(port);

    Consume(q, length);
    q.packets -= 1;
    p.playedFrames.fetch_add(1);
    if (f.count && counter != nullptr && *counter > 0) *counter -= 1;

    const uint32_t t = PlayedTimeOf(s.videoStamp, s.timeOrigin);
    if (p.playedTime.load() < t)
        p.playedTime = t;
    else
        AddPlayedTime(p, kFrameMs);
    s.lastVideoStamp = s.videoStamp;
    s.lastVideoValid = true;
    s.skippedTime = g;
    return StepResult::Continue;
}

StepResult RunStep(int32_t port, StepFlags f, uint32_t* counter) {
    PlayerPort& p = Port(port);
    if (!RefillQueues(port)) {
        if (counter != nullptr && *counter > 0) *counter -= 1;
        AddPlayedTime(p, kFrameMs);
        return StepResult::Failure;
    }
    return PlayStep(port, f, counter);
}

namespace {

void CountPlayThread(int delta) {
    std::atomic<uint32_t>& count = TheEngine().playThreadCount;
    uint32_t n = count.load();
    for (;;) {
        if (delta > 0 ? n >= KX_PORT_COUNT : n == 0) return;
        if (count.compare_exchange_weak(n, delta > 0 ? n + 1 : n - 1)) return;
    }
}

void PlayThread(int32_t port) {
    Engine& e = TheEngine();
    PlayerPort& p = Port(port);
    CountPlayThread(+1);
    while (p.playMode.load() != PlaybackMode::Stopped) {
        if (p.playMode.load() == PlaybackMode::Playing) {
            std::unique_lock<std::mutex> hold(p.bufferLock);
            // Checked again under the lock: a close may have stopped the port and be waiting to
            // free its buffers.
            if (p.playMode.load() == PlaybackMode::Playing && CanStep(p)) {
                const StepResult r = RunStep(port, {.present = true, .wait = true, .bookAudio = true}, nullptr);
                if (r != StepResult::Continue) {
                    hold.unlock();
                    p.playMode = PlaybackMode::Stopped;
                    PostFileEnd(port);
                    break;
                }
            }
        }
        e.tickEvent.Wait();
        p.playWakeups.fetch_add(1);
    }
    CountPlayThread(-1);
}

}  // namespace

int32_t StartPlayback(int32_t port) {
    PlayerPort& p = Port(port);
    p.playThread.Join();  // a thread that ended at the file's end, or is ending after a stop
    p.speedStep = kNormalSpeedStep;
    {
        std::lock_guard<std::mutex> hold(p.bufferLock);
        if (!CanStep(p)) return 0;
        p.video.Empty();
        p.audio.Empty();
        p.playedFrames = 0;
        p.playedTime = 0;
        p.pacing = PacingState{};
        p.pacing.waitKeyFrame = true;
        p.readAhead = true;
        PositionAtFirstKeyFrame(p);
    }
    p.playMode = PlaybackMode::Playing;
    if (!p.playThread.Start([port] { PlayThread(port); })) {
        p.playMode = PlaybackMode::Stopped;
        return 0;
    }
    return 1;
}

int32_t StepOneFrame(int32_t port) {
    PlayerPort& p = Port(port);
    {
        std::lock_guard<std::mutex> hold(p.bufferLock);
        p.pacing.clockStart = 0;
        p.pacing.skippedTime = 0;
        p.pacing.lastVideoValid = false;
        p.pacing.resyncPending = 1;
        p.playedTime = 0;
    }
    uint32_t counter = 1;
    do {
        StepResult r;
        {
            std::lock_guard<std::mutex> hold(p.bufferLock);
            if (!CanStep(p)) return 1;
            r = RunStep(port, {.present = true, .count = true}, &counter);
        }
        // A packet without a picture stays queued: stepping again would fail on it for ever.
        if (r == StepResult::End || r == StepResult::NoPicture) {
            kxStop(port);
            PostFileEnd(port);
            return 1;
        }
    } while (counter > 0);
    return 1;
}

}  // namespace kestrel::engine
