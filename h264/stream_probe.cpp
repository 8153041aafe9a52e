#include "h264/stream_probe.h"

#include <algorithm>
#include <vector>

#include "h264/bit_reader.h"
#include "h264/parameter_sets.h"

namespace kestrel::h264 {

bool ProbeStreamSize(const uint8_t* data, size_t size, StreamSize* out) {
    *out = StreamSize{};
    std::vector<uint8_t> rbsp;
    for (size_t i = 0; i + 3 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1 || (data[i + 3] & 31) != 7) continue;
        rbsp.clear();
        size_t zeros = 0;
        for (size_t j = i + 4; j < size && rbsp.size() < 4096; ++j) {
            if (zeros >= 2 && data[j] == 1) break;
            if (zeros >= 2 && data[j] == 3) {
                zeros = 0;
                continue;
            }
            rbsp.push_back(data[j]);
            zeros = data[j] == 0 ? zeros + 1 : 0;
        }
        while (!rbsp.empty() && rbsp.back() == 0) rbsp.pop_back();
        if (rbsp.empty()) continue;
        const uint32_t n = static_cast<uint32_t>(rbsp.size());
        rbsp.resize(n + kBitReaderPadding, 0);
        BitReader br;
        br.Init(rbsp.data(), n, (n - 1) * 8);
        Sps sps;
        if (ParseSps(br, {128, 128, 16}, &sps) != 0) continue;
        out->width_mbs = std::max(out->width_mbs, sps.width_mbs);
        out->height_mbs = std::max(out->height_mbs, sps.frame_height / 16);
    }
    return out->width_mbs != 0;
}

}  // namespace kestrel::h264
