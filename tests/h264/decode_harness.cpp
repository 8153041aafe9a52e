#include "tests/h264/decode_harness.h"

#include <algorithm>

#include "h264/picture_md5.h"

namespace kestrel::test {

bool Decoded::Has(uint32_t status) const {
    return std::find(statuses.begin(), statuses.end(), status) != statuses.end();
}

Returned Describe(const H264DecFrame& f) {
    Returned r;
    r.top = f.y[0];
    r.bottom = f.y[f.y_stride];
    r.cb = f.u[0];
    r.width = f.width;
    r.height = f.height;
    r.crop[0] = f.crop_left;
    r.crop[1] = f.crop_right;
    r.crop[2] = f.crop_top;
    r.crop[3] = f.crop_bottom;
    r.poc = f.poc;
    r.damaged = f.damaged;
    r.idr = f.idr;
    r.parity_marker = f.parity_marker;
    r.buffer_index = f.buffer_index;
    r.timestamp = (uint64_t{f.timestamp_hi} << 32) | f.timestamp_lo;
    if (f.private_data) {
        r.has_private_data = true;
        r.private_marker = f.private_data->marker;
        r.private_bytes.assign(f.private_data->data, f.private_data->data + f.private_data->length);
    }
    r.md5 = h264::PictureMd5(f);
    return r;
}

Decoded DecodeAll(const std::vector<uint8_t>& stream, const H264DecAttributes& attr, size_t piece) {
    Decoded out;
    H264Dec* d = h264dec_create(&attr);
    if (!d) return out;
    h264dec_set_log(d, [](void* ctx, const H264DecNalEvent* e) {
        static_cast<Decoded*>(ctx)->statuses.push_back(e->status);
    }, &out);
    H264DecFrame f;
    for (size_t pos = 0; pos < stream.size(); pos += piece) {
        const uint32_t n = static_cast<uint32_t>(std::min(piece, stream.size() - pos));
        for (int32_t r = h264dec_decode(d, stream.data() + pos, n, 0, 0, &f, 0); r == H264DEC_PICTURE;
             r = h264dec_decode(d, nullptr, 0, 0, 0, &f, 0))
            out.pictures.push_back(Describe(f));
    }
    while (h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_FLUSH) == H264DEC_PICTURE)
        out.pictures.push_back(Describe(f));
    h264dec_destroy(d);
    return out;
}

void PcmStream::Headers() {
    Append(bytes, SpsNal(sps));
    Append(bytes, PpsNal(pps));
}

uint32_t PcmStream::mbs(const SliceParams& s) const {
    const uint32_t rows = sps.height_map_units * ((s.field_pic || sps.frame_mbs_only) ? 1 : 2);
    return sps.width_mbs * rows;
}

void PcmStream::Picture(SliceParams s, uint8_t tag, uint32_t slices) {
    const uint32_t total = mbs(s);
    const uint32_t per = (total + slices - 1) / slices;
    for (uint32_t first = 0; first < total; first += per) {
        s.first_mb = first;
        Append(bytes, PcmSliceNal(s, sps, pps, std::min(per, total - first),
                                  Flat(tag, static_cast<uint8_t>(tag + 1), static_cast<uint8_t>(tag + 2))));
    }
}

void PcmStream::Idr(uint8_t tag, uint32_t idr_pic_id) {
    SliceParams s;
    s.idr = true;
    s.idr_pic_id = idr_pic_id;
    Picture(s, tag);
}

void PcmStream::Frame(uint8_t tag, uint32_t frame_num, uint32_t poc_lsb, bool reference) {
    SliceParams s;
    s.frame_num = frame_num;
    s.poc_lsb = poc_lsb;
    s.nal_ref_idc = reference ? 1 : 0;
    Picture(s, tag);
}

}  // namespace kestrel::test
