// Open time and index throughput on a one-hour 704 x 576 recording: 25 frames/s with a key frame
// every second (40 KB) and 10 KB delta frames, one 168-byte audio block per frame. Video
// payloads are holes in a sparse file, so the recording takes little disk; the indexer never
// reads payloads anyway. The file stays in the page cache, so the figures are for a warm cache.
#include <benchmark/benchmark.h>

#include <string>

#include "engine/port_info.h"
#include "kestrel/kx.h"
#include "platform/thread.h"
#include "tests/support/recording_writer.h"

namespace {

using namespace kestrel;

constexpr uint32_t kFrames = 25 * 3600;
constexpr uint64_t kPackets = 2 * uint64_t{kFrames};

const std::string& Recording() {
    static testing::ScratchDir scratch;
    static const std::string path = [] {
        const std::string p = scratch.File("one-hour-704x576.h64");
        testing::RecordingWriter w(p);
        const std::vector<uint8_t> block(168, 0x08);
        for (uint32_t i = 0; i < kFrames; ++i) {
            testing::VideoFrame f;
            f.resolution = 3;
            f.key = i % 25 == 0;
            f.frameNumber = i;
            f.stamp = 40 * i;
            f.dateTime = testing::DateTimeAfter({2024, 5, 1, 8, 0, 0}, i / 25);
            f.holeBytes = f.key ? 40000 : 10000;
            w.Video(f);
            w.Audio(40 * i, block);
        }
        w.Close();
        return p;
    }();
    return path;
}

void BM_OpenFile(benchmark::State& state) {
    const std::string& path = Recording();
    for (auto _ : state) {
        if (kxOpenFile(0, path.c_str()) != 1) state.SkipWithError("open failed");
        state.PauseTiming();
        kxCloseFile(0);
        state.ResumeTiming();
    }
    kxReleaseDirectDraw();
}
BENCHMARK(BM_OpenFile)->Unit(benchmark::kMillisecond);

void BM_IndexWholeFile(benchmark::State& state) {
    const std::string& path = Recording();
    for (auto _ : state) {
        if (kxOpenFile(0, path.c_str()) != 1) state.SkipWithError("open failed");
        engine::WaitForIndex(0, platform::kWaitForever);
        if (kxGetFileFrames(0) != kFrames) state.SkipWithError("wrong frame count");
        state.PauseTiming();
        kxCloseFile(0);
        state.ResumeTiming();
    }
    state.counters["packets/s"] = benchmark::Counter(double(kPackets) * double(state.iterations()), benchmark::Counter::kIsRate);
    kxReleaseDirectDraw();
}
BENCHMARK(BM_IndexWholeFile)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
