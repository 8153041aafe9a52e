// The picture memory of an instance: hands out buffers to new pictures, pairs fields, keeps the
// decoded picture buffer with its reference marking (ITU-T H.264 8.2.5), builds reference list 0
// (8.2.4) and decides when pictures go to the output queue, either at once in decoding order or
// by bumping in picture order count order (C.4.5).
#pragma once

#include <cstdint>

#include "h264/output_queue.h"
#include "h264/picture.h"
#include "h264/picture_order_count.h"
#include "h264/slice_header.h"

namespace kestrel::h264 {

// What is known of a picture when its first slice arrives.
struct PictureStart {
    PictureStructure structure = kFrame;
    bool reference = false;
    bool idr = false;
    bool non_existing = false;
    uint32_t frame_num = 0;
    PocResult poc;
    uint64_t timestamp = 0;
    uint32_t width = 0;
    uint32_t frame_height = 0;
    uint32_t crop[4] = {};
    uint8_t interlace_kind = 0;
    uint32_t parity_marker = 0;
    const H264PrivateData* private_data = nullptr;
};

class PictureStore {
public:
    void Init(PictureBuffer* buffers, uint32_t count, uint32_t dpb_size, bool bumping,
              OutputQueue* queue);

    // Takes effect at the next store.
    void set_dpb_size(uint32_t frames) { dpb_size_ = frames > 0 ? frames : 1; }

    // Returns the view to decode into (the other field of the previous picture when this is its
    // second field), or null when no buffer is free.
    Picture* Start(const PictureStart& start);
    bool has_current() const { return cur_ != nullptr; }
    Picture* current() const { return cur_; }
    void MarkCurrentDamaged() { cur_->buffer->damaged = true; }

    // Stores the current picture with its reference marking; returns true when the marking
    // held memory_management_operation 5 (the order counts in *poc then restart from it).
    // num_ref_frames and max_frame_num: active SPS.
    bool Finish(const RefPicMarking& marking, uint32_t num_ref_frames, uint32_t max_frame_num,
                PocState* poc);

    // Builds list 0 of a P slice of the current picture into list[0..32]; returns the number
    // of entries (num_ref_idx_active), or 0 when no reference picture exists.
    uint32_t BuildRefList(const SliceHeader& h, uint32_t max_frame_num, Picture** list);

    // End of stream: every picture not yet output is queued in picture order count order, and
    // the buffer is emptied.
    void Flush();

    uint32_t dpb_fill() const { return used_; }
    uint32_t dpb_size() const { return dpb_size_; }
    uint32_t dropped_outputs() const { return dropped_outputs_; }

private:
    PictureBuffer* FreeBuffer();
    FrameStore* FreeStore();
    void Queue(PictureBuffer* b);
    void Remove(uint32_t pos);
    void RemoveUnused();
    void DiscardAll();
    void QueueLoneOutput();
    void QueueHeldFields();
    bool OutputSmallest();
    void Insert();
    void PairSecondField();
    void PutLoneOutputField();
    void StoreBumping();
    void StoreImmediate();
    void SlidingWindow(uint32_t num_ref_frames);
    bool RunMemoryManagement(const RefPicMarking& marking, uint32_t max_frame_num);
    void UpdatePicNums(uint32_t frame_num, PictureStructure structure, uint32_t max_frame_num);
    void UnmarkLongTermIndex(int32_t idx, const FrameStore* keep);
    void ReleaseCurrent();

    PictureBuffer* buffers_ = nullptr;
    uint32_t count_ = 0;
    OutputQueue* queue_ = nullptr;
    bool bumping_ = false;
    uint32_t dpb_size_ = 1;

    FrameStore stores_[kDpbFrameStores];
    FrameStore* dpb_[kDpbFrameStores] = {};  // in storing order
    uint32_t used_ = 0;
    FrameStore lone_;         // output side: a non-reference field waiting for its partner
    FrameStore* last_field_ = nullptr;  // a lone first field the next picture may complete
    int32_t max_long_term_frame_idx_ = -1;  // -1: no long-term frame index allowed
    uint32_t dropped_outputs_ = 0;

    // the picture being decoded
    Picture* cur_ = nullptr;
    FrameStore* partner_ = nullptr;  // when it is the second field of a stored first field
    PictureStart info_;
    bool cur_long_term_ = false;
    int32_t cur_long_term_idx_ = 0;
};

}  // namespace kestrel::h264
