// Processor classification and the choice of kernel set for an H.264 decoder instance.
#pragma once

#include "h264/dsp/kernel_table.h"

namespace kestrel::h264::dsp {

// What CPUID and the XMM round trip report.
struct CpuInfo {
  bool id_toggles = false;  // the EFLAGS identification flag can be toggled (CPUID exists)
  bool has_leaf1 = false;   // CPUID reports standard leaf 1
  bool mmx = false;
  bool cmov = false;
  bool fxsr = false;
  bool sse = false;
  bool sse2 = false;
  bool sse3 = false;
  bool avx2 = false;           // AVX2 present and YMM state enabled by the operating system
  bool xmm_preserved = false;  // the FXSAVE round trip kept a changed XMM word
};

// CpuLevel 0..5:
//   0: no CPUID (identification flag fixed, or no standard leaf 1) or no MMX
//   1: MMX without CMOV
//   2: MMX and CMOV, but FXSAVE or SSE absent (or the XMM registers are not preserved)
//   3: FXSAVE and SSE; 4: also SSE2; 5: also SSE3
int CpuLevelOf(const CpuInfo& cpu);

// Reads CPUID and runs the FXSAVE round trip (only when FXSR and SSE are present).
CpuInfo DetectCpu();
// The FXSAVE / change one XMM word / FXRSTOR / FXSAVE check on its own; the register state is
// restored afterwards. Requires FXSR.
bool XmmStatePreserved();

enum class KernelSet : int { kPortable = 0, kSse2 = 1, kAvx2 = 2 };
const char* KernelSetName(KernelSet set);

// Level 4 and above gives SSE2, and AVX2 when the processor has it; below level 4 (including
// below level 2, which does not refuse) the portable set. KESTREL_H264_KERNELS=c|sse2|avx2 in the
// environment forces a set for tests and benchmarks; a forced set the processor cannot run is
// lowered to the best one it can.
KernelSet ChooseKernelSet(const CpuInfo& cpu);
// The best set this processor runs, ignoring the environment.
KernelSet BestKernelSet(const CpuInfo& cpu);

// Fills every slot of the table from the given set (slots a set does not specialise come from
// the next lower set, down to the portable one).
void FillKernelTable(KernelTable& table, KernelSet set);

// DetectCpu + ChooseKernelSet + FillKernelTable; returns the set used.
KernelSet SelectKernels(KernelTable& table);

}  // namespace kestrel::h264::dsp
