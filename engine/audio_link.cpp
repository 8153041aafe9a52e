#include "engine/audio_link.h"

#include <mutex>

#include "engine/api_work.h"
#include "engine/engine.h"

#if KESTREL_HAVE_AUDIO
#include "audio/adpcm_codec.h"
#include "audio/audio_format_table.h"
#include "audio/audio_output.h"
#endif

namespace kestrel::engine {

namespace {
// Guards the codec pointer, the format table and the device-open flag against kxOpenSound and
// kxCloseSound racing with opens. Taken before the sound output's own lock, never inside it.
std::mutex soundStateLock;
bool deviceMarkedOpen = false;
}  // namespace

bool SoundDeviceMarkedOpen() {
    std::lock_guard<std::mutex> hold(soundStateLock);
    return deviceMarkedOpen;
}

namespace {
void SelectSoundPort(int32_t port) {
    for (PlayerPort& p : TheEngine().ports) {
        p.soundPort = false;
        p.audioActive = false;
    }
    Port(port).soundPort = true;
    Port(port).audioActive = true;
}
}  // namespace

#if KESTREL_HAVE_AUDIO
namespace {
AdpcmCodec* engineCodec = nullptr;
AudioFormatTable formatTable{};

// Made at its first use, which comes before the first device open: the device is closed by the
// sound layer's exit handler before this object is destroyed.
AudioOutput& SoundOutput() {
    static AudioOutput output;
    return output;
}
}  // namespace

bool AudioDecoderBuilt() { return true; }

bool CreateEngineAudioCodec() {
    if (AllocationRefused(Allocation::AudioCodec, sizeof(AdpcmCodec))) return false;
    std::lock_guard<std::mutex> hold(soundStateLock);
    if (engineCodec == nullptr && adpcm_create(kAdpcmModeMuLaw, &engineCodec) != 0) return false;
    formatTable = make_audio_format_table(engineCodec);
    return true;
}

void FillAudioFormatTable() {
    std::lock_guard<std::mutex> hold(soundStateLock);
    formatTable = make_audio_format_table(engineCodec);
}

AudioOutput* EngineSoundOutput() { return &SoundOutput(); }

void PlayAudioPacket(int32_t port, const uint8_t* payload, uint32_t length) {
    PlayerPort& p = Port(port);
    if (!p.audioDecode) return;
    int16_t* pcm = p.audioDecode.get();
    // No codec object: kxCloseSound may release it at any moment, and decoding needs none of it.
    adpcm_decode(nullptr, payload, length, pcm, kAudioDecodeBytes / 2);
    std::lock_guard<std::mutex> hold(p.audioLock);
    SoundOutput().audio_write(reinterpret_cast<const uint8_t*>(pcm), kAudioDecodeBytes);
}

int32_t OpenSoundPort(int32_t port) {
    {
        std::lock_guard<std::mutex> hold(soundStateLock);
        if (!deviceMarkedOpen) {
            AudioOutput& out = SoundOutput();
            out.set_device_id(0);
            const platform::PcmFormat format = audio_format_for_payload(Port(port).audioPayloadLength.load());
            // Without a device (no sound server, no hardware) playback goes on silently.
            out.audio_open(&format, audio_open_divisor(format));
            out.audio_set_volume(0xFFFFFFFFu);
            deviceMarkedOpen = true;
        }
        if (engineCodec == nullptr && adpcm_create(3, &engineCodec) == 0)
            formatTable = make_audio_format_table(engineCodec);
    }
    SelectSoundPort(port);
    return 1;
}

void ResetSoundOutput() { SoundOutput().audio_reset(); }

void CloseSoundOutput() {
    std::lock_guard<std::mutex> hold(soundStateLock);
    if (deviceMarkedOpen) {
        SoundOutput().audio_close();
        deviceMarkedOpen = false;
    }
    if (engineCodec != nullptr) {
        adpcm_release(engineCodec);
        engineCodec = nullptr;
        formatTable = make_audio_format_table(nullptr);
    }
}

#else

bool AudioDecoderBuilt() { return false; }

// No audio library in this build: there is no codec to create, and no open fails for lack of one.
bool CreateEngineAudioCodec() { return !AllocationRefused(Allocation::AudioCodec, 0); }

void FillAudioFormatTable() {}

AudioOutput* EngineSoundOutput() { return nullptr; }

void PlayAudioPacket(int32_t, const uint8_t*, uint32_t) {}

int32_t OpenSoundPort(int32_t port) {
    {
        std::lock_guard<std::mutex> hold(soundStateLock);
        deviceMarkedOpen = true;
    }
    SelectSoundPort(port);
    return 1;
}

void ResetSoundOutput() {}

void CloseSoundOutput() {
    std::lock_guard<std::mutex> hold(soundStateLock);
    deviceMarkedOpen = false;
}

#endif

}  // namespace kestrel::engine
