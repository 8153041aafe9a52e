// Slice data: the macroblock loop of I and P slices.
#include <cstring>

#include "h264/decoder.h"

namespace kestrel::h264 {

uint32_t Decoder::DecodeSliceData(BitReader& br) {
    const SliceHeader& h = slice;
    if (h.first_mb >= h.size_mbs) return 1;
    Picture* pic = store.current();
    uint32_t addr = h.first_mb;
    while (true) {
        if (h.type == SliceType::kP) {
            uint32_t run = br.Ue();
            if (run > 0) return 2;  // P_Skip comes with the macroblock layer
        }
        uint32_t mb_type = br.Ue();
        if (mb_type != (h.type == SliceType::kP ? 30u : 25u)) return 2;
        br.AlignToByte();
        if (br.BytesLeft() < 384) return 2;
        const uint8_t* src = br.BytePointer();
        br.Skip(384 * 8);
        const uint32_t mx = addr % h.width_mbs, my = addr / h.width_mbs;
        for (int y = 0; y < 16; ++y)
            std::memcpy(pic->plane[0] + (size_t{my} * 16 + y) * pic->stride[0] + mx * 16, src + 16 * y, 16);
        for (int c = 0; c < 2; ++c)
            for (int y = 0; y < 8; ++y)
                std::memcpy(pic->plane[1 + c] + (size_t{my} * 8 + y) * pic->stride[1] + mx * 8,
                            src + 256 + 64 * c + 8 * y, 8);
        ++cur_decoded_mbs;
        ++addr;
        if (addr >= h.size_mbs || !br.MoreRbspData()) return 0;
    }
}

}  // namespace kestrel::h264
