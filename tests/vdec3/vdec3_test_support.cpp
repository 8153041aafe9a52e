#include "tests/vdec3/vdec3_test_support.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace vdec3test {

std::vector<Vdec3Implementation> Implementations() {
  std::vector<Vdec3Implementation> all = {Vdec3Implementation::kPortable};
  setenv("KESTREL_VDEC3_IMPL", "sse2", 1);
  if (Vdec3Instance* d = vdec3_create(16, 16, nullptr)) {
    if (vdec3_implementation(d) == Vdec3Implementation::kSse2) all.push_back(Vdec3Implementation::kSse2);
    vdec3_destroy(d);
  }
  unsetenv("KESTREL_VDEC3_IMPL");
  return all;
}

const char* NameOf(Vdec3Implementation implementation) {
  return implementation == Vdec3Implementation::kSse2 ? "sse2" : "portable";
}

Instance Create(Vdec3Implementation implementation, int width, int height) {
  setenv("KESTREL_VDEC3_IMPL", implementation == Vdec3Implementation::kSse2 ? "sse2" : "c", 1);
  Instance d(vdec3_create(width, height, nullptr));
  unsetenv("KESTREL_VDEC3_IMPL");
  if (d) vdec3_set_output(d.get(), (width + 15) / 16 * 16, kVdec3PlanarCode);
  return d;
}

vdec3enc::Picture FromPlanar(const std::vector<uint8_t>& buffer, int w16, int h16) {
  vdec3enc::Picture p = vdec3enc::Picture::Filled(w16, h16, 0, 0);
  const size_t luma = static_cast<size_t>(w16) * h16;
  std::copy(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(luma), p.y.begin());
  std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(luma),
            buffer.begin() + static_cast<std::ptrdiff_t>(luma + luma / 4), p.cb.begin());
  std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(luma + luma / 4),
            buffer.begin() + static_cast<std::ptrdiff_t>(luma + luma / 2), p.cr.begin());
  return p;
}

vdec3enc::Picture DecodePlanar(Vdec3Instance* d, int w16, int h16, const std::vector<uint8_t>& frame,
                               uint32_t flags, uint32_t* result) {
  std::vector<uint8_t> out(static_cast<size_t>(w16) * h16 * 3 / 2, 0xEE);
  // An exact-size copy, so that a read past the frame's end shows under the address sanitizer.
  std::unique_ptr<uint8_t[]> data(new uint8_t[frame.size()]);
  std::copy(frame.begin(), frame.end(), data.get());
  const uint32_t r = vdec3_decode(d, data.get(), out.data(), flags);
  if (result) *result = r;
  return FromPlanar(out, w16, h16);
}

const std::vector<Fixture>& Fixtures() {
  static const std::vector<Fixture> kFixtures = {
      {"testsrc2_176x144_3f.yuv", 176, 144, 3},
      {"mandelbrot_160x120_3f.yuv", 160, 120, 3},
  };
  return kFixtures;
}

vdec3enc::Picture LoadFixture(const Fixture& f, int index) {
  return vdec3enc::LoadYuv420(std::string(KESTREL_SOURCE_DIR) + "/tests/vdec3/fixtures/" + f.file,
                              f.width, f.height, index);
}

bool SanitizerRun() {
  const char* v = std::getenv("KESTREL_SANITIZER_RUN");
  return v && std::string(v) == "1";
}

std::string Difference(const vdec3enc::Picture& expected, const vdec3enc::Picture& actual) {
  std::ostringstream s;
  if (expected.width != actual.width || expected.height != actual.height) {
    s << "size " << actual.width << "x" << actual.height << ", expected " << expected.width << "x"
      << expected.height;
    return s.str();
  }
  const std::vector<uint8_t>* planes[3][2] = {{&expected.y, &actual.y}, {&expected.cb, &actual.cb},
                                              {&expected.cr, &actual.cr}};
  static const char* const kNames[3] = {"Y", "Cb", "Cr"};
  for (int p = 0; p < 3; ++p) {
    const int w = p ? expected.width / 2 : expected.width;
    for (size_t i = 0; i < planes[p][0]->size(); ++i) {
      if ((*planes[p][0])[i] != (*planes[p][1])[i]) {
        s << kNames[p] << " (" << i % w << ", " << i / w << "): " << int((*planes[p][1])[i])
          << ", expected " << int((*planes[p][0])[i]);
        return s.str();
      }
    }
  }
  return "";
}

}  // namespace vdec3test
