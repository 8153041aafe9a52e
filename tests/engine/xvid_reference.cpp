#include "tests/engine/xvid_reference.h"

#include <xvid.h>

#include <cstring>

#include "engine/decoder_dispatch.h"
#include "engine/mpeg4_decoder.h"

namespace kestrel::testing {

std::string DataPath(const std::string& name) { return std::string(KESTREL_SOURCE_DIR) + "/tests/engine/data/" + name; }

std::vector<Picture> DecodeDirectly(std::span<const uint8_t> stream, int general, uint32_t w, uint32_t h) {
    std::vector<Picture> out;
    engine::InitMpeg4Library();
    xvid_dec_create_t create;
    std::memset(&create, 0, sizeof create);
    create.version = XVID_VERSION;
    if (xvid_decore(nullptr, XVID_DEC_CREATE, &create, nullptr) < 0) return out;
    Picture picture(size_t{w} * h * 3 / 2, 0x80);
    const uint8_t* data = stream.data();
    int remaining = static_cast<int>(stream.size());
    while (remaining > 0) {
        xvid_dec_frame_t frame;
        std::memset(&frame, 0, sizeof frame);
        frame.version = XVID_VERSION;
        frame.general = general;
        frame.bitstream = const_cast<uint8_t*>(data);
        frame.length = remaining;
        frame.output.csp = XVID_CSP_YV12;
        frame.output.plane[0] = picture.data();
        frame.output.stride[0] = static_cast<int>(w);
        xvid_dec_stats_t stats;
        std::memset(&stats, 0, sizeof stats);
        stats.version = XVID_VERSION;
        const int used = xvid_decore(create.handle, XVID_DEC_DECODE, &frame, &stats);
        if (used <= 0) break;
        if (stats.type > 0) out.push_back(picture);
        data += used;
        remaining -= used;
    }
    xvid_decore(create.handle, XVID_DEC_DESTROY, nullptr, nullptr);
    return out;
}

int DirectFlags(uint32_t threads) {
    if (threads >= engine::kFastModeThreads) return XVID_LOWDELAY;
    return XVID_LOWDELAY | XVID_DEBLOCKY | (threads == 1 ? XVID_DEBLOCKUV : 0);
}

}  // namespace kestrel::testing
