// Damaged input: short random files, random slice data behind valid headers, and every corpus
// stream with random bytes changed. The decoder must come through each without a crash, a hang
// or a sanitizer report, and every picture record it returns must be sound (planes inside the
// instance, sizes and crops that leave a picture, flags in range).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/h264/corpus.h"
#include "tests/support/h264writer.h"

namespace kestrel::test {
namespace {

struct Rng {
    uint64_t x;
    explicit Rng(uint64_t seed) : x(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t Next() {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return static_cast<uint32_t>(x >> 11);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
    uint8_t Byte() { return static_cast<uint8_t>(Next()); }
};

std::string Joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
}

// Instance set-ups the damaged input goes through, in turn.
struct Way {
    const char* name;
    uint32_t work_mode;
    bool random_pieces;
};
constexpr Way kWays[] = {
    {"decoding order, whole", 0, false},
    {"output order, random pieces", H264DEC_MODE_OUTPUT_ORDER, true},
    {"output order deinterlaced, whole", H264DEC_MODE_OUTPUT_ORDER | H264DEC_MODE_DEINTERLACE, false},
    {"decoding order deinterlaced, random pieces", H264DEC_MODE_DEINTERLACE, true},
};

// Small pictures, so that random headers that pass the size checks are common.
constexpr uint32_t kWidthMbs = 4, kHeightMbs = 6;

SpsParams SmallSps(bool fields) {
    SpsParams sps;
    sps.width_mbs = kWidthMbs;
    sps.height_map_units = fields ? kHeightMbs / 2 : kHeightMbs;
    sps.frame_mbs_only = !fields;
    sps.num_ref_frames = 2;
    return sps;
}

// Slice data of random bits behind a valid slice header.
std::vector<uint8_t> RandomSlice(Rng& rng, size_t bytes, const SliceParams& s, const SpsParams& sps,
                                 const PpsParams& pps) {
    BitWriter w;
    WriteSliceHeader(w, s, sps, pps);
    for (size_t i = 0; i < bytes; ++i) w.U(8, rng.Byte());
    w.Trailing();
    return MakeNal(s.nal_ref_idc, s.idr ? 5 : 1, w.data());
}

// Ways to make an input of n bytes (n = 0..255) from a seeded generator.
struct Kind {
    const char* name;
    std::function<std::vector<uint8_t>(Rng&, size_t)> make;
};

const Kind kKinds[] = {
    {"random bytes",
     [](Rng& rng, size_t n) {
         std::vector<uint8_t> v(n);
         for (uint8_t& b : v) b = rng.Byte();
         return v;
     }},
    // Start codes followed by NAL headers of every type, so that the random bytes reach the
    // parameter-set, SEI and slice parsers instead of being skipped as leading garbage.
    {"random NAL units",
     [](Rng& rng, size_t n) {
         std::vector<uint8_t> v;
         while (v.size() < n) {
             if (rng.Below(6) == 0) {
                 const uint8_t types[] = {1, 5, 6, 7, 8, 9, 10, 11, 12, 2, 20, 0};
                 v.insert(v.end(), {0, 0, 1, static_cast<uint8_t>((rng.Below(4) << 5) | types[rng.Below(12)])});
             } else {
                 v.push_back(rng.Byte());
             }
         }
         v.resize(n);
         return v;
     }},
    // Valid parameter sets, then an IDR slice and P slices whose macroblock data is random.
    {"random slice data",
     [](Rng& rng, size_t n) {
         const bool fields = rng.Below(3) == 0;
         const SpsParams sps = SmallSps(fields);
         PpsParams pps;
         pps.weighted_pred = rng.Below(2) == 1;
         pps.constrained_intra_pred = rng.Below(2) == 1;
         std::vector<uint8_t> v = SpsNal(sps);
         Append(v, PpsNal(pps));
         for (uint32_t pic = 0; v.size() < n + 40; ++pic) {
             SliceParams s;
             s.idr = pic == 0;
             s.slice_type = pic == 0 || rng.Below(4) == 0 ? 7 : 5;
             s.frame_num = pic & 15;
             s.poc_lsb = (2 * pic) & 63;
             s.field_pic = fields;
             s.bottom_field = fields && (pic & 1);
             s.disable_deblocking_filter_idc = rng.Below(3);
             s.slice_qp_delta = static_cast<int32_t>(rng.Below(40)) - 20;
             if (s.slice_type == 5 && pps.weighted_pred) {
                 s.luma_log2_denom = rng.Below(8);
                 s.chroma_log2_denom = rng.Below(8);
                 s.weights.resize(1);
             }
             Append(v, RandomSlice(rng, 1 + rng.Below(static_cast<uint32_t>(n / 2 + 1)), s, sps, pps));
         }
         return v;
     }},
};

TEST(H264Robustness, ShortRandomInputs) {
    for (const Kind& kind : kKinds) {
        for (size_t n = 0; n < 256; ++n) {
            Rng rng(n * 31 + static_cast<size_t>(&kind - kKinds));
            const std::vector<uint8_t> input = kind.make(rng, n);
            const Way& way = kWays[n % std::size(kWays)];
            const H264DecAttributes attr{0, 0, kWidthMbs, kHeightMbs, 4, way.work_mode};
            const DecodeRun run = Decode(input, attr, way.random_pieces ? RandomPieces(n + 1, 37) : WholeStream());
            ASSERT_TRUE(run.faults.empty()) << kind.name << ", " << n << " bytes, " << way.name << ":\n"
                                            << Joined(run.faults);
        }
    }
}

TEST(H264Robustness, RandomSliceDataStillReturnsPictures) {
    // The slices above are decodable up to their first bad macroblock: the decoder must keep
    // returning (damaged) pictures rather than dropping everything after the first error.
    size_t pictures = 0;
    for (size_t n = 64; n < 256; n += 16) {
        Rng rng(n);
        const DecodeRun run = Decode(kKinds[2].make(rng, n), {0, 0, kWidthMbs, kHeightMbs, 4, 0}, WholeStream());
        ASSERT_TRUE(run.faults.empty()) << Joined(run.faults);
        pictures += run.pictures.size();
    }
    EXPECT_GT(pictures, 12u);
}

std::vector<CorpusStream> AllStreams() {
    std::vector<CorpusStream> s = ReadManifest();
    if (s.empty()) {
        CorpusStream none;
        none.name = "corpus_absent";
        s.push_back(none);
    }
    return s;
}

class CorpusDamage : public testing::TestWithParam<CorpusStream> {};

TEST_P(CorpusDamage, ChangedBytesDecodeSafely) {
    const CorpusStream& s = GetParam();
    if (s.file.empty()) GTEST_SKIP() << "no conformance corpus at " << CorpusDir();
    std::vector<uint8_t> original = StreamBytes(s);
    ASSERT_FALSE(original.empty());
    // Under the sanitizers: one variant per stream and at most the first 256 KB of it.
    const bool sanitizer = SanitizerRun();
    if (sanitizer && original.size() > (256u << 10)) original.resize(256u << 10);
    const uint32_t variants = sanitizer ? 1 : 3;
    uint64_t seed = 0;
    for (char c : s.name) seed = seed * 131 + static_cast<uint8_t>(c);
    for (uint32_t v = 0; v < variants; ++v) {
        Rng rng(seed + v);
        std::vector<uint8_t> damaged = original;
        // From a byte per 16 KB (a mostly decodable stream) to a byte per 256 (mostly errors).
        const size_t changes = 1 + damaged.size() / (v == 0 ? 16384 : v == 1 ? 2048 : 256);
        for (size_t i = 0; i < changes; ++i) {
            uint8_t& b = damaged[rng.Below(static_cast<uint32_t>(damaged.size()))];
            b = static_cast<uint8_t>(b ^ (1 + rng.Below(255)));
        }
        const Way& way = kWays[(seed + v) % std::size(kWays)];
        const DecodeRun run = Decode(damaged, AttributesFor(original, way.work_mode),
                                     way.random_pieces ? RandomPieces(seed + v, 4096) : WholeStream(), false);
        EXPECT_TRUE(run.faults.empty()) << "variant " << v << " (" << changes << " bytes changed), " << way.name
                                        << ":\n" << Joined(run.faults);
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusDamage, testing::ValuesIn(AllStreams()),
                         [](const testing::TestParamInfo<CorpusStream>& info) { return info.param.name; });

}  // namespace
}  // namespace kestrel::test
