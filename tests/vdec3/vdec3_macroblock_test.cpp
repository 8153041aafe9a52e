// The macroblock layer: DC prediction from the default stores, motion vector prediction and range,
// skipped and intra macroblocks in predicted frames, chroma vectors, vectors reaching the borders.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "tests/support/vdec3enc.h"
#include "tests/support/vdec3enc_codes.h"
#include "tests/vdec3/vdec3_test_support.h"
#include "vdec3/vdec3.h"

namespace {

using vdec3enc::MacroblockMode;
using vdec3enc::MacroblockPlan;
using vdec3enc::Picture;
using vdec3test::Difference;

class MacroblockTest : public ::testing::TestWithParam<Vdec3Implementation> {};

// One intra macroblock at q = 10 whose blocks all send a DC difference of 0 and no AC: every
// block takes the default store's quantised DC, round(1024 / 18) = 57 for luma and
// round(1024 / 11) = 93 for chroma, so luma is (4 * 57 * 18 + 16) >> 5 = 128 (56 would give 126).
TEST_P(MacroblockTest, TopLeftMacroblockPredictsFromTheDefaultStore) {
  vdec3enc::BitWriter bw;
  bw.Put(10, 5);
  bw.PutCode(vdec3enc::IntraFrameTypeCode(0));
  bw.PutCode(vdec3enc::CbpyCode(0));
  for (int k = 0; k < 6; ++k) {
    bw.PutCode(vdec3enc::DcSizeCode(0));
    bw.PutBit(false);  // no AC prediction
  }
  std::vector<uint8_t> frame((4 + bw.bytes().size() + 3) / 4 * 4, 0);
  std::memcpy(frame.data() + 4, bw.bytes().data(), bw.bytes().size());
  frame[3] = static_cast<uint8_t>(frame.size() | 1);
  auto d = vdec3test::Create(GetParam(), 16, 16);
  uint32_t used = 0;
  const Picture got = vdec3test::DecodePlanar(d.get(), 16, 16, frame, kVdec3NoPostFilter, &used);
  EXPECT_EQ(used, frame.size());
  Picture want = Picture::Filled(16, 16, 128, (4 * 93 * 11 + 16) >> 5);
  EXPECT_EQ(Difference(want, got), "");
}

struct PlanCase {
  const char* name;
  std::function<MacroblockPlan(int mx, int my)> plan;
  vdec3enc::AcPrediction ac = vdec3enc::AcPrediction::kAuto;
};

MacroblockPlan Vector(int h, int v) {
  MacroblockPlan p;
  p.mode = MacroblockMode::kInter;
  p.fixed_vector = true;
  p.h = h;
  p.v = v;
  return p;
}

const PlanCase kPlans[] = {
    {"intra beside inter takes the default stores",
     [](int mx, int my) {
       MacroblockPlan p;
       p.mode = (mx + my) % 2 ? MacroblockMode::kIntra : MacroblockMode::kInter;
       return p;
     }},
    {"30 + 4 becomes 0, not -30",
     [](int mx, int my) {
       if (my == 0 && mx == 0) return Vector(30, -30);
       if (my == 0 && mx == 1) {
         MacroblockPlan p;
         p.mode = MacroblockMode::kInter;
         p.raw_difference = true;
         p.dh = 4;   // 30 + 4
         p.dv = -4;  // -30 - 4
         return p;
       }
       return Vector(mx % 3 - 1, 2);  // the neighbours of the clamped one predict from (0, 0)
     }},
    {"first row predicts from the left alone",
     [](int mx, int my) { return my == 0 ? Vector(2 * mx - 9, 7 - mx) : Vector(mx - 5, -my); }},
    {"skipped macroblocks count as (0, 0)",
     [](int mx, int my) {
       MacroblockPlan p;
       if ((mx + 2 * my) % 3 == 0) {
         p.mode = MacroblockMode::kSkip;
         return p;
       }
       return Vector(5 - mx % 4 * 3, my % 3 * 4 - 3);
     }},
    {"chroma vectors from -3 and other odd quarters",
     [](int mx, int my) {
       static const int kComponents[] = {-3, 3, -1, 1, -2, 2, -5, 5};
       return Vector(kComponents[(mx + my) % 8], kComponents[(mx + 3 * my + 1) % 8]);
     }},
    {"vectors of +-31 half-pels read the borders",
     [](int mx, int my) {
       static const int kSigns[4][2] = {{31, 31}, {-31, -31}, {-31, 31}, {31, -31}};
       return Vector(kSigns[(mx + my) % 4][0], kSigns[(mx + my) % 4][1]);
     }},
    {"every intra block with AC prediction",
     [](int, int) {
       MacroblockPlan p;
       p.mode = MacroblockMode::kIntra;
       return p;
     },
     vdec3enc::AcPrediction::kAlways},
    {"every intra block without AC prediction",
     [](int, int) {
       MacroblockPlan p;
       p.mode = MacroblockMode::kIntra;
       return p;
     },
     vdec3enc::AcPrediction::kNever},
};

TEST_P(MacroblockTest, PlannedPredictedFramesRoundTrip) {
  const vdec3test::Fixture& f = vdec3test::Fixtures()[0];
  const Picture first = vdec3test::LoadFixture(f, 0), second = vdec3test::LoadFixture(f, 1);
  for (const PlanCase& c : kPlans) {
    for (int q : {3, 12, 31}) {
      SCOPED_TRACE(testing::Message() << c.name << ", q " << q);
      vdec3enc::Encoder encoder(f.width, f.height);
      vdec3enc::FrameOptions o;
      o.q = q;
      o.ac_prediction = c.ac;
      const auto i_frame = encoder.Encode(first, o);
      const Picture i_picture = encoder.reconstruction();
      o.inter = true;
      o.plan = c.plan;
      const auto p_frame = encoder.Encode(second, o);
      auto d = vdec3test::Create(GetParam(), f.width, f.height);
      EXPECT_EQ(Difference(i_picture, vdec3test::DecodePlanar(d.get(), 176, 144, i_frame, kVdec3NoPostFilter)), "");
      EXPECT_EQ(Difference(encoder.reconstruction(),
                           vdec3test::DecodePlanar(d.get(), 176, 144, p_frame, kVdec3NoPostFilter)),
                "");
    }
  }
}

TEST_P(MacroblockTest, SkippedMacroblocksCopyTheReference) {
  const vdec3test::Fixture& f = vdec3test::Fixtures()[0];
  vdec3enc::Encoder encoder(f.width, f.height);
  vdec3enc::FrameOptions o;
  const auto i_frame = encoder.Encode(vdec3test::LoadFixture(f, 0), o);
  o.inter = true;
  o.plan = [](int, int) {
    MacroblockPlan p;
    p.mode = MacroblockMode::kSkip;
    return p;
  };
  const auto p_frame = encoder.Encode(vdec3test::LoadFixture(f, 1), o);
  auto d = vdec3test::Create(GetParam(), f.width, f.height);
  const Picture reference = vdec3test::DecodePlanar(d.get(), 176, 144, i_frame, kVdec3NoPostFilter);
  EXPECT_EQ(Difference(reference, vdec3test::DecodePlanar(d.get(), 176, 144, p_frame, kVdec3NoPostFilter)), "");
}

INSTANTIATE_TEST_SUITE_P(Implementations, MacroblockTest, ::testing::ValuesIn(vdec3test::Implementations()),
                         [](const auto& info) { return std::string(vdec3test::NameOf(info.param)); });

}  // namespace
