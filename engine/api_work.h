// The work behind the API calls that the play loop, seeking, presentation, snapshots and sound
// supply. Each returns 1 when done and 0 when it failed or is not available in this build; the
// API functions have made their checks before they call these.
#pragma once

#include <cstdint>

#include "kestrel/kx.h"

namespace kestrel::engine {

// kxPlay from Stopped: rewind to the first key frame and start the port's play thread.
int32_t StartPlayback(int32_t port);
// kxNext: decode and show exactly one more frame.
int32_t StepOneFrame(int32_t port);
int32_t SeekToPosition(int32_t port, float position);
int32_t SeekToFrame(int32_t port, uint32_t frame);
// kxRefresh: draw the port's current picture again.
int32_t RedrawPicture(int32_t port);
int32_t SnapPicture(int32_t port, const char* bmpPath);
// A picture size increase: release the port's picture surface and make one of the new size.
void ReplacePictureSurface(int32_t port, uint32_t width, uint32_t height);
// kxOpenSound: make this port the one whose audio is heard.
int32_t OpenSoundPort(int32_t port);
// Closing the sound port's file: take back the queued sound.
void ResetSoundOutput();

}  // namespace kestrel::engine
