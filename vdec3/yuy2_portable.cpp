#include "vdec3/kernels.h"

namespace vdec3::portable {

void Yuy2Row(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* dst, int width) {
  for (int i = 0; i < width / 2; ++i) {
    dst[4 * i + 0] = y[2 * i];
    dst[4 * i + 1] = cb[i];
    dst[4 * i + 2] = y[2 * i + 1];
    dst[4 * i + 3] = cr[i];
  }
}

}  // namespace vdec3::portable
