// Half-pel motion-compensated prediction: every average rounds up; the centre position averages
// the two horizontally averaged rows.
#include "vdec3/kernels.h"

namespace vdec3::portable {
namespace {

inline uint8_t Avg(int a, int b) { return static_cast<uint8_t>((a + b + 1) >> 1); }

template <int N, int Mode>
void Predict(uint8_t* dst, const uint8_t* src, ptrdiff_t stride) {
  for (int r = 0; r < N; ++r, dst += stride, src += stride) {
    for (int c = 0; c < N; ++c) {
      if constexpr (Mode == 0) {
        dst[c] = src[c];
      } else if constexpr (Mode == 1) {
        dst[c] = Avg(src[c], src[c + 1]);
      } else if constexpr (Mode == 2) {
        dst[c] = Avg(src[c], src[c + stride]);
      } else {
        dst[c] = Avg(Avg(src[c], src[c + 1]), Avg(src[c + stride], src[c + stride + 1]));
      }
    }
  }
}

}  // namespace

VDEC3_DEFINE_PREDICT_ENTRIES()

}  // namespace vdec3::portable
