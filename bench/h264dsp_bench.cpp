// Nanoseconds per call of the H.264 pixel kernels, for every kernel set this processor runs.
// Names are kernel/set, so the sets of one kernel sit next to each other in the output. On a
// shared machine run with --benchmark_repetitions=5 and read the _min rows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "h264/dsp/cpu.h"
#include "h264/dsp/kernel_table.h"

namespace {

using namespace kestrel::h264::dsp;

// Inputs shared by all kernels: smooth picture content (so that the deblocking filters act on
// every line), a coefficient block, residuals, neighbours.
struct Inputs {
  static constexpr int kStride = 64;
  std::vector<uint8_t> picture = std::vector<uint8_t>(kStride * 64);
  std::vector<uint8_t> noisy = std::vector<uint8_t>(kStride * 64);
  std::vector<uint8_t> prev = std::vector<uint8_t>(768 * 4);
  std::vector<uint8_t> cur = std::vector<uint8_t>(768 * 4);
  std::vector<uint8_t> motion = std::vector<uint8_t>(768);
  std::array<int16_t, 256> residual{};
  std::array<int16_t, 16> coef{};
  Inputs() {
    std::mt19937 rng(7);
    for (int i = 0; i < kStride * 64; ++i) {
      picture[i] = static_cast<uint8_t>(100 + (i % 5) + ((i / kStride) % 3));
      noisy[i] = static_cast<uint8_t>(rng());
    }
    for (auto& v : cur) v = static_cast<uint8_t>(rng());
    for (auto& v : prev) v = static_cast<uint8_t>(rng());
    for (auto& r : residual) r = static_cast<int16_t>(static_cast<int>(rng() % 41) - 20);
    for (auto& c : coef) c = static_cast<int16_t>(static_cast<int>(rng() % 201) - 100);
  }
};
Inputs& In() {
  static Inputs in;
  return in;
}

std::vector<KernelSet>& Sets() {
  static std::vector<KernelSet> sets;
  return sets;
}

// One benchmark per kernel set this processor runs, under kernel/set.
void Register(const std::string& kernel, std::function<void(const KernelTable&)> call) {
  for (KernelSet set : Sets()) {
    auto table = std::make_shared<KernelTable>();
    FillKernelTable(*table, set);
    benchmark::RegisterBenchmark((kernel + "/" + KernelSetName(set)).c_str(), [table, call](benchmark::State& st) {
      for (auto _ : st) {
        call(*table);
        benchmark::ClobberMemory();
      }
    })->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
  }
}

void RegisterAll() {
  constexpr int S = Inputs::kStride;
  uint8_t* pic = In().picture.data() + 8 * S + 8;
  const uint8_t* noisy = In().noisy.data() + 8 * S + 8;
  int16_t* coef = In().coef.data();
  int16_t* res = In().residual.data();
  static uint8_t out[1024];  // a 16x16 block at stride 16, or one 704-sample row

  Register("idct4x4_add", [=](const KernelTable& t) { t.idct4x4_add(pic, S, coef); });
  Register("idct4x4", [=](const KernelTable& t) { t.idct4x4(res, 16, coef); });
  Register("idct4x4_dc_add", [=](const KernelTable& t) { t.idct4x4_dc_add(pic, S, coef); });
  Register("luma_dc_dequant", [=](const KernelTable& t) { t.luma_dc_dequant(res, coef, 28); });
  Register("chroma_dc_dequant", [=](const KernelTable& t) { t.chroma_dc_dequant(res, coef, 28); });

  static uint8_t bs[32];
  static const uint8_t nnz[16] = {0, 1, 0, 0, 3, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1};
  static const int16_t refs[4] = {0, 0, 1, 0};
  static int16_t mv[32];
  for (int i = 0; i < 32; ++i) mv[i] = static_cast<int16_t>((i * 7) % 9);
  Register("bs_coef", [](const KernelTable& t) { t.bs_coef(bs, nnz); });
  Register("bs_motion", [](const KernelTable& t) { t.bs_motion(bs, refs, mv, 4); });

  static const int8_t tc0[4] = {1, 2, 0, 3};
  for (int dir = 0; dir < 2; ++dir) {
    const std::string d = dir == 0 ? "_v" : "_h";
    Register("luma_edge" + d, [=](const KernelTable& t) { t.luma_edge[dir](pic, S, 40, 10, tc0); });
    Register("luma_edge_strong" + d, [=](const KernelTable& t) { t.luma_edge_strong[dir](pic, S, 40, 10); });
    Register("chroma_edge" + d, [=](const KernelTable& t) { t.chroma_edge[dir](pic, pic + 24, S, 40, 10, tc0); });
    Register("chroma_edge_strong" + d,
             [=](const KernelTable& t) { t.chroma_edge_strong[dir](pic, pic + 24, S, 40, 10); });
  }
  Register("store_luma", [=](const KernelTable& t) { t.store_luma(out, 16, noisy, S); });

  Register("deinterlace_row_704", [](const KernelTable& t) {
    t.deinterlace_row(out, In().cur.data(), 768, In().prev.data(), 768, In().motion.data(), 704);
  });

  static const char* const k4x4[] = {"v", "h", "dc", "ddl", "ddr", "vr", "hd", "vl", "hu"};
  for (int m = 0; m < 9; ++m)
    Register(std::string("intra4x4_") + k4x4[m], [=](const KernelTable& t) { t.intra4x4[m](pic, S, pic - S + 4); });
  static const char* const k16[] = {"v", "h", "dc", "plane"};
  for (int m = 0; m < 4; ++m)
    Register(std::string("intra16x16_") + k16[m], [=](const KernelTable& t) { t.intra16x16[m](pic, S); });
  static const char* const kc[] = {"dc", "h", "v", "plane"};
  for (int m = 0; m < 4; ++m)
    Register(std::string("intra_chroma_") + kc[m], [=](const KernelTable& t) { t.intra_chroma[m](pic, S); });

  static const char* const phase_name[16] = {"G", "d", "h", "n", "a", "e", "i", "p", "b", "f", "j", "q", "c", "g", "k", "r"};
  const struct {
    int table, w, h;
  } shapes[] = {{kW16, 16, 16}, {kW8, 8, 8}, {kW4, 4, 4}};
  for (const auto& sh : shapes)
    for (int ph = 0; ph < 16; ++ph)
      Register("luma_mc_" + std::to_string(sh.w) + "x" + std::to_string(sh.h) + "_" + phase_name[ph],
               [=](const KernelTable& t) { t.luma_mc[sh.table][ph](out, 16, noisy, S, sh.h); });
  static const char* const kind_name[4] = {"copy", "h", "v", "hv"};
  for (int w = 0; w < kChromaWidthCount; ++w)
    for (int k = 0; k < 4; ++k) {
      const int width = 2 << w;
      Register("chroma_mc_" + std::to_string(width) + "x" + std::to_string(width) + "_" + kind_name[k],
               [=](const KernelTable& t) { t.chroma_mc[w][k](out, 16, noisy, S, width, 3, 5); });
    }
  static const Weight weight{45, -3, 5};
  for (int mode = 0; mode < kCombineModeCount; ++mode)
    for (int w = 0; w < kLumaWidthCount; ++w) {
      const int width = 4 << w;
      Register(std::string("combine_") + (mode ? "weighted_" : "plain_") + std::to_string(width),
               [=](const KernelTable& t) { t.combine[mode][w](out, 16, noisy, S, res, 16, width, weight); });
    }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const int best = static_cast<int>(BestKernelSet(DetectCpu()));
  for (int s = 0; s <= best; ++s) Sets().push_back(static_cast<KernelSet>(s));
  RegisterAll();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
