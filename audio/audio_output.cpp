#include "audio/audio_output.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace kestrel {

platform::PcmFormat audio_format_for_payload(uint32_t payloadLength) {
    return platform::MonoPcm16(payloadLength <= 640 ? 8000 : 16000);
}

uint32_t audio_open_divisor(const platform::PcmFormat& format) {
    return format.samplesPerSecond <= 8000 ? 25 : 4;
}

AudioOutput::AudioOutput() = default;

AudioOutput::~AudioOutput() {
    std::lock_guard guard(deviceAndSectionsLock_);
    device_.reset();
}

void AudioOutput::set_device_id(uint32_t deviceId) {
    std::lock_guard guard(deviceAndSectionsLock_);
    deviceId_ = deviceId;
}

bool AudioOutput::audio_open(const platform::PcmFormat* format, uint32_t divisor) {
    std::unique_lock guard(deviceAndSectionsLock_);
    if (device_) {
        ResetLocked();
        auto closing = std::move(device_);
        openError_ = "the sound device was already open; it has been closed";
        guard.unlock();
        return false;  // the old device closes here, after the unlock
    }
    if (!format || divisor == 0) {
        openError_ = format ? "no chunk length (divisor 0)" : "no PCM format";
        return false;
    }
    const uint32_t chunk = format->avgBytesPerSecond / divisor;
    if (chunk == 0 || chunk > kMaxChunkLength || format->blockAlign == 0 || chunk % format->blockAlign) {
        openError_ = "chunk length " + std::to_string(chunk) + " does not fit four to a section";
        return false;
    }
    ResetLocked();
    chunkLength_ = chunk;
    bytesPerSecond_ = format->avgBytesPerSecond;
    auto opening = platform::OpenSoundDevice(deviceId_, *format, &AudioOutput::OnBufferDone, this);
    if (!opening.device) {
        openError_ = std::move(opening.message);
        return false;
    }
    openError_.clear();
    device_ = std::move(opening.device);
    return true;
}

bool AudioOutput::audio_write(const uint8_t* chunk, size_t available) {
    std::lock_guard guard(deviceAndSectionsLock_);
    if (chunkLength_ == 0 || !chunk || available < chunkLength_) return false;
    const uint32_t k = currentSection_;
    if (closing_ || inFlight_[k].load(std::memory_order_acquire)) {
        chunksDropped_.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    const uint32_t count = chunkCounts_[k].load(std::memory_order_relaxed);
    uint8_t* section = pcm_.data() + size_t{k} * kSectionBytes;
    std::memcpy(section + size_t{count} * chunkLength_, chunk, chunkLength_);
    chunkCounts_[k].store(count + 1, std::memory_order_relaxed);
    chunksWritten_.fetch_add(1, std::memory_order_relaxed);
    if (count + 1 < kChunksPerSection) return true;

    inFlight_[k].store(true, std::memory_order_relaxed);
    if (!device_ || !device_->Submit(section, kChunksPerSection * chunkLength_, k)) {
        chunkCounts_[k].store(0, std::memory_order_relaxed);
        inFlight_[k].store(false, std::memory_order_relaxed);
        sectionsFailed_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    sectionsQueued_.fetch_add(1, std::memory_order_relaxed);
    currentSection_ = (k + 1) % kSectionCount;
    return true;
}

void AudioOutput::OnBufferDone(void* self, uint32_t tag) {
    auto* out = static_cast<AudioOutput*>(self);
    const uint32_t k = tag < kSectionCount - 1 ? tag : kSectionCount - 1;
    // The count first: a writer that sees the flag clear must see the section empty.
    out->chunkCounts_[k].store(0, std::memory_order_relaxed);
    out->inFlight_[k].store(false, std::memory_order_release);
    out->sectionsDone_.fetch_add(1, std::memory_order_relaxed);
}

void AudioOutput::ResetLocked() {
    if (device_) device_->Reset();
    for (uint32_t k = 0; k < kSectionCount; ++k) {
        chunkCounts_[k].store(0, std::memory_order_relaxed);
        inFlight_[k].store(false, std::memory_order_relaxed);
    }
    currentSection_ = 0;
}

void AudioOutput::audio_reset() {
    std::lock_guard guard(deviceAndSectionsLock_);
    ResetLocked();
}

uint32_t AudioOutput::SectionsInFlight() const {
    uint32_t n = 0;
    for (const auto& f : inFlight_) n += f.load(std::memory_order_acquire) ? 1 : 0;
    return n;
}

void AudioOutput::audio_close() {
    using namespace std::chrono;
    steady_clock::time_point deadline;
    {
        std::lock_guard guard(deviceAndSectionsLock_);
        if (!device_) {
            ResetLocked();
            chunkLength_ = 0;
            return;
        }
        closing_ = true;
        const uint64_t sectionMs =
            bytesPerSecond_ ? uint64_t{kChunksPerSection} * chunkLength_ * 1000 / bytesPerSecond_ : 0;
        deadline = steady_clock::now() + milliseconds(SectionsInFlight() * sectionMs + kCloseWaitSlackMs);
    }
    // Without the lock: the device hands sections back meanwhile, and writers only drop.
    while (SectionsInFlight() > 0 && steady_clock::now() < deadline) {
        {
            std::lock_guard guard(deviceAndSectionsLock_);
            if (!device_ || device_->Lost()) break;
        }
        std::this_thread::sleep_for(milliseconds(40));
    }
    std::unique_ptr<platform::SoundDevice> closing;
    {
        std::lock_guard guard(deviceAndSectionsLock_);
        ResetLocked();  // nothing stays queued on the device being closed
        closing = std::move(device_);
        chunkLength_ = 0;  // later writes fail at once instead of filling sections
        closing_ = false;
    }
    // Closing joins the device's thread (up to one device buffer): writers need not wait for it.
    closing.reset();
}

void AudioOutput::audio_set_volume(uint32_t volume) {
    std::lock_guard guard(deviceAndSectionsLock_);
    if (device_) device_->SetVolume(volume);
}

uint32_t AudioOutput::audio_chunk_length() const {
    std::lock_guard guard(deviceAndSectionsLock_);
    return chunkLength_;
}

bool AudioOutput::device_open() const {
    std::lock_guard guard(deviceAndSectionsLock_);
    return device_ != nullptr;
}

std::string AudioOutput::last_open_error() const {
    std::lock_guard guard(deviceAndSectionsLock_);
    return openError_;
}

AudioOutput::Counters AudioOutput::counters() const {
    Counters c;
    c.chunksWritten = chunksWritten_.load(std::memory_order_relaxed);
    c.chunksDropped = chunksDropped_.load(std::memory_order_relaxed);
    c.sectionsQueued = sectionsQueued_.load(std::memory_order_relaxed);
    c.sectionsFailed = sectionsFailed_.load(std::memory_order_relaxed);
    c.sectionsDone = sectionsDone_.load(std::memory_order_relaxed);
    return c;
}

uint32_t AudioOutput::current_section() const {
    std::lock_guard guard(deviceAndSectionsLock_);
    return currentSection_ + 1;
}

bool AudioOutput::section_in_flight(uint32_t section) const {
    return section >= 1 && section <= kSectionCount && inFlight_[section - 1].load(std::memory_order_acquire);
}

uint32_t AudioOutput::section_chunks(uint32_t section) const {
    return section >= 1 && section <= kSectionCount ? chunkCounts_[section - 1].load(std::memory_order_acquire)
                                                     : 0;
}

}  // namespace kestrel
