// The five entry points. Entries 2 to 5 forward to the instance's own operation pointers.
#include <cstdlib>

#include "vdec3/implementations.h"
#include "vdec3/instance.h"
#include "vdec3/vdec3.h"

namespace vdec3 {

void DestroyInstance(Vdec3Instance* d) {
  void* owned = d->owned_memory;
  d->~Vdec3Instance();
  std::free(owned);
}

namespace {

uint8_t* AlignTo64(void* p) {
  const auto a = reinterpret_cast<uintptr_t>(p);
  return reinterpret_cast<uint8_t*>((a + 63) & ~uintptr_t{63});
}

}  // namespace
}  // namespace vdec3

size_t vdec3_memory_size(int width, int height) {
  vdec3::Layout layout;
  return vdec3::ComputeLayout(width, height, &layout) ? layout.total + 63 : 0;
}

size_t vdec3_scratch_size(int width, int height) {
  vdec3::Layout layout;
  return vdec3::ComputeLayout(width, height, &layout) ? layout.luma_bytes + layout.chroma_bytes : 0;
}

size_t vdec3_internal_picture_size(int width, int height) {
  vdec3::Layout layout;
  return vdec3::ComputeLayout(width, height, &layout)
             ? static_cast<size_t>(layout.pitch) * layout.h16 * 3 / 2
             : 0;
}

Vdec3Instance* vdec3_create(int width, int height, void* memory) {
  vdec3::Layout layout;
  if (!vdec3::ComputeLayout(width, height, &layout)) return nullptr;
  void* raw = memory ? memory : std::malloc(layout.total + 63);
  if (!raw) return nullptr;
  const Vdec3Implementation implementation = vdec3::ChooseImplementation();
  const Vdec3Ops* ops = &vdec3::kPortableOps;
#if defined(__SSE2__)
  if (implementation == Vdec3Implementation::kSse2) ops = &vdec3::kSse2Ops;
#endif
  Vdec3Instance* d =
      vdec3::BuildInstance(vdec3::AlignTo64(raw), layout, width, height, *ops, implementation);
  d->owned_memory = memory ? nullptr : raw;
  return d;
}

Vdec3Instance* vdec3_set_output(Vdec3Instance* instance, int32_t pitch, uint32_t format_code) {
  return vdec3::OpsOf(instance)->set_output(instance, pitch, format_code);
}

uint32_t vdec3_decode(Vdec3Instance* instance, const uint8_t* frame, uint8_t* output, uint32_t flags) {
  return vdec3::OpsOf(instance)->decode(instance, frame, output, flags);
}

void vdec3_redisplay(Vdec3Instance* instance, uint8_t* scratch, uint8_t* output) {
  vdec3::OpsOf(instance)->redisplay(instance, scratch, output);
}

void vdec3_destroy(Vdec3Instance* instance) {
  if (instance) vdec3::OpsOf(instance)->destroy(instance);
}

const Vdec3EntryTable& vdec3_entry_table() {
  static constexpr Vdec3EntryTable kTable = {vdec3_create, vdec3_set_output, vdec3_decode,
                                             vdec3_redisplay, vdec3_destroy};
  return kTable;
}

Vdec3Implementation vdec3_implementation(const Vdec3Instance* instance) {
  return instance->implementation;
}
