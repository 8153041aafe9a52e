// Shared by the kernel tests: the kernel sets this processor runs, one filled table per set, and
// a seeded random source.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "h264/dsp/cpu.h"
#include "h264/dsp/kernel_table.h"

namespace kestrel::h264::dsp::test {

inline std::vector<KernelSet> SetsOfThisCpu() {
  std::vector<KernelSet> sets;
  const int best = static_cast<int>(BestKernelSet(DetectCpu()));
  for (int s = 0; s <= best; ++s) sets.push_back(static_cast<KernelSet>(s));
  return sets;
}

inline const KernelTable& TableOf(KernelSet set) {
  static KernelTable tables[3];
  static bool filled[3] = {};
  const int i = static_cast<int>(set);
  if (!filled[i]) {
    FillKernelTable(tables[i], set);
    filled[i] = true;
  }
  return tables[i];
}

inline std::string SetParamName(const testing::TestParamInfo<KernelSet>& info) {
  return KernelSetName(info.param);
}

// Tests written against a formula of the standard run once per kernel set.
class EachKernelSet : public testing::TestWithParam<KernelSet> {
 protected:
  const KernelTable& k() const { return TableOf(GetParam()); }
  std::mt19937 rng{1234};
  int Rand(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
};

#define KESTREL_EACH_KERNEL_SET(Suite) \
  INSTANTIATE_TEST_SUITE_P(Sets, Suite, testing::ValuesIn(SetsOfThisCpu()), SetParamName)

}  // namespace kestrel::h264::dsp::test
