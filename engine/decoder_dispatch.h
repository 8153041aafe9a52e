// Between the file and the picture: the two read-ahead queues, the port's decoder and its one
// picture buffer, and the switch to a new picture size in the middle of a file.
// Everything here runs under the port's bufferLock (or before the port is marked open).
#pragma once

#include <cstdint>

#include "engine/h64_format.h"
#include "engine/player_port.h"

namespace kestrel::engine {

// Destroys every decoder of the port and creates the one for its codec type at this size.
// False for a codec type that has no decoder (type 3); a create that fails leaves the slot empty.
bool OpenDecoder(PlayerPort& p, uint32_t width, uint32_t height);

// Reads ahead until either queue holds its slots (two packets); reads only when a queue has run
// empty. False at the end of the file or on a short read (the read-ahead flag is then clear).
bool RefillQueues(int32_t port);

// Follows the resolution index of a video packet about to be decoded: a new size replaces the
// buffers (when it grows) and the decoder. False when the new buffers cannot be had.
bool CheckPictureSize(int32_t port, const PacketHeader& header);
bool SwitchPictureSize(int32_t port, uint32_t width, uint32_t height);

// Decodes one video payload into the picture buffer; the picture's byte count, 0 for none.
uint32_t DecodeVideoPacket(int32_t port, const uint8_t* payload, uint32_t length, bool keyFrame = false);

// Fast mode while five or more ports play.
inline constexpr uint32_t kFastModeThreads = 5;

}  // namespace kestrel::engine
