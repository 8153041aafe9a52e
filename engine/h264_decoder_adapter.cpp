// Codec type 1 through the H.264 decoder, in decoding order (work mode 0).
//
// The instance is made for the port's picture rounded up to whole macroblocks: heights such as
// 120 or 200 are coded as 128 or 208 rows with cropping, and a smaller instance would refuse
// every parameter set of the stream.
//
// A packet holds one access unit (a picture, or one field of a pair). It is handed over whole
// as the end of a unit, so that its picture comes out with it rather than with the next packet:
// what the port shows after a packet, a seek or a single step is that packet's picture. A key
// frame's four date-time bytes come before its first start code and are passed over. The
// decoder returns as soon as a picture is ready and keeps the rest of the input pending; the
// adapter calls again without new input until it asks for more, so that no byte of a payload is
// lost, and shows the last picture returned. Planes are copied one by one into the engine's
// order (Y, then Cr, then Cb), cropped, within the port's picture.
#include "engine/h264_decoder_adapter.h"

#include <algorithm>
#include <cstring>

#include "h264/h264dec.h"

namespace kestrel::engine {
namespace {

class H264Decoder final : public VideoDecoder {
public:
    H264Decoder(H264Dec* instance, uint32_t width, uint32_t height)
        : instance_(instance), width_(width), height_(height) {}
    ~H264Decoder() override { h264dec_destroy(instance_); }

    uint32_t Decode(const DecodeRequest& r) override {
        const uint8_t* data = r.payload.data();
        const uint32_t size = static_cast<uint32_t>(r.payload.size());
        const uint32_t flags = size == 0 ? H264DEC_FLAG_FLUSH : H264DEC_FLAG_END_OF_UNIT;
        H264DecFrame frame;
        bool shown = false;
        int32_t result = h264dec_decode(instance_, size ? data : nullptr, size, 0, 0, &frame, flags);
        while (result == H264DEC_PICTURE) {
            if (r.picture.size() >= size_t{width_} * height_ * 3 / 2) CopyOut(frame, r.picture.data());
            shown = true;
            result = h264dec_decode(instance_, nullptr, 0, 0, 0, &frame, flags);
        }
        // Without a new picture the previous one stays on screen and playback goes on.
        return shown ? width_ * height_ * 3 / 2 : 1;
    }

private:
    void CopyOut(const H264DecFrame& f, uint8_t* out) const {
        const uint32_t pic_w = f.width > f.crop_left + f.crop_right ? f.width - f.crop_left - f.crop_right : 0;
        const uint32_t pic_h = f.height > f.crop_top + f.crop_bottom ? f.height - f.crop_top - f.crop_bottom : 0;
        const uint32_t w = std::min(width_, pic_w), h = std::min(height_, pic_h);
        const uint8_t* y = f.y + size_t{f.crop_top} * f.y_stride + f.crop_left;
        for (uint32_t row = 0; row < h; ++row) std::memcpy(out + size_t{row} * width_, y + size_t{row} * f.y_stride, w);
        const size_t chroma_offset = size_t{f.crop_top / 2} * f.uv_stride + f.crop_left / 2;
        const uint8_t* planes[2] = {f.v + chroma_offset, f.u + chroma_offset};  // Cr first: YV12
        uint8_t* dst = out + size_t{width_} * height_;
        for (const uint8_t* src : planes) {
            for (uint32_t row = 0; row < h / 2; ++row)
                std::memcpy(dst + size_t{row} * (width_ / 2), src + size_t{row} * f.uv_stride, w / 2);
            dst += size_t{width_ / 2} * (height_ / 2);
        }
    }

    H264Dec* instance_;
    uint32_t width_, height_;
};

}  // namespace

std::unique_ptr<VideoDecoder> CreateH264VideoDecoder(const VideoDecoderConfig& config) {
    if (config.width == 0 || config.height == 0) return nullptr;
    const H264DecAttributes attributes{0, 0, (config.width + 15) / 16, (config.height + 15) / 16, 16, 0};
    H264Dec* instance = h264dec_create(&attributes);
    if (!instance) return nullptr;
    return std::make_unique<H264Decoder>(instance, config.width, config.height);
}

}  // namespace kestrel::engine
