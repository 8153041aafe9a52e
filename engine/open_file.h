// Opening a recording on a port: the synchronous probe of the start and the end of the file,
// the port's buffers and decoder, and the background index builder.
#pragma once

#include "engine/player_port.h"

namespace kestrel::engine {

bool OpenPortFile(int32_t port, const char* path);
bool ProbeHeader(PlayerPort& p);
bool ScanTail(PlayerPort& p);
bool AllocatePortBuffers(PlayerPort& p);
// Walks the whole file once through a handle of its own, records every key frame and replaces
// the estimates by exact totals. Runs on the port's index thread.
void BuildIndex(int32_t port);

// Moves the port's file to the first key frame (from the index if it has one yet).
void PositionAtFirstKeyFrame(PlayerPort& p);

}  // namespace kestrel::engine
