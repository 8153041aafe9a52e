// SDL's disk driver as a sound device for tests: its file holds exactly what was played,
// silence included. Test PCM never contains a zero sample, so dropping the zeros from the file
// leaves exactly the buffers that were played.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace kestrel::testing {

// Selects the disk driver for the next device open. delayMs is the driver's pause after each
// callback buffer: 0 runs as fast as the file takes it, about 32 (one buffer) is real time.
class DiskAudio {
public:
    explicit DiskAudio(int delayMs) {
        char name[] = "/tmp/kestrel-disk-audio-XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) close(fd);
        path_ = name;
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", path_.c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", std::to_string(delayMs).c_str(), 1);
    }
    ~DiskAudio() {
        unlink(path_.c_str());
        unsetenv("SDL_DISKAUDIOFILE");
        unsetenv("SDL_DISKAUDIODELAY");
    }
    DiskAudio(const DiskAudio&) = delete;
    DiskAudio& operator=(const DiskAudio&) = delete;

    // Everything the device played, 16-bit samples (read after the device is closed).
    std::vector<int16_t> Played() const {
        std::ifstream in(path_, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<int16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);  // host order, as played
        return samples;
    }

    // What was played with the silence between buffers taken out.
    std::vector<int16_t> Sound() const {
        std::vector<int16_t> s;
        for (int16_t v : Played())
            if (v != 0) s.push_back(v);
        return s;
    }

private:
    std::string path_;
};

// Test PCM: a running count that is never 0, so order, gaps and repeats all show.
inline std::vector<int16_t> CountingPcm(uint32_t first, uint32_t samples) {
    std::vector<int16_t> pcm(samples);
    for (uint32_t k = 0; k < samples; ++k) pcm[k] = static_cast<int16_t>(1 + (first + k) % 30000);
    return pcm;
}

inline const uint8_t* Bytes(const std::vector<int16_t>& pcm) {
    return reinterpret_cast<const uint8_t*>(pcm.data());
}

}  // namespace kestrel::testing
