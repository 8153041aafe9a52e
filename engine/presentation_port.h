// A port's presentation in the engine: its picture surface, the drawing of its picture under the
// engine's drawLock, and the colour key of an overlay.
#pragma once

#include <cstdint>

namespace kestrel::engine {

// kxPlay: makes the port's picture surface when its picture size is known and it has none, or
// one its picture does not fit. Takes the port's bufferLock.
void EnsurePictureSurface(int32_t port);

// kxPlay when play starts or resumes: paints the video window with the colour key when the port's
// surface is an overlay.
void PaintOverlayKey(int32_t port);

// The play step, holding the port's bufferLock: shows the port's current picture in its window
// (restoring a lost display first). Failures are left in the port's error number.
void ShowPicture(int32_t port);

}  // namespace kestrel::engine
