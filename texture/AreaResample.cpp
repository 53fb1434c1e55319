#include "AreaResample.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int kWeightBits = 14;
constexpr int kWeightOne = 1 << kWeightBits;
// The vertical pass keeps 6 fractional bits (14 - 8) so that its sums fit
// in 16 bits; the horizontal pass removes the remaining 20 bits.
constexpr int kVerticalShift = 8;
constexpr int kFinalShift = 2 * kWeightBits - kVerticalShift;

// Combines source rows first .. first + n - 1 with the given weights into
// one row of 16-bit sums.
void verticalRow(const std::uint8_t* src, std::size_t stride, int first, int n,
                 const std::int16_t* w, int length, std::int16_t* out) {
    int x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i round = _mm_set1_epi32(1 << (kVerticalShift - 1));
    for (; x + 16 <= length; x += 16) {
        __m128i acc0 = zero, acc1 = zero, acc2 = zero, acc3 = zero;
        for (int t = 0; t < n; t += 2) {
            const std::uint8_t* ra = src + static_cast<std::size_t>(first + t) * stride + x;
            const bool pair = t + 1 < n;
            const std::uint8_t* rb = pair ? ra + stride : ra;
            const std::uint32_t wa = static_cast<std::uint16_t>(w[t]);
            const std::uint32_t wb = pair ? static_cast<std::uint16_t>(w[t + 1]) : 0u;
            const __m128i weights = _mm_set1_epi32(static_cast<int>(wa | (wb << 16)));
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ra));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rb));
            const __m128i aLo = _mm_unpacklo_epi8(a, zero), aHi = _mm_unpackhi_epi8(a, zero);
            const __m128i bLo = _mm_unpacklo_epi8(b, zero), bHi = _mm_unpackhi_epi8(b, zero);
            acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi16(aLo, bLo), weights));
            acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi16(aLo, bLo), weights));
            acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi16(aHi, bHi), weights));
            acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi16(aHi, bHi), weights));
        }
        acc0 = _mm_srai_epi32(_mm_add_epi32(acc0, round), kVerticalShift);
        acc1 = _mm_srai_epi32(_mm_add_epi32(acc1, round), kVerticalShift);
        acc2 = _mm_srai_epi32(_mm_add_epi32(acc2, round), kVerticalShift);
        acc3 = _mm_srai_epi32(_mm_add_epi32(acc3, round), kVerticalShift);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packs_epi32(acc0, acc1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 8), _mm_packs_epi32(acc2, acc3));
    }
#endif
    for (; x < length; ++x) {
        std::int32_t sum = 0;
        for (int t = 0; t < n; ++t)
            sum += w[t] * src[static_cast<std::size_t>(first + t) * stride + x];
        out[x] = static_cast<std::int16_t>((sum + (1 << (kVerticalShift - 1))) >> kVerticalShift);
    }
}

// Combines the 16-bit sums of one row into dw output pixels.
void horizontalRow(const std::int16_t* row, const AreaResampler::AxisTaps& taps, int dw,
                   std::uint8_t* out) {
    for (int x = 0; x < dw; ++x) {
        const int n = taps.count[x];
        const std::int16_t* w = taps.weights.data() + taps.offset[x];
        const std::int16_t* p = row + static_cast<std::size_t>(taps.first[x]) * 4;
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        __m128i acc = zero;
        for (int t = 0; t < n; t += 2) {
            const bool pair = t + 1 < n;
            const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + t * 4));
            const __m128i b =
                pair ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + (t + 1) * 4)) : zero;
            const std::uint32_t wa = static_cast<std::uint16_t>(w[t]);
            const std::uint32_t wb = pair ? static_cast<std::uint16_t>(w[t + 1]) : 0u;
            const __m128i weights = _mm_set1_epi32(static_cast<int>(wa | (wb << 16)));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), weights));
        }
        acc = _mm_srai_epi32(_mm_add_epi32(acc, _mm_set1_epi32(1 << (kFinalShift - 1))),
                             kFinalShift);
        const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(acc, acc), zero);
        const int value = _mm_cvtsi128_si32(packed);
        std::uint8_t* o = out + static_cast<std::size_t>(x) * 4;
        o[0] = static_cast<std::uint8_t>(value);
        o[1] = static_cast<std::uint8_t>(value >> 8);
        o[2] = static_cast<std::uint8_t>(value >> 16);
        o[3] = static_cast<std::uint8_t>(value >> 24);
#else
        for (int c = 0; c < 4; ++c) {
            std::int32_t sum = 0;
            for (int t = 0; t < n; ++t)
                sum += w[t] * p[t * 4 + c];
            const int value = (sum + (1 << (kFinalShift - 1))) >> kFinalShift;
            out[static_cast<std::size_t>(x) * 4 + c] =
                static_cast<std::uint8_t>(std::clamp(value, 0, 255));
        }
#endif
    }
}

} // namespace

void AreaResampler::computeTaps(int sourceSize, int destinationSize, AxisTaps& taps) {
    taps.first.assign(destinationSize, 0);
    taps.count.assign(destinationSize, 0);
    taps.offset.assign(destinationSize, 0);
    taps.weights.clear();
    taps.maxCount = 0;
    std::vector<double> exact;
    for (int i = 0; i < destinationSize; ++i) {
        exact.clear();
        int first = 0;
        if (sourceSize > destinationSize) {
            // Shrinking: average the source pixels under the destination pixel,
            // each by the share of it that they cover.
            const double scale = static_cast<double>(sourceSize) / destinationSize;
            const double a = i * scale, b = (i + 1) * scale;
            first = static_cast<int>(std::floor(a));
            const int end = std::min(sourceSize, static_cast<int>(std::ceil(b)));
            for (int j = first; j < end; ++j) {
                const double overlap = std::min(b, j + 1.0) - std::max(a, static_cast<double>(j));
                exact.push_back(std::max(0.0, overlap) / scale);
            }
        } else {
            // Growing (or equal): interpolate linearly between pixel centres.
            const double scale = static_cast<double>(sourceSize) / destinationSize;
            double centre = (i + 0.5) * scale - 0.5;
            centre = std::clamp(centre, 0.0, static_cast<double>(sourceSize - 1));
            first = static_cast<int>(std::floor(centre));
            const double fraction = centre - first;
            exact.push_back(1.0 - fraction);
            if (first + 1 < sourceSize)
                exact.push_back(fraction);
        }
        // Fixed point, with the rounding error given to the largest weight so
        // that the weights add up to exactly one.
        std::vector<std::int16_t> fixed(exact.size());
        int sum = 0, largest = 0;
        for (std::size_t t = 0; t < exact.size(); ++t) {
            fixed[t] = static_cast<std::int16_t>(std::lround(exact[t] * kWeightOne));
            sum += fixed[t];
            if (fixed[t] > fixed[largest])
                largest = static_cast<int>(t);
        }
        fixed[largest] = static_cast<std::int16_t>(fixed[largest] + (kWeightOne - sum));
        // Leading and trailing zero weights cost time and add nothing.
        std::size_t lo = 0, hi = fixed.size();
        while (hi - lo > 1 && fixed[lo] == 0)
            ++lo;
        while (hi - lo > 1 && fixed[hi - 1] == 0)
            --hi;
        taps.first[i] = first + static_cast<int>(lo);
        taps.count[i] = static_cast<int>(hi - lo);
        taps.offset[i] = static_cast<int>(taps.weights.size());
        taps.weights.insert(taps.weights.end(), fixed.begin() + lo, fixed.begin() + hi);
        taps.maxCount = std::max(taps.maxCount, taps.count[i]);
    }
}

void AreaResampler::resample(const std::uint8_t* src, int sw, int sh, std::size_t srcStride,
                             std::uint8_t* dst, int dw, int dh) {
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0)
        return;
    if (horizontalFrom != sw || horizontalTo != dw) {
        computeTaps(sw, dw, horizontal);
        horizontalFrom = sw;
        horizontalTo = dw;
    }
    if (verticalFrom != sh || verticalTo != dh) {
        computeTaps(sh, dh, vertical);
        verticalFrom = sh;
        verticalTo = dh;
    }
    const int length = sw * 4;
    if (rowSums.size() < static_cast<std::size_t>(length))
        rowSums.resize(length);
    const std::size_t dstStride = static_cast<std::size_t>(dw) * 4;
    for (int y = 0; y < dh; ++y) {
        verticalRow(src, srcStride, vertical.first[y], vertical.count[y],
                    vertical.weights.data() + vertical.offset[y], length, rowSums.data());
        horizontalRow(rowSums.data(), horizontal, dw, dst + (dh - 1 - y) * dstStride);
    }
}
