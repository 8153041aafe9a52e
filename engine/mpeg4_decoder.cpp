#include "engine/mpeg4_decoder.h"

#include <xvid.h>

#include <algorithm>
#include <cstring>

namespace kestrel::engine {

void InitMpeg4Library() {
    xvid_gbl_init_t init;
    std::memset(&init, 0, sizeof init);
    init.version = XVID_VERSION;
    init.cpu_flags = 0;  // the library detects the processor
    init.debug = 0;
    xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr);
}

namespace {

// xvidcore learns the picture size from the stream's VOL header and would write a picture of that
// size, at the stride it is given, into a buffer whose size it never knows. The adapter asks for
// the decoder's own planes instead and copies at most the port's picture out of them, so a stream
// that is larger than its recording claims cannot write past the picture buffer, and a smaller one
// lands in the port's plane layout.
class Mpeg4Decoder final : public VideoDecoder {
public:
    explicit Mpeg4Decoder(void* handle) : handle_(handle) {
        std::memset(&frame_, 0, sizeof frame_);
        frame_.version = XVID_VERSION;
        frame_.general = XVID_LOWDELAY;
        frame_.output.csp = XVID_CSP_INTERNAL;
    }
    ~Mpeg4Decoder() override {
        if (handle_ != nullptr) xvid_decore(handle_, XVID_DEC_DESTROY, nullptr, nullptr);
    }

    uint32_t Decode(const DecodeRequest& r) override {
        const bool quality = !r.fast;
        if (quality) {
            frame_.general |= XVID_DEBLOCKY;
            if (r.playThreadCount == 1) frame_.general |= XVID_DEBLOCKUV;
        } else {
            frame_.general = XVID_LOWDELAY;
        }
        auto* data = const_cast<uint8_t*>(r.payload.data());
        int remaining = static_cast<int>(std::min<size_t>(r.payload.size(), 0x7FFFFFFF));
        // A payload may carry a VOL header before its picture: with a stats record the library
        // stops after the VOL and reports its size, then the next call decodes the picture.
        for (int pass = 0; pass < 4 && remaining > 0; ++pass) {
            frame_.bitstream = data;
            frame_.length = remaining;
            frame_.output.csp = XVID_CSP_INTERNAL;
            xvid_dec_stats_t stats;
            std::memset(&stats, 0, sizeof stats);
            stats.version = XVID_VERSION;
            const int used = xvid_decore(handle_, XVID_DEC_DECODE, &frame_, &stats);
            if (used < 0) break;
            if (stats.type == XVID_TYPE_VOL) {
                streamWidth_ = static_cast<uint32_t>(std::max(stats.data.vol.width, 0));
                streamHeight_ = static_cast<uint32_t>(std::max(stats.data.vol.height, 0));
            } else if (stats.type > 0) {
                CopyPicture(r);
                break;
            }
            if (used == 0) break;
            data += used;
            remaining -= used;
        }
        // The size of a YV12 picture of the stream; errors inside the stream are not detected.
        return streamWidth_ * streamHeight_ * 12 / 8;
    }

private:
    void CopyPicture(const DecodeRequest& r) {
        const uint32_t w = std::min(streamWidth_, r.width), h = std::min(streamHeight_, r.height);
        const size_t lumaBytes = size_t{r.width} * r.height;
        if (r.picture.size() < lumaBytes * 3 / 2 || frame_.output.plane[0] == nullptr) return;
        uint8_t* y = r.picture.data();
        uint8_t* v = y + lumaBytes;
        uint8_t* u = v + lumaBytes / 4;
        const auto* sy = static_cast<const uint8_t*>(frame_.output.plane[0]);
        const auto* su = static_cast<const uint8_t*>(frame_.output.plane[1]);
        const auto* sv = static_cast<const uint8_t*>(frame_.output.plane[2]);
        const int ys = frame_.output.stride[0], cs = frame_.output.stride[1];
        for (uint32_t row = 0; row < h; ++row) std::memcpy(y + size_t{row} * r.width, sy + ptrdiff_t(row) * ys, w);
        const uint32_t cw = w / 2, ch = h / 2, dcs = r.width / 2;
        for (uint32_t row = 0; row < ch; ++row) {
            std::memcpy(v + size_t{row} * dcs, sv + ptrdiff_t(row) * cs, cw);
            std::memcpy(u + size_t{row} * dcs, su + ptrdiff_t(row) * cs, cw);
        }
    }

    void* handle_;
    uint32_t streamWidth_ = 0, streamHeight_ = 0;
    xvid_dec_frame_t frame_;
};

}  // namespace

std::unique_ptr<VideoDecoder> CreateMpeg4VideoDecoder(const VideoDecoderConfig&) {
    xvid_dec_create_t create;
    std::memset(&create, 0, sizeof create);
    create.version = XVID_VERSION;
    create.width = 0;  // taken from the stream
    create.height = 0;
    if (xvid_decore(nullptr, XVID_DEC_CREATE, &create, nullptr) < 0 || create.handle == nullptr) return nullptr;
    return std::make_unique<Mpeg4Decoder>(create.handle);
}

}  // namespace kestrel::engine
