// kxSnapPicture's work: the picture is copied while the port's bufferLock holds the play thread
// off it; the conversion and the file are done afterwards, while playback goes on.
#include <mutex>

#include "engine/api_work.h"
#include "engine/engine.h"
#include "engine/snapshot.h"

namespace kestrel::engine {

int32_t SnapPicture(int32_t port, const char* bmpPath) {
    PlayerPort& p = Port(port);
    SnapshotPicture snapshot;
    {
        std::lock_guard<std::mutex> hold(p.bufferLock);
        if (!p.picture || !snapshot.Allocate(p.width, p.height, p.doubleHeight)) return 0;
        if (!snapshot.Take({p.picture.get(), p.pictureCapacity, p.width, p.height})) return 0;
    }
    return snapshot.Write(bmpPath);
}

}  // namespace kestrel::engine
