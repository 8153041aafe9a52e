// kestrel-cli info FILE [--json]: what the engine reads from a recording.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/h64_format.h"
#include "engine/port_info.h"
#include "kestrel/kx.h"
#include "platform/thread.h"
#include "tools/cli_command.h"

namespace kestrel::cli {
namespace {

constexpr int32_t kPort = 0;

const char* CodecName(uint32_t codec) {
    switch (codec) {
        case engine::kCodecMpeg4: return "mpeg4";
        case engine::kCodecH264: return "h264";
        case engine::kCodecVdec3: return "vdec3";
        default: return "unsupported";
    }
}

// The recorder's wall-clock time as ISO 8601 local time (the recorder keeps no zone).
std::string IsoTime(uint32_t packed) {
    const engine::DateTime t = engine::NormaliseDateTime(packed);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

void PrintJsonString(const char* key, const std::string& value, bool comma) {
    std::printf("  \"%s\": ", key);
    if (value.empty()) {
        std::printf("null");
    } else {
        std::putchar('"');
        for (char c : value) {
            if (c == '"' || c == '\\') std::putchar('\\');
            std::putchar(c);
        }
        std::putchar('"');
    }
    std::printf("%s\n", comma ? "," : "");
}

int RunInfo(int argc, char** argv) {
    const char* path = nullptr;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else if (path == nullptr)
            path = argv[i];
        else {
            std::fprintf(stderr, "kestrel-cli info: unexpected argument '%s'\n", argv[i]);
            return 2;
        }
    }
    if (path == nullptr) {
        std::fprintf(stderr, "usage: kestrel-cli info FILE [--json]\n");
        return 2;
    }
    if (kxOpenFile(kPort, path) != 1) {
        const std::string reason = engine::OpenFailureReason(kPort);
        engine::WaitForIndex(kPort, platform::kWaitForever);
        kxReleaseDirectDraw();
        std::fprintf(stderr, "kestrel-cli info: %s: %s\n", path, reason.c_str());
        return 1;
    }
    const engine::PortInfo opened = engine::GetPortInfo(kPort);
    // The whole file is walked once; on a long recording say that it is under way.
    if (!engine::WaitForIndex(kPort, 1000)) {
        std::fprintf(stderr, "kestrel-cli info: indexing %s ...\n", path);
        engine::WaitForIndex(kPort, platform::kWaitForever);
    }
    const engine::PortInfo info = engine::GetPortInfo(kPort);
    kxCloseFile(kPort);
    kxReleaseDirectDraw();

    const std::string firstKey = info.keyFrames.empty() ? "" : IsoTime(info.keyFrames.front().dateTime);
    const std::string lastKey = info.keyFrames.empty() ? "" : IsoTime(info.keyFrames.back().dateTime);
    if (json) {
        std::printf("{\n");
        PrintJsonString("codec", CodecName(opened.codecType), true);
        std::printf("  \"width\": %u,\n  \"height\": %u,\n", opened.width, opened.height);
        std::printf("  \"estimated_frames\": %u,\n  \"estimated_duration_ms\": %u,\n", opened.tail.estimatedFrames,
                    opened.tail.estimatedDurationMs);
        std::printf("  \"frames\": %u,\n  \"duration_ms\": %u,\n", info.frames, info.durationMs);
        std::printf("  \"total_bytes\": %llu,\n", static_cast<unsigned long long>(info.totalBytes));
        std::printf("  \"key_frames\": %zu,\n", info.keyFrames.size());
        PrintJsonString("first_key_time", firstKey, true);
        PrintJsonString("last_key_time", lastKey, false);
        std::printf("}\n");
    } else {
        std::printf("file:               %s\n", path);
        std::printf("codec:              %s\n", CodecName(opened.codecType));
        std::printf("picture:            %u x %u%s\n", opened.width, opened.height,
                    opened.doubleHeight ? " (half-height fields)" : "");
        std::printf("estimated frames:   %u\n", opened.tail.estimatedFrames);
        std::printf("estimated duration: %u ms\n", opened.tail.estimatedDurationMs);
        std::printf("frames:             %u\n", info.frames);
        std::printf("duration:           %u ms\n", info.durationMs);
        std::printf("total bytes:        %llu\n", static_cast<unsigned long long>(info.totalBytes));
        std::printf("key frames:         %zu\n", info.keyFrames.size());
        std::printf("first key frame:    %s\n", firstKey.empty() ? "-" : firstKey.c_str());
        std::printf("last key frame:     %s\n", lastKey.empty() ? "-" : lastKey.c_str());
    }
    return 0;
}

}  // namespace

KESTREL_CLI_COMMAND(info, "info", "FILE [--json]", RunInfo);

}  // namespace kestrel::cli
