// Playback in virtual time: the engine's clock and tick are the test's, a stand-in decoder for
// codec type 0 records which packets it decoded, and the memory display counts what was shown.
//
// Packets carry a marker "KXFM" + 32-bit number in their payload; the stand-in decoder returns
// no picture for the number kNoPicture.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/video_decoder.h"
#include "platform/window.h"
#include "tests/engine/engine_fixture.h"

namespace kestrel::testing {

inline constexpr uint32_t kNoPicture = 0xDEADu;

// The payload bytes of a marked packet.
inline std::vector<uint8_t> Marker(uint32_t number, size_t bytes = 16) {
    std::vector<uint8_t> d(bytes < 8 ? 8 : bytes, 0x33);
    std::memcpy(d.data(), "KXFM", 4);
    std::memcpy(d.data() + 4, &number, 4);
    return d;
}

class MarkedDecoder final : public engine::VideoDecoder {
public:
    static std::mutex lock;
    static std::vector<uint32_t> decoded;

    uint32_t Decode(const engine::DecodeRequest& r) override {
        uint32_t number = 0xFFFFFFFFu;
        for (size_t i = 0; i + 8 <= r.payload.size() && i <= 8; ++i)
            if (std::memcmp(r.payload.data() + i, "KXFM", 4) == 0) {
                std::memcpy(&number, r.payload.data() + i + 4, 4);
                break;
            }
        if (number == kNoPicture) return 0;
        {
            std::lock_guard<std::mutex> hold(lock);
            decoded.push_back(number);
        }
        std::memset(r.picture.data(), static_cast<int>(number & 0xFF), size_t{r.width} * r.height);
        return r.width * r.height * 3 / 2;
    }
    static std::unique_ptr<engine::VideoDecoder> Make(const engine::VideoDecoderConfig&) {
        return std::make_unique<MarkedDecoder>();
    }
    static std::vector<uint32_t> Take() {
        std::lock_guard<std::mutex> hold(lock);
        return std::exchange(decoded, {});
    }
};
inline std::mutex MarkedDecoder::lock;
inline std::vector<uint32_t> MarkedDecoder::decoded;

// One video packet of a test recording, and the audio block that follows it (if any).
struct Frame {
    uint32_t number;      // recorder's frame number
    uint32_t stamp;       // ms
    bool key = false;
    int64_t audioStamp = -1;  // < 0: no audio block after this frame
    uint32_t marker = 0;
};

inline constexpr int64_t kNoAudio = INT64_MIN;

// Frames 0..count-1: numbers from firstNumber, stamps every 40 ms from firstStamp, a key frame
// every gop, an audio block with each frame's stamp + audioLag (none for kNoAudio).
inline std::vector<Frame> Steady(uint32_t count, uint32_t gop = 10, uint32_t firstNumber = 7000,
                                 uint32_t firstStamp = 50000, int64_t audioLag = 0) {
    std::vector<Frame> f;
    for (uint32_t i = 0; i < count; ++i)
        f.push_back({firstNumber + i, firstStamp + 40 * i, i % gop == 0,
                     audioLag == kNoAudio ? -1 : int64_t{firstStamp} + 40 * i + audioLag, i});
    return f;
}

inline bool WriteFrames(const std::string& path, const std::vector<Frame>& frames) {
    RecordingWriter w(path);
    for (const Frame& f : frames) {
        const std::vector<uint8_t> data = Marker(f.marker);
        VideoFrame v;
        v.key = f.key;
        v.frameNumber = f.number;
        v.stamp = f.stamp;
        v.dateTime = DateTimeAfter({2020, 1, 1, 0, 0, 0}, f.stamp / 1000);
        v.data = data;
        w.Video(v);
        if (f.audioStamp >= 0) w.AudioBytes(static_cast<uint32_t>(f.audioStamp), 168, 0x17);
    }
    return w.Close();
}

class PlayTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        clock.Set(1000000);
        MarkedDecoder::Take();
    }
    void TearDown() override {
        EngineTest::TearDown();
        engine::RegisterBuiltinVideoDecoders();
    }
    // Opens the frames on port 0 with the stand-in decoder and waits for the index.
    void OpenFrames(const std::vector<Frame>& frames, int32_t port = 0) {
        const std::string path = scratch.File("play" + std::to_string(port) + ".h64");
        ASSERT_TRUE(WriteFrames(path, frames));
        ASSERT_EQ(engine::InitEngine(), 1);
        engine::RegisterVideoDecoder(engine::kCodecMpeg4, &MarkedDecoder::Make);
        ASSERT_EQ(kxOpenFile(port, path.c_str()), 1);
        ASSERT_TRUE(engine::WaitForIndex(port, 10000));
    }
    // Starts play on port 0 into the window and waits until the play thread waits for the tick.
    void Play() {
        ASSERT_EQ(kxPlay(0, platform::ToHandle(&window)), 1);
        ASSERT_EQ(kxSetFileEndMsg(0, platform::ToHandle(&window), 1225), 1);
        Parked();
    }
    bool ThreadGone() {
        return engine::Port(0).playMode.load() == engine::PlaybackMode::Stopped &&
               engine::TheEngine().playThreadCount.load() == 0;
    }
    // Waits until the play thread of port 0 is blocked on the tick, or has ended.
    void Parked() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (engine::TheEngine().tickEvent.Waiting() == 0 && !ThreadGone()) {
            ASSERT_LT(std::chrono::steady_clock::now(), end) << "the play thread never waited for the tick";
            std::this_thread::yield();
        }
    }
    // Moves the clock by ms, fires the tick and waits until the play thread has made its step.
    void Tick(uint32_t ms = 5) {
        Parked();
        if (ThreadGone()) return;
        clock.Advance(ms);
        const uint32_t before = engine::Port(0).playWakeups.load();
        ASSERT_TRUE(tick.Fire());
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (engine::Port(0).playWakeups.load() == before && !ThreadGone()) {
            ASSERT_LT(std::chrono::steady_clock::now(), end) << "the tick did not wake the play thread";
            std::this_thread::yield();
        }
        Parked();
    }
    // kxCloseFile, and one tick to clear the wake-up it leaves signalled for every play thread
    // (the periodic tick does that within 5 ms).
    bool Close(int32_t port = 0) {
        const bool closed = kxCloseFile(port) == 1;
        tick.Fire();
        return closed;
    }
    uint32_t Blits() const { return display->Activity().blits; }

    platform::MemoryWindow window{{0, 0, 352, 288}};
};

}  // namespace kestrel::testing
