// Sixteen ports playing MPEG-4 recordings on the real tick and clock while four threads open,
// play, pause, step, seek, change speed, switch sound and close them at random. Passes when
// nothing crashes, nothing deadlocks, and every port can be closed at the end; run under
// ThreadSanitizer it also shows that the threads share nothing unguarded.
// KESTREL_STRESS_SECONDS sets the duration (default 5).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "kestrel/kx.h"
#include "platform/window.h"
#include "tests/engine/xvid_reference.h"
#include "tests/support/recording_mpeg4.h"

namespace kestrel::testing {
namespace {

constexpr int32_t kPorts = 16;
constexpr int kDrivers = 4;  // each drives kPorts / kDrivers ports of its own

TEST(PlayStress, SixteenPortsUnderRandomCommands) {
    const char* env = std::getenv("KESTREL_STRESS_SECONDS");
    const double seconds = env ? std::atof(env) : 5.0;
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ScratchDir scratch;
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("xvid_352x288.m4v"));
    std::vector<std::string> paths;
    for (int k = 0; k < 2; ++k) {
        paths.push_back(scratch.File("s" + std::to_string(k) + ".h64"));
        RecordingWriter w(paths.back());
        uint32_t frame = 1000 * k, stamp = 777 * k;
        for (int rep = 0; rep < 10 + 30 * k; ++rep) AppendMpeg4Pictures(w, stream, {}, frame, stamp);
        ASSERT_TRUE(w.Close());
    }

    std::vector<platform::MemoryWindow> windows(kPorts);
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> calls{0}, fileEnds{0};
    std::vector<std::atomic<uint64_t>> progress(kDrivers);
    auto drive = [&](int driver) {
        std::mt19937 rng(1234 + driver);
        auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
        while (!stop.load()) {
            const int32_t port = driver * (kPorts / kDrivers) + static_cast<int32_t>(pick(kPorts / kDrivers));
            const KxWindow window = platform::ToHandle(&windows[static_cast<size_t>(port)]);
            switch (pick(16)) {
                case 0:
                    kxOpenFile(port, paths[pick(2)].c_str());
                    kxSetFileEndMsg(port, window, 1225);
                    break;
                case 1: kxCloseFile(port); break;
                case 2:
                case 3: kxPlay(port, window); break;
                case 4: kxPause(port); break;
                case 5: kxStop(port); break;
                case 6: kxPlayFast(port); break;
                case 7: kxPlaySlow(port); break;
                case 8: kxNext(port); break;
                case 9: kxSetPlayedFrames(port, pick(kxGetFileFrames(port) + 2)); break;
                case 10: kxSetPlayPosition(port, static_cast<float>(pick(1001)) / 1000.0f); break;
                case 11: pick(4) == 0 ? kxCloseSound(port) : kxOpenSound(port); break;
                case 12: kxRefresh(port); break;
                case 13:
                    kxSnapPicture(port, scratch.File("snap" + std::to_string(port) + ".bmp").c_str());
                    break;
                default:
                    kxGetPlayedFrames(port);
                    kxGetPlayedTime(port);
                    kxGetFileTime(port);
                    break;
            }
            while (windows[static_cast<size_t>(port)].TakeMessage(0)) fileEnds.fetch_add(1);
            calls.fetch_add(1);
            progress[static_cast<size_t>(driver)].fetch_add(1);
            std::this_thread::sleep_for(std::chrono::microseconds(pick(3000)));
        }
    };
    for (int32_t port = 0; port < kPorts; ++port) {
        ASSERT_EQ(kxOpenFile(port, paths[static_cast<size_t>(port) % 2].c_str()), 1);
        ASSERT_EQ(kxPlay(port, platform::ToHandle(&windows[static_cast<size_t>(port)])), 1);
        kxSetFileEndMsg(port, platform::ToHandle(&windows[static_cast<size_t>(port)]), 1225);
    }
    std::vector<std::thread> drivers;
    for (int d = 0; d < kDrivers; ++d) drivers.emplace_back(drive, d);

    // A driver that makes no progress for 30 s is taken as a deadlock.
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    std::vector<uint64_t> last(kDrivers, 0);
    auto lastMove = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        bool moved = true;
        for (int d = 0; d < kDrivers; ++d) {
            const uint64_t now = progress[static_cast<size_t>(d)].load();
            moved = moved && now != last[static_cast<size_t>(d)];
            last[static_cast<size_t>(d)] = now;
        }
        if (moved) lastMove = std::chrono::steady_clock::now();
        if (std::chrono::steady_clock::now() - lastMove > std::chrono::seconds(30)) {
            ADD_FAILURE() << "a driver thread made no progress for 30 s";
            std::abort();  // a deadlock: leave the stacks to the core dump
        }
    }
    stop = true;
    for (std::thread& t : drivers) t.join();
    EXPECT_GT(calls.load(), 100u);
    std::printf("%llu commands on %d ports in %.0f s; %llu file-end messages\n",
                static_cast<unsigned long long>(calls.load()), kPorts, seconds,
                static_cast<unsigned long long>(fileEnds.load()));

    kxCloseSound(0);
    for (int32_t port = 0; port < kPorts; ++port) {
        if (engine::Port(port).open.load()) {
            EXPECT_EQ(kxCloseFile(port), 1) << port;
        }
    }
    EXPECT_EQ(engine::TheEngine().playThreadCount.load(), 0u) << "every play thread ended";
    EXPECT_EQ(kxReleaseDirectDraw(), 1);
    unsetenv("SDL_AUDIODRIVER");
}

}  // namespace
}  // namespace kestrel::testing
