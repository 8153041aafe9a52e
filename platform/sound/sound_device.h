// The sound device: a PCM sink that takes queued buffers and hands each one back once it has
// been played. The engine's sound writer (audio/audio_output.h) is its only user.
//
// Threads: Submit, Reset, SetVolume and destruction are called by one thread at a time (the owner
// serialises them). The buffer-done notification runs on the device's own thread, or on the
// owner's thread inside Reset and the destructor; it must not block and must not take any lock
// the owner may hold while calling the device.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kestrel::platform {

// Linear PCM (format tag 1), interleaved, signed 16-bit samples in host order.
struct PcmFormat {
    uint16_t formatTag = 1;
    uint16_t channels = 1;
    uint32_t samplesPerSecond = 0;
    uint32_t avgBytesPerSecond = 0;  // samplesPerSecond * blockAlign
    uint16_t blockAlign = 0;         // channels * bitsPerSample / 8
    uint16_t bitsPerSample = 16;
};

// One channel, 16 bits, at the given rate.
PcmFormat MonoPcm16(uint32_t samplesPerSecond);

// Called once for every submitted buffer, with the tag it was submitted with.
using SoundBufferDone = void (*)(void* context, uint32_t tag);

class SoundDevice {
public:
    // Buffers the device holds at once; Submit refuses more.
    static constexpr uint32_t kMaxQueued = 8;

    // Closes the device; buffers still queued are reported done first.
    virtual ~SoundDevice() = default;

    // Queues length bytes (whole sample frames) behind the buffers already queued. The memory
    // must stay valid and unchanged until its done notification. False when the queue is full
    // or the device is closed.
    virtual bool Submit(const uint8_t* data, uint32_t length, uint32_t tag) = 0;

    // Stops what is playing and returns every queued buffer (each reported done) before it
    // returns; the device stays open and plays what is submitted next.
    virtual void Reset() = 0;

    // Low word left channel, high word right; 0xFFFF is full (the samples unchanged). A mono
    // device uses the low word.
    virtual void SetVolume(uint32_t volume) = 0;

    // True once the device has gone away (unplugged, sound server gone, closed at exit): queued
    // buffers will not come back by playing.
    virtual bool Lost() const = 0;
};

enum class SoundOpenStatus : uint8_t {
    Ok,
    BadFormat,  // not 16-bit linear PCM with one or two channels and consistent rates
    NoDevice,   // no sound system, no hardware, or the device refused to open
};

struct SoundDeviceOpening {
    std::unique_ptr<SoundDevice> device;  // set when status is Ok
    SoundOpenStatus status = SoundOpenStatus::NoDevice;
    std::string message;                  // why it failed, for a status line or a log
};

// Opens device `deviceId` (0: the system's default output; n > 0: the n-th output device the
// sound system lists) for `format`, starts it playing silence until buffers arrive, and reports
// finished buffers to done(context, tag). Every open device is closed at program exit before
// static objects are destroyed (an atexit handler registered at the first open), so `context`
// may be an object of static storage duration.
SoundDeviceOpening OpenSoundDevice(uint32_t deviceId, const PcmFormat& format, SoundBufferDone done,
                                   void* context);

// Number of devices open now (for diagnostics and tests of the exit path).
uint32_t OpenSoundDeviceCount();

}  // namespace kestrel::platform
