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

bool WaitForIndex(int32_t port, uint32_t timeoutMs) {
    if (!ValidPort(port)) return false;
    return Port(port).indexThread.WaitFor(timeoutMs);
}

}  // namespace kestrel::engine
