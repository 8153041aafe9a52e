// Slices: header, parameter-set activation, new-picture detection, starting and finishing
// pictures, frame_num gaps.
#include "h264/decoder.h"

namespace kestrel::h264 {

bool Decoder::IsNewPicture(const SliceHeader& h) const {
    if (!store.has_current()) return true;
    const PreviousSlice& p = prev;
    if (h.pps_id != p.pps_id || h.frame_num != p.frame_num || h.field_pic != p.field_pic) return true;
    if (h.field_pic && h.bottom_field != p.bottom_field) return true;
    if ((h.nal_ref_idc == 0) != (p.nal_ref_idc == 0)) return true;
    if (h.nal_unit_type != p.nal_unit_type) return true;
    if (h.idr && h.idr_pic_id != p.idr_pic_id) return true;
    if (active_sps.poc_type == 0 && (h.poc_lsb != p.poc_lsb || h.delta_poc_bottom != p.delta_poc_bottom))
        return true;
    if (active_sps.poc_type == 1 && (h.delta_poc[0] != p.delta_poc[0] || h.delta_poc[1] != p.delta_poc[1]))
        return true;
    // Identical headers: a slice at macroblock 0 after a complete picture begins the next one.
    return h.first_mb == 0 && cur_decoded_mbs >= cur_expected_mbs;
}

void Decoder::FinishPicture(bool check_damaged) {
    if (!store.has_current()) return;
    if (check_damaged && cur_decoded_mbs != cur_expected_mbs) store.MarkCurrentDamaged();
    if (store.Finish(cur_marking, active_sps.num_ref_frames, active_sps.max_frame_num, &poc))
        prev_ref_frame_num = 0;
}

void Decoder::FillFrameNumGap(const SliceHeader& h) {
    const Sps& s = active_sps;
    SliceHeader gap = h;
    gap.nal_ref_idc = 1;
    gap.idr = false;
    gap.structure = kFrame;
    gap.field_pic = false;
    gap.delta_poc[0] = gap.delta_poc[1] = 0;
    gap.delta_poc_bottom = 0;
    RefPicMarking none;
    for (uint32_t fn = (prev_ref_frame_num + 1) % s.max_frame_num; fn != h.frame_num;
         fn = (fn + 1) % s.max_frame_num) {
        gap.frame_num = fn;
        PictureStart ps;
        ps.structure = kFrame;
        ps.reference = true;
        ps.non_existing = true;
        ps.frame_num = fn;
        if (s.poc_type != 0) ps.poc = ComputePoc(s, gap, poc);
        ps.timestamp = timestamp;
        ps.width = s.width;
        ps.frame_height = s.frame_height;
        ps.interlace_kind = s.frame_mbs_only ? 0 : 1;
        if (!store.Start(ps)) break;
        store.Finish(none, s.num_ref_frames, s.max_frame_num, &poc);
        prev_ref_frame_num = fn;
    }
}

uint32_t Decoder::StartPicture(const SliceHeader& h) {
    FinishPicture(true);
    const Sps& s = active_sps;
    if (h.idr) {
        prev_ref_frame_num = 0;
    } else {
        const uint32_t next = (prev_ref_frame_num + 1) % s.max_frame_num;
        if (h.frame_num != prev_ref_frame_num && h.frame_num != next) {
            if (s.gaps_allowed)
                FillFrameNumGap(h);
            else if (h.frame_num < next)
                return H264_STATUS_SLICE_NO_PICTURE;
        }
    }
    if (h.nal_ref_idc != 0) prev_ref_frame_num = h.frame_num;

    PictureStart ps;
    ps.structure = h.structure;
    ps.reference = h.nal_ref_idc != 0;
    ps.idr = h.idr;
    ps.frame_num = h.frame_num;
    ps.poc = ComputePoc(s, h, poc);
    ps.timestamp = timestamp;
    ps.width = s.width;
    ps.frame_height = s.frame_height;
    ps.crop[0] = s.crop_left;
    ps.crop[1] = s.crop_right;
    ps.crop[2] = s.crop_top;
    ps.crop[3] = s.crop_bottom;
    ps.interlace_kind = static_cast<uint8_t>((s.frame_mbs_only ? 0 : 1) + (h.field_pic ? 1 : 0));
    ps.parity_marker = parity_marker_flag ? 1 + (h.frame_num & 1) : 0;
    ps.private_data = have_private_data ? &private_data : nullptr;
    if (!store.Start(ps)) return H264_STATUS_SLICE_NO_PICTURE;
    cur_marking = h.marking;
    cur_decoded_mbs = 0;
    cur_expected_mbs = h.size_mbs;
    mb.picture_first_serial = mb.slice_serial + 1;
    return 0;
}

uint32_t Decoder::ProcessSlice(BitReader& br, uint32_t nal_unit_type, uint32_t nal_ref_idc) {
    const bool idr = nal_unit_type == 5;
    if (state == kHavePps && idr) state = kDecoding;
    if (state < kHavePps) return H264_STATUS_SLICE_NOT_DECODABLE;

    SliceHeader& h = slice;
    h.nal_unit_type = nal_unit_type;
    h.nal_ref_idc = nal_ref_idc;
    h.idr = idr;
    if (uint32_t status = ParseSliceHeaderStart(br, &h)) return status;
    Pps& p = pps[h.pps_id];
    if (p.id != h.pps_id) return H264_STATUS_SLICE_BAD_PPS;
    if (p.sps_id >= kMaxSps || sps[p.sps_id].id != p.sps_id) return H264_STATUS_BAD_SPS_REFERENCE;
    if (p.is_new || active_pps.id != p.id) {
        active_pps = p;
        p.is_new = false;
    }
    Sps& s = sps[p.sps_id];
    if (s.is_new || active_sps.id != s.id) {
        active_sps = s;
        s.is_new = false;
        store.set_dpb_size(s.dpb_size);
    }
    if (uint32_t status = ParseSliceHeaderRest(br, active_sps, active_pps, &h)) return status;

    if (state != kDecoding && h.type != SliceType::kI) return H264_STATUS_SLICE_NOT_DECODABLE;
    state = kDecoding;

    uint32_t result = H264_STATUS_SAME_PICTURE;
    if (IsNewPicture(h)) {
        if (uint32_t status = StartPicture(h)) {
            state = kHavePps;
            return status;
        }
        result = H264_STATUS_NEW_PICTURE;
    }
    // From here the slice belongs to the current picture, whatever becomes of its data.
    prev.pps_id = h.pps_id;
    prev.frame_num = h.frame_num;
    prev.field_pic = h.field_pic;
    prev.bottom_field = h.bottom_field;
    prev.nal_ref_idc = h.nal_ref_idc;
    prev.nal_unit_type = h.nal_unit_type;
    prev.idr_pic_id = h.idr_pic_id;
    prev.poc_lsb = h.poc_lsb;
    prev.delta_poc_bottom = h.delta_poc_bottom;
    prev.delta_poc[0] = h.delta_poc[0];
    prev.delta_poc[1] = h.delta_poc[1];

    ref_list_size = 0;
    if (h.type == SliceType::kP) {
        ref_list_size = store.BuildRefList(h, active_sps.max_frame_num, ref_list);
        if (ref_list_size == 0) return H264_STATUS_SLICE_NO_REF_LIST;
    }
    if (uint32_t error = DecodeSliceData(br)) return H264_STATUS_SLICE_DATA + error;
    return result;
}

}  // namespace kestrel::h264
