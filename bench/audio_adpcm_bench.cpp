// ADPCM decode throughput: blocks per second for the recorders' 168-byte blocks and for the
// 2008-byte blocks of 16000 Hz audio.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "audio/adpcm_codec.h"

namespace {

std::vector<uint8_t> encoded_blocks(size_t block_bytes, size_t count) {
  kestrel::AdpcmCodec* codec = nullptr;
  kestrel::adpcm_create(3, &codec);
  const size_t samples = 2 * (block_bytes - 8);
  std::vector<int16_t> pcm(samples);
  std::vector<uint8_t> blocks(block_bytes * count);
  size_t t = 0;
  for (size_t b = 0; b < count; ++b) {
    for (auto& s : pcm) {
      s = static_cast<int16_t>(9000 * std::sin(t * 0.07) + 3000 * std::sin(t * 0.61));
      ++t;
    }
    kestrel::adpcm_encode(codec, pcm.data(), pcm.size(), blocks.data() + b * block_bytes, block_bytes);
  }
  kestrel::adpcm_release(codec);
  return blocks;
}

void BM_AdpcmDecode(benchmark::State& state) {
  const auto block_bytes = static_cast<size_t>(state.range(0));
  constexpr size_t kBlocks = 64;
  const auto blocks = encoded_blocks(block_bytes, kBlocks);
  std::vector<int16_t> out(16000);
  size_t b = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        kestrel::adpcm_decode(nullptr, blocks.data() + b * block_bytes, block_bytes, out.data(), out.size()));
    benchmark::ClobberMemory();
    b = (b + 1) % kBlocks;
  }
  state.counters["blocks/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block_bytes));
}
BENCHMARK(BM_AdpcmDecode)->Arg(168)->Arg(2008);

}  // namespace

BENCHMARK_MAIN();
