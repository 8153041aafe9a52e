// SSE2 row kernels: 16 pixels a step for YUY2, 8 for RGB. The RGB arithmetic pairs each luma
// term with a chroma term in one pmaddwd, so every sum is the portable 32-bit sum exactly.
#include <cstring>

#include "engine/picture_copy_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace kestrel::engine {
namespace {

void Yuy2Row(uint8_t* dst, const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width) {
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i yy = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
        const __m128i uu = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2));
        const __m128i vv = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2));
        const __m128i uv = _mm_unpacklo_epi8(uu, vv);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * x), _mm_unpacklo_epi8(yy, uv));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * x + 16), _mm_unpackhi_epi8(yy, uv));
    }
    PortablePictureKernels().yuy2(dst + 2 * x, y + x, u + x / 2, v + x / 2, width - x);
}

// Two 16-bit factors as the (low, high) pair of each 32-bit lane.
inline __m128i Pair(int32_t low, int32_t high) {
    return _mm_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(high) << 16 | (static_cast<uint32_t>(low) & 0xFFFF)));
}

// Eight pixels as B G R 0, in two registers of four pixels.
inline void Convert8(const uint8_t* y, const uint8_t* u, const uint8_t* v, __m128i& lo, __m128i& hi) {
    const __m128i zero = _mm_setzero_si128();
    int32_t u4, v4;
    std::memcpy(&u4, u, 4);
    std::memcpy(&v4, v, 4);
    const __m128i luma = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y)), zero),
                                       _mm_set1_epi16(16));
    __m128i cb = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(u4), zero), _mm_set1_epi16(128));
    __m128i cr = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(v4), zero), _mm_set1_epi16(128));
    cb = _mm_unpacklo_epi16(cb, cb);  // one chroma sample for each pixel pair
    cr = _mm_unpacklo_epi16(cr, cr);

    const __m128i red = Pair(kLumaFactor, kRedFromV), blue = Pair(kLumaFactor, kBlueFromU);
    const __m128i greenU = Pair(kLumaFactor, -kGreenFromU), greenV = Pair(-kGreenFromV, 0);
    const __m128i yvLo = _mm_unpacklo_epi16(luma, cr), yvHi = _mm_unpackhi_epi16(luma, cr);
    const __m128i yuLo = _mm_unpacklo_epi16(luma, cb), yuHi = _mm_unpackhi_epi16(luma, cb);
    const __m128i vLo = _mm_unpacklo_epi16(cr, zero), vHi = _mm_unpackhi_epi16(cr, zero);

    const __m128i r = _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(yvLo, red), kRgbShift),
                                      _mm_srai_epi32(_mm_madd_epi16(yvHi, red), kRgbShift));
    const __m128i g = _mm_packs_epi32(
        _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(yuLo, greenU), _mm_madd_epi16(vLo, greenV)), kRgbShift),
        _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(yuHi, greenU), _mm_madd_epi16(vHi, greenV)), kRgbShift));
    const __m128i b = _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(yuLo, blue), kRgbShift),
                                      _mm_srai_epi32(_mm_madd_epi16(yuHi, blue), kRgbShift));
    // Saturating packs clamp to 0..255 as the portable kernels do.
    const __m128i bg = _mm_unpacklo_epi8(_mm_packus_epi16(b, b), _mm_packus_epi16(g, g));
    const __m128i r0 = _mm_unpacklo_epi8(_mm_packus_epi16(r, r), zero);
    lo = _mm_unpacklo_epi16(bg, r0);
    hi = _mm_unpackhi_epi16(bg, r0);
}

void Rgb32Row(uint8_t* dst, const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width) {
    uint32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        __m128i lo, hi;
        Convert8(y + x, u + x / 2, v + x / 2, lo, hi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x + 16), hi);
    }
    PortablePictureKernels().rgb32(dst + 4 * x, y + x, u + x / 2, v + x / 2, width - x);
}

void Rgb24Row(uint8_t* dst, const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width) {
    uint32_t x = 0;
    alignas(16) uint8_t quad[32];
    for (; x + 8 <= width; x += 8) {
        __m128i lo, hi;
        Convert8(y + x, u + x / 2, v + x / 2, lo, hi);
        _mm_store_si128(reinterpret_cast<__m128i*>(quad), lo);
        _mm_store_si128(reinterpret_cast<__m128i*>(quad + 16), hi);
        for (int i = 0; i < 8; ++i) std::memcpy(dst + 3 * (x + i), quad + 4 * i, 3);
    }
    PortablePictureKernels().rgb24(dst + 3 * x, y + x, u + x / 2, v + x / 2, width - x);
}

}  // namespace

const PictureKernels* Sse2PictureKernels() {
    static const PictureKernels kSse2{"sse2", Yuy2Row, PortablePictureKernels().rgb565, Rgb24Row, Rgb32Row};
    return &kSse2;
}

}  // namespace kestrel::engine

#else

namespace kestrel::engine {
const PictureKernels* Sse2PictureKernels() { return nullptr; }
}  // namespace kestrel::engine

#endif
