#include "h264/picture_order_count.h"

#include <algorithm>

namespace kestrel::h264 {
namespace {

PocResult Finish(int64_t top, int64_t bottom, PictureStructure structure) {
    PocResult r;
    r.top = static_cast<int32_t>(top);
    r.bottom = static_cast<int32_t>(bottom);
    r.poc = structure == kFrame ? std::min(r.top, r.bottom) : structure == kTopField ? r.top : r.bottom;
    return r;
}

int64_t FrameNumOffset(const Sps& sps, const SliceHeader& h, const PocState& s) {
    if (h.idr) return 0;
    return s.prev_frame_num > h.frame_num ? s.prev_frame_num_offset + sps.max_frame_num
                                          : s.prev_frame_num_offset;
}

}  // namespace

PocResult ComputePoc(const Sps& sps, const SliceHeader& h, PocState& s) {
    const bool ref = h.nal_ref_idc != 0;
    int64_t top = 0, bottom = 0;
    if (sps.poc_type == 0) {
        if (h.idr) {
            s.prev_poc_msb = 0;
            s.prev_poc_lsb = 0;
        }
        const int64_t max_lsb = int64_t{1} << sps.log2_max_poc_lsb;
        const int64_t lsb = h.poc_lsb;
        int64_t msb = s.prev_poc_msb;
        if (lsb < s.prev_poc_lsb && s.prev_poc_lsb - lsb >= max_lsb / 2)
            msb = s.prev_poc_msb + max_lsb;
        else if (lsb > s.prev_poc_lsb && lsb - s.prev_poc_lsb > max_lsb / 2)
            msb = s.prev_poc_msb - max_lsb;
        top = msb + lsb;
        bottom = h.structure == kFrame ? top + h.delta_poc_bottom : top;
        if (ref) {
            s.prev_poc_msb = msb;
            s.prev_poc_lsb = lsb;
        }
    } else {
        const int64_t offset = FrameNumOffset(sps, h, s);
        if (sps.poc_type == 1) {
            const uint32_t cycle = sps.num_ref_frames_in_poc_cycle;
            int64_t abs_frame_num = cycle != 0 ? offset + h.frame_num : 0;
            if (!ref && abs_frame_num > 0) --abs_frame_num;
            int64_t expected = 0;
            if (abs_frame_num > 0) {
                int64_t cycle_count = (abs_frame_num - 1) / cycle;
                int64_t in_cycle = (abs_frame_num - 1) % cycle;
                expected = cycle_count * sps.expected_delta_per_poc_cycle;
                for (int64_t i = 0; i <= in_cycle; ++i) expected += sps.offset_for_ref_frame[i];
            }
            if (!ref) expected += sps.offset_for_non_ref_pic;
            if (h.structure == kFrame) {
                top = expected + h.delta_poc[0];
                bottom = top + sps.offset_for_top_to_bottom_field + h.delta_poc[1];
            } else if (h.structure == kTopField) {
                top = bottom = expected + h.delta_poc[0];
            } else {
                top = bottom = expected + sps.offset_for_top_to_bottom_field + h.delta_poc[0];
            }
        } else {
            int64_t temp = h.idr ? 0 : 2 * (offset + h.frame_num) - (ref ? 0 : 1);
            top = bottom = temp;
        }
        s.prev_frame_num_offset = offset;
        s.prev_frame_num = h.frame_num;
    }
    return Finish(top, bottom, h.structure);
}

PocResult ApplyMmco5(const PocResult& c, PictureStructure structure, PocState& s) {
    int64_t temp = c.poc;
    PocResult r = Finish(int64_t{c.top} - temp, int64_t{c.bottom} - temp, structure);
    s.prev_poc_msb = 0;
    s.prev_poc_lsb = structure == kBottomField ? 0 : r.top;
    s.prev_frame_num_offset = 0;
    s.prev_frame_num = 0;
    return r;
}

}  // namespace kestrel::h264
