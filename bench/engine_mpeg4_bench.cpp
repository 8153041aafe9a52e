// MPEG-4 decode rate through the engine: a recording made from the elementary stream named by
// KESTREL_BENCH_MPEG4 (see engine_mpeg4_vs_ffmpeg.sh), walked picture by picture through the
// port's queues, size checks and xvidcore adapter. "fast" is the decode with five or more ports
// playing (no post-filter, as ffmpeg decodes); "filtered" is one port playing (luma and chroma
// deblocking). Rates are per second of the decoding thread's CPU time, so that a busy machine
// compares like with like against ffmpeg's own -benchmark user time.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "engine/engine.h"
#include "engine/frame_walker.h"
#include "kestrel/kx.h"
#include "tests/support/recording_mpeg4.h"

namespace {

using namespace kestrel;

void BM_Mpeg4ThroughEngine(benchmark::State& state) {
    const char* source = std::getenv("KESTREL_BENCH_MPEG4");
    if (source == nullptr) {
        state.SkipWithError("set KESTREL_BENCH_MPEG4 to an MPEG-4 elementary stream");
        return;
    }
    static testing::ScratchDir scratch;
    const std::string path = scratch.File("mpeg4.h64");
    const std::vector<uint8_t> stream = testing::ReadFileBytes(source);
    const uint32_t resolution = static_cast<uint32_t>(state.range(1));
    {
        testing::RecordingWriter w(path);
        uint32_t frame = 0, stamp = 0;
        testing::AppendMpeg4Pictures(w, stream, {.resolution = resolution}, frame, stamp);
        w.Close();
    }
    uint64_t pictures = 0;
    for (auto _ : state) {
        if (kxOpenFile(0, path.c_str()) != 1) {
            state.SkipWithError("open failed");
            break;
        }
        engine::TheEngine().playThreadCount = static_cast<uint32_t>(state.range(0));
        engine::FrameWalker walker(0);
        for (;;) {
            const auto step = walker.Next();
            if (step == engine::FrameWalker::Step::End || step == engine::FrameWalker::Step::Failed) break;
            pictures += step == engine::FrameWalker::Step::Picture;
        }
        engine::TheEngine().playThreadCount = 0;
        kxCloseFile(0);
    }
    kxReleaseDirectDraw();
    state.counters["fps"] = benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
}
// Arguments: ports playing (5 = fast, 1 = filtered), resolution index of the stream's size.
BENCHMARK(BM_Mpeg4ThroughEngine)->Args({5, 3})->Args({1, 3})->ArgNames({"ports", "res"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
