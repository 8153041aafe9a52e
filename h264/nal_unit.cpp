// NAL unit dispatch, parameter-set storage and the private SEI markers.
#include <algorithm>
#include <cstring>

#include "h264/decoder.h"

namespace kestrel::h264 {

uint32_t Decoder::ProcessSps(BitReader& br) {
    parity_marker_flag = false;
    // Parsed into a scratch slot so that a rejected unit leaves the stored one untouched.
    static_assert(sizeof(Sps) < 4096);
    Sps parsed;
    uint32_t status = ParseSps(br, {max_width_mbs, max_height_mbs, buffer_count}, &parsed);
    if (status) return status;
    sps[parsed.id] = parsed;
    if (state == kNoParameterSets) state = kHaveSps;
    return H264_STATUS_SPS_STORED;
}

uint32_t Decoder::ProcessPps(BitReader& br) {
    Pps parsed;
    uint32_t status = ParsePps(br, sps, &parsed);
    if (status) return status;
    pps[parsed.id] = parsed;
    if (state == kHaveSps) state = kHavePps;
    return H264_STATUS_PPS_STORED;
}

// Only the first message's type, size and first byte are looked at: the recorders' own
// markers 224 (field parity flag) and 240 (private data). Standard messages are ignored.
uint32_t Decoder::ProcessSei(const uint8_t* nal, uint32_t size) {
    const uint32_t type = nal[1], length = nal[2];
    if (type == 224 && length == 1 && size >= 4) {
        parity_marker_flag = nal[3] & 1;
    } else if (type == 240 && length >= 1) {
        // A message longer than its NAL unit keeps only the bytes that are there.
        const uint32_t available = size - 3;
        const uint32_t n = std::min(length, available);
        if (n > 0) {
            std::memcpy(private_data.bytes, nal + 3, n);
            private_data.length = n;
            private_data.marker = 240;
            have_private_data = true;
        }
    }
    return H264_STATUS_NEW_PICTURE;
}

uint32_t Decoder::ProcessNalUnit(const uint8_t* nal, uint32_t size) {
    const uint32_t nal_ref_idc = (nal[0] >> 5) & 3;
    const uint32_t nal_unit_type = nal[0] & 31;
    BitReader br;
    br.Init(nal, size, (size - 1) * 8);
    br.Skip(8);
    uint32_t status;
    switch (nal_unit_type) {
    case 1:
    case 5: status = ProcessSlice(br, nal_unit_type, nal_ref_idc); break;
    case 6: status = ProcessSei(nal, size); break;
    case 7: status = ProcessSps(br); break;
    case 8: status = ProcessPps(br); break;
    case 9:
    case 10:
    case 12: status = H264_STATUS_IGNORED; break;
    case 11: status = H264_STATUS_END_OF_STREAM_UNIT; break;
    default: status = H264_STATUS_UNSUPPORTED_NAL; break;
    }
    last_status = status;
    if (log_fn) {
        H264DecNalEvent e{nal_index, nal_unit_type, nal_ref_idc, size, status, state};
        log_fn(log_context, &e);
    }
    ++nal_index;
    return status;
}

}  // namespace kestrel::h264
