// The slots each SIMD set specialises; the rest keep the portable kernels filled before.
#include "h264/dsp/kernel_sets.h"

namespace kestrel::h264::dsp {

void InitSse2Sets(KernelTable&) {}
void InitAvx2Sets(KernelTable&) {}

}  // namespace kestrel::h264::dsp
