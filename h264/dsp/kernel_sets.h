// How the kernel sets are assembled: each concern fills its slots of the table, one function
// per set. FillKernelTable (cpu.h) calls them in order portable -> SSE2 -> AVX2, so a set only
// overrides the slots it specialises.
#pragma once

#include "h264/dsp/kernel_table.h"

namespace kestrel::h264::dsp {

void InitTransformPortable(KernelTable& t);
void InitIntraPortable(KernelTable& t);
void InitInterPortable(KernelTable& t);
void InitDeblockPortable(KernelTable& t);
void InitDeinterlacePortable(KernelTable& t);

void InitTransformSse2(KernelTable& t);
void InitIntraSse2(KernelTable& t);
void InitInterSse2(KernelTable& t);
void InitDeblockSse2(KernelTable& t);
void InitDeinterlaceSse2(KernelTable& t);

void InitInterAvx2(KernelTable& t);
void InitDeinterlaceAvx2(KernelTable& t);

// The SIMD sets, each overriding the slots it specialises.
void InitSse2Sets(KernelTable& t);
void InitAvx2Sets(KernelTable& t);

}  // namespace kestrel::h264::dsp
