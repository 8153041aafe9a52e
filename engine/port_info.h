// A read-only look at a port for tools and tests: what opening found and what the index holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/key_frame_index.h"
#include "engine/player_port.h"

namespace kestrel::engine {

struct PortInfo {
    bool open = false;
    PortState state = PortState::PortIdle;
    PlaybackMode playMode = PlaybackMode::Stopped;
    uint32_t speedStep = 0;
    uint32_t codecType = 0;
    uint32_t width = 0, height = 0;
    bool doubleHeight = false;
    TailScan tail;
    uint64_t firstVideoOffset = 0, firstKeyFrameOffset = 0;
    bool indexComplete = false;
    uint32_t frames = 0, durationMs = 0;
    uint64_t totalBytes = 0;
    uint32_t audioPayloadLength = 0;
    bool indexBuilderRunning = false;
    std::vector<KeyFrameEntry> keyFrames;
};

PortInfo GetPortInfo(int32_t port);
// Why the last kxOpenFile on the port failed, in a few words for a message.
std::string OpenFailureReason(int32_t port);
// Waits for the port's index builder to end; false on time-out.
bool WaitForIndex(int32_t port, uint32_t timeoutMs);

}  // namespace kestrel::engine
