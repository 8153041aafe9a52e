// Shared helpers of the decoder tests: instances of a chosen implementation, decoding to a
// Picture, the fixtures.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/vdec3enc.h"
#include "vdec3/vdec3.h"

namespace vdec3test {

struct InstanceDeleter {
  void operator()(Vdec3Instance* d) const { vdec3_destroy(d); }
};
using Instance = std::unique_ptr<Vdec3Instance, InstanceDeleter>;

// The implementations this machine can run.
std::vector<Vdec3Implementation> Implementations();
const char* NameOf(Vdec3Implementation implementation);

// An instance of that implementation (through the environment switch), planar output at the
// coded width unless set otherwise.
Instance Create(Vdec3Implementation implementation, int width, int height);

// Decodes into a planar picture of the coded size w16 x h16 (planar output at pitch w16 set);
// `result` gets the decode's return value.
vdec3enc::Picture DecodePlanar(Vdec3Instance* d, int w16, int h16, const std::vector<uint8_t>& frame,
                               uint32_t flags, uint32_t* result = nullptr);

// A planar buffer (coded size, positive pitch) as a Picture.
vdec3enc::Picture FromPlanar(const std::vector<uint8_t>& buffer, int w16, int h16);

struct Fixture {
  const char* file;
  int width, height, frames;
};
const std::vector<Fixture>& Fixtures();
vdec3enc::Picture LoadFixture(const Fixture& f, int index);

// True under the sanitizer build of CI, where heavy tables shrink.
bool SanitizerRun();

// A mismatch report: first differing sample, or "" when equal.
std::string Difference(const vdec3enc::Picture& expected, const vdec3enc::Picture& actual);

}  // namespace vdec3test
