// The operation tables of the two implementations and the choice between them.
#pragma once

#include "vdec3/instance.h"
#include "vdec3/kernels.h"

namespace vdec3 {

extern const Vdec3Ops kPortableOps;
#if defined(__SSE2__)
extern const Vdec3Ops kSse2Ops;
#endif

// SSE2 when the processor has it (CPUID leaf 1, EDX bit 26), unless KESTREL_VDEC3_IMPL says
// otherwise ("c" or "sse2"; sse2 on a processor without it falls back to the portable code).
Vdec3Implementation ChooseImplementation();

}  // namespace vdec3
