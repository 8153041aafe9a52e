// The slots each SIMD set specialises; the rest keep the kernels of the set below. AVX2 takes
// the kernels where 32-byte registers pay (measured with bench_h264dsp): 16- and 8-wide luma
// interpolation, the 16-wide combine and the deinterlacer. Its luma edge filters were slower
// than the SSE2 ones (the 16-bit widening and packing cost more than the halved arithmetic).
#include "h264/dsp/kernel_sets.h"

namespace kestrel::h264::dsp {

void InitSse2Sets(KernelTable& t) {
  InitTransformSse2(t);
  InitIntraSse2(t);
  InitInterSse2(t);
  InitDeblockSse2(t);
  InitDeinterlaceSse2(t);
}

void InitAvx2Sets(KernelTable& t) {
  InitInterAvx2(t);
  InitDeinterlaceAvx2(t);
}

}  // namespace kestrel::h264::dsp
