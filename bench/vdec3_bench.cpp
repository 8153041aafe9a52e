// Decode frames per second: the third codec (both implementations, with and without the
// post-filter) against xvidcore decoding an MPEG-4 stream of the same pictures at a similar size.
//
// Inputs (bench/vdec3_bench.sh makes them):
//   KESTREL_VDEC3_BENCH_YUV     raw yuv420p frames, KESTREL_VDEC3_BENCH_SIZE (default 704x576)
//   KESTREL_VDEC3_BENCH_STREAM  the third-codec stream; written from the frames when missing
//   KESTREL_VDEC3_BENCH_Q       its quantiser (default 5), KESTREL_VDEC3_BENCH_GOP (default 25)
//   KESTREL_VDEC3_BENCH_M4V     the MPEG-4 elementary stream for xvidcore
#include <benchmark/benchmark.h>
#include <xvid.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/vdec3enc.h"
#include "vdec3/vdec3.h"

namespace {

constexpr double kFramesPerSecond = 25.0;  // the recorders' rate, for the bitrate

struct Inputs {
  int width = 704, height = 576;
  std::vector<std::vector<uint8_t>> vdec3_frames;
  std::vector<std::vector<uint8_t>> m4v_frames;  // one VOP per entry, the VOL header in front of the first
  size_t vdec3_bytes = 0, m4v_bytes = 0;
};

const char* Env(const char* name) { return std::getenv(name); }

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A stream file: frames one after the other, each as long as its first word says.
std::vector<std::vector<uint8_t>> SplitFrames(const std::vector<uint8_t>& data) {
  std::vector<std::vector<uint8_t>> frames;
  size_t at = 0;
  while (at + 8 <= data.size()) {
    const uint32_t word = uint32_t{data[at]} << 24 | data[at + 1] << 16 | data[at + 2] << 8 | data[at + 3];
    const size_t length = word & 0x3FFFC;
    if (length < 8 || at + length > data.size()) break;
    frames.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(at),
                        data.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  }
  return frames;
}

void LoadVdec3(Inputs& in) {
  const char* stream = Env("KESTREL_VDEC3_BENCH_STREAM");
  if (stream) {
    in.vdec3_frames = SplitFrames(ReadFile(stream));
    if (!in.vdec3_frames.empty()) return;
  }
  const char* yuv = Env("KESTREL_VDEC3_BENCH_YUV");
  if (!yuv) return;
  const int q = Env("KESTREL_VDEC3_BENCH_Q") ? std::atoi(Env("KESTREL_VDEC3_BENCH_Q")) : 5;
  const int gop = Env("KESTREL_VDEC3_BENCH_GOP") ? std::atoi(Env("KESTREL_VDEC3_BENCH_GOP")) : 25;
  vdec3enc::Encoder encoder(in.width, in.height);
  for (int i = 0;; ++i) {
    const vdec3enc::Picture p = vdec3enc::LoadYuv420(yuv, in.width, in.height, i);
    if (p.y.empty()) break;
    vdec3enc::FrameOptions o;
    o.q = q;
    o.inter = i % gop != 0;
    in.vdec3_frames.push_back(encoder.Encode(p, o));
  }
  if (stream) {
    std::ofstream out(stream, std::ios::binary);
    for (const auto& f : in.vdec3_frames) out.write(reinterpret_cast<const char*>(f.data()), static_cast<std::streamsize>(f.size()));
  }
}

// Cuts the MPEG-4 stream into what one xvid_decore call consumes per picture.
void LoadM4v(Inputs& in) {
  const char* path = Env("KESTREL_VDEC3_BENCH_M4V");
  if (!path) return;
  std::vector<uint8_t> data = ReadFile(path);
  void* handle = nullptr;
  xvid_dec_create_t create{};
  create.version = XVID_VERSION;
  if (xvid_decore(nullptr, XVID_DEC_CREATE, &create, nullptr) < 0) return;
  handle = create.handle;
  std::vector<uint8_t> picture(static_cast<size_t>(in.width) * in.height * 3 / 2);
  size_t at = 0, start = 0;
  while (at < data.size()) {
    xvid_dec_frame_t frame{};
    frame.version = XVID_VERSION;
    frame.bitstream = data.data() + at;
    frame.length = static_cast<int>(data.size() - at);
    frame.output.csp = XVID_CSP_NULL;
    xvid_dec_stats_t stats{};
    stats.version = XVID_VERSION;
    const int used = xvid_decore(handle, XVID_DEC_DECODE, &frame, &stats);
    if (used <= 0) break;
    at += static_cast<size_t>(used);
    if (stats.type > 0) {  // a picture: everything since the last one goes with it
      in.m4v_frames.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(start),
                                 data.begin() + static_cast<std::ptrdiff_t>(at));
      start = at;
    }
  }
  xvid_decore(handle, XVID_DEC_DESTROY, nullptr, nullptr);
}

const Inputs& TheInputs() {
  static const Inputs inputs = [] {
    Inputs in;
    if (const char* size = Env("KESTREL_VDEC3_BENCH_SIZE")) std::sscanf(size, "%dx%d", &in.width, &in.height);
    xvid_gbl_init_t init{};
    init.version = XVID_VERSION;
    xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr);
    LoadVdec3(in);
    LoadM4v(in);
    for (const auto& f : in.vdec3_frames) in.vdec3_bytes += f.size();
    for (const auto& f : in.m4v_frames) in.m4v_bytes += f.size();
    return in;
  }();
  return inputs;
}

void SetCounters(benchmark::State& state, size_t frames, size_t bytes) {
  state.SetItemsProcessed(state.iterations());
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["kbit/s@25"] = static_cast<double>(bytes) * 8 * kFramesPerSecond / 1000.0 / static_cast<double>(frames);
}

void Vdec3Decode(benchmark::State& state, Vdec3Implementation impl, bool filter) {
  const Inputs& in = TheInputs();
  if (in.vdec3_frames.empty()) {
    state.SkipWithError("set KESTREL_VDEC3_BENCH_YUV or _STREAM (bench/vdec3_bench.sh)");
    return;
  }
  setenv("KESTREL_VDEC3_IMPL", impl == Vdec3Implementation::kSse2 ? "sse2" : "c", 1);
  Vdec3Instance* d = vdec3_create(in.width, in.height, nullptr);
  unsetenv("KESTREL_VDEC3_IMPL");
  if (vdec3_implementation(d) != impl) {
    state.SkipWithError("implementation not available");
    vdec3_destroy(d);
    return;
  }
  vdec3_set_output(d, in.width, kVdec3PlanarCode);
  std::vector<uint8_t> out(static_cast<size_t>(in.width + 15) * (in.height + 15) * 3 / 2);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(vdec3_decode(d, in.vdec3_frames[i].data(), out.data(), filter ? 0 : kVdec3NoPostFilter));
    i = (i + 1) % in.vdec3_frames.size();
  }
  SetCounters(state, in.vdec3_frames.size(), in.vdec3_bytes);
  vdec3_destroy(d);
}

void XvidDecode(benchmark::State& state, bool deblock) {
  const Inputs& in = TheInputs();
  if (in.m4v_frames.empty()) {
    state.SkipWithError("set KESTREL_VDEC3_BENCH_M4V (bench/vdec3_bench.sh)");
    return;
  }
  xvid_dec_create_t create{};
  create.version = XVID_VERSION;
  create.width = in.width;
  create.height = in.height;
  xvid_decore(nullptr, XVID_DEC_CREATE, &create, nullptr);
  std::vector<uint8_t> out(static_cast<size_t>(in.width) * in.height * 3 / 2);
  size_t i = 0;
  for (auto _ : state) {
    xvid_dec_frame_t frame{};
    frame.version = XVID_VERSION;
    frame.general = XVID_LOWDELAY | (deblock ? XVID_DEBLOCKY | XVID_DEBLOCKUV : 0);
    frame.bitstream = const_cast<uint8_t*>(in.m4v_frames[i].data());
    frame.length = static_cast<int>(in.m4v_frames[i].size());
    frame.output.csp = XVID_CSP_YV12;
    frame.output.plane[0] = out.data();
    frame.output.stride[0] = in.width;
    benchmark::DoNotOptimize(xvid_decore(create.handle, XVID_DEC_DECODE, &frame, nullptr));
    i = (i + 1) % in.m4v_frames.size();
  }
  SetCounters(state, in.m4v_frames.size(), in.m4v_bytes);
  xvid_decore(create.handle, XVID_DEC_DESTROY, nullptr, nullptr);
}

BENCHMARK_CAPTURE(Vdec3Decode, sse2_postfilter, Vdec3Implementation::kSse2, true);
BENCHMARK_CAPTURE(Vdec3Decode, sse2_no_postfilter, Vdec3Implementation::kSse2, false);
BENCHMARK_CAPTURE(Vdec3Decode, portable_postfilter, Vdec3Implementation::kPortable, true);
BENCHMARK_CAPTURE(Vdec3Decode, portable_no_postfilter, Vdec3Implementation::kPortable, false);
BENCHMARK_CAPTURE(XvidDecode, deblock, true);
BENCHMARK_CAPTURE(XvidDecode, no_deblock, false);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // Load (and, when asked, write the stream) before timing anything.
  const Inputs& in = TheInputs();
  std::fprintf(stderr, "third codec: %zu frames, %zu bytes; mpeg-4: %zu frames, %zu bytes\n",
               in.vdec3_frames.size(), in.vdec3_bytes, in.m4v_frames.size(), in.m4v_bytes);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
