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
int32_t OpenSoundPort(int32_t) { return 0; }
void ResetSoundOutput() {}

}  // namespace kestrel::engine
