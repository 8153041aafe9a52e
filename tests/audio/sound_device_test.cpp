#include "platform/sound/sound_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/audio/disk_audio.h"

namespace kestrel::platform {
namespace {

using namespace std::chrono_literals;
using kestrel::testing::Bytes;
using kestrel::testing::CountingPcm;
using kestrel::testing::DiskAudio;

// Records the tags handed back, in order.
struct DoneLog {
    std::mutex lock;
    std::vector<uint32_t> tags;
    std::atomic<uint32_t> count{0};

    static void Done(void* self, uint32_t tag) {
        auto* log = static_cast<DoneLog*>(self);
        {
            std::lock_guard guard(log->lock);
            log->tags.push_back(tag);
        }
        log->count.fetch_add(1);
    }
    bool WaitFor(uint32_t n, std::chrono::milliseconds limit = 5s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (count.load() < n && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(2ms);
        return count.load() >= n;
    }
};

SoundDeviceOpening Open(DoneLog& log, uint32_t rate = 8000) {
    return OpenSoundDevice(0, MonoPcm16(rate), &DoneLog::Done, &log);
}

TEST(SdlSoundDevice, PlaysQueuedBuffersInOrderAndHandsEachBackOnce) {
    DiskAudio disk(1);
    DoneLog log;
    std::vector<std::vector<int16_t>> buffers;
    std::vector<int16_t> expected;
    {
        auto opening = Open(log);
        ASSERT_EQ(opening.status, SoundOpenStatus::Ok) << opening.message;
        // lengths that do not line up with SDL's callback buffer
        for (uint32_t k = 0; k < SoundDevice::kMaxQueued; ++k) {
            buffers.push_back(CountingPcm(static_cast<uint32_t>(expected.size()), 300 + 170 * k));
            expected.insert(expected.end(), buffers.back().begin(), buffers.back().end());
        }
        for (uint32_t k = 0; k < buffers.size(); ++k) {
            ASSERT_TRUE(opening.device->Submit(Bytes(buffers[k]), static_cast<uint32_t>(buffers[k].size() * 2), 10 + k));
        }
        ASSERT_TRUE(log.WaitFor(SoundDevice::kMaxQueued));
        EXPECT_FALSE(opening.device->Lost());
    }
    EXPECT_EQ(disk.Sound(), expected);
    std::vector<uint32_t> tags;
    for (uint32_t k = 0; k < SoundDevice::kMaxQueued; ++k) tags.push_back(10 + k);
    EXPECT_EQ(log.tags, tags);
    EXPECT_EQ(OpenSoundDeviceCount(), 0u);
}

TEST(SdlSoundDevice, RefusesWhatItCannotQueue) {
    DiskAudio disk(200);  // slow: nothing comes back during the test
    DoneLog log;
    auto opening = Open(log);
    ASSERT_EQ(opening.status, SoundOpenStatus::Ok) << opening.message;
    auto& device = *opening.device;
    const auto pcm = CountingPcm(0, 4000);
    EXPECT_FALSE(device.Submit(nullptr, 100, 0));
    EXPECT_FALSE(device.Submit(Bytes(pcm), 0, 0));
    EXPECT_FALSE(device.Submit(Bytes(pcm), 101, 0)) << "half a sample";
    for (uint32_t k = 0; k < SoundDevice::kMaxQueued; ++k) EXPECT_TRUE(device.Submit(Bytes(pcm), 8000, k));
    EXPECT_FALSE(device.Submit(Bytes(pcm), 8000, 99)) << "queue full";
    // Reset hands every queued buffer back before it returns, and the queue takes buffers again.
    device.Reset();
    EXPECT_EQ(log.count.load(), SoundDevice::kMaxQueued);
    EXPECT_TRUE(device.Submit(Bytes(pcm), 8000, 7));
    opening.device.reset();
    EXPECT_EQ(log.count.load(), SoundDevice::kMaxQueued + 1) << "closing hands back what is still queued";
}

TEST(SdlSoundDevice, VolumeScalesTheLeftWordOfAMonoDevice) {
    DiskAudio disk(1);
    DoneLog log;
    const auto pcm = CountingPcm(1000, 512);
    struct Step {
        uint32_t volume;
        int32_t numerator;  // played = sample * numerator / 0xFFFF
    } steps[] = {{0xFFFFFFFF, 0xFFFF}, {0x0000FFFF, 0xFFFF}, {0xFFFF8000, 0x8000}, {0xFFFF0000, 0}};
    {
        auto opening = Open(log);
        ASSERT_EQ(opening.status, SoundOpenStatus::Ok) << opening.message;
        uint32_t n = 0;
        for (const auto& s : steps) {
            opening.device->SetVolume(s.volume);
            ASSERT_TRUE(opening.device->Submit(Bytes(pcm), 1024, n));
            ASSERT_TRUE(log.WaitFor(++n));
        }
    }
    std::vector<int16_t> expected;
    for (const auto& s : steps) {
        for (int16_t v : pcm) {
            const auto scaled = static_cast<int16_t>(v * s.numerator / 0xFFFF);
            if (scaled != 0) expected.push_back(scaled);
        }
    }
    EXPECT_EQ(disk.Sound(), expected);
}

TEST(SdlSoundDevice, DummyDriverHandsBuffersBackInRealTime) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    DoneLog log;
    auto opening = Open(log);
    ASSERT_EQ(opening.status, SoundOpenStatus::Ok) << opening.message;
    const auto pcm = CountingPcm(0, 2400);  // 300 ms at 8000 Hz
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(opening.device->Submit(Bytes(pcm), 4800, 1));
    ASSERT_TRUE(log.WaitFor(1));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
}

TEST(SdlSoundDevice, ClearFailureWithoutASoundSystemOrForABadFormat) {
    DoneLog log;
    setenv("SDL_AUDIODRIVER", "no-such-sound-system", 1);
    auto none = Open(log);
    EXPECT_EQ(none.status, SoundOpenStatus::NoDevice);
    EXPECT_EQ(none.device, nullptr);
    EXPECT_FALSE(none.message.empty());
    EXPECT_EQ(OpenSoundDeviceCount(), 0u);

    setenv("SDL_AUDIODRIVER", "dummy", 1);
    PcmFormat eightBit = MonoPcm16(8000);
    eightBit.bitsPerSample = 8;
    PcmFormat badAverage = MonoPcm16(8000);
    badAverage.avgBytesPerSecond = 8000;
    PcmFormat threeChannels = MonoPcm16(8000);
    threeChannels.channels = 3;
    threeChannels.blockAlign = 6;
    threeChannels.avgBytesPerSecond = 48000;
    PcmFormat compressed = MonoPcm16(8000);
    compressed.formatTag = 2;
    for (const PcmFormat& f : {eightBit, badAverage, threeChannels, compressed}) {
        auto opening = OpenSoundDevice(0, f, &DoneLog::Done, &log);
        EXPECT_EQ(opening.status, SoundOpenStatus::BadFormat);
        EXPECT_EQ(opening.device, nullptr);
    }
    EXPECT_EQ(OpenSoundDevice(0, MonoPcm16(8000), nullptr, &log).status, SoundOpenStatus::BadFormat);
    EXPECT_EQ(OpenSoundDevice(99, MonoPcm16(8000), &DoneLog::Done, &log).status, SoundOpenStatus::NoDevice);
}

}  // namespace
}  // namespace kestrel::platform
