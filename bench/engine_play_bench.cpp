// Ports playing in real time: N ports play the same 704 x 576 MPEG-4 recording (made from the
// elementary stream named by KESTREL_BENCH_MPEG4, default the 6-picture test stream looped) on
// the engine's own tick and clock, each into a headless window, for KESTREL_BENCH_SECONDS
// (default 10). For each N it prints the process CPU time per second, per port, and the worst
// lag of a port's played time behind the wall clock; N grows until a port falls behind.
//   bench_engine_play [MAX_PORTS] [--no-window]   (--no-window: decode and pace, draw nothing)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kestrel/kx.h"
#include "platform/window.h"
#include "tests/support/recording_mpeg4.h"

namespace {

using namespace kestrel;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

constexpr int64_t kLagLimitMs = 200;

}  // namespace

int main(int argc, char** argv) {
    const int maxPorts = argc > 1 ? std::atoi(argv[1]) : 32;
    const bool draw = !(argc > 2 && std::string(argv[2]) == "--no-window");
    const char* env = std::getenv("KESTREL_BENCH_SECONDS");
    const double seconds = env ? std::atof(env) : 10.0;
    const char* source = std::getenv("KESTREL_BENCH_MPEG4");
    const std::string stream =
        source ? source : std::string(KESTREL_SOURCE_DIR) + "/tests/engine/data/mpeg4_704x576.m4v";
    const std::vector<uint8_t> bytes = testing::ReadFileBytes(stream);
    if (bytes.empty()) {
        std::fprintf(stderr, "bench_engine_play: cannot read %s\n", stream.c_str());
        return 1;
    }
    testing::ScratchDir scratch;
    const std::string path = scratch.File("play.h64");
    {
        testing::RecordingWriter w(path);
        uint32_t frame = 0, stamp = 0;
        while (stamp < (seconds + 5) * 1000) testing::AppendMpeg4Pictures(w, bytes, {.resolution = 3}, frame, stamp);
        w.Close();
    }
    std::printf("%s, 704x576, %.0f s per run, %s\n", stream.c_str(), seconds,
                draw ? "drawn into 704x576 headless windows" : "not drawn");
    std::printf("ports  cpu%%(all)  cpu%%/port  worst lag ms  real time\n");
    int best = 0;
    for (int n = 1; n <= maxPorts && n <= KX_PORT_COUNT; ++n) {
        std::vector<std::unique_ptr<platform::MemoryWindow>> windows;
        for (int p = 0; p < n; ++p) windows.push_back(std::make_unique<platform::MemoryWindow>(platform::Rect{0, 0, 704, 576}));
        for (int p = 0; p < n; ++p) {
            if (kxOpenFile(p, path.c_str()) != 1) {
                std::fprintf(stderr, "bench_engine_play: open failed on port %d\n", p);
                return 1;
            }
        }
        const double cpu0 = CpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        for (int p = 0; p < n; ++p) kxPlay(p, draw ? platform::ToHandle(windows[static_cast<size_t>(p)].get()) : nullptr);
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        const int64_t wallMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        int64_t worstLag = 0;
        for (int p = 0; p < n; ++p) {
            const int64_t lag = wallMs - static_cast<int64_t>(kxGetPlayedTime(p));
            if (lag > worstLag) worstLag = lag;
        }
        const double cpu = (CpuSeconds() - cpu0) / (static_cast<double>(wallMs) / 1000.0) * 100.0;
        for (int p = 0; p < n; ++p) kxCloseFile(p);
        const bool realTime = worstLag <= kLagLimitMs;
        std::printf("%5d  %9.1f  %9.1f  %12lld  %s\n", n, cpu, cpu / n, static_cast<long long>(worstLag),
                    realTime ? "yes" : "no");
        std::fflush(stdout);
        if (!realTime) break;
        best = n;
    }
    kxReleaseDirectDraw();
    std::printf("largest number of ports in real time: %d\n", best);
    return 0;
}
