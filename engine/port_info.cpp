#include "engine/port_info.h"

#include "engine/engine.h"

namespace kestrel::engine {

PortInfo GetPortInfo(int32_t port) {
    PortInfo info;
    if (!ValidPort(port)) return info;
    PlayerPort& p = Port(port);
    info.open = p.open.load();
    info.state = p.state.load();
    info.playMode = p.playMode.load();
    info.speedStep = p.speedStep.load();
    info.codecType = p.codecType;
    info.width = p.width;
    info.height = p.height;
    info.doubleHeight = p.doubleHeight;
    info.tail = p.tail;
    info.firstVideoOffset = p.firstVideoOffset;
    info.firstKeyFrameOffset = p.firstKeyFrameOffset;
    info.indexComplete = p.indexComplete.load();
    info.frames = p.totalFrames.load();
    info.durationMs = p.durationMs.load();
    info.totalBytes = p.totalBytes.load();
    info.audioPayloadLength = p.audioPayloadLength.load();
    info.indexBuilderRunning = p.indexThread.Held() && !p.indexThread.WaitFor(0);
    info.keyFrames = p.keyFrameIndex.Entries();
    return info;
}

std::string OpenFailureReason(int32_t port) {
    if (!ValidPort(port)) return "no such port";
    const PlayerPort& p = Port(port);
    switch (p.lastError.load()) {
        case ERR_OPEN: return "the file cannot be opened (missing, unreadable, or a path over 259 characters)";
        case ERR_NO_MEMORY: return "not enough memory for the port's buffers";
        case ERR_AUDIO_CODEC: return "the audio decoder cannot be created";
        case ERR_DISPLAY:
        case ERR_DIRECTDRAW: return "the engine cannot start its display";
        default: break;
    }
    if (p.width == 0) return "not a recording: no video packet found";
    if (p.codecType >= kVideoCodecSlots) return "unsupported video codec (type 3)";
    return "not a recording: no complete video packet near the end of the file";
}

bool WaitForIndex(int32_t port, uint32_t timeoutMs) {
    if (!ValidPort(port)) return false;
    return Port(port).indexThread.WaitFor(timeoutMs);
}

}  // namespace kestrel::engine
