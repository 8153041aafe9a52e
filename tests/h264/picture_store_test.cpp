// Reference marking and reference list 0 of the picture store: sliding window, every memory
// management operation, long-term pictures, field lists and reordering commands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "h264/picture_store.h"

namespace kestrel::h264 {
namespace {

class Store {
public:
    explicit Store(uint32_t num_ref_frames, uint32_t max_frame_num = 16)
        : nrf_(num_ref_frames), max_frame_num_(max_frame_num), memory_(kBuffers * 64), buffers_(kBuffers) {
        for (uint32_t i = 0; i < kBuffers; ++i) {
            PictureBuffer& b = buffers_[i];
            b.index = i;
            b.planes[0] = memory_.data() + 64 * i;
            b.planes[1] = b.planes[0] + 32;
            b.planes[2] = b.planes[0] + 48;
            b.frame.buffer = b.top.buffer = b.bottom.buffer = &b;
            b.frame.structure = kFrame;
            b.top.structure = kTopField;
            b.bottom.structure = kBottomField;
        }
        store_.Init(buffers_.data(), kBuffers, 16, false, &queue_);
    }

    // Decodes (starts and finishes) a picture; the returned pictures are taken off the queue.
    void Decode(uint32_t frame_num, PictureStructure s = kFrame, RefPicMarking m = {}, bool idr = false,
                 bool reference = true) {
        PictureStart ps;
        ps.structure = s;
        ps.reference = reference;
        ps.idr = idr;
        ps.frame_num = frame_num;
        ps.poc.poc = ps.poc.top = ps.poc.bottom = static_cast<int32_t>(2 * count_++);
        ps.width = 16;
        ps.frame_height = 32;
        h264::Picture* p = store_.Start(ps);
        ASSERT_NE(p, nullptr);
        labels_[p->buffer->index] = std::to_string(frame_num);
        store_.Finish(m, nrf_, max_frame_num_, &poc_);
        uint32_t index;
        while (queue_.Pop(kBuffers, &index)) buffers_[index].output_state = kOutputDone;
    }
    void Idr(bool long_term = false) {
        RefPicMarking m;
        m.long_term_reference = long_term;
        Decode(0, kFrame, m, true);
    }

    // The list a P slice of picture (frame_num, structure) would use, as labels: "3" for the
    // frame with frame_num 3, "3t" / "3b" for its fields.
    std::vector<std::string> List(uint32_t frame_num, PictureStructure s = kFrame, uint32_t active = 32,
                                  std::vector<ReorderCommand> reorder = {}) {
        SliceHeader h;
        h.frame_num = frame_num;
        h.structure = s;
        h.num_ref_idx_active = active;
        h.reorder_count = static_cast<uint32_t>(reorder.size());
        for (size_t i = 0; i < reorder.size(); ++i) h.reorder[i] = reorder[i];
        h264::Picture* list[kMaxRefListEntries];
        const uint32_t n = store_.BuildRefList(h, max_frame_num_, list);
        std::vector<std::string> out;
        for (uint32_t i = 0; i < n && i < 32; ++i) {
            std::string l = labels_[list[i]->buffer->index];
            if (list[i]->structure == kTopField) l += "t";
            if (list[i]->structure == kBottomField) l += "b";
            out.push_back(l);
        }
        // trim the repeats of entry 0 that fill the list up to `active`
        while (out.size() > 1 && active == 32 && out.back() == out.front()) out.pop_back();
        return out;
    }

    PictureStore& store() { return store_; }

private:
    static constexpr uint32_t kBuffers = 36;
    uint32_t nrf_;
    uint32_t max_frame_num_;
    std::vector<uint8_t> memory_;
    std::vector<PictureBuffer> buffers_;
    std::string labels_[kBuffers];
    OutputQueue queue_;
    PictureStore store_;
    PocState poc_;
    uint32_t count_ = 0;
};

using L = std::vector<std::string>;

RefPicMarking Ops(std::initializer_list<MmcoCommand> ops) {
    RefPicMarking m;
    m.adaptive = true;
    for (const MmcoCommand& op : ops) m.ops[m.count++] = op;
    return m;
}
MmcoCommand Op1(uint32_t diff_minus1) { return {1, diff_minus1, 0, 0, 0}; }
MmcoCommand Op2(uint32_t long_term_pic_num) { return {2, 0, long_term_pic_num, 0, 0}; }
MmcoCommand Op3(uint32_t diff_minus1, uint32_t idx) { return {3, diff_minus1, 0, idx, 0}; }
MmcoCommand Op4(uint32_t max_plus1) { return {4, 0, 0, 0, max_plus1}; }
MmcoCommand Op5() { return {5, 0, 0, 0, 0}; }
MmcoCommand Op6(uint32_t idx) { return {6, 0, 0, idx, 0}; }

TEST(ReferenceList, FramesByDescendingPicNumWithFrameNumWrap) {
    Store s(4);
    s.Idr();
    for (uint32_t fn = 1; fn <= 5; ++fn) s.Decode(fn);
    EXPECT_EQ(s.List(6), (L{"5", "4", "3", "2"}));  // sliding window kept four
    for (uint32_t fn : {6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u, 0u, 1u}) s.Decode(fn);
    EXPECT_EQ(s.List(2), (L{"1", "0", "15", "14"}));
}

TEST(ReferenceList, NonReferencePicturesAreNotInIt) {
    Store s(4);
    s.Idr();
    s.Decode(1);
    s.Decode(2, kFrame, {}, false, false);
    EXPECT_EQ(s.List(2), (L{"1", "0"}));
}

TEST(ReferenceList, ShorterActiveSizeTruncatesAndLongerRepeatsEntryZero) {
    Store s(4);
    s.Idr();
    s.Decode(1);
    s.Decode(2);
    EXPECT_EQ(s.List(3, kFrame, 2), (L{"2", "1"}));
    EXPECT_EQ(s.List(3, kFrame, 5), (L{"2", "1", "0", "2", "2"}));
}

TEST(MemoryManagement, EveryOperation) {
    {
        SCOPED_TRACE("1: a short-term picture is no longer used");
        Store s(4);
        s.Idr();
        s.Decode(1);
        s.Decode(2);
        s.Decode(3, kFrame, Ops({Op1(1)}));  // picNumX = 3 - 2 = 1
        EXPECT_EQ(s.List(4), (L{"3", "2", "0"}));
    }
    {
        SCOPED_TRACE("3: short-term to long-term; long-term pictures follow by LongTermPicNum");
        Store s(4);
        s.Idr();
        s.Decode(1);
        s.Decode(2);
        s.Decode(3, kFrame, Ops({Op3(2, 1), Op3(1, 0)}));  // frame 0 -> index 1, frame 1 -> index 0
        EXPECT_EQ(s.List(4), (L{"3", "2", "1", "0"}));
        s.Decode(4, kFrame, Ops({Op3(0, 0)}));  // frame 3 takes index 0 from frame 1
        EXPECT_EQ(s.List(5), (L{"4", "2", "3", "0"}));
        SCOPED_TRACE("2: a long-term picture is no longer used");
        s.Decode(5, kFrame, Ops({Op2(1)}));
        EXPECT_EQ(s.List(6), (L{"5", "4", "2", "3"}));
    }
    {
        SCOPED_TRACE("4: long-term indices above the new maximum are dropped");
        Store s(4);
        s.Idr();
        s.Decode(1);
        s.Decode(2, kFrame, Ops({Op3(1, 0), Op3(0, 2)}));
        EXPECT_EQ(s.List(3), (L{"2", "0", "1"}));
        s.Decode(3, kFrame, Ops({Op4(1)}));  // max index 0
        EXPECT_EQ(s.List(4), (L{"3", "2", "0"}));
        s.Decode(4, kFrame, Ops({Op4(0)}));  // no long-term index at all
        EXPECT_EQ(s.List(5), (L{"4", "3", "2"}));
    }
    {
        SCOPED_TRACE("5: everything is dropped and frame_num restarts at 0");
        Store s(4);
        s.Idr();
        s.Decode(1);
        s.Decode(2, kFrame, Ops({Op5()}));
        EXPECT_EQ(s.List(1), (L{"2"}));
        s.Decode(1);
        EXPECT_EQ(s.List(2), (L{"1", "2"}));  // the mmco-5 picture counts as frame_num 0
    }
    {
        SCOPED_TRACE("6: the current picture becomes long-term");
        Store s(4);
        s.Idr();
        s.Decode(1, kFrame, Ops({Op6(0)}));
        s.Decode(2);
        EXPECT_EQ(s.List(3), (L{"2", "0", "1"}));
        s.Decode(3, kFrame, Ops({Op6(0)}));  // takes index 0 from frame 1
        EXPECT_EQ(s.List(4), (L{"2", "0", "3"}));
    }
}

TEST(MemoryManagement, IdrLongTermReferenceAndTheSlidingWindow) {
    Store s(2);
    s.Idr(true);  // long-term index 0
    s.Decode(1);
    s.Decode(2);  // sliding window: only the short-term frame 1 gives way
    EXPECT_EQ(s.List(3), (L{"2", "0"}));
    s.Decode(3);
    EXPECT_EQ(s.List(4), (L{"3", "0"}));
}

TEST(MemoryManagement, TooManyReferencesAfterAdaptiveMarkingFallBackToTheSlidingWindow) {
    Store s(2);
    s.Idr();
    s.Decode(1);
    s.Decode(2, kFrame, Ops({Op4(1)}));  // marks nothing away: three references for two
    EXPECT_EQ(s.List(3), (L{"2", "1"}));
}

TEST(ReferenceList, ReorderingCommands) {
    Store s(4);
    s.Idr();
    s.Decode(1);
    s.Decode(2);
    s.Decode(3, kFrame, Ops({Op3(2, 0)}));  // frame 0 (picNumX 3 - 3) long-term, index 0
    // default: 2 1 | long-term 0
    EXPECT_EQ(s.List(4), (L{"3", "2", "1", "0"}));
    // idc 0 subtracts from the prediction (first from CurrPicNum 4): 4 - 3 = 1
    EXPECT_EQ(s.List(4, kFrame, 4, {{0, 2}}), (L{"1", "3", "2", "0"}));
    // idc 1 adds: 4 - 3 = 1, then 1 + 1 = 2
    EXPECT_EQ(s.List(4, kFrame, 4, {{0, 2}, {1, 0}}), (L{"1", "2", "3", "0"}));
    // idc 2 names a long-term picture
    EXPECT_EQ(s.List(4, kFrame, 4, {{2, 0}}), (L{"0", "3", "2", "1"}));
    // the same picture twice (duplicate references for weighting)
    EXPECT_EQ(s.List(4, kFrame, 2, {{0, 0}, {1, 15}}), (L{"3", "3"}));
    // a command naming no stored picture is skipped
    EXPECT_EQ(s.List(4, kFrame, 4, {{0, 9}, {2, 5}, {0, 0}}), (L{"3", "2", "1", "0"}));
    // wrap below 0: 4 - 6 = -2 + 16 = 14, which is no picture; then 14 + 11 - 16 = 9: none
    EXPECT_EQ(s.List(4, kFrame, 4, {{0, 5}, {1, 10}, {0, 7}}), (L{"1", "3", "2", "0"}));
}

TEST(ReferenceList, FieldsAlternateParityStartingWithTheCurrentOne) {
    Store s(4);
    s.Decode(0, kTopField, {}, true);
    s.Decode(0, kBottomField);
    s.Decode(1, kTopField);
    s.Decode(1, kBottomField);
    s.Decode(2, kTopField);
    // second field of frame 2: its first field comes first (same frame_num, opposite parity)
    EXPECT_EQ(s.List(2, kBottomField), (L{"1b", "2t", "0b", "1t", "0t"}));
    EXPECT_EQ(s.List(2, kTopField), (L{"2t", "1b", "1t", "0b", "0t"}));
    s.Decode(2, kBottomField);
    EXPECT_EQ(s.List(3, kTopField), (L{"2t", "2b", "1t", "1b", "0t", "0b"}));
    // a parity that runs out leaves the rest to the other one
    // 3t (CurrPicNum 7) drops 2t (PicNum 5) and 1t (PicNum 3)
    s.Decode(3, kTopField, Ops({Op1(1), Op1(3)}));
    EXPECT_EQ(s.List(3, kBottomField), (L{"2b", "3t", "1b", "0t", "0b"}));
    // field reordering: PicNum of the same parity is 2 FrameNumWrap + 1
    EXPECT_EQ(s.List(3, kBottomField, 5, {{0, 3}}), (L{"1b", "2b", "3t", "0t", "0b"}));
}

TEST(MemoryManagement, SlidingWindowRemovesBothFieldsOfTheOldestFrame) {
    Store s(2);
    s.Decode(0, kTopField, {}, true);
    s.Decode(0, kBottomField);
    s.Decode(1, kTopField);
    s.Decode(1, kBottomField);
    s.Decode(2, kTopField);  // the window is full: frame 0 goes, top and bottom
    EXPECT_EQ(s.List(2, kBottomField), (L{"1b", "2t", "1t"}));
    s.Decode(2, kBottomField);
    s.Decode(3, kTopField);
    EXPECT_EQ(s.List(3, kBottomField), (L{"2b", "3t", "2t"}));
    // frames as well: nothing of a frame stays marked once the window has passed it
    Store f(1);
    f.Idr();
    f.Decode(1);
    EXPECT_EQ(f.List(2, kFrame), (L{"1"}));
    EXPECT_EQ(f.store().dpb_fill(), 1u);
}

TEST(ReferenceList, LongTermFieldsFollowByLongTermFrameIdx) {
    Store s(3);
    RefPicMarking long_term;
    long_term.long_term_reference = true;
    s.Decode(0, kTopField, long_term, true);  // IDR long-term, index 0
    s.Decode(0, kBottomField, Ops({Op6(0)}));                  // its second field joins it
    s.Decode(1, kTopField);
    s.Decode(1, kBottomField);
    EXPECT_EQ(s.List(2, kTopField), (L{"1t", "1b", "0t", "0b"}));
    EXPECT_EQ(s.List(2, kTopField, 4, {{2, 1}}), (L{"0t", "1t", "1b", "0b"}));  // LongTermPicNum 2*0+1
    EXPECT_EQ(s.List(2), (L{"1", "0"}));
}

}  // namespace
}  // namespace kestrel::h264

namespace kestrel::h264 {
namespace {

TEST(OutputQueue, RefusesWhenFullInsteadOfOverwritingAndSkipsVoidEntries) {
    OutputQueue q;
    for (uint32_t i = 0; i < OutputQueue::kEntries; ++i) EXPECT_TRUE(q.Push(i % 8));
    EXPECT_FALSE(q.Push(7));  // full: the first entries must survive
    uint32_t index = 99;
    ASSERT_TRUE(q.Pop(8, &index));
    EXPECT_EQ(index, 0u);
    EXPECT_TRUE(q.Push(5));
    for (uint32_t i = 1; i < OutputQueue::kEntries; ++i) {
        ASSERT_TRUE(q.Pop(8, &index));
        EXPECT_EQ(index, i % 8);
    }
    ASSERT_TRUE(q.Pop(8, &index));
    EXPECT_EQ(index, 5u);
    EXPECT_FALSE(q.Pop(8, &index));
    // an index beyond the pool is void
    q.Push(40);
    q.Push(3);
    ASSERT_TRUE(q.Pop(8, &index));
    EXPECT_EQ(index, 3u);
}

}  // namespace
}  // namespace kestrel::h264
