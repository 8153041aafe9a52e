// Reference decodes for the MPEG-4 tests: the elementary stream through xvidcore alone.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrel::testing {

using Picture = std::vector<uint8_t>;  // planes Y, V, U of width x height

std::string DataPath(const std::string& name);

// The stream decoded by xvidcore alone into its own YV12 output, with these general flags.
std::vector<Picture> DecodeDirectly(std::span<const uint8_t> stream, int general, uint32_t w, uint32_t h);

// The general flags the engine's adapter uses while this many ports play.
int DirectFlags(uint32_t threads);

}  // namespace kestrel::testing
