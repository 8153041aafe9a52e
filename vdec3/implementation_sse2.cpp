#include "vdec3/frame_decoder.h"
#include "vdec3/implementations.h"

#if defined(__SSE2__)
namespace vdec3 {
const Vdec3Ops kSse2Ops = MakeOps<kSse2Kernels>();
}  // namespace vdec3
#endif
