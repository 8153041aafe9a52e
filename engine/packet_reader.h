// Forward reading of a recording in fixed chunks, with the resynchronisation every reader of the
// file shares: a chunk that does not begin with the magic is searched for it, and on a match
// the file is stepped back so that the next read starts exactly there.
#pragma once

#include <cstdint>

#include "engine/h64_format.h"
#include "platform/file.h"

namespace kestrel::engine {

enum class ChunkResult {
    Packet,  // the chunk begins with the magic
    Resync,  // not in step: read again (the file may have been stepped back to a magic)
    End,     // fewer bytes than asked for
};

ChunkResult ReadChunk(platform::File& file, uint8_t* chunk, uint32_t size);

// Moves forward by delta bytes (which may be negative); false when the file cannot be moved.
inline bool Skip(platform::File& file, int64_t delta) {
    return file.Seek(delta, platform::File::Origin::Current) >= 0;
}

}  // namespace kestrel::engine
