#include "vdec3/frame_decoder.h"
#include "vdec3/implementations.h"

namespace vdec3 {
const Vdec3Ops kPortableOps = MakeOps<kPortableKernels>();
}  // namespace vdec3
