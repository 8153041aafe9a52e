// The decoder of the recorders' own MPEG-4-like codec.
//
// Five entry points, reached through Vdec3EntryTable in this order. Every instance carries its own
// pointers for entries 2 to 5, so instances of the portable and the SSE2 implementation can live
// side by side in one process; the functions below only forward to them.
#pragma once

#include <cstddef>
#include <cstdint>

struct Vdec3Instance;

// OutputFormatCode: bits 0-2 bytes per output pixel, bits 8-10 the pixel format.
enum Vdec3Format : uint32_t {
  kVdec3FormatNone = 0,    // no converter: frames decode, nothing is written
  kVdec3FormatYuy2 = 1,    // packed 4:2:2: Y0 Cb Y1 Cr, chroma rows used for two picture rows
  kVdec3FormatRgb32 = 2,   // B, G, R, 0 bytes per pixel (little-endian 0x00RRGGBB)
  kVdec3FormatRgb24 = 3,   // B, G, R bytes per pixel
  kVdec3FormatRgb565 = 4,  // 16-bit words RRRRRGGGGGGBBBBB
  kVdec3FormatRgb555 = 5,  // 16-bit words 0RRRRRGGGGGBBBBB
  kVdec3FormatPlanar = 6,  // 4:2:0: luma plane, then Cb, then Cr, chroma at half pitch and height
};

constexpr uint32_t Vdec3OutputFormatCode(Vdec3Format format, uint32_t bytes_per_pixel) {
  return (static_cast<uint32_t>(format) << 8) | (bytes_per_pixel & 7);
}
constexpr Vdec3Format Vdec3FormatOf(uint32_t code) { return static_cast<Vdec3Format>((code >> 8) & 7); }
constexpr uint32_t kVdec3PlanarCode = 0x601;  // what the engine asks for

// Flags of vdec3_decode.
constexpr uint32_t kVdec3NoPostFilter = 1;      // output the unfiltered picture (the engine's fast flag)
constexpr uint32_t kVdec3InternalLayout = 2;    // copy the picture in the decoder's own plane layout

// The RGB formats use full-range ITU-R BT.601 (the JPEG matrix), so a grey picture (Cb = Cr = 128)
// converts to R = G = B = Y, each 4:2:0 chroma sample covering its 2x2 luma samples:
//   R = Y + 1.402 (Cr - 128), G = Y - 0.344136 (Cb - 128) - 0.714136 (Cr - 128), B = Y + 1.772 (Cb - 128).
// The 16-bit formats keep the top bits of each channel.

// Largest picture: 255 macroblocks in each direction.
constexpr int kVdec3MaxDimension = 255 * 16;
// Largest frame: the 18-bit length field of the first word.
constexpr uint32_t kVdec3MaxFrameBytes = 0x3FFFC;

// Bytes a caller must supply to vdec3_create as its memory for a picture of this size (0 for a
// size the decoder refuses).
size_t vdec3_memory_size(int width, int height);
// Bytes of the scratch picture vdec3_redisplay needs for this size.
size_t vdec3_scratch_size(int width, int height);
// Bytes vdec3_decode writes with kVdec3InternalLayout.
size_t vdec3_internal_picture_size(int width, int height);

// 1: an instance for width x height (1..4080 each), decoding into a picture rounded up to
// multiples of 16. memory: null to let the decoder allocate, or at least vdec3_memory_size bytes
// that stay owned by the caller. Returns null on a refused size or when memory runs out.
Vdec3Instance* vdec3_create(int width, int height, void* memory);

// 2: output rows of `pitch` bytes (negative: the picture is written bottom-up from the buffer's
// last row), in the format of `format_code`. Returns the instance.
Vdec3Instance* vdec3_set_output(Vdec3Instance* instance, int32_t pitch, uint32_t format_code);

// 3: decode one frame, whose length the frame's first word gives (the caller makes sure that many
// bytes are readable). output: null to decode without writing a picture. Returns the frame's
// length in bytes, 8 for a flat frame, or 0 when the first word is not a frame word (bit 0 clear or
// bit 24 set, or a length below 8); then nothing changes.
uint32_t vdec3_decode(Vdec3Instance* instance, const uint8_t* frame, uint8_t* output, uint32_t flags);

// 4: post-filter the last decoded picture into scratch (null: the decoder's own spare picture)
// and convert it into output (nothing when output is null).
void vdec3_redisplay(Vdec3Instance* instance, uint8_t* scratch, uint8_t* output);

// 5: free what the decoder allocated.
void vdec3_destroy(Vdec3Instance* instance);

struct Vdec3EntryTable {
  Vdec3Instance* (*create)(int width, int height, void* memory);
  Vdec3Instance* (*set_output)(Vdec3Instance* instance, int32_t pitch, uint32_t format_code);
  uint32_t (*decode)(Vdec3Instance* instance, const uint8_t* frame, uint8_t* output, uint32_t flags);
  void (*redisplay)(Vdec3Instance* instance, uint8_t* scratch, uint8_t* output);
  void (*destroy)(Vdec3Instance* instance);
};
const Vdec3EntryTable& vdec3_entry_table();

// Which implementation an instance runs. The processor decides (SSE2 when it has it); the
// environment variable KESTREL_VDEC3_IMPL=c or =sse2, read at every create, forces one.
enum class Vdec3Implementation { kPortable, kSse2 };
Vdec3Implementation vdec3_implementation(const Vdec3Instance* instance);
