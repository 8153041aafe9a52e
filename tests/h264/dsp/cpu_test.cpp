// Processor classification, the XMM round trip, and the choice and filling of kernel tables.
#include <cstdlib>
#include <cstring>

#include "tests/h264/dsp/kernel_test_support.h"

namespace kestrel::h264::dsp::test {
namespace {

CpuInfo Features(bool id, bool leaf1, bool mmx, bool cmov, bool fxsr, bool sse, bool sse2,
                 bool sse3, bool xmm) {
  CpuInfo c;
  c.id_toggles = id, c.has_leaf1 = leaf1, c.mmx = mmx, c.cmov = cmov, c.fxsr = fxsr;
  c.sse = sse, c.sse2 = sse2, c.sse3 = sse3, c.xmm_preserved = xmm;
  return c;
}

TEST(CpuLevel, ClassifiesFeatureCombinations) {
  struct Case {
    CpuInfo cpu;
    int level;
  } cases[] = {
      {Features(false, true, true, true, true, true, true, true, true), 0},  // no CPUID
      {Features(true, false, true, true, true, true, true, true, true), 0},  // no leaf 1
      {Features(true, true, false, true, true, true, true, true, true), 0},  // no MMX
      {Features(true, true, true, false, true, true, true, true, true), 1},  // no CMOV
      {Features(true, true, true, true, false, true, true, true, true), 2},  // no FXSAVE
      {Features(true, true, true, true, true, false, true, true, true), 2},  // no SSE
      {Features(true, true, true, true, true, true, true, true, false), 2},  // XMM not kept
      {Features(true, true, true, true, true, true, false, false, true), 3},
      {Features(true, true, true, true, true, true, true, false, true), 4},
      {Features(true, true, true, true, true, true, true, true, true), 5},
  };
  for (const auto& c : cases) EXPECT_EQ(CpuLevelOf(c.cpu), c.level);
}

TEST(CpuLevel, ThisMachineHasSse2AndKeepsXmmState) {
  const CpuInfo cpu = DetectCpu();
  EXPECT_TRUE(cpu.id_toggles);
  EXPECT_TRUE(cpu.sse2);  // every x86-64 processor
  EXPECT_TRUE(cpu.xmm_preserved);
  EXPECT_TRUE(XmmStatePreserved());
  EXPECT_GE(CpuLevelOf(cpu), 4);
}

TEST(CpuLevel, XmmRoundTripLeavesRegistersAlone) {
  // Values held in XMM registers across the check must survive it.
  volatile double a = 1.25, b = 3.5;
  double x = a * b;
  const bool kept = XmmStatePreserved();
  x += a;
  EXPECT_TRUE(kept);
  EXPECT_EQ(x, 1.25 * 3.5 + 1.25);
}

class EnvSwitch : public testing::Test {
 protected:
  void TearDown() override { unsetenv("KESTREL_H264_KERNELS"); }
};

TEST_F(EnvSwitch, ForcesASetButNeverOneTheProcessorLacks) {
  CpuInfo full = Features(true, true, true, true, true, true, true, true, true);
  full.avx2 = true;
  CpuInfo sse2_only = full;
  sse2_only.avx2 = false;
  const CpuInfo old = Features(true, true, true, true, false, false, false, false, false);
  struct Case {
    const char* env;
    const CpuInfo& cpu;
    KernelSet want;
  } cases[] = {
      {nullptr, full, KernelSet::kAvx2},        {nullptr, sse2_only, KernelSet::kSse2},
      {nullptr, old, KernelSet::kPortable},     {"c", full, KernelSet::kPortable},
      {"sse2", full, KernelSet::kSse2},         {"avx2", full, KernelSet::kAvx2},
      {"avx2", sse2_only, KernelSet::kSse2},    {"sse2", old, KernelSet::kPortable},
      {"bogus", full, KernelSet::kAvx2},
  };
  for (const auto& c : cases) {
    if (c.env) setenv("KESTREL_H264_KERNELS", c.env, 1);
    else unsetenv("KESTREL_H264_KERNELS");
    EXPECT_EQ(ChooseKernelSet(c.cpu), c.want) << (c.env ? c.env : "(unset)");
  }
}

TEST_F(EnvSwitch, LevelBelowTwoGetsThePortableSet) {
  unsetenv("KESTREL_H264_KERNELS");
  EXPECT_EQ(BestKernelSet(Features(true, true, true, false, false, false, false, false, false)),
            KernelSet::kPortable);
  EXPECT_EQ(BestKernelSet(CpuInfo{}), KernelSet::kPortable);
}

TEST(KernelTable, EverySlotOfEverySetIsFilled) {
  static_assert(sizeof(KernelTable) % sizeof(void (*)()) == 0);
  for (KernelSet set : {KernelSet::kPortable, KernelSet::kSse2, KernelSet::kAvx2}) {
    KernelTable t;
    std::memset(&t, 0, sizeof t);
    FillKernelTable(t, set);
    const auto* slots = reinterpret_cast<const unsigned char*>(&t);
    for (size_t i = 0; i < sizeof t / sizeof(void (*)()); ++i) {
      void (*fn)();
      std::memcpy(&fn, slots + i * sizeof fn, sizeof fn);
      EXPECT_NE(fn, nullptr) << KernelSetName(set) << " slot " << i;
    }
  }
}

TEST(KernelTable, SelectKernelsHonoursTheSwitch) {
  setenv("KESTREL_H264_KERNELS", "c", 1);
  KernelTable t;
  EXPECT_EQ(SelectKernels(t), KernelSet::kPortable);
  unsetenv("KESTREL_H264_KERNELS");
  EXPECT_EQ(SelectKernels(t), BestKernelSet(DetectCpu()));
}

}  // namespace
}  // namespace kestrel::h264::dsp::test
