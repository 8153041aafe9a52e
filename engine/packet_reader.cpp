#include "engine/packet_reader.h"

namespace kestrel::engine {

ChunkResult ReadChunk(platform::File& file, uint8_t* chunk, uint32_t size) {
    if (file.Read(chunk, size) < static_cast<int64_t>(size)) return ChunkResult::End;
    if (StartsWithMagic(chunk)) return ChunkResult::Packet;
    const size_t at = FindMagic({chunk, size});
    if (at != 0 && !Skip(file, -static_cast<int64_t>(size - at))) return ChunkResult::End;
    return ChunkResult::Resync;
}

}  // namespace kestrel::engine
