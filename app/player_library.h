// The player engine as the dialog sees it: one method per kx function, on any port, arguments
// passed on unchanged. The dialog receives one object and never calls the engine otherwise, so
// that a test can put a recorder in its place.
#pragma once

#include <cstdint>

#include "kestrel/kx.h"

namespace kestrel::app {

class PlayerLibrary {
public:
    virtual ~PlayerLibrary() = default;
    virtual int32_t ReleaseDirectDraw() = 0;
    virtual int32_t OpenFile(int32_t port, const char* path) = 0;
    virtual int32_t CloseFile(int32_t port) = 0;
    virtual int32_t Play(int32_t port, KxWindow window) = 0;
    virtual int32_t Pause(int32_t port) = 0;
    virtual int32_t Stop(int32_t port) = 0;
    virtual int32_t PlayFast(int32_t port) = 0;
    virtual int32_t PlaySlow(int32_t port) = 0;
    virtual int32_t Next(int32_t port) = 0;
    virtual int32_t OpenSound(int32_t port) = 0;
    virtual int32_t CloseSound(int32_t port) = 0;
    virtual uint32_t GetPlayedTime(int32_t port) = 0;
    virtual uint32_t GetPlayedFrames(int32_t port) = 0;
    virtual uint32_t GetFileTime(int32_t port) = 0;
    virtual uint32_t GetFileFrames(int32_t port) = 0;
    virtual int32_t SnapPicture(int32_t port, const char* bmpPath) = 0;
    virtual int32_t SetPlayPosition(int32_t port, float position) = 0;
    virtual int32_t SetPlayedFrames(int32_t port, uint32_t frame) = 0;
    virtual int32_t Refresh(int32_t port) = 0;
    virtual int32_t SetFileEndMsg(int32_t port, KxWindow window, uint32_t message) = 0;
    virtual int32_t GetLastError(int32_t port) = 0;
};

// The real engine.
class EnginePlayerLibrary final : public PlayerLibrary {
public:
    int32_t ReleaseDirectDraw() override { return kxReleaseDirectDraw(); }
    int32_t OpenFile(int32_t port, const char* path) override { return kxOpenFile(port, path); }
    int32_t CloseFile(int32_t port) override { return kxCloseFile(port); }
    int32_t Play(int32_t port, KxWindow window) override { return kxPlay(port, window); }
    int32_t Pause(int32_t port) override { return kxPause(port); }
    int32_t Stop(int32_t port) override { return kxStop(port); }
    int32_t PlayFast(int32_t port) override { return kxPlayFast(port); }
    int32_t PlaySlow(int32_t port) override { return kxPlaySlow(port); }
    int32_t Next(int32_t port) override { return kxNext(port); }
    int32_t OpenSound(int32_t port) override { return kxOpenSound(port); }
    int32_t CloseSound(int32_t port) override { return kxCloseSound(port); }
    uint32_t GetPlayedTime(int32_t port) override { return kxGetPlayedTime(port); }
    uint32_t GetPlayedFrames(int32_t port) override { return kxGetPlayedFrames(port); }
    uint32_t GetFileTime(int32_t port) override { return kxGetFileTime(port); }
    uint32_t GetFileFrames(int32_t port) override { return kxGetFileFrames(port); }
    int32_t SnapPicture(int32_t port, const char* bmpPath) override { return kxSnapPicture(port, bmpPath); }
    int32_t SetPlayPosition(int32_t port, float position) override { return kxSetPlayPosition(port, position); }
    int32_t SetPlayedFrames(int32_t port, uint32_t frame) override { return kxSetPlayedFrames(port, frame); }
    int32_t Refresh(int32_t port) override { return kxRefresh(port); }
    int32_t SetFileEndMsg(int32_t port, KxWindow window, uint32_t message) override {
        return kxSetFileEndMsg(port, window, message);
    }
    int32_t GetLastError(int32_t port) override { return kxGetLastError(port); }
};

}  // namespace kestrel::app
