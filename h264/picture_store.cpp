#include "h264/picture_store.h"

#include <algorithm>

namespace kestrel::h264 {
namespace {

uint8_t Bit(PictureStructure s) { return s == kFrame ? 3 : s == kTopField ? 1 : 2; }

bool ShortTermFrame(const FrameStore* fs) {
    return fs->is_used == 3 && fs->is_reference == 3 && fs->is_long_term == 0;
}
bool LongTermFrame(const FrameStore* fs) { return fs->is_used == 3 && fs->is_long_term == 3; }
bool ShortTermField(const FrameStore* fs, uint8_t bit) {
    return (fs->is_reference & bit) && !(fs->is_long_term & bit);
}
bool LongTermField(const FrameStore* fs, uint8_t bit) { return (fs->is_long_term & bit) != 0; }

void Unmark(FrameStore* fs, uint8_t bits) {
    fs->is_reference &= static_cast<uint8_t>(~bits);
    fs->is_long_term &= static_cast<uint8_t>(~bits);
}

}  // namespace

void PictureStore::Init(PictureBuffer* buffers, uint32_t count, uint32_t dpb_size, bool bumping,
                        OutputQueue* queue) {
    buffers_ = buffers;
    count_ = count;
    queue_ = queue;
    bumping_ = bumping;
    set_dpb_size(dpb_size);
}

PictureBuffer* PictureStore::FreeBuffer() {
    for (uint32_t i = 0; i < count_; ++i)
        if (!buffers_[i].held && buffers_[i].output_state == kOutputDone) return &buffers_[i];
    return nullptr;
}

FrameStore* PictureStore::FreeStore() {
    for (FrameStore& fs : stores_)
        if (!fs.buffer) return &fs;
    return nullptr;
}

void PictureStore::Queue(PictureBuffer* b) {
    if (b->output_state != kOutputPending) return;
    if (b->non_existing) {
        b->output_state = kOutputDone;
    } else if (queue_->Push(b->index)) {
        b->output_state = kOutputQueued;
    } else {
        // A full queue drops the picture rather than overwrite one not yet returned.
        b->output_state = kOutputDone;
        ++dropped_outputs_;
    }
}

void PictureStore::Remove(uint32_t pos) {
    FrameStore* fs = dpb_[pos];
    if (last_field_ == fs) last_field_ = nullptr;
    if (fs->buffer != (cur_ ? cur_->buffer : nullptr)) fs->buffer->held = false;
    *fs = FrameStore{};
    for (uint32_t i = pos + 1; i < used_; ++i) dpb_[i - 1] = dpb_[i];
    dpb_[--used_] = nullptr;
}

// Frame stores already output and no longer referenced hold nothing anybody needs.
void PictureStore::RemoveUnused() {
    for (uint32_t i = 0; i < used_;) {
        FrameStore* fs = dpb_[i];
        if (fs->is_reference == 0 && !fs->output_pending() && fs != partner_)
            Remove(i);
        else
            ++i;
    }
}

Picture* PictureStore::Start(const PictureStart& s) {
    partner_ = nullptr;
    const uint8_t bit = Bit(s.structure);
    if (s.structure != kFrame && last_field_ && last_field_->is_used == (3 ^ bit) &&
        last_field_->frame_num == s.frame_num && (last_field_->orig_reference != 0) == s.reference &&
        !s.non_existing) {
        partner_ = last_field_;
    }
    PictureBuffer* b;
    if (partner_) {
        b = partner_->buffer;
        b->idr = b->idr || s.idr;
    } else {
        b = FreeBuffer();
        if (!b) return nullptr;
        b->held = true;
        b->output_state = s.non_existing ? kOutputDone : kOutputPending;
        b->non_existing = s.non_existing;
        b->timestamp = s.timestamp;
        b->width = s.width;
        b->height = s.frame_height;
        std::copy(s.crop, s.crop + 4, b->crop);
        b->parity_marker = s.parity_marker;
        b->private_data = s.private_data;
        b->interlace_kind = s.interlace_kind;
        b->damaged = false;
        b->idr = s.idr;
        b->poc = s.poc.poc;
        // Views for the current stream's plane widths.
        const uint32_t w = s.width, cw = s.width / 2;
        b->frame.plane[0] = b->top.plane[0] = b->planes[0];
        b->frame.plane[1] = b->top.plane[1] = b->planes[1];
        b->frame.plane[2] = b->top.plane[2] = b->planes[2];
        b->bottom.plane[0] = b->planes[0] + w;
        b->bottom.plane[1] = b->planes[1] + cw;
        b->bottom.plane[2] = b->planes[2] + cw;
        b->frame.stride[0] = w;
        b->frame.stride[1] = cw;
        b->top.stride[0] = b->bottom.stride[0] = 2 * w;
        b->top.stride[1] = b->bottom.stride[1] = 2 * cw;
    }
    Picture& view = b->view(s.structure);
    if (s.structure == kFrame) {
        b->top.poc = s.poc.top;
        b->bottom.poc = s.poc.bottom;
    }
    view.poc = s.poc.poc;
    info_ = s;
    cur_ = &view;
    cur_long_term_ = false;
    cur_long_term_idx_ = 0;
    return cur_;
}

void PictureStore::UpdatePicNums(uint32_t frame_num, PictureStructure structure,
                                 uint32_t max_frame_num) {
    for (uint32_t i = 0; i < used_; ++i) {
        FrameStore* fs = dpb_[i];
        PictureBuffer* b = fs->buffer;
        if (fs->short_term_bits()) {
            fs->frame_num_wrap = fs->frame_num > frame_num
                                     ? static_cast<int32_t>(fs->frame_num) - static_cast<int32_t>(max_frame_num)
                                     : static_cast<int32_t>(fs->frame_num);
        }
        if (structure == kFrame) {
            b->frame.pic_num = fs->frame_num_wrap;
            b->frame.long_term_pic_num = fs->long_term_frame_idx;
        } else {
            const int32_t same_top = structure == kTopField ? 1 : 0;
            b->top.pic_num = 2 * fs->frame_num_wrap + same_top;
            b->bottom.pic_num = 2 * fs->frame_num_wrap + (1 - same_top);
            b->top.long_term_pic_num = 2 * fs->long_term_frame_idx + same_top;
            b->bottom.long_term_pic_num = 2 * fs->long_term_frame_idx + (1 - same_top);
        }
    }
}

void PictureStore::UnmarkLongTermIndex(int32_t idx, const FrameStore* keep) {
    for (uint32_t i = 0; i < used_; ++i) {
        FrameStore* fs = dpb_[i];
        if (fs != keep && fs->is_long_term && fs->long_term_frame_idx == idx) Unmark(fs, fs->is_long_term);
    }
}

bool PictureStore::RunMemoryManagement(const RefPicMarking& m, uint32_t max_frame_num) {
    const PictureStructure s = info_.structure;
    UpdatePicNums(info_.frame_num, s, max_frame_num);
    const int64_t curr_pic_num = s == kFrame ? info_.frame_num : 2 * int64_t{info_.frame_num} + 1;
    bool mmco5 = false;

    // The short-term picture (frame, or field with its bit) with PicNum pic_num.
    auto find_short = [&](int64_t pic_num, uint8_t* bit) -> FrameStore* {
        for (uint32_t i = 0; i < used_; ++i) {
            FrameStore* fs = dpb_[i];
            PictureBuffer* b = fs->buffer;
            if (s == kFrame) {
                if (ShortTermFrame(fs) && b->frame.pic_num == pic_num) return *bit = 3, fs;
            } else {
                if (ShortTermField(fs, 1) && b->top.pic_num == pic_num) return *bit = 1, fs;
                if (ShortTermField(fs, 2) && b->bottom.pic_num == pic_num) return *bit = 2, fs;
            }
        }
        return nullptr;
    };

    for (uint32_t k = 0; k < m.count; ++k) {
        const MmcoCommand& op = m.ops[k];
        uint8_t bit = 0;
        switch (op.op) {
        case 1:  // short-term picture to unused
            if (FrameStore* fs = find_short(curr_pic_num - (int64_t{op.difference_of_pic_nums_minus1} + 1), &bit))
                Unmark(fs, bit);
            break;
        case 2:  // long-term picture to unused
            for (uint32_t i = 0; i < used_; ++i) {
                FrameStore* fs = dpb_[i];
                PictureBuffer* b = fs->buffer;
                if (s == kFrame) {
                    if (LongTermFrame(fs) && b->frame.long_term_pic_num == static_cast<int64_t>(op.long_term_pic_num)) {
                        Unmark(fs, 3);
                        break;
                    }
                } else if (LongTermField(fs, 1) && b->top.long_term_pic_num == static_cast<int64_t>(op.long_term_pic_num)) {
                    Unmark(fs, 1);
                    break;
                } else if (LongTermField(fs, 2) && b->bottom.long_term_pic_num == static_cast<int64_t>(op.long_term_pic_num)) {
                    Unmark(fs, 2);
                    break;
                }
            }
            break;
        case 3: {  // short-term picture to long-term
            FrameStore* fs = find_short(curr_pic_num - (int64_t{op.difference_of_pic_nums_minus1} + 1), &bit);
            if (!fs) break;
            const int32_t idx = static_cast<int32_t>(op.long_term_frame_idx);
            // The index leaves any other frame or field; a field keeps its sibling.
            UnmarkLongTermIndex(idx, s == kFrame ? nullptr : fs);
            if (fs->is_long_term && fs->long_term_frame_idx != idx) Unmark(fs, fs->is_long_term);
            fs->is_long_term |= bit;
            fs->long_term_frame_idx = idx;
            break;
        }
        case 4:  // new MaxLongTermFrameIdx
            max_long_term_frame_idx_ = static_cast<int32_t>(op.max_long_term_frame_idx_plus1) - 1;
            for (uint32_t i = 0; i < used_; ++i) {
                FrameStore* fs = dpb_[i];
                if (fs->is_long_term && fs->long_term_frame_idx > max_long_term_frame_idx_)
                    Unmark(fs, fs->is_long_term);
            }
            break;
        case 5:  // everything to unused
            for (uint32_t i = 0; i < used_; ++i)
                if (dpb_[i] != partner_) Unmark(dpb_[i], 3);
            max_long_term_frame_idx_ = -1;
            mmco5 = true;
            break;
        case 6: {  // current picture to long-term
            const int32_t idx = static_cast<int32_t>(op.long_term_frame_idx);
            UnmarkLongTermIndex(idx, partner_);
            if (partner_ && partner_->is_long_term && partner_->long_term_frame_idx != idx)
                Unmark(partner_, partner_->is_long_term);
            cur_long_term_ = true;
            cur_long_term_idx_ = idx;
            break;
        }
        default:
            break;
        }
    }
    return mmco5;
}

void PictureStore::SlidingWindow(uint32_t num_ref_frames) {
    const uint32_t max_refs = std::max<uint32_t>(num_ref_frames, 1);
    auto count = [&](uint32_t* short_term, uint32_t* long_term) {
        *short_term = *long_term = 0;
        for (uint32_t i = 0; i < used_; ++i) {
            if (dpb_[i] == partner_) continue;
            if (dpb_[i]->short_term_bits()) ++*short_term;
            else if (dpb_[i]->is_long_term) ++*long_term;
        }
    };
    uint32_t st, lt;
    count(&st, &lt);
    if (lt >= max_refs) {
        for (uint32_t i = 0; i < used_ && lt > max_refs - 1; ++i) {
            if (dpb_[i]->is_long_term && !dpb_[i]->short_term_bits() && dpb_[i] != partner_) {
                Unmark(dpb_[i], 3);
                --lt;
            }
        }
    }
    for (uint32_t i = 0; i < used_ && st > 0 && st + lt > max_refs - 1; ++i) {
        FrameStore* fs = dpb_[i];
        if (fs->short_term_bits() && fs != partner_) {
            Unmark(fs, fs->short_term_bits());
            --st;
        }
    }
}

void PictureStore::Insert() {
    if (used_ == kDpbFrameStores) {
        // Only a damaged stream gets here: the oldest store gives way.
        Queue(dpb_[0]->buffer);
        Remove(0);
    }
    FrameStore* fs = FreeStore();
    PictureBuffer* b = cur_->buffer;
    const uint8_t bit = Bit(info_.structure);
    fs->buffer = b;
    fs->is_used = bit;
    fs->is_reference = info_.reference ? bit : 0;
    fs->orig_reference = fs->is_reference;
    fs->is_long_term = cur_long_term_ ? fs->is_reference : 0;
    fs->long_term_frame_idx = cur_long_term_idx_;
    fs->coded_as_frame = info_.structure == kFrame;
    fs->non_existing = info_.non_existing;
    fs->frame_num = info_.frame_num;
    fs->frame_num_wrap = static_cast<int32_t>(info_.frame_num);
    fs->poc = cur_->poc;
    dpb_[used_++] = fs;
    last_field_ = info_.structure == kFrame ? nullptr : fs;
}

void PictureStore::PairSecondField() {
    FrameStore* fs = partner_;
    PictureBuffer* b = fs->buffer;
    const uint8_t bit = Bit(info_.structure);
    fs->is_used |= bit;
    if (info_.reference) {
        fs->is_reference |= bit;
        fs->orig_reference |= bit;
        if (cur_long_term_) {
            fs->is_long_term |= bit;
            fs->long_term_frame_idx = cur_long_term_idx_;
        }
    }
    fs->poc = std::min(b->top.poc, b->bottom.poc);
    b->poc = fs->poc;
    last_field_ = nullptr;
    if (fs == &lone_) {
        Queue(b);
        b->held = false;
        lone_ = FrameStore{};
    } else if (!bumping_) {
        Queue(b);
    }
}

void PictureStore::QueueLoneOutput() {
    if (!lone_.buffer) return;
    Queue(lone_.buffer);
    lone_.buffer->held = false;
    if (last_field_ == &lone_) last_field_ = nullptr;
    lone_ = FrameStore{};
}

// Immediate output: fields waiting for a partner that did not come are output alone.
void PictureStore::QueueHeldFields() {
    QueueLoneOutput();
    if (last_field_) {
        Queue(last_field_->buffer);
        last_field_ = nullptr;
    }
}

void PictureStore::PutLoneOutputField() {
    PictureBuffer* b = cur_->buffer;
    lone_.buffer = b;
    lone_.is_used = Bit(info_.structure);
    lone_.frame_num = info_.frame_num;
    lone_.poc = cur_->poc;
    last_field_ = &lone_;
}

bool PictureStore::OutputSmallest() {
    int best = -1;
    for (uint32_t i = 0; i < used_; ++i)
        if (dpb_[i]->output_pending() && (best < 0 || dpb_[i]->poc < dpb_[best]->poc)) best = static_cast<int>(i);
    if (best < 0) return false;
    FrameStore* fs = dpb_[best];
    if (last_field_ == fs) last_field_ = nullptr;
    Queue(fs->buffer);
    if (fs->is_reference == 0) Remove(static_cast<uint32_t>(best));
    return true;
}

void PictureStore::StoreBumping() {
    RemoveUnused();
    while (used_ >= dpb_size_) {
        if (!info_.reference) {
            bool waiting = false;
            int32_t smallest = 0;
            for (uint32_t i = 0; i < used_; ++i) {
                if (!dpb_[i]->output_pending()) continue;
                if (!waiting || dpb_[i]->poc < smallest) smallest = dpb_[i]->poc;
                waiting = true;
            }
            if (!waiting || cur_->poc < smallest) {
                // Output directly, without storing.
                QueueLoneOutput();
                if (info_.structure == kFrame) {
                    Queue(cur_->buffer);
                    ReleaseCurrent();
                } else {
                    PutLoneOutputField();
                }
                return;
            }
        }
        if (!OutputSmallest()) {
            // Every stored frame is an output reference: only a damaged stream gets here.
            Unmark(dpb_[0], 3);
            Remove(0);
        }
    }
    Insert();
}

void PictureStore::StoreImmediate() {
    if (info_.reference) {
        QueueHeldFields();
        RemoveUnused();
        Insert();
        if (info_.structure == kFrame) Queue(cur_->buffer);
        return;
    }
    if (info_.structure == kFrame) {
        QueueHeldFields();
        Queue(cur_->buffer);
        ReleaseCurrent();
    } else {
        QueueHeldFields();
        PutLoneOutputField();
    }
}

void PictureStore::ReleaseCurrent() { cur_->buffer->held = false; }

void PictureStore::DiscardAll() {
    for (uint32_t i = 0; i < used_; ++i)
        if (dpb_[i]->output_pending()) dpb_[i]->buffer->output_state = kOutputDone;
    while (used_) Remove(used_ - 1);
}

bool PictureStore::Finish(const RefPicMarking& marking, uint32_t num_ref_frames,
                          uint32_t max_frame_num, PocState* poc) {
    if (!cur_) return false;
    RemoveUnused();
    bool mmco5 = false;
    if (info_.idr && !partner_) {
        if (marking.no_output_of_prior_pics) {
                QueueLoneOutput();
            DiscardAll();
        } else {
            Flush();
        }
        if (marking.long_term_reference) {
            cur_long_term_ = true;
            cur_long_term_idx_ = 0;
            max_long_term_frame_idx_ = 0;
        } else {
            max_long_term_frame_idx_ = -1;
        }
    } else if (info_.reference && marking.adaptive) {
        mmco5 = RunMemoryManagement(marking, max_frame_num);
        if (mmco5 && !partner_) {
            // Relative to itself from now on (8.2.1), and flushed like an IDR picture.
            PictureBuffer* b = cur_->buffer;
            PocResult counts;
            counts.top = info_.structure == kFrame ? b->top.poc : cur_->poc;
            counts.bottom = info_.structure == kFrame ? b->bottom.poc : cur_->poc;
            counts.poc = cur_->poc;
            PocResult r = ApplyMmco5(counts, info_.structure, *poc);
            if (info_.structure == kFrame) {
                b->top.poc = r.top;
                b->bottom.poc = r.bottom;
            }
            cur_->poc = r.poc;
            b->poc = r.poc;
            info_.frame_num = 0;
            Flush();
        }
    }

    if (partner_) {
        PairSecondField();
    } else {
        if (info_.reference && !info_.idr) {
            if (!marking.adaptive) {
                SlidingWindow(num_ref_frames);
            } else {
                uint32_t refs = 0;
                for (uint32_t i = 0; i < used_; ++i) refs += dpb_[i]->is_reference != 0;
                if (refs + 1 > std::max<uint32_t>(num_ref_frames, 1)) SlidingWindow(num_ref_frames);
            }
        }
        if (bumping_)
            StoreBumping();
        else
            StoreImmediate();
    }
    cur_ = nullptr;
    partner_ = nullptr;
    return mmco5;
}

void PictureStore::Flush() {
    for (uint32_t i = 0; i < used_; ++i)
        if (dpb_[i] != partner_) Unmark(dpb_[i], 3);
    if (&lone_ != partner_) QueueLoneOutput();
    RemoveUnused();
    while (true) {
        int best = -1;
        for (uint32_t i = 0; i < used_; ++i) {
            if (dpb_[i] == partner_ || !dpb_[i]->output_pending()) continue;
            if (best < 0 || dpb_[i]->poc < dpb_[best]->poc) best = static_cast<int>(i);
        }
        if (best < 0) break;
        Queue(dpb_[best]->buffer);
        Remove(static_cast<uint32_t>(best));
    }
    RemoveUnused();
    if (!partner_) last_field_ = nullptr;
}

uint32_t PictureStore::BuildRefList(const SliceHeader& h, uint32_t max_frame_num, Picture** list) {
    const PictureStructure s = h.structure;
    UpdatePicNums(h.frame_num, s, max_frame_num);
    Picture* init[2 * kDpbFrameStores];
    uint32_t n = 0;
    FrameStore* st[kDpbFrameStores];
    FrameStore* lt[kDpbFrameStores];
    uint32_t nst = 0, nlt = 0;

    if (s == kFrame) {
        for (uint32_t i = 0; i < used_; ++i) {
            if (ShortTermFrame(dpb_[i])) st[nst++] = dpb_[i];
            else if (LongTermFrame(dpb_[i])) lt[nlt++] = dpb_[i];
        }
        std::sort(st, st + nst, [](FrameStore* a, FrameStore* b) { return a->buffer->frame.pic_num > b->buffer->frame.pic_num; });
        std::sort(lt, lt + nlt, [](FrameStore* a, FrameStore* b) {
            return a->buffer->frame.long_term_pic_num < b->buffer->frame.long_term_pic_num;
        });
        for (uint32_t i = 0; i < nst; ++i) init[n++] = &st[i]->buffer->frame;
        for (uint32_t i = 0; i < nlt; ++i) init[n++] = &lt[i]->buffer->frame;
    } else {
        for (uint32_t i = 0; i < used_; ++i) {
            if (dpb_[i]->short_term_bits()) st[nst++] = dpb_[i];
            if (dpb_[i]->is_long_term) lt[nlt++] = dpb_[i];
        }
        std::sort(st, st + nst, [](FrameStore* a, FrameStore* b) { return a->frame_num_wrap > b->frame_num_wrap; });
        std::sort(lt, lt + nlt, [](FrameStore* a, FrameStore* b) { return a->long_term_frame_idx < b->long_term_frame_idx; });
        // 8.2.4.2.5: fields alternate, starting with the parity of the current field.
        const uint8_t same = Bit(s), other = 3 ^ same;
        auto alternate = [&](FrameStore** set, uint32_t count, bool long_term) {
            auto usable = [&](FrameStore* fs, uint8_t bit) {
                return long_term ? LongTermField(fs, bit) : ShortTermField(fs, bit);
            };
            uint32_t i_same = 0, i_other = 0;
            while (i_same < count || i_other < count) {
                for (; i_same < count; ++i_same) {
                    if (usable(set[i_same], same)) {
                        init[n++] = &set[i_same++]->buffer->view(static_cast<PictureStructure>(same));
                        break;
                    }
                }
                for (; i_other < count; ++i_other) {
                    if (usable(set[i_other], other)) {
                        init[n++] = &set[i_other++]->buffer->view(static_cast<PictureStructure>(other));
                        break;
                    }
                }
            }
        };
        alternate(st, nst, false);
        alternate(lt, nlt, true);
    }
    if (n == 0) return 0;

    const uint32_t active = h.num_ref_idx_active;
    for (uint32_t i = 0; i < kMaxRefListEntries; ++i) list[i] = i < std::min(active, n) ? init[i] : nullptr;

    // 8.2.4.3: reordering commands.
    const int64_t max_pic_num = s == kFrame ? max_frame_num : 2 * int64_t{max_frame_num};
    const int64_t curr_pic_num = s == kFrame ? h.frame_num : 2 * int64_t{h.frame_num} + 1;
    int64_t pred = curr_pic_num;
    uint32_t ref_idx = 0;
    for (uint32_t k = 0; k < h.reorder_count && ref_idx < active; ++k) {
        const ReorderCommand& c = h.reorder[k];
        Picture* pic = nullptr;
        bool long_term = c.idc == 2;
        int64_t wanted;
        if (!long_term) {
            const int64_t diff = int64_t{c.value} + 1;
            int64_t no_wrap;
            if (c.idc == 0) {
                no_wrap = pred - diff;
                if (no_wrap < 0) no_wrap += max_pic_num;
            } else {
                no_wrap = pred + diff;
                if (no_wrap >= max_pic_num) no_wrap -= max_pic_num;
            }
            pred = no_wrap;
            wanted = no_wrap > curr_pic_num ? no_wrap - max_pic_num : no_wrap;
        } else {
            wanted = c.value;
        }
        for (uint32_t i = 0; i < used_ && !pic; ++i) {
            FrameStore* fs = dpb_[i];
            PictureBuffer* b = fs->buffer;
            if (s == kFrame) {
                if (!long_term && ShortTermFrame(fs) && b->frame.pic_num == wanted) pic = &b->frame;
                if (long_term && LongTermFrame(fs) && b->frame.long_term_pic_num == wanted) pic = &b->frame;
            } else {
                for (uint8_t bit = 1; bit <= 2 && !pic; ++bit) {
                    Picture& f = b->view(static_cast<PictureStructure>(bit));
                    if (!long_term && ShortTermField(fs, bit) && f.pic_num == wanted) pic = &f;
                    if (long_term && LongTermField(fs, bit) && f.long_term_pic_num == wanted) pic = &f;
                }
            }
        }
        if (!pic) continue;  // names no picture of the buffer
        for (uint32_t c2 = active; c2 > ref_idx; --c2) list[c2] = list[c2 - 1];
        list[ref_idx++] = pic;
        uint32_t out = ref_idx;
        for (uint32_t c2 = ref_idx; c2 <= active; ++c2)
            if (list[c2] != pic) list[out++] = list[c2];
        for (; out <= active; ++out) list[out] = nullptr;
    }
    for (uint32_t i = 0; i < kMaxRefListEntries; ++i)
        if (!list[i] || i >= active) list[i] = list[0];
    return active;
}

}  // namespace kestrel::h264
