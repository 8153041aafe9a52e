// Work that this build of the engine does not contain yet. Each returns 0 so that the API reports
// failure rather than a success that did not happen; a subsystem that brings the work removes
// its entry here and defines the function in its own file.
#include "engine/api_work.h"
#include "engine/engine.h"

namespace kestrel::engine {

int32_t StartPlayback(int32_t) { return 0; }
int32_t StepOneFrame(int32_t) { return 0; }
int32_t SeekToPosition(int32_t, float) { return 0; }
int32_t SeekToFrame(int32_t, uint32_t) { return 0; }
int32_t RedrawPicture(int32_t) { return 0; }
int32_t SnapPicture(int32_t, const char*) { return 0; }
// Without presentation there is no surface to make; the old one must not outlive its size.
void ReplacePictureSurface(int32_t port, uint32_t, uint32_t) { Port(port).pictureSurface.reset(); }
int32_t OpenSoundPort(int32_t) { return 0; }
void ResetSoundOutput() {}

}  // namespace kestrel::engine
