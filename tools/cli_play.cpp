// kestrel-cli play FILE [--speed 1..8] [--sound] [--seconds S]: plays a recording headless in
// real time through the player API, as the player window does (memory display), printing the
// window's status line every second. Ends at the file-end message or after S seconds.
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/port_info.h"
#include "kestrel/kx.h"
#include "platform/window.h"
#include "tools/cli_command.h"

namespace kestrel::cli {
namespace {

constexpr int32_t kPort = 0;
constexpr uint32_t kFileEndMessage = 1225;

struct Options {
    const char* path = nullptr;
    uint32_t speed = 4;
    bool sound = false;
    double seconds = -1;  // no limit
};

int Usage() {
    std::fprintf(stderr, "usage: kestrel-cli play FILE [--speed 1..8] [--sound] [--seconds S]\n");
    return 2;
}

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--sound") {
            o.sound = true;
        } else if (a == "--speed" && value != nullptr) {
            char* end = nullptr;
            const long v = std::strtol(value, &end, 10);
            if (*end != '\0' || v < 1 || v > 8) return false;
            o.speed = static_cast<uint32_t>(v);
            ++i;
        } else if (a == "--seconds" && value != nullptr) {
            char* end = nullptr;
            errno = 0;
            o.seconds = std::strtod(value, &end);
            if (errno != 0 || *end != '\0' || !std::isfinite(o.seconds) || o.seconds < 0) return false;
            ++i;
        } else if (a.rfind("--", 0) != 0 && o.path == nullptr) {
            o.path = argv[i];
        } else {
            return false;
        }
    }
    return o.path != nullptr;
}

std::string PlayTime(uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", ms / 3600000u, ms / 60000u % 60u, ms / 1000u % 60u);
    return text;
}

void PrintStatus() {
    std::printf("%u/%u      %s/%s\n", kxGetPlayedFrames(kPort), kxGetFileFrames(kPort),
                PlayTime(kxGetPlayedTime(kPort)).c_str(), PlayTime(kxGetFileTime(kPort)).c_str());
    std::fflush(stdout);
}

int RunPlay(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o)) return Usage();
    if (kxOpenFile(kPort, o.path) != 1) {
        std::fprintf(stderr, "kestrel-cli play: %s: %s\n", o.path, engine::OpenFailureReason(kPort).c_str());
        kxReleaseDirectDraw();
        return 1;
    }
    platform::MemoryWindow window;
    using Clock = std::chrono::steady_clock;
    // The player window's open sequence: play, sound as the button stands, the file-end message.
    const Clock::time_point start = Clock::now();
    kxPlay(kPort, platform::ToHandle(&window));
    if (o.sound)
        kxOpenSound(kPort);
    else
        kxCloseSound(kPort);
    kxSetFileEndMsg(kPort, platform::ToHandle(&window), kFileEndMessage);
    for (uint32_t s = 4; s < o.speed; ++s) kxPlayFast(kPort);
    for (uint32_t s = 4; s > o.speed; --s) kxPlaySlow(kPort);

    const auto limit = o.seconds < 0 ? Clock::duration::max()
                                     : std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
    Clock::time_point nextStatus = start + std::chrono::seconds(1);
    bool fileEnd = false;
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now - start >= limit) break;
        Clock::time_point wakeAt = nextStatus;
        if (limit != Clock::duration::max() && start + limit < wakeAt) wakeAt = start + limit;
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - now).count();
        const auto message = window.TakeMessage(static_cast<uint32_t>(wait > 0 ? wait : 0));
        if (message && message->message == kFileEndMessage && message->wparam == kPort) {
            fileEnd = true;
            break;
        }
        if (Clock::now() >= nextStatus) {
            PrintStatus();
            nextStatus += std::chrono::seconds(1);
        }
    }
    const double played = std::chrono::duration<double>(Clock::now() - start).count();
    if (!fileEnd) PrintStatus();  // a stopped port reads 0 played
    std::printf("%s after %.3f s\n", fileEnd ? "file end" : "time limit", played);
    std::fflush(stdout);
    kxStop(kPort);
    kxCloseSound(kPort);  // lets the sound already queued play out
    kxCloseFile(kPort);
    kxReleaseDirectDraw();
    return 0;
}

}  // namespace

KESTREL_CLI_COMMAND(play, "play", "FILE [--speed 1..8] [--sound] [--seconds S]", RunPlay);

}  // namespace kestrel::cli
