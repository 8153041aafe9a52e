// SDL2 backend of the sound device. SDL pulls audio on its own thread through Fill while it holds
// the device's mixer lock; Reset takes that same lock from the owner's thread. Fill therefore
// reads only the lock-free queue below and never calls back into anything that could wait for
// the owner.
#include <SDL.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/sound/sound_device.h"

namespace kestrel::platform {
namespace {

class SdlSoundDevice;

// The devices open now, so that the exit handler can close them before static objects go away.
// All constant-initialised, hence usable during static destruction.
std::mutex g_openDevicesLock;  // guards the list, the count, the handler flag and SDL audio init/quit
SdlSoundDevice* g_openDevices = nullptr;
uint32_t g_openDeviceCount = 0;
bool g_exitHandlerInstalled = false;

void CloseAllAtExit();

// Frames per SDL callback: about 32 ms, a power of two.
uint16_t CallbackFrames(uint32_t rate) {
    uint32_t frames = 64;
    while (frames * 2 <= rate / 16 && frames < 4096) frames *= 2;
    return static_cast<uint16_t>(frames);
}

bool FormatSupported(const PcmFormat& f) {
    return f.formatTag == 1 && f.bitsPerSample == 16 && (f.channels == 1 || f.channels == 2) &&
           f.samplesPerSecond >= 1000 && f.samplesPerSecond <= 192000 &&
           f.blockAlign == f.channels * 2 && f.avgBytesPerSecond == f.samplesPerSecond * f.blockAlign;
}

class SdlSoundDevice final : public SoundDevice {
public:
    SdlSoundDevice(SoundBufferDone done, void* context, const PcmFormat& format)
        : done_(done), context_(context), channels_(format.channels), frameBytes_(format.blockAlign) {}

    ~SdlSoundDevice() override {
        std::lock_guard guard(g_openDevicesLock);
        if (id_ != 0) CloseLocked();
    }

    // Called with g_openDevicesLock held.
    bool OpenLocked(uint32_t deviceId, const PcmFormat& format, std::string& message) {
        // Audio brings up SDL's event system, which would otherwise take over SIGINT and SIGTERM.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            message = std::string("no sound system: ") + SDL_GetError();
            return false;
        }
        const char* name = nullptr;
        if (deviceId > 0) {
            name = SDL_GetAudioDeviceName(static_cast<int>(deviceId - 1), 0);
            if (!name) {
                message = "no sound output device " + std::to_string(deviceId);
                SDL_QuitSubSystem(SDL_INIT_AUDIO);
                return false;
            }
        }
        SDL_AudioSpec want{};
        want.freq = static_cast<int>(format.samplesPerSecond);
        want.format = AUDIO_S16SYS;
        want.channels = static_cast<Uint8>(format.channels);
        want.samples = CallbackFrames(format.samplesPerSecond);
        want.callback = &SdlSoundDevice::Fill;
        want.userdata = this;
        SDL_AudioSpec have{};
        // No allowed changes: SDL converts to whatever the hardware takes.
        id_ = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
        if (id_ == 0) {
            message = std::string("cannot open the sound device: ") + SDL_GetError();
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        next_ = g_openDevices;
        g_openDevices = this;
        ++g_openDeviceCount;
        if (!g_exitHandlerInstalled) {
            // Registered after every static object built so far, so it runs before their
            // destructors: SDL's thread stops calling into them first.
            g_exitHandlerInstalled = std::atexit(CloseAllAtExit) == 0;
        }
        SDL_PauseAudioDevice(id_, 0);
        return true;
    }

    // Called with g_openDevicesLock held.
    void CloseLocked() {
        SDL_CloseAudioDevice(id_);  // joins SDL's thread: Fill does not run after this
        id_ = 0;
        closed_.store(true, std::memory_order_relaxed);
        ReturnQueued();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        for (SdlSoundDevice** p = &g_openDevices; *p; p = &(*p)->next_) {
            if (*p == this) {
                *p = next_;
                break;
            }
        }
        --g_openDeviceCount;
    }

    bool Submit(const uint8_t* data, uint32_t length, uint32_t tag) override {
        if (closed_.load(std::memory_order_relaxed) || !data || length == 0 || length % frameBytes_)
            return false;
        const uint32_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) >= kMaxQueued) return false;
        queue_[head % kMaxQueued] = {data, length, tag};
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

    void Reset() override {
        if (id_ == 0) return;
        SDL_LockAudioDevice(id_);
        ReturnQueued();
        SDL_UnlockAudioDevice(id_);
    }

    void SetVolume(uint32_t volume) override { volume_.store(volume, std::memory_order_relaxed); }

    bool Lost() const override {
        return closed_.load(std::memory_order_relaxed) || SDL_GetAudioDeviceStatus(id_) == SDL_AUDIO_STOPPED;
    }

private:
    struct Queued {
        const uint8_t* data;
        uint32_t length;
        uint32_t tag;
    };

    static void SDLCALL Fill(void* self, Uint8* stream, int length) {
        static_cast<SdlSoundDevice*>(self)->FillStream(stream, static_cast<uint32_t>(length));
    }

    // SDL's thread: play queued buffers in order, silence when none is queued.
    void FillStream(uint8_t* stream, uint32_t length) {
        const uint32_t volume = volume_.load(std::memory_order_relaxed);
        uint32_t filled = 0;
        while (filled < length) {
            const uint32_t tail = tail_.load(std::memory_order_relaxed);
            if (tail == head_.load(std::memory_order_acquire)) {
                std::memset(stream + filled, 0, length - filled);
                return;
            }
            const Queued& q = queue_[tail % kMaxQueued];
            const uint32_t n = std::min(q.length - playOffset_, length - filled);
            CopyScaled(stream + filled, q.data + playOffset_, n, volume);
            filled += n;
            playOffset_ += n;
            if (playOffset_ == q.length) {
                const uint32_t tag = q.tag;
                playOffset_ = 0;
                tail_.store(tail + 1, std::memory_order_release);
                done_(context_, tag);
            }
        }
    }

    void CopyScaled(uint8_t* to, const uint8_t* from, uint32_t bytes, uint32_t volume) const {
        const int32_t left = static_cast<int32_t>(volume & 0xFFFF);
        const int32_t right = channels_ == 2 ? static_cast<int32_t>(volume >> 16) : left;
        if (left == 0xFFFF && right == 0xFFFF) {
            std::memcpy(to, from, bytes);
            return;
        }
        for (uint32_t at = 0; at < bytes; at += 2) {
            int16_t s;
            std::memcpy(&s, from + at, 2);
            const int32_t gain = (at / 2) % channels_ == 0 ? left : right;
            s = static_cast<int16_t>(s * gain / 0xFFFF);
            std::memcpy(to + at, &s, 2);
        }
    }

    // Hands every queued buffer back; Fill must not be running (mixer lock held or device closed).
    void ReturnQueued() {
        const uint32_t head = head_.load(std::memory_order_acquire);
        for (uint32_t t = tail_.load(std::memory_order_relaxed); t != head; ++t) {
            const uint32_t tag = queue_[t % kMaxQueued].tag;
            tail_.store(t + 1, std::memory_order_release);
            done_(context_, tag);
        }
        playOffset_ = 0;
    }

    const SoundBufferDone done_;
    void* const context_;
    const uint16_t channels_;
    const uint16_t frameBytes_;
    SDL_AudioDeviceID id_ = 0;
    std::atomic<bool> closed_{false};
    SdlSoundDevice* next_ = nullptr;  // in g_openDevices

    // Single producer (Submit) and single consumer (Fill, or ReturnQueued while Fill is held off).
    std::array<Queued, kMaxQueued> queue_{};
    std::atomic<uint32_t> head_{0};
    std::atomic<uint32_t> tail_{0};
    uint32_t playOffset_ = 0;  // bytes of the buffer at tail_ already played
    std::atomic<uint32_t> volume_{0xFFFFFFFF};
};

void CloseAllAtExit() {
    std::lock_guard guard(g_openDevicesLock);
    while (g_openDevices) g_openDevices->CloseLocked();
}

}  // namespace

PcmFormat MonoPcm16(uint32_t samplesPerSecond) {
    PcmFormat f;
    f.formatTag = 1;
    f.channels = 1;
    f.samplesPerSecond = samplesPerSecond;
    f.blockAlign = 2;
    f.bitsPerSample = 16;
    f.avgBytesPerSecond = samplesPerSecond * 2;
    return f;
}

SoundDeviceOpening OpenSoundDevice(uint32_t deviceId, const PcmFormat& format, SoundBufferDone done,
                                   void* context) {
    SoundDeviceOpening opening;
    if (!FormatSupported(format) || !done) {
        opening.status = SoundOpenStatus::BadFormat;
        opening.message = "the sound device takes 16-bit linear PCM, one or two channels";
        return opening;
    }
    auto device = std::make_unique<SdlSoundDevice>(done, context, format);
    std::lock_guard guard(g_openDevicesLock);
    if (!device->OpenLocked(deviceId, format, opening.message)) {
        opening.status = SoundOpenStatus::NoDevice;
        return opening;
    }
    opening.status = SoundOpenStatus::Ok;
    opening.device = std::move(device);
    return opening;
}

uint32_t OpenSoundDeviceCount() {
    std::lock_guard guard(g_openDevicesLock);
    return g_openDeviceCount;
}

}  // namespace kestrel::platform
