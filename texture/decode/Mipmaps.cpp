#include "decode/Mipmaps.h"

#include "decode/VectorUnits.h"

#include <algorithm>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace Mipmaps {

namespace {

bool powerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

#ifdef __SSE2__
// Four output pixels of four bytes from eight pixels of two rows, in 16-bit
// sums: the same rounded means as the loop below, three times as fast.
int halveRgbaRow(const std::uint8_t* top, const std::uint8_t* bottom, int halfWidth,
                 std::uint8_t* o) {
    const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2);
    int x = 0;
    for (; x + 4 <= halfWidth; x += 4) {
        const __m128i t0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 8 * x));
        const __m128i t1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 8 * x + 16));
        const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 8 * x));
        const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 8 * x + 16));
        // Column sums of pixels 0 and 1, 2 and 3, 4 and 5, 6 and 7.
        const __m128i s01 = _mm_add_epi16(_mm_unpacklo_epi8(t0, zero), _mm_unpacklo_epi8(b0, zero));
        const __m128i s23 = _mm_add_epi16(_mm_unpackhi_epi8(t0, zero), _mm_unpackhi_epi8(b0, zero));
        const __m128i s45 = _mm_add_epi16(_mm_unpacklo_epi8(t1, zero), _mm_unpacklo_epi8(b1, zero));
        const __m128i s67 = _mm_add_epi16(_mm_unpackhi_epi8(t1, zero), _mm_unpackhi_epi8(b1, zero));
        // Neighbouring columns added: output pixels 0 and 1, then 2 and 3.
        const __m128i q01 =
            _mm_add_epi16(_mm_unpacklo_epi64(s01, s23), _mm_unpackhi_epi64(s01, s23));
        const __m128i q23 =
            _mm_add_epi16(_mm_unpacklo_epi64(s45, s67), _mm_unpackhi_epi64(s45, s67));
        const __m128i m01 = _mm_srli_epi16(_mm_add_epi16(q01, two), 2);
        const __m128i m23 = _mm_srli_epi16(_mm_add_epi16(q23, two), 2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 4 * x), _mm_packus_epi16(m01, m23));
    }
    return x;
}
#endif

#if defined(__x86_64__) || defined(__i386__)
// The same eight output pixels at a time, for processors with AVX2.
__attribute__((target("avx2"))) int halveRgbaRowAvx2(const std::uint8_t* top,
                                                     const std::uint8_t* bottom, int halfWidth,
                                                     std::uint8_t* o) {
    const __m256i zero = _mm256_setzero_si256(), two = _mm256_set1_epi16(2);
    int x = 0;
    for (; x + 8 <= halfWidth; x += 8) {
        __m256i means[2];
        for (int half = 0; half < 2; ++half) {
            const __m256i t =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + 8 * x + 32 * half));
            const __m256i b =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + 8 * x + 32 * half));
            // Per 128-bit lane, as the SSE2 loop: column sums, then
            // neighbouring columns added.
            const __m256i lo =
                _mm256_add_epi16(_mm256_unpacklo_epi8(t, zero), _mm256_unpacklo_epi8(b, zero));
            const __m256i hi =
                _mm256_add_epi16(_mm256_unpackhi_epi8(t, zero), _mm256_unpackhi_epi8(b, zero));
            const __m256i q =
                _mm256_add_epi16(_mm256_unpacklo_epi64(lo, hi), _mm256_unpackhi_epi64(lo, hi));
            means[half] = _mm256_srli_epi16(_mm256_add_epi16(q, two), 2);
        }
        // The packing interleaves the lanes' halves: put them in order.
        const __m256i packed = _mm256_packus_epi16(means[0], means[1]);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 4 * x),
                            _mm256_permute4x64_epi64(packed, 0xD8));
    }
    return x;
}
#endif

// Both sides above 1: each output byte is the rounded mean of a 2 x 2 block.
void halve2d(const std::uint8_t* in, int width, int height, int bpp, std::uint8_t* out) {
    const std::size_t row = static_cast<std::size_t>(width) * bpp;
    const int halfWidth = width / 2, halfHeight = height / 2;
    for (int y = 0; y < halfHeight; ++y) {
        const std::uint8_t* top = in + 2 * y * row;
        halveRows(top, top + row, width, bpp, out + static_cast<std::size_t>(y) * halfWidth * bpp);
    }
}

// One side is 1: neighbouring pixel pairs along the other side are averaged.
void halve1d(const std::uint8_t* in, int length, int bpp, std::uint8_t* out) {
    for (int i = 0; i < length / 2; ++i) {
        for (int c = 0; c < bpp; ++c)
            out[c] = static_cast<std::uint8_t>((in[c] + in[bpp + c]) / 2);
        in += 2 * bpp;
        out += bpp;
    }
}

} // namespace

void halveRows(const std::uint8_t* top, const std::uint8_t* bottom, int width, int bpp,
               std::uint8_t* o) {
    const int halfWidth = width / 2;
    int x = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (bpp == 4 && VectorUnits::hasAvx2()) {
        x = halveRgbaRowAvx2(top, bottom, halfWidth, o);
        top += 8 * x;
        bottom += 8 * x;
        o += 4 * x;
    }
#endif
#ifdef __SSE2__
    if (bpp == 4) {
        const int more = halveRgbaRow(top, bottom, halfWidth - x, o);
        x += more;
        top += 8 * more;
        bottom += 8 * more;
        o += 4 * more;
    }
#endif
    for (; x < halfWidth; ++x) {
        for (int c = 0; c < bpp; ++c) {
            const int sum = top[c] + top[bpp + c] + bottom[c] + bottom[bpp + c];
            o[c] = static_cast<std::uint8_t>((sum + 2) / 4);
        }
        top += 2 * bpp;
        bottom += 2 * bpp;
        o += bpp;
    }
}

bool buildable(int width, int height) {
    return powerOfTwo(width) && powerOfTwo(height);
}

int levelsBelow(int width, int height) {
    int levels = 0;
    while (width > 1 || height > 1) {
        width = std::max(1, width / 2);
        height = std::max(1, height / 2);
        ++levels;
    }
    return levels;
}

std::size_t bytesBelow(int width, int height, int bytesPerPixel) {
    std::size_t bytes = 0;
    while (width > 1 || height > 1) {
        width = std::max(1, width / 2);
        height = std::max(1, height / 2);
        bytes += static_cast<std::size_t>(width) * height * bytesPerPixel;
    }
    return bytes;
}

void build(const std::uint8_t* level0, int width, int height, int bytesPerPixel,
           std::uint8_t* out) {
    const std::uint8_t* in = level0;
    while (width > 1 || height > 1) {
        if (width > 1 && height > 1)
            halve2d(in, width, height, bytesPerPixel, out);
        else
            halve1d(in, std::max(width, height), bytesPerPixel, out);
        width = std::max(1, width / 2);
        height = std::max(1, height / 2);
        in = out;
        out += static_cast<std::size_t>(width) * height * bytesPerPixel;
    }
}

} // namespace Mipmaps
