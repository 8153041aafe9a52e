#include "engine/mpeg4_decoder.h"

#include <xvid.h>

#include <algorithm>
#include <cstring>
#include <vector>

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

// Largest coded picture the adapter accepts from a stream's VOL header.
constexpr uint32_t kMaxStreamSide = 2048;

// xvidcore learns the picture size from the stream's VOL header and writes a picture of that
// size, at the stride it is given, into a buffer whose size it never knows. The adapter passes a
// stats record, so that a payload carrying a VOL returns its size before the picture is decoded,
// and then lets the library write straight into the port's picture only when the stream's size
// is the port's; any other size is decoded into a buffer of the stream's size and at most the
// port's picture is copied out of it, so nothing is written past the picture buffer and the
// picture keeps the port's plane layout.
class Mpeg4Decoder final : public VideoDecoder {
public:
    explicit Mpeg4Decoder(void* handle) : handle_(handle) {
        std::memset(&frame_, 0, sizeof frame_);
        frame_.version = XVID_VERSION;
        frame_.general = XVID_LOWDELAY;
        frame_.output.csp = XVID_CSP_YV12;
    }
    ~Mpeg4Decoder() override {
        if (handle_ != nullptr) xvid_decore(handle_, XVID_DEC_DESTROY, nullptr, nullptr);
    }

    uint32_t Decode(const DecodeRequest& r) override {
        if (!r.fast) {
            frame_.general |= XVID_DEBLOCKY;
            if (r.playThreadCount == 1) frame_.general |= XVID_DEBLOCKUV;
        } else {
            frame_.general = XVID_LOWDELAY;
        }
        auto* data = const_cast<uint8_t*>(r.payload.data());
        int remaining = static_cast<int>(std::min<size_t>(r.payload.size(), 0x7FFFFFFF));
        // At most a VOL and then the picture; a few passes more cover stray headers.
        for (int pass = 0; pass < 4 && remaining > 0; ++pass) {
            const bool direct = streamWidth_ == r.width && streamHeight_ == r.height &&
                                r.picture.size() >= size_t{r.width} * r.height * 3 / 2;
            const bool bounded = !direct && !scratch_.empty();
            frame_.bitstream = data;
            frame_.length = remaining;
            frame_.output.csp = direct || bounded ? XVID_CSP_YV12 : XVID_CSP_NULL;
            frame_.output.plane[0] = direct ? r.picture.data() : bounded ? scratch_.data() : nullptr;
            frame_.output.stride[0] = static_cast<int>(direct ? r.width : streamWidth_);
            xvid_dec_stats_t stats;
            std::memset(&stats, 0, sizeof stats);
            stats.version = XVID_VERSION;
            const int used = xvid_decore(handle_, XVID_DEC_DECODE, &frame_, &stats);
            if (used < 0) break;
            if (stats.type == XVID_TYPE_VOL) {
                NewStreamSize(stats.data.vol.width, stats.data.vol.height, r);
            } else if (stats.type > 0) {
                if (bounded) CopyBounded(r);
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
    void NewStreamSize(int width, int height, const DecodeRequest& r) {
        streamWidth_ = static_cast<uint32_t>(std::clamp(width, 0, int(kMaxStreamSide)));
        streamHeight_ = static_cast<uint32_t>(std::clamp(height, 0, int(kMaxStreamSide)));
        if (streamWidth_ == r.width && streamHeight_ == r.height) {
            scratch_.clear();
            scratch_.shrink_to_fit();
        } else if (uint32_t(width) == streamWidth_ && uint32_t(height) == streamHeight_) {
            scratch_.assign(size_t{streamWidth_} * streamHeight_ * 3 / 2, 0x80);
        } else {
            scratch_.clear();  // beyond any recorder's size: decode without output
        }
    }

    // The stream's YV12 picture (rows of the stream's width) into the port's layout, clipped.
    void CopyBounded(const DecodeRequest& r) {
        const size_t portLuma = size_t{r.width} * r.height;
        if (r.picture.size() < portLuma * 3 / 2) return;
        const uint32_t w = std::min(streamWidth_, r.width), h = std::min(streamHeight_, r.height);
        const size_t sw = streamWidth_, streamLuma = sw * streamHeight_;
        const uint8_t* sy = scratch_.data();
        const uint8_t* sv = sy + streamLuma;
        const uint8_t* su = sv + streamLuma / 4;
        uint8_t* y = r.picture.data();
        uint8_t* v = y + portLuma;
        uint8_t* u = v + portLuma / 4;
        for (uint32_t row = 0; row < h; ++row) std::memcpy(y + size_t{row} * r.width, sy + row * sw, w);
        for (uint32_t row = 0; row < h / 2; ++row) {
            std::memcpy(v + size_t{row} * (r.width / 2), sv + row * (sw / 2), w / 2);
            std::memcpy(u + size_t{row} * (r.width / 2), su + row * (sw / 2), w / 2);
        }
    }

    void* handle_;
    uint32_t streamWidth_ = 0, streamHeight_ = 0;
    std::vector<uint8_t> scratch_;  // a picture of the stream's size when it is not the port's
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
