// kestrel-cli frames FILE [--from N] [--count K] [--threads T] (--framemd5 | --y4m OUT):
// the recording's pictures as the player decodes them, by seeking to picture N with
// kxSetPlayedFrames and stepping with kxNext, as per-picture MD5 digests of the planar Y,
// U (Cb), V (Cr) picture or as Y4M.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "engine/engine.h"
#include "engine/md5.h"
#include "engine/port_info.h"
#include "kestrel/kx.h"
#include "tools/cli_command.h"
#include "tools/cli_paused_port.h"

namespace kestrel::cli {
namespace {

constexpr int32_t kPort = 0;

struct Options {
    const char* path = nullptr;
    uint32_t from = 0;
    uint32_t count = std::numeric_limits<uint32_t>::max();
    uint32_t threads = 1;  // decode as when this many ports play: 5 or more drops the post-filters
    bool framemd5 = false;
    const char* y4m = nullptr;
};

bool ParseCount(const char* text, uint32_t& out) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || v > std::numeric_limits<uint32_t>::max() || text[0] == '-') return false;
    out = static_cast<uint32_t>(v);
    return true;
}

int Usage() {
    std::fprintf(stderr, "usage: kestrel-cli frames FILE [--from N] [--count K] [--threads T] (--framemd5 | --y4m OUT)\n");
    return 2;
}

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--framemd5") {
            o.framemd5 = true;
        } else if (a == "--y4m" && value != nullptr) {
            o.y4m = value;
            ++i;
        } else if (a == "--from" || a == "--count" || a == "--threads") {
            uint32_t& target = a == "--from" ? o.from : a == "--count" ? o.count : o.threads;
            if (!ParseCount(value, target)) return false;
            ++i;
        } else if (a.rfind("--", 0) != 0 && o.path == nullptr) {
            o.path = argv[i];
        } else {
            return false;
        }
    }
    return o.path != nullptr && (o.framemd5 != (o.y4m != nullptr));
}

// The picture buffer holds Y, V, U; digests and Y4M take Y, U, V.
void ForEachPlane(std::span<const uint8_t> picture, uint32_t w, uint32_t h, auto&& fn) {
    const size_t luma = size_t{w} * h, chroma = luma / 4;
    fn(picture.subspan(0, luma));
    fn(picture.subspan(luma + chroma, chroma));
    fn(picture.subspan(luma, chroma));
}

int RunFrames(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o)) return Usage();
    platform::MemoryWindow window;
    if (!OpenPaused(kPort, o.path, window, "frames")) {
        kxCloseFile(kPort);
        kxReleaseDirectDraw();
        return 1;
    }
    // The paused port's play thread counts as one port playing; the decoder sees the count asked
    // for instead.
    engine::TheEngine().playThreadCount = o.threads;

    std::FILE* y4m = nullptr;
    int status = 0;
    if (o.y4m != nullptr) {
        y4m = std::strcmp(o.y4m, "-") == 0 ? stdout : std::fopen(o.y4m, "wb");
        if (y4m == nullptr) {
            std::fprintf(stderr, "kestrel-cli frames: cannot write %s: %s\n", o.y4m, std::strerror(errno));
            status = 1;
        }
    } else {
        std::printf("#kestrel-cli framemd5: index, width x height, MD5 of the planes Y, U (Cb), V (Cr)\n");
    }

    const uint32_t total = kxGetFileFrames(kPort);
    uint32_t index = o.from, written = 0, y4mWidth = 0, y4mHeight = 0;
    engine::Md5 md5;
    if (status == 0 && o.from <= total && kxSetPlayedFrames(kPort, o.from) != 1) {
        std::fprintf(stderr, "kestrel-cli frames: cannot seek to picture %u\n", o.from);
        status = 1;
    }
    while (status == 0 && o.from < total && written < o.count) {
        if (StepPicture(kPort) == NextPicture::End) break;
        const uint32_t w = engine::Port(kPort).width, h = engine::Port(kPort).height;
        const auto picture = PausedPicture(kPort);
        if (y4m != nullptr) {
            if (written == 0) {
                std::fprintf(y4m, "YUV4MPEG2 W%u H%u F25:1 Ip A1:1 C420jpeg\n", w, h);
                y4mWidth = w;
                y4mHeight = h;
            } else if (w != y4mWidth || h != y4mHeight) {
                std::fprintf(stderr, "kestrel-cli frames: the picture size changes at picture %u; a Y4M file holds one size\n",
                             index);
                status = 1;
                break;
            }
            std::fputs("FRAME\n", y4m);
            ForEachPlane(picture, w, h, [&](std::span<const uint8_t> plane) { std::fwrite(plane.data(), 1, plane.size(), y4m); });
        } else {
            ForEachPlane(picture, w, h, [&](std::span<const uint8_t> plane) { md5.Update(plane); });
            std::printf("%u, %ux%u, %s\n", index, w, h, md5.FinishHex().c_str());
        }
        ++index;
        ++written;
    }
    if (y4m != nullptr && y4m != stdout && std::fclose(y4m) != 0) {
        std::fprintf(stderr, "kestrel-cli frames: writing %s failed\n", o.y4m);
        status = 1;
    }
    if (y4m == stdout && std::fflush(stdout) != 0) status = 1;
    kxStop(kPort);
    kxCloseFile(kPort);
    kxReleaseDirectDraw();
    return status;
}

}  // namespace

KESTREL_CLI_COMMAND(frames, "frames", "FILE [--from N] [--count K] [--threads T] (--framemd5 | --y4m OUT)", RunFrames);

}  // namespace kestrel::cli
