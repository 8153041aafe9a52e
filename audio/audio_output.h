// AudioOutput: the engine-wide sound writer. One 128000-byte PCM buffer cut into four sections
// of 32000 bytes; each write copies one chunk (the PCM of one audio payload) into the current
// section, and the fourth chunk queues the section to the sound device. A section is refilled
// only after the device has handed it back; audio arriving while the current section is still
// queued is dropped, so the play thread never waits for the device.
//
// How the engine drives it (one instance of static storage duration, owned by the engine):
//
//   kxOpenSound(port), when the engine's device-open flag is clear:
//       out.set_device_id(0);
//       const auto fmt = audio_format_for_payload(lastAudioPayloadLength);  // 8000 or 16000 Hz
//       out.audio_open(&fmt, audio_open_divisor(fmt));   // false: no sound device; play on
//       out.audio_set_volume(0xFFFFFFFF);
//       deviceOpen = true;                               // even when the open failed
//     then create the AdpcmCodec if none exists and move the sound-port flags to this port.
//
//   Play step, when the port's audio-active flag is set (bufferLock held):
//       int16_t* pcm = port.audioBuffer;                 // 32000 bytes = 16000 samples
//       adpcm_decode(nullptr, payload, L, pcm, 16000);   // the codec object is never read
//       { lock audioLock; out.audio_write(reinterpret_cast<uint8_t*>(pcm), 32000); }
//     The result of audio_write is ignored. Pass null (not the engine's codec pointer) to
//     adpcm_decode: kxCloseSound may release the codec at any moment, and the decoder needs
//     none of its state.
//
//   kxCloseSound: clear every port's sound-port and audio-active flags first, then, if the
//       device-open flag is set, out.audio_close() and clear the flag; then release the codec.
//   kxCloseFile on the sound port: out.audio_reset().
//
// Thread safety: every operation may be called from any thread at any time, concurrently with
// the others. Device work (open, queue, reset, volume, and taking the device out of use) happens
// under one lock, so a write racing with audio_close or audio_reset either lands before it or
// finds the device gone and fails; the device is then closed outside the lock, with nothing
// queued on it, so a writer never waits for the device's thread to end. The device's
// buffer-done callback takes no lock (atomics only).
// Lock order: audioLock (engine) before this object's lock; the device's own lock last.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/sound/sound_device.h"

namespace kestrel {

// 8000 Hz for payloads of 640 bytes or less, 16000 Hz above; mono, 16-bit.
platform::PcmFormat audio_format_for_payload(uint32_t payloadLength);
// 25 at 8000 Hz (640-byte chunks of 40 ms), 4 above (8000-byte chunks of 250 ms).
uint32_t audio_open_divisor(const platform::PcmFormat& format);

class AudioOutput {
public:
    static constexpr uint32_t kSectionCount = 4;
    static constexpr uint32_t kSectionBytes = 32000;
    static constexpr uint32_t kChunksPerSection = 4;
    static constexpr uint32_t kMaxChunkLength = kSectionBytes / kChunksPerSection;
    static constexpr uint32_t kCloseWaitSlackMs = 1000;  // device latency and scheduling

    struct Counters {
        uint64_t chunksWritten = 0;   // copied into a section
        uint64_t chunksDropped = 0;   // current section still queued, or closing
        uint64_t sectionsQueued = 0;  // handed to the device
        uint64_t sectionsFailed = 0;  // the device refused them (or there was none)
        uint64_t sectionsDone = 0;    // handed back by the device
    };

    AudioOutput();
    // Closes the device if it is still open.
    virtual ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // The device number the next audio_open uses (0: the system's default output).
    void set_device_id(uint32_t deviceId);

    // Opens the device for format; chunk length = average bytes per second / divisor. Fails
    // (closing it) when a device is already open; fails for a missing format, a divisor of 0, or
    // a chunk length that is 0, larger than a quarter section or not whole samples. When the
    // device cannot be opened the chunk length still stands: writes fill sections that then
    // fail to queue, and nothing plays. last_open_error() says why.
    bool audio_open(const platform::PcmFormat* format, uint32_t divisor);

    // Copies the first chunk-length bytes of chunk (available bytes long) into the current
    // section. True when copied, or dropped because the section is still queued; false when
    // nothing is open, available is shorter than a chunk, or the full section could not be
    // queued (it is emptied again).
    bool audio_write(const uint8_t* chunk, size_t available);

    // Stops the device and takes back every queued section; all sections empty, section 1 next.
    void audio_reset();

    // Lets the queued sections play out (polling every 40 ms, at most their playing time plus
    // kCloseWaitSlackMs, and not at all once the device is lost), then resets and closes the
    // device. Writes arriving meanwhile are dropped.
    void audio_close();

    // Low word left, high word right, 0xFFFF full.
    void audio_set_volume(uint32_t volume);

    uint32_t audio_chunk_length() const;
    bool device_open() const;          // a device is open now
    std::string last_open_error() const;
    Counters counters() const;
    uint32_t current_section() const;  // 1..4, the section the next chunk goes into
    bool section_in_flight(uint32_t section) const;  // section 1..4
    uint32_t section_chunks(uint32_t section) const;  // section 1..4

private:
    static void OnBufferDone(void* self, uint32_t tag);
    void ResetLocked();
    uint32_t SectionsInFlight() const;

    // Guards the device, the section being filled (current section, its chunk count and bytes
    // while it is not in flight), the chunk length and the open error.
    mutable std::mutex deviceAndSectionsLock_;
    std::array<std::atomic<uint32_t>, kSectionCount> chunkCounts_{};
    std::array<std::atomic<bool>, kSectionCount> inFlight_{};
    alignas(16) std::array<uint8_t, kSectionCount * kSectionBytes> pcm_{};
    uint32_t currentSection_ = 0;  // 0-based
    std::unique_ptr<platform::SoundDevice> device_;
    uint32_t deviceId_ = 0;
    uint32_t chunkLength_ = 0;
    uint32_t bytesPerSecond_ = 0;
    bool closing_ = false;
    std::string openError_;

    std::atomic<uint64_t> chunksWritten_{0}, chunksDropped_{0}, sectionsQueued_{0},
        sectionsFailed_{0}, sectionsDone_{0};
};

}  // namespace kestrel
