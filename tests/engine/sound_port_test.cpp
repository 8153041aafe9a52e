// The sound port: which port is heard, the device rate chosen from its audio payloads, and what
// closing the sound and the file do to the output. SDL's dummy driver stands in for a device.
#include <cstdlib>

#include "audio/audio_output.h"
#include "engine/audio_link.h"
#include "tests/engine/play_fixture.h"

namespace kestrel::testing {
namespace {

using engine::Port;

class SoundPort : public PlayTest {
protected:
    void SetUp() override {
        PlayTest::SetUp();
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        out = engine::EngineSoundOutput();
        ASSERT_NE(out, nullptr);
    }
    void TearDown() override {
        kxCloseSound(0);
        unsetenv("SDL_AUDIODRIVER");
        PlayTest::TearDown();
    }
    // A short recording on `port` whose audio blocks are `payload` bytes long.
    void OpenWithAudio(int32_t port, uint32_t payload) {
        const std::string path = scratch.File("a" + std::to_string(port) + ".h64");
        RecordingWriter w(path);
        for (uint32_t i = 0; i < 30; ++i) {
            const std::vector<uint8_t> data = Marker(i);
            VideoFrame v;
            v.key = i % 10 == 0;
            v.frameNumber = 10 + i;
            v.stamp = 40 * i;
            v.data = data;
            w.Video(v);
            w.AudioBytes(40 * i, payload, 0x21);
        }
        ASSERT_TRUE(w.Close());
        ASSERT_EQ(engine::InitEngine(), 1);
        engine::RegisterVideoDecoder(engine::kCodecMpeg4, &MarkedDecoder::Make);
        ASSERT_EQ(kxOpenFile(port, path.c_str()), 1);
        ASSERT_TRUE(engine::WaitForIndex(port, 10000));
    }
    AudioOutput* out = nullptr;
};

TEST_F(SoundPort, RateFollowsTheLastAudioPayloadLength) {
    struct Case {
        uint32_t payload, chunk;
    } cases[] = {{168, 640}, {640, 640}, {641, 8000}, {2008, 8000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        OpenWithAudio(0, c.payload);
        ASSERT_EQ(kxOpenSound(0), 1);
        EXPECT_TRUE(engine::SoundDeviceMarkedOpen());
        EXPECT_EQ(out->audio_chunk_length(), c.chunk) << "8000 Hz up to 640 bytes, 16000 Hz above";
        EXPECT_TRUE(Port(0).soundPort.load());
        EXPECT_TRUE(Port(0).audioActive.load());
        ASSERT_EQ(kxCloseSound(5), 1);
        EXPECT_FALSE(engine::SoundDeviceMarkedOpen());
        EXPECT_EQ(out->audio_chunk_length(), 0u);
        ASSERT_TRUE(Close());
    }
}

TEST_F(SoundPort, AnotherPortTakesTheSoundAtTheRateAlreadyOpen) {
    OpenWithAudio(0, 168);
    OpenWithAudio(1, 2008);
    ASSERT_EQ(kxOpenSound(0), 1);
    ASSERT_EQ(kxOpenSound(1), 1);
    EXPECT_FALSE(Port(0).soundPort.load());
    EXPECT_FALSE(Port(0).audioActive.load());
    EXPECT_TRUE(Port(1).soundPort.load());
    EXPECT_EQ(out->audio_chunk_length(), 640u) << "the rate stays until the sound is closed";
    ASSERT_EQ(kxCloseSound(0), 1);
    ASSERT_EQ(kxOpenSound(1), 1);
    EXPECT_EQ(out->audio_chunk_length(), 8000u);

    EXPECT_EQ(kxOpenSound(-1), 0);
    EXPECT_EQ(kxOpenSound(128), 0);
    EXPECT_TRUE(Port(1).soundPort.load()) << "an invalid port changes nothing";
    Close(1);
}

TEST_F(SoundPort, CloseSoundWithoutADeviceClearsEveryPort) {
    Port(3).soundPort = true;
    Port(3).audioActive = true;
    Port(77).audioActive = true;
    ASSERT_FALSE(engine::SoundDeviceMarkedOpen());
    EXPECT_EQ(kxCloseSound(3), 1);
    for (int32_t port : {3, 77}) {
        EXPECT_FALSE(Port(port).soundPort.load()) << port;
        EXPECT_FALSE(Port(port).audioActive.load()) << port;
    }
}

// Closing the sound port's file takes back what was queued: a section half filled is emptied
// and the next sound starts again in the first section.
TEST_F(SoundPort, ClosingTheSoundPortsFileResetsTheOutput) {
    OpenWithAudio(0, 168);
    Play();
    ASSERT_EQ(kxOpenSound(0), 1);
    for (int i = 0; i < 12; ++i) Tick(5);  // audio blocks 1 and 2 go out
    ASSERT_EQ(out->current_section(), 1u);
    ASSERT_GE(out->section_chunks(1), 2u);
    ASSERT_TRUE(Close());
    EXPECT_EQ(out->section_chunks(1), 0u);
    EXPECT_EQ(out->current_section(), 1u);
    EXPECT_TRUE(engine::SoundDeviceMarkedOpen()) << "the device stays open for the next file";
}

// No sound system to be had: the sound port is still chosen and playback goes on silently.
TEST_F(SoundPort, WithoutASoundDevicePlaybackGoesOn) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    OpenWithAudio(0, 168);
    Play();
    ASSERT_EQ(kxOpenSound(0), 1);
    EXPECT_TRUE(engine::SoundDeviceMarkedOpen()) << "marked open all the same";
    EXPECT_FALSE(out->device_open());
    EXPECT_TRUE(Port(0).soundPort.load());
    MarkedDecoder::Take();
    for (int i = 0; i < 40; ++i) Tick(5);
    EXPECT_EQ(MarkedDecoder::Take().size(), 5u) << "frames 1 to 5 in 200 ms";
    EXPECT_GE(out->counters().sectionsFailed, 1u) << "a full section found no device";
}

}  // namespace
}  // namespace kestrel::testing
