// The slots each SIMD set specialises; the rest keep the kernels of the set below.
#include "h264/dsp/kernel_sets.h"

namespace kestrel::h264::dsp {

void InitSse2Sets(KernelTable& t) {
  InitTransformSse2(t);
  InitIntraSse2(t);
  InitInterSse2(t);
  InitDeblockSse2(t);
  InitDeinterlaceSse2(t);
}

void InitAvx2Sets(KernelTable&) {}

}  // namespace kestrel::h264::dsp
