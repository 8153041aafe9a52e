#include <cstdlib>
#include <cstring>

#include "vdec3/implementations.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace vdec3 {
namespace {

bool ProcessorHasSse2() {
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (edx >> 26) & 1;
#else
  return false;
#endif
}

}  // namespace

Vdec3Implementation ChooseImplementation() {
  const bool sse2 = ProcessorHasSse2();
  if (const char* forced = std::getenv("KESTREL_VDEC3_IMPL")) {
    if (std::strcmp(forced, "c") == 0) return Vdec3Implementation::kPortable;
    if (std::strcmp(forced, "sse2") == 0 && sse2) return Vdec3Implementation::kSse2;
  }
  return sse2 ? Vdec3Implementation::kSse2 : Vdec3Implementation::kPortable;
}

const Kernels* KernelsFor(Vdec3Implementation implementation) {
  if (implementation == Vdec3Implementation::kPortable) return &kPortableKernels;
#if defined(__SSE2__)
  if (ProcessorHasSse2()) return &kSse2Kernels;
#endif
  return nullptr;
}

}  // namespace vdec3
