// CPUID classification, the XMM preservation check, and the choice of kernel set.
#include "h264/dsp/cpu.h"

#include <cpuid.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "h264/dsp/kernel_sets.h"

namespace kestrel::h264::dsp {
namespace {

constexpr uint64_t kEflagsId = 1u << 21;

// Whether bit 21 of EFLAGS can be flipped: the classic test for the CPUID instruction.
bool IdFlagToggles() {
  uint64_t before, after;
  asm volatile(
      "pushfq\n\t"
      "pushfq\n\t"
      "popq %0\n\t"
      "movq %0, %1\n\t"
      "xorq %2, %1\n\t"
      "pushq %1\n\t"
      "popfq\n\t"
      "pushfq\n\t"
      "popq %1\n\t"
      "popfq\n\t"
      : "=&r"(before), "=&r"(after)
      : "r"(kEflagsId)
      : "cc");
  return ((before ^ after) & kEflagsId) != 0;
}

// YMM state enabled by the operating system (XCR0 bits 1 and 2).
bool YmmStateEnabled() {
  uint32_t eax, edx;
  asm volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
  return (eax & 6u) == 6u;
}

}  // namespace

bool XmmStatePreserved() {
  // Offset 160 of the FXSAVE image is XMM0; a word of XMM7 (offset 272) is the one changed.
  constexpr size_t kWord = 272;
  alignas(16) uint8_t live[512];
  alignas(16) uint8_t changed[512];
  alignas(16) uint8_t readback[512];
  asm volatile("fxsave %0" : "=m"(live));
  std::memcpy(changed, live, sizeof changed);
  uint32_t word;
  std::memcpy(&word, changed + kWord, 4);
  word ^= 0x5A5AA5A5u;
  std::memcpy(changed + kWord, &word, 4);
  // Save the state of this moment, load the changed image, read it back, put the saved state
  // back: one asm statement, so no compiler-held register lives across the swap.
  alignas(16) uint8_t saved[512];
  asm volatile(
      "fxsave %0\n\t"
      "fxrstor %1\n\t"
      "fxsave %2\n\t"
      "fxrstor %0\n\t"
      : "+m"(saved), "+m"(changed), "=m"(readback)
      :
      : "memory");
  return std::memcmp(readback + kWord, changed + kWord, 4) == 0;
}

CpuInfo DetectCpu() {
  CpuInfo cpu;
  cpu.id_toggles = IdFlagToggles();
  if (!cpu.id_toggles) return cpu;
  unsigned eax, ebx, ecx, edx;
  if (__get_cpuid_max(0, nullptr) < 1 || !__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return cpu;
  cpu.has_leaf1 = true;
  cpu.mmx = (edx >> 23) & 1;
  cpu.cmov = (edx >> 15) & 1;
  cpu.fxsr = (edx >> 24) & 1;
  cpu.sse = (edx >> 25) & 1;
  cpu.sse2 = (edx >> 26) & 1;
  cpu.sse3 = ecx & 1;
  const bool osxsave = (ecx >> 27) & 1, avx = (ecx >> 28) & 1;
  if (osxsave && avx && YmmStateEnabled() && __get_cpuid_max(0, nullptr) >= 7) {
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    cpu.avx2 = (ebx >> 5) & 1;
  }
  if (cpu.fxsr && cpu.sse) cpu.xmm_preserved = XmmStatePreserved();
  return cpu;
}

int CpuLevelOf(const CpuInfo& cpu) {
  if (!cpu.id_toggles || !cpu.has_leaf1 || !cpu.mmx) return 0;
  if (!cpu.cmov) return 1;
  if (!cpu.fxsr || !cpu.sse || !cpu.xmm_preserved) return 2;
  if (!cpu.sse2) return 3;
  return cpu.sse3 ? 5 : 4;
}

const char* KernelSetName(KernelSet set) {
  switch (set) {
    case KernelSet::kPortable: return "c";
    case KernelSet::kSse2: return "sse2";
    case KernelSet::kAvx2: return "avx2";
  }
  return "?";
}

KernelSet BestKernelSet(const CpuInfo& cpu) {
  if (CpuLevelOf(cpu) < 4) return KernelSet::kPortable;
  return cpu.avx2 ? KernelSet::kAvx2 : KernelSet::kSse2;
}

KernelSet ChooseKernelSet(const CpuInfo& cpu) {
  const KernelSet best = BestKernelSet(cpu);
  const char* env = std::getenv("KESTREL_H264_KERNELS");
  if (env == nullptr) return best;
  const std::string_view want(env);
  KernelSet forced = best;
  if (want == "c") forced = KernelSet::kPortable;
  else if (want == "sse2") forced = KernelSet::kSse2;
  else if (want == "avx2") forced = KernelSet::kAvx2;
  return static_cast<int>(forced) <= static_cast<int>(best) ? forced : best;
}

void FillKernelTable(KernelTable& t, KernelSet set) {
  InitTransformPortable(t);
  InitIntraPortable(t);
  InitInterPortable(t);
  InitDeblockPortable(t);
  InitDeinterlacePortable(t);
  if (set == KernelSet::kPortable) return;
  InitSse2Sets(t);
  if (set == KernelSet::kSse2) return;
  InitAvx2Sets(t);
}

KernelSet SelectKernels(KernelTable& table) {
  const KernelSet set = ChooseKernelSet(DetectCpu());
  FillKernelTable(table, set);
  return set;
}

}  // namespace kestrel::h264::dsp
