// kestrel-cli snapshot FILE --frame N -o OUT.bmp: picture N (0 is the first key frame) saved as
// the player's snapshot saves it, reached with kxSetPlayedFrames and kxNext.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "kestrel/kx.h"
#include "tools/cli_command.h"
#include "tools/cli_paused_port.h"

namespace kestrel::cli {
namespace {

constexpr int32_t kPort = 0;

int Usage() {
    std::fprintf(stderr, "usage: kestrel-cli snapshot FILE --frame N -o OUT.bmp\n");
    return 2;
}

int Finish(int status) {
    kxStop(kPort);
    kxCloseFile(kPort);
    kxReleaseDirectDraw();
    return status;
}

int RunSnapshot(int argc, char** argv) {
    const char* path = nullptr;
    const char* out = nullptr;
    long long frame = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--frame" && value != nullptr) {
            char* end = nullptr;
            errno = 0;
            frame = std::strtoll(value, &end, 10);
            if (errno != 0 || *end != '\0' || frame < 0 || frame > std::numeric_limits<uint32_t>::max()) return Usage();
            ++i;
        } else if (a == "-o" && value != nullptr) {
            out = value;
            ++i;
        } else if (a.rfind("-", 0) != 0 && path == nullptr) {
            path = argv[i];
        } else {
            return Usage();
        }
    }
    if (path == nullptr || out == nullptr || frame < 0) return Usage();

    platform::MemoryWindow window;
    if (!OpenPaused(kPort, path, window, "snapshot")) return Finish(1);
    const uint32_t n = static_cast<uint32_t>(frame);
    const uint32_t total = kxGetFileFrames(kPort);
    if (n >= total) {
        std::fprintf(stderr, "kestrel-cli snapshot: %s has %u pictures; there is no picture %u\n", path, total, n);
        return Finish(1);
    }
    if (kxSetPlayedFrames(kPort, n) != 1 || StepPicture(kPort) != NextPicture::Shown) {
        std::fprintf(stderr, "kestrel-cli snapshot: picture %u cannot be decoded\n", n);
        return Finish(1);
    }
    if (kxSnapPicture(kPort, out) != 1) {
        std::fprintf(stderr, "kestrel-cli snapshot: cannot write %s\n", out);
        return Finish(1);
    }
    return Finish(0);
}

}  // namespace

KESTREL_CLI_COMMAND(snapshot, "snapshot", "FILE --frame N -o OUT.bmp", RunSnapshot);

}  // namespace kestrel::cli
