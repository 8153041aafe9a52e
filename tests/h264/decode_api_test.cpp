// h264dec_create / h264dec_decode / h264dec_destroy: arguments, input handling, flushing and
// what a returned picture carries.
#include <gtest/gtest.h>

#include <cstring>

#include "h264/h264dec.h"
#include "tests/h264/decode_harness.h"

namespace kestrel::test {
namespace {

// SPS, PPS and an IDR followed by three P frames (I_PCM), 2x2 macroblocks.
// Byte offsets of the four-byte start codes of a stream.
std::vector<size_t> StartCodes(const std::vector<uint8_t>& bytes) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 < bytes.size(); ++i)
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 0 && bytes[i + 3] == 1) starts.push_back(i);
    return starts;
}

PcmStream FourFrames() {
    PcmStream s;
    s.Headers();
    s.Idr(10);
    for (uint32_t i = 1; i < 4; ++i) {
        SliceParams p;
        p.slice_type = 5;
        p.frame_num = i;
        p.poc_lsb = 2 * i;
        s.Picture(p, static_cast<uint8_t>(10 + 10 * i));
    }
    return s;
}

TEST(DecodeApi, NullArgumentsAreRefused) {
    EXPECT_EQ(h264dec_create(nullptr), nullptr);
    h264dec_destroy(nullptr);
    H264DecFrame f;
    EXPECT_EQ(h264dec_decode(nullptr, nullptr, 0, 0, 0, &f, 0), H264DEC_BAD_ARGUMENT);

    // a null frame record changes nothing: the stream decodes as if the call had not happened
    PcmStream s = FourFrames();
    H264DecAttributes a = Attributes(2, 6);
    H264Dec* d = h264dec_create(&a);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(h264dec_decode(d, s.bytes.data(), 10, 0, 0, nullptr, 0), H264DEC_BAD_ARGUMENT);
    uint32_t pictures = 0;
    for (int32_t r = h264dec_decode(d, s.bytes.data(), static_cast<uint32_t>(s.bytes.size()), 0, 0, &f, 0);
         r != H264DEC_NEED_INPUT; r = h264dec_decode(d, nullptr, 0, 0, 0, &f, 0))
        pictures += r == H264DEC_PICTURE;
    while (h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_FLUSH) == H264DEC_PICTURE) ++pictures;
    EXPECT_EQ(pictures, 4u);
    h264dec_destroy(d);
}

TEST(DecodeApi, InputSplitAtAnyByteDecodesLikeTheWhole) {
    PcmStream s = FourFrames();
    const Decoded whole = DecodeAll(s.bytes, Attributes(2, 6));
    ASSERT_EQ(whole.pictures.size(), 4u);
    for (size_t piece : {1, 2, 3, 5, 7, 64, 385, 1000}) {
        const Decoded split = DecodeAll(s.bytes, Attributes(2, 6), piece);
        ASSERT_EQ(split.pictures.size(), 4u) << piece;
        for (size_t i = 0; i < 4; ++i) EXPECT_EQ(split.pictures[i].md5, whole.pictures[i].md5) << piece;
    }
}

TEST(DecodeApi, FrameIsReturnedWhenTheStartCodeAfterTheNextFramesFirstSliceArrives) {
    PcmStream s = FourFrames();
    // Start codes: SPS, PPS, then one slice per frame.
    const std::vector<size_t> starts = StartCodes(s.bytes);
    ASSERT_EQ(starts.size(), 6u);
    H264DecAttributes a = Attributes(2, 6);
    H264Dec* d = h264dec_create(&a);
    H264DecFrame f;
    // Up to the last byte of the start code that ends frame 1's slice: frame 0 not yet out.
    const uint32_t upto = static_cast<uint32_t>(starts[4] + 3);
    EXPECT_EQ(h264dec_decode(d, s.bytes.data(), upto, 0, 0, &f, 0), H264DEC_NEED_INPUT);
    EXPECT_EQ(f.y, nullptr);
    EXPECT_EQ(h264dec_decode(d, s.bytes.data() + upto, 1, 0, 0, &f, 0), H264DEC_PICTURE);
    EXPECT_EQ(f.y[0], 10);
    h264dec_destroy(d);
}

TEST(DecodeApi, EndOfUnitReturnsEachPictureWithItsOwnInput) {
    PcmStream s = FourFrames();
    std::vector<size_t> starts = StartCodes(s.bytes);
    ASSERT_EQ(starts.size(), 6u);
    starts.push_back(s.bytes.size());
    H264DecAttributes a = Attributes(2, 6);
    H264Dec* d = h264dec_create(&a);
    H264DecFrame f;
    // Units: the parameter sets with frame 0, then one frame each; a container's own bytes (a
    // date-time) come before the second unit's start code and are passed over.
    std::vector<uint8_t> first(s.bytes.begin(), s.bytes.begin() + static_cast<long>(starts[3]));
    EXPECT_EQ(h264dec_decode(d, first.data(), static_cast<uint32_t>(first.size()), 0, 0, &f, H264DEC_FLAG_END_OF_UNIT),
              H264DEC_PICTURE);
    EXPECT_EQ(f.y[0], 10);
    EXPECT_EQ(f.damaged, 0u);
    EXPECT_EQ(h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_END_OF_UNIT), H264DEC_NEED_INPUT);
    const uint8_t tags[] = {20, 30, 40};
    for (int k = 0; k < 3; ++k) {
        std::vector<uint8_t> unit = {0x7A, 0xD6, 0x84, 0xCC};
        unit.insert(unit.end(), s.bytes.begin() + static_cast<long>(starts[3 + k]),
                    s.bytes.begin() + static_cast<long>(starts[4 + k]));
        EXPECT_EQ(h264dec_decode(d, unit.data(), static_cast<uint32_t>(unit.size()), 0, 0, &f, H264DEC_FLAG_END_OF_UNIT),
                  H264DEC_PICTURE)
            << k;
        EXPECT_EQ(f.y[0], tags[k]);
        EXPECT_EQ(h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_END_OF_UNIT), H264DEC_NEED_INPUT);
    }
    EXPECT_EQ(h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_FLUSH), H264DEC_END_OF_STREAM) << "nothing held back";
    h264dec_destroy(d);
}

TEST(DecodeApi, PendingInputIsConsumedByCallsWithoutInputAndDroppedByNewInput) {
    PcmStream s = FourFrames();
    const uint32_t n = static_cast<uint32_t>(s.bytes.size());
    H264DecAttributes a = Attributes(2, 6);
    H264DecFrame f;
    {
        H264Dec* d = h264dec_create(&a);
        ASSERT_EQ(h264dec_decode(d, s.bytes.data(), n, 0, 0, &f, 0), H264DEC_PICTURE);
        EXPECT_EQ(f.y[0], 10);
        ASSERT_EQ(h264dec_decode(d, nullptr, 0, 0, 0, &f, 0), H264DEC_PICTURE);
        EXPECT_EQ(f.y[0], 20);
        // the last frame's slice is complete only once the flush brings the terminator
        EXPECT_EQ(h264dec_decode(d, nullptr, 0, 0, 0, &f, 0), H264DEC_NEED_INPUT);
        h264dec_destroy(d);
    }
    {
        H264Dec* d = h264dec_create(&a);
        ASSERT_EQ(h264dec_decode(d, s.bytes.data(), n, 0, 0, &f, 0), H264DEC_PICTURE);
        // New input (a lone AUD) replaces the rest: frames 1 and 2 are never decoded.
        const uint8_t aud[] = {0, 0, 0, 1, 9, 0xF0};
        EXPECT_EQ(h264dec_decode(d, aud, sizeof aud, 0, 0, &f, 0), H264DEC_NEED_INPUT);
        int32_t r = h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_FLUSH);
        ASSERT_EQ(r, H264DEC_PICTURE);
        EXPECT_EQ(f.y[0], 20);  // the slice the AUD's start code completed
        EXPECT_EQ(h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_FLUSH), H264DEC_END_OF_STREAM);
        h264dec_destroy(d);
    }
}

TEST(DecodeApi, FlushReturnsEveryPictureThenEndOfStreamForGood) {
    PcmStream s = FourFrames();
    H264DecAttributes a = Attributes(2, 6, 16, H264DEC_MODE_OUTPUT_ORDER);
    H264Dec* d = h264dec_create(&a);
    H264DecFrame f;
    // Fed in one call; a picture returned in the middle leaves the rest pending, and the flush
    // consumes that rest before completing the last unit.
    int32_t r = h264dec_decode(d, s.bytes.data(), static_cast<uint32_t>(s.bytes.size()), 0, 0, &f, 0);
    std::vector<uint8_t> tags;
    if (r == H264DEC_PICTURE) tags.push_back(f.y[0]);
    while ((r = h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_FLUSH)) == H264DEC_PICTURE) tags.push_back(f.y[0]);
    EXPECT_EQ(r, H264DEC_END_OF_STREAM);
    EXPECT_EQ(tags, (std::vector<uint8_t>{10, 20, 30, 40}));
    EXPECT_EQ(h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_FLUSH), H264DEC_END_OF_STREAM);
    EXPECT_EQ(h264dec_decode(d, nullptr, 0, 0, 0, &f, 0), H264DEC_NEED_INPUT);

    // After a flush the same instance decodes a new stream; parameter sets are kept, and
    // decoding restarts at an intra picture.
    PcmStream next;
    SliceParams p;
    p.slice_type = 5;
    p.frame_num = 1;
    next.Picture(p, 90);  // P first: waits
    next.Idr(50);
    tags.clear();
    for (r = h264dec_decode(d, next.bytes.data(), static_cast<uint32_t>(next.bytes.size()), 0, 0, &f, 0);
         r == H264DEC_PICTURE; r = h264dec_decode(d, nullptr, 0, 0, 0, &f, 0))
        tags.push_back(f.y[0]);
    while (h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_FLUSH) == H264DEC_PICTURE) tags.push_back(f.y[0]);
    EXPECT_EQ(tags, (std::vector<uint8_t>{50}));
    h264dec_destroy(d);
}

TEST(DecodeApi, StreamWiderThanConfiguredIsNeverDecoded) {
    PcmStream s = FourFrames();
    H264DecAttributes a = Attributes(2, 6);
    s.bytes.clear();
    s.sps.width_mbs = 3;
    s.Headers();
    s.Idr(10);
    H264Dec* d = h264dec_create(&a);
    H264DecFrame f;
    for (size_t pos = 0; pos < s.bytes.size(); pos += 100)
        EXPECT_EQ(h264dec_decode(d, s.bytes.data() + pos, static_cast<uint32_t>(std::min<size_t>(100, s.bytes.size() - pos)),
                                 0, 0, &f, 0),
                  H264DEC_NEED_INPUT);
    EXPECT_EQ(h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_FLUSH), H264DEC_END_OF_STREAM);
    h264dec_destroy(d);
}

TEST(DecodeApi, PictureCarriesTimeStampSizeCropAndMarkers) {
    PcmStream s;
    s.sps.cropping = true;
    s.sps.crop[0] = 1;  // 2 luma pixels
    s.sps.crop[3] = 3;  // 6 lines
    s.Headers();
    std::vector<uint8_t> stream = s.bytes;
    Append(stream, SeiNal(224, {1}));                 // parity markers on
    Append(stream, SeiNal(240, {7, 8, 9}));           // private data, 3 bytes
    s.bytes.clear();
    s.Idr(10);
    Append(stream, s.bytes);
    s.bytes.clear();
    s.Frame(20, 1, 2);
    // a picture starts in the call that completes its first slice: cut after the start code
    const size_t second = stream.size() + 4;
    Append(stream, s.bytes);
    Append(stream, SeiNal(240, {5}));                 // later message: 1 byte

    H264DecAttributes a = Attributes(2, 6);
    H264Dec* d = h264dec_create(&a);
    H264DecFrame f;
    std::vector<Returned> got;
    // each piece with its own time stamp
    int32_t r = h264dec_decode(d, stream.data(), static_cast<uint32_t>(second), 111, 1, &f, 0);
    EXPECT_EQ(r, H264DEC_NEED_INPUT);
    for (r = h264dec_decode(d, stream.data() + second, static_cast<uint32_t>(stream.size() - second), 222, 2, &f, 0);
         r == H264DEC_PICTURE; r = h264dec_decode(d, nullptr, 0, 333, 3, &f, 0))
        got.push_back(Describe(f));
    while (h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_FLUSH) == H264DEC_PICTURE) got.push_back(Describe(f));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].timestamp, (uint64_t{1} << 32) | 111);
    EXPECT_EQ(got[1].timestamp, (uint64_t{2} << 32) | 222);
    EXPECT_EQ(got[0].width, 32u);
    EXPECT_EQ(got[0].height, 32u);
    EXPECT_EQ(got[0].crop[0], 2u);
    EXPECT_EQ(got[0].crop[3], 6u);
    EXPECT_EQ(got[0].idr, 1u);
    EXPECT_EQ(got[1].idr, 0u);
    EXPECT_EQ(got[0].parity_marker, 1u);  // 1 + frame_num mod 2
    EXPECT_EQ(got[1].parity_marker, 2u);
    ASSERT_TRUE(got[1].has_private_data);
    EXPECT_EQ(got[1].private_marker, 240u);
    EXPECT_EQ(got[1].private_bytes, std::vector<uint8_t>{5});  // the later message replaced the earlier one
    h264dec_destroy(d);
}

TEST(DecodeApi, PrivateDataAndParityMarkersBeforeAnyMessage) {
    PcmStream s;
    s.Headers();
    s.Idr(10);
    Append(s.bytes, SeiNal(240, {7, 8, 9}));
    s.Frame(20, 1, 2);
    Append(s.bytes, SeiNal(224, {1}));
    Append(s.bytes, SpsNal(s.sps));  // an SPS turns the markers off again
    s.Frame(30, 2, 4);
    Decoded d = DecodeAll(s.bytes, Attributes(2, 6));
    ASSERT_EQ(d.pictures.size(), 3u);
    EXPECT_FALSE(d.pictures[0].has_private_data);
    ASSERT_TRUE(d.pictures[1].has_private_data);
    EXPECT_EQ(d.pictures[1].private_bytes, (std::vector<uint8_t>{7, 8, 9}));
    for (const Returned& r : d.pictures) EXPECT_EQ(r.parity_marker, 0u);
}

TEST(DecodeApi, BlackBeforeAnythingIsDecoded) {
    // An IDR whose only slice is lost still yields a (damaged) picture: the pool starts black.
    PcmStream s;
    s.Headers();
    SliceParams idr;
    idr.idr = true;
    std::vector<uint8_t> nal = PcmSliceNal(idr, s.sps, s.pps, 1, Flat(99, 99, 99));
    nal.resize(nal.size() - 200);  // macroblock data cut: nothing decoded
    Append(s.bytes, nal);
    s.Frame(20, 1, 2);
    Decoded d = DecodeAll(s.bytes, Attributes(2, 6));
    ASSERT_EQ(d.pictures.size(), 2u);
    EXPECT_EQ(d.pictures[0].top, 0);
    EXPECT_EQ(d.pictures[0].cb, 128);
    EXPECT_EQ(d.pictures[0].damaged, 1u);
}

}  // namespace
}  // namespace kestrel::test
