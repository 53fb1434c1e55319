#include "decode/AreaResampler.h"

#include "decode/Mipmaps.h"
#include "decode/VectorUnits.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <map>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
// Functions for processors with AVX2, chosen when the program runs.
#define ORBIVUE_AVX2 __attribute__((target("avx2")))
#define ORBIVUE_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi")))
#endif

namespace {

constexpr int kWeightBits = 14;
constexpr int kWeightOne = 1 << kWeightBits;
// The vertical pass keeps 6 fractional bits (14 - 8) so that its sums fit
// in 16 bits; the horizontal pass removes the remaining 20 bits.
constexpr int kVerticalShift = 8;
constexpr int kFinalShift = 2 * kWeightBits - kVerticalShift;

// The weights of one destination pixel as exact shares, before fixed point.
void exactWeights(int i, int sourceSize, int destinationSize, int& first,
                  std::vector<double>& exact) {
    exact.clear();
    const double scale = static_cast<double>(sourceSize) / destinationSize;
    if (sourceSize > destinationSize) {
        // Shrinking: average the source pixels under the destination pixel,
        // each by the share of it that it covers.
        const double a = i * scale, b = (i + 1) * scale;
        first = static_cast<int>(std::floor(a));
        const int end = std::min(sourceSize, static_cast<int>(std::ceil(b)));
        for (int j = first; j < end; ++j) {
            const double overlap = std::min(b, j + 1.0) - std::max(a, static_cast<double>(j));
            exact.push_back(std::max(0.0, overlap) / scale);
        }
    } else {
        // Growing (or equal): interpolate linearly between pixel centres.
        const double centre =
            std::clamp((i + 0.5) * scale - 0.5, 0.0, static_cast<double>(sourceSize - 1));
        first = static_cast<int>(std::floor(centre));
        const double fraction = centre - first;
        exact.push_back(1.0 - fraction);
        if (first + 1 < sourceSize)
            exact.push_back(fraction);
    }
}

#if defined(__SSE2__)
inline __m128i pairWeights(std::uint32_t pair) {
    return _mm_set1_epi32(static_cast<int>(pair));
}

// Adds two source rows, 16 bytes from `x` on, weighted, to four accumulators.
inline void addRowPair(const std::uint8_t* ra, const std::uint8_t* rb, __m128i weights,
                       __m128i acc[4]) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ra));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rb));
    const __m128i aLo = _mm_unpacklo_epi8(a, zero), aHi = _mm_unpackhi_epi8(a, zero);
    const __m128i bLo = _mm_unpacklo_epi8(b, zero), bHi = _mm_unpackhi_epi8(b, zero);
    acc[0] = _mm_add_epi32(acc[0], _mm_madd_epi16(_mm_unpacklo_epi16(aLo, bLo), weights));
    acc[1] = _mm_add_epi32(acc[1], _mm_madd_epi16(_mm_unpackhi_epi16(aLo, bLo), weights));
    acc[2] = _mm_add_epi32(acc[2], _mm_madd_epi16(_mm_unpacklo_epi16(aHi, bHi), weights));
    acc[3] = _mm_add_epi32(acc[3], _mm_madd_epi16(_mm_unpackhi_epi16(aHi, bHi), weights));
}

inline void storeRowSums(__m128i acc[4], std::int16_t* out) {
    const __m128i round = _mm_set1_epi32(1 << (kVerticalShift - 1));
    for (int i = 0; i < 4; ++i)
        acc[i] = _mm_srai_epi32(_mm_add_epi32(acc[i], round), kVerticalShift);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(acc[0], acc[1]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_packs_epi32(acc[2], acc[3]));
}

// The weighted sum of `Pairs` pairs of source rows; Pairs 0 means any count.
template <int Pairs>
int verticalRowSse2(const std::uint8_t* const* rows, const std::uint32_t* pairs, int pairCount,
                    int length, std::int16_t* out) {
    const int count = Pairs > 0 ? Pairs : pairCount;
    __m128i weights[Pairs > 0 ? Pairs : 1];
    for (int p = 0; p < Pairs; ++p)
        weights[p] = pairWeights(pairs[p]);
    int x = 0;
    for (; x + 16 <= length; x += 16) {
        __m128i acc[4] = {_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128(),
                          _mm_setzero_si128()};
        for (int p = 0; p < count; ++p)
            addRowPair(rows[2 * p] + x, rows[2 * p + 1] + x,
                       Pairs > 0 ? weights[p] : pairWeights(pairs[p]), acc);
        storeRowSums(acc, out + x);
    }
    return x;
}
#endif

#if defined(__x86_64__) || defined(__i386__)

// The vertical pass, 16 source bytes per step: each byte widened to 16 bits
// as it is loaded, neighbouring rows' values paired for one multiply-add.
// `Pairs` pairs of rows, or with 0 pairCount of them.
template <int Pairs>
ORBIVUE_AVX2 void verticalRowAvx2(const std::uint8_t* const* rows, const std::uint32_t* pairs,
                                  int pairCount, int length, std::int16_t* out) {
    constexpr int kHeld = Pairs > 0 ? Pairs : 1;
    const int count = Pairs > 0 ? Pairs : pairCount;
    __m256i weights[kHeld];
    const std::uint8_t* a[kHeld];
    const std::uint8_t* b[kHeld];
    for (int p = 0; p < (Pairs > 0 ? Pairs : 0); ++p) {
        weights[p] = _mm256_set1_epi32(static_cast<int>(pairs[p]));
        a[p] = rows[2 * p];
        b[p] = rows[2 * p + 1];
    }
    const __m256i round = _mm256_set1_epi32(1 << (kVerticalShift - 1));
    for (int x = 0; x + 16 <= length; x += 16) {
        __m256i lo = round, hi = round;
        for (int p = 0; p < count; ++p) {
            const __m256i w =
                Pairs > 0 ? weights[p] : _mm256_set1_epi32(static_cast<int>(pairs[p]));
            const std::uint8_t* ra = Pairs > 0 ? a[p] : rows[2 * p];
            const std::uint8_t* rb = Pairs > 0 ? b[p] : rows[2 * p + 1];
            const __m256i va =
                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ra + x)));
            const __m256i vb =
                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rb + x)));
            lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(va, vb), w));
            hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(va, vb), w));
        }
        // Within each 128-bit lane the low and high halves are in order, so
        // packing them gives the 16 sums in order.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                            _mm256_packs_epi32(_mm256_srai_epi32(lo, kVerticalShift),
                                               _mm256_srai_epi32(hi, kVerticalShift)));
    }
}

// The sums of one destination pixel's first group of four source pixels:
// red, green, blue and alpha of pixels 0 and 1 in the low lane, of pixels 2
// and 3 in the high one.
// With three channels a source pixel has no alpha: the pairs of the two
// pixels of each lane are loaded 12 bytes apart, and the alpha sums are 0.
template <int Channels>
ORBIVUE_AVX2 inline __m256i groupSums(const std::int16_t* row, int first,
                                      const std::int16_t* weights, __m256i order) {
    const std::int16_t* at = row + static_cast<std::size_t>(first) * Channels;
    const __m256i pixels =
        Channels == 4
            ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at))
            : _mm256_inserti128_si256(
                  _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at))),
                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 6)), 1);
    return _mm256_madd_epi16(_mm256_shuffle_epi8(pixels, order),
                             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights)));
}

// Destination pixels i and i + 1: their sums side by side, rounded and
// shifted.
template <int Groups, int Channels>
ORBIVUE_AVX2 inline __m256i twoPixels(const std::int16_t* row, const AreaResampler::GroupedTaps& g,
                                      std::size_t span, int i, __m256i order, __m256i round) {
    const std::int16_t* w = g.weights.data() + static_cast<std::size_t>(i) * span;
    __m256i a = groupSums<Channels>(row, g.first[i], w, order);
    __m256i b = groupSums<Channels>(row, g.first[i + 1], w + span, order);
    for (int k = 1; k < (Groups > 0 ? Groups : g.groups); ++k) {
        a = _mm256_add_epi32(a, groupSums<Channels>(row, g.first[i] + 4 * k, w + 16 * k, order));
        b = _mm256_add_epi32(
            b, groupSums<Channels>(row, g.first[i + 1] + 4 * k, w + span + 16 * k, order));
    }
    const __m256i sums = _mm256_add_epi32(_mm256_permute2x128_si256(a, b, 0x20),
                                          _mm256_permute2x128_si256(a, b, 0x31));
    return _mm256_srai_epi32(_mm256_add_epi32(sums, round), kFinalShift);
}

// The horizontal pass, eight destination pixels per step; `Groups` groups
// of four source pixels per destination pixel, or with 0 any number;
// `Channels` 16-bit sums per source pixel, 4, or 3 without alpha.
template <int Groups, int Channels>
ORBIVUE_AVX2 int horizontalRowAvx2(const std::int16_t* row, const AreaResampler::GroupedTaps& g,
                                   int x, int dw, bool opaque, std::uint8_t* out) {
    // Words 0 4 1 5 2 6 3 7 of each lane, or 0 3 1 4 2 5 and zeros: the
    // channels of two pixels paired.
    const __m256i order =
        Channels == 4 ? _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1,
                                         8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15)
                      : _mm256_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1, 0, 1,
                                         6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1);
    const __m256i round = _mm256_set1_epi32(1 << (kFinalShift - 1));
    const __m256i inOrder = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m256i alpha = _mm256_set1_epi32(opaque ? static_cast<int>(0xFF000000u) : 0);
    const std::size_t span = static_cast<std::size_t>(g.groups) * 16;
    for (; x + 8 <= dw; x += 8) {
        // Lanes hold pixels 0 2 4 6 and 1 3 5 7 after the packing.
        const __m256i q0 =
            _mm256_packs_epi32(twoPixels<Groups, Channels>(row, g, span, x, order, round),
                               twoPixels<Groups, Channels>(row, g, span, x + 2, order, round));
        const __m256i q1 =
            _mm256_packs_epi32(twoPixels<Groups, Channels>(row, g, span, x + 4, order, round),
                               twoPixels<Groups, Channels>(row, g, span, x + 6, order, round));
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(q0, q1), inOrder);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + static_cast<std::size_t>(x) * 4),
                            _mm256_or_si256(bytes, alpha));
    }
    return x;
}

// The zeroing forms of the AVX-512 intrinsics, over every lane: their plain
// forms start from a vector the compiler takes as unset.
constexpr __mmask16 kAll = 0xFFFF;
constexpr __mmask64 kAllBytes = ~__mmask64(0);

// Where each byte of sixteen RGBA pixels lies after the packing of the three
// runs of a step (lane L holds values 4L to 4L + 3 of the first run, of the
// second, then of the third twice); the alpha bytes take any.
constexpr std::array<std::uint8_t, 64> kToPixels = [] {
    std::array<std::uint8_t, 64> at{};
    for (int o = 0; o < 64; ++o) {
        if (o % 4 == 3)
            continue;
        const int value = o / 4 * 3 + o % 4, run = value / 16, i = value % 16;
        at[o] = static_cast<std::uint8_t>(16 * (i / 4) + 4 * run + i % 4);
    }
    return at;
}();

// One run of sixteen channel values, rounded and shifted: its 64 source sums
// in two registers, each pair of taps permuted side by side and multiplied by
// the pair weights of each value's pixel in one multiply-add.
template <int Pairs>
ORBIVUE_AVX512 inline __m512i windowRun(const std::int16_t* row,
                                        const AreaResampler::WindowedTaps& t, std::size_t run,
                                        __m512i spread, const __m512i* weights) {
    const std::int16_t* at = row + static_cast<std::size_t>(t.first[run]) * 3;
    const __m512i lo = _mm512_loadu_si512(at);
    const __m512i hi = _mm512_loadu_si512(at + 32);
    __m512i sum = _mm512_set1_epi32(1 << (kFinalShift - 1));
    for (int p = 0; p < Pairs; ++p) {
        const __m512i order =
            _mm512_loadu_si512(t.permutes.data() + t.shape[run * Pairs + p] * std::size_t(64));
        const __m512i w = _mm512_maskz_permutexvar_epi32(kAll, spread, weights[p]);
        sum = _mm512_add_epi32(sum, _mm512_madd_epi16(_mm512_permutex2var_epi8(lo, order, hi), w));
    }
    return _mm512_maskz_srai_epi32(kAll, sum, kFinalShift);
}

// The horizontal pass of three-byte rows by windows, sixteen destination
// pixels per step: no lane is spent on an alpha the rows do not have.
template <int Pairs>
ORBIVUE_AVX512 int horizontalRowAvx512(const std::int16_t* row,
                                       const AreaResampler::WindowedTaps& t, int dw,
                                       std::uint8_t* out) {
    // Value j of a step belongs to its pixel j / 3.
    const __m512i spread[3] = {
        _mm512_setr_epi32(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5),
        _mm512_setr_epi32(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10),
        _mm512_setr_epi32(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15)};
    const __m512i toPixels = _mm512_loadu_si512(kToPixels.data());
    const __m512i alpha = _mm512_set1_epi32(static_cast<int>(0xFF000000u));
    int x = 0;
    for (; x + 16 <= dw; x += 16) {
        const std::size_t step = static_cast<std::size_t>(x) / 16;
        __m512i weights[Pairs];
        for (int p = 0; p < Pairs; ++p)
            weights[p] = _mm512_loadu_si512(&t.weights[(step * Pairs + p) * 16]);
        const __m512i a = windowRun<Pairs>(row, t, step * 3, spread[0], weights);
        const __m512i b = windowRun<Pairs>(row, t, step * 3 + 1, spread[1], weights);
        const __m512i c = windowRun<Pairs>(row, t, step * 3 + 2, spread[2], weights);
        const __m512i bytes =
            _mm512_packus_epi16(_mm512_packs_epi32(a, b), _mm512_packs_epi32(c, c));
        _mm512_storeu_si512(
            out + static_cast<std::size_t>(x) * 4,
            _mm512_or_si512(_mm512_maskz_permutexvar_epi8(kAllBytes, toPixels, bytes), alpha));
    }
    return x;
}

#endif

using Kernel = AreaResampler::Kernel;

// Combines the source rows of one destination row into 16-bit sums.
void verticalRow(Kernel kernel, const std::uint8_t* const* rows, const std::int16_t* w,
                 const std::uint32_t* pairs, int taps, int length, std::int16_t* out) {
    int x = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (kernel == Kernel::Avx2 || kernel == Kernel::Avx512) {
        if (taps == 2)
            verticalRowAvx2<1>(rows, pairs, 1, length, out);
        else if (taps == 4)
            verticalRowAvx2<2>(rows, pairs, 2, length, out);
        else
            verticalRowAvx2<0>(rows, pairs, taps / 2, length, out);
        x = length / 16 * 16;
    }
#endif
#if defined(__SSE2__)
    if (kernel == Kernel::Sse2) {
        switch (taps) {
        case 2:
            x = verticalRowSse2<1>(rows, pairs, 1, length, out);
            break;
        case 4:
            x = verticalRowSse2<2>(rows, pairs, 2, length, out);
            break;
        default:
            x = verticalRowSse2<0>(rows, pairs, taps / 2, length, out);
            break;
        }
    }
#else
    (void)pairs;
#endif
    for (; x < length; ++x) {
        std::int32_t sum = 0;
        for (int t = 0; t < taps; ++t)
            sum += w[t] * rows[t][x];
        out[x] = static_cast<std::int16_t>((sum + (1 << (kVerticalShift - 1))) >> kVerticalShift);
    }
}

// Combines the 16-bit sums of one row into dw output pixels.
// Combines the 16-bit sums of one row into dw output pixels; `channels`
// sums per source pixel (three: no alpha, the output is opaque).
void horizontalRow(Kernel kernel, const std::int16_t* row, const AreaResampler::AxisTaps& h,
                   const AreaResampler::GroupedTaps& g, const AreaResampler::WindowedTaps& wt,
                   int dw, int channels, bool opaque, std::uint8_t* out) {
    opaque = opaque || channels == 3;
    const int taps = h.taps;
    int x = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (kernel == Kernel::Avx512 && channels == 3 && wt.usable)
        x = wt.pairs == 1 ? horizontalRowAvx512<1>(row, wt, dw, out)
                          : horizontalRowAvx512<2>(row, wt, dw, out);
    if (kernel == Kernel::Avx2 || kernel == Kernel::Avx512)
        x = channels == 3   ? (g.groups == 1   ? horizontalRowAvx2<1, 3>(row, g, x, dw, opaque, out)
                               : g.groups == 2 ? horizontalRowAvx2<2, 3>(row, g, x, dw, opaque, out)
                                               : horizontalRowAvx2<0, 3>(row, g, x, dw, opaque, out))
            : g.groups == 1 ? horizontalRowAvx2<1, 4>(row, g, x, dw, opaque, out)
            : g.groups == 2 ? horizontalRowAvx2<2, 4>(row, g, x, dw, opaque, out)
                            : horizontalRowAvx2<0, 4>(row, g, x, dw, opaque, out);
#else
    (void)g;
    (void)wt;
#endif
#if defined(__SSE2__)
    if (kernel == Kernel::Sse2) {
        const __m128i round = _mm_set1_epi32(1 << (kFinalShift - 1));
        const __m128i alpha = _mm_set1_epi32(opaque ? static_cast<int>(0xFF000000u) : 0);
        // Sums the taps of destination pixel i, two source pixels per step:
        // the 16 bytes of pixels j and j + 1 are interleaved channel by
        // channel (without alpha the fourth sum is of no use, and the alpha
        // is written over it).
        auto pixel = [&](int i) {
            const int* index = h.index.data() + static_cast<std::size_t>(i) * taps;
            const std::uint32_t* pairs = h.pairs.data() + static_cast<std::size_t>(i) * (taps / 2);
            const int pairCount = h.count[i] / 2;
            __m128i acc = _mm_setzero_si128();
            for (int p = 0; p < pairCount; ++p) {
                const __m128i a = _mm_loadl_epi64(
                    reinterpret_cast<const __m128i*>(row + index[2 * p] * channels));
                const __m128i b = _mm_loadl_epi64(
                    reinterpret_cast<const __m128i*>(row + index[2 * p + 1] * channels));
                acc = _mm_add_epi32(
                    acc, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), pairWeights(pairs[p])));
            }
            return _mm_srai_epi32(_mm_add_epi32(acc, round), kFinalShift);
        };
        for (; x + 2 <= dw; x += 2) {
            const __m128i packed = _mm_packs_epi32(pixel(x), pixel(x + 1));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + static_cast<std::size_t>(x) * 4),
                             _mm_or_si128(_mm_packus_epi16(packed, packed), alpha));
        }
    }
#endif
    for (; x < dw; ++x) {
        const int* index = h.index.data() + static_cast<std::size_t>(x) * taps;
        const std::int16_t* w = h.weights.data() + static_cast<std::size_t>(x) * taps;
        for (int c = 0; c < channels; ++c) {
            std::int32_t sum = 0;
            for (int t = 0; t < taps; ++t)
                sum += w[t] * row[index[t] * channels + c];
            const int value = (sum + (1 << (kFinalShift - 1))) >> kFinalShift;
            out[static_cast<std::size_t>(x) * 4 + c] =
                static_cast<std::uint8_t>(std::clamp(value, 0, 255));
        }
        if (opaque)
            out[static_cast<std::size_t>(x) * 4 + 3] = 255;
    }
}

Kernel fastestKernel() {
    if (VectorUnits::hasAvx512Vbmi())
        return Kernel::Avx512;
    if (VectorUnits::hasAvx2())
        return Kernel::Avx2;
#if defined(__SSE2__)
    return Kernel::Sse2;
#else
    return Kernel::Plain;
#endif
}

} // namespace

void AreaResampler::computeTaps(int sourceSize, int destinationSize, AxisTaps& taps) {
    std::vector<int> firsts(destinationSize);
    std::vector<std::vector<std::int16_t>> fixedWeights(destinationSize);
    std::vector<double> exact;
    int most = 1;
    for (int i = 0; i < destinationSize; ++i) {
        int first = 0;
        exactWeights(i, sourceSize, destinationSize, first, exact);
        // Fixed point, with the rounding error given to the largest weight so
        // that the weights add up to exactly one.
        std::vector<std::int16_t>& fixed = fixedWeights[i];
        fixed.resize(exact.size());
        int sum = 0, largest = 0;
        for (std::size_t t = 0; t < exact.size(); ++t) {
            fixed[t] = static_cast<std::int16_t>(std::lround(exact[t] * kWeightOne));
            sum += fixed[t];
            if (fixed[t] > fixed[largest])
                largest = static_cast<int>(t);
        }
        fixed[largest] = static_cast<std::int16_t>(fixed[largest] + (kWeightOne - sum));
        // Leading and trailing zero weights cost time and add nothing.
        while (fixed.size() > 1 && fixed.back() == 0)
            fixed.pop_back();
        while (fixed.size() > 1 && fixed.front() == 0) {
            fixed.erase(fixed.begin());
            ++first;
        }
        firsts[i] = first;
        most = std::max(most, static_cast<int>(fixed.size()));
    }
    taps.taps = (most + 1) / 2 * 2;
    const std::size_t total = static_cast<std::size_t>(destinationSize) * taps.taps;
    taps.count.assign(destinationSize, 0);
    taps.index.assign(total, 0);
    taps.weights.assign(total, 0);
    taps.pairs.assign(total / 2, 0);
    for (int i = 0; i < destinationSize; ++i) {
        const std::vector<std::int16_t>& fixed = fixedWeights[i];
        const std::size_t base = static_cast<std::size_t>(i) * taps.taps;
        taps.count[i] = (static_cast<int>(fixed.size()) + 1) / 2 * 2;
        for (int t = 0; t < taps.taps; ++t) {
            const bool real = t < static_cast<int>(fixed.size());
            // Padding taps read a valid pixel with weight zero.
            taps.index[base + t] = real ? firsts[i] + t : firsts[i];
            taps.weights[base + t] = real ? fixed[t] : 0;
        }
        for (int p = 0; p < taps.taps / 2; ++p) {
            taps.pairs[base / 2 + p] = static_cast<std::uint16_t>(taps.weights[base + 2 * p]) |
                                       (static_cast<std::uint32_t>(static_cast<std::uint16_t>(
                                            taps.weights[base + 2 * p + 1]))
                                        << 16);
        }
    }
}

bool AreaResampler::available(Kernel k) {
    switch (k) {
    case Kernel::Plain:
        return true;
    case Kernel::Sse2:
#if defined(__SSE2__)
        return true;
#else
        return false;
#endif
    case Kernel::Avx2:
        return VectorUnits::hasAvx2();
    case Kernel::Avx512:
        return VectorUnits::hasAvx512Vbmi();
    }
    return false;
}

AreaResampler::AreaResampler() : kernel(fastestKernel()) {}

void AreaResampler::useKernel(Kernel k) {
    kernel = available(k) ? k : fastestKernel();
}

void AreaResampler::groupTaps(const AxisTaps& taps, GroupedTaps& g) {
    const int size = static_cast<int>(taps.count.size());
    int most = 1;
    for (int i = 0; i < size; ++i)
        most = std::max(most, taps.count[i]);
    g.groups = (most + 3) / 4;
    const std::size_t span = static_cast<std::size_t>(g.groups) * 16;
    g.first.assign(size, 0);
    g.weights.assign(span * size, 0);
    for (int i = 0; i < size; ++i) {
        const std::size_t base = static_cast<std::size_t>(i) * taps.taps;
        g.first[i] = taps.index[base];
        std::int16_t* w = g.weights.data() + span * i;
        // Real taps are consecutive source pixels from the first on; the
        // padding ones weigh nothing wherever they point.
        for (int t = 0; t < taps.count[i]; ++t) {
            if (taps.weights[base + t] == 0)
                continue;
            const int at = taps.index[base + t] - g.first[i];
            const int group = at / 4, within = at % 4;
            for (int c = 0; c < 4; ++c)
                w[group * 16 + (within / 2) * 8 + c * 2 + within % 2] = taps.weights[base + t];
        }
    }
}

void AreaResampler::windowTaps(const AxisTaps& taps, WindowedTaps& wt) {
    constexpr int kWindow = 64; // 16-bit sums in two registers
    const int size = static_cast<int>(taps.count.size());
    const int steps = size / 16;
    const int pairs = taps.taps / 2;
    const std::size_t stride = static_cast<std::size_t>(taps.taps);
    wt.pairs = pairs;
    wt.usable = steps > 0 && pairs >= 1 && pairs <= 2;
    wt.first.assign(static_cast<std::size_t>(steps) * 3, 0);
    wt.shape.assign(static_cast<std::size_t>(steps) * 3 * pairs, 0);
    wt.weights.assign(static_cast<std::size_t>(steps) * pairs * 16, 0);
    wt.permutes.clear();
    std::map<std::array<std::uint8_t, 64>, std::uint16_t> shapes;
    for (int s = 0; s < steps && wt.usable; ++s) {
        for (int i = 0; i < 16; ++i)
            for (int p = 0; p < pairs; ++p)
                wt.weights[(static_cast<std::size_t>(s) * pairs + p) * 16 + i] =
                    taps.pairs[static_cast<std::size_t>(16 * s + i) * stride / 2 + p];
        for (int r = 0; r < 3 && wt.usable; ++r) {
            const std::size_t run = static_cast<std::size_t>(s) * 3 + r;
            auto pixelOf = [&](int d) {
                return static_cast<std::size_t>(16 * s + (16 * r + d) / 3);
            };
            int first = INT_MAX;
            for (int d = 0; d < 16; ++d)
                for (std::size_t t = 0; t < stride; ++t)
                    first = std::min(first, taps.index[pixelOf(d) * stride + t]);
            wt.first[run] = first;
            for (int p = 0; p < pairs && wt.usable; ++p) {
                // Byte indices of the 32 sums the pair's multiply-add takes:
                // for each value, its channel's sums at taps 2p and 2p + 1.
                std::array<std::uint8_t, 64> order{};
                for (int d = 0; d < 16 && wt.usable; ++d) {
                    const int channel = (16 * r + d) % 3;
                    for (int tap = 0; tap < 2; ++tap) {
                        const int sum =
                            (taps.index[pixelOf(d) * stride + 2 * p + tap] - first) * 3 + channel;
                        if (sum >= kWindow) {
                            wt.usable = false;
                            break;
                        }
                        order[4 * d + 2 * tap] = static_cast<std::uint8_t>(2 * sum);
                        order[4 * d + 2 * tap + 1] = static_cast<std::uint8_t>(2 * sum + 1);
                    }
                }
                const auto [known, made] =
                    shapes.emplace(order, static_cast<std::uint16_t>(shapes.size()));
                if (made)
                    wt.permutes.insert(wt.permutes.end(), order.begin(), order.end());
                wt.shape[run * pairs + p] = known->second;
            }
        }
    }
}

void AreaResampler::prepare(int sw, int sh, int dw, int dh) {
    if (horizontalFrom != sw || horizontalTo != dw) {
        computeTaps(sw, dw, horizontal);
        groupTaps(horizontal, grouped);
        windowTaps(horizontal, windowed);
        horizontalFrom = sw;
        horizontalTo = dw;
    }
    if (verticalFrom != sh || verticalTo != dh) {
        computeTaps(sh, dh, vertical);
        lastSourceRow.assign(dh, 0);
        mostRowsRead = 0;
        for (int y = 0; y < dh; ++y) {
            const std::size_t base = static_cast<std::size_t>(y) * vertical.taps;
            for (int t = 0; t < vertical.taps; ++t)
                lastSourceRow[y] = std::max(lastSourceRow[y], vertical.index[base + t]);
            mostRowsRead = std::max(mostRowsRead, lastSourceRow[y] - vertical.index[base] + 1);
        }
        verticalFrom = sh;
        verticalTo = dh;
    }
    // The grouped kernel reads up to four groups' worth past the last pixel,
    // the windowed one a window from a run's first pixel on; the padding is
    // zero, and weighs nothing.
    const std::size_t length = static_cast<std::size_t>(sw) * 4 + 16 * grouped.groups + 64;
    if (rowSums.size() < length)
        rowSums.resize(length);
    std::fill(rowSums.begin() + static_cast<std::ptrdiff_t>(sw) * inChannels, rowSums.end(), 0);
    rowPointers.resize(vertical.taps);
}

void AreaResampler::begin(int sw, int sh, std::uint8_t* dst, int dw, int dh, bool reverseRows,
                          bool opaque, std::uint8_t* halfLevel, RowFinish finish,
                          int sourceChannels) {
    out = dst;
    inChannels = sourceChannels == 3 ? 3 : 4;
    finishing = finish;
    half = dw % 2 == 0 && dh % 2 == 0 ? halfLevel : nullptr;
    inWidth = sw;
    outWidth = dw;
    outHeight = sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 ? 0 : dh;
    nextRow = 0;
    reverse = reverseRows;
    opaqueOut = opaque;
    if (outHeight > 0)
        prepare(sw, sh, dw, dh);
}

int AreaResampler::firstRowKept() const {
    return nextRow < outHeight ? vertical.index[static_cast<std::size_t>(nextRow) * vertical.taps]
                               : verticalFrom;
}

void AreaResampler::writeRow(const std::uint8_t* const* rows) {
    const std::size_t base = static_cast<std::size_t>(nextRow) * vertical.taps;
    verticalRow(kernel, rows, vertical.weights.data() + base, vertical.pairs.data() + base / 2,
                vertical.count[nextRow], inWidth * inChannels, rowSums.data());
    const std::size_t row = static_cast<std::size_t>(reverse ? outHeight - 1 - nextRow : nextRow);
    const std::size_t stride = static_cast<std::size_t>(outWidth) * 4;
    horizontalRow(kernel, rowSums.data(), horizontal, grouped, windowed, outWidth, inChannels,
                  opaqueOut, out + row * stride);
    if (finishing.apply != nullptr)
        finishing.apply(finishing.context, out + row * stride, outWidth);
    if (half != nullptr && nextRow % 2 == 1) {
        // The pair is this row and the one written before it.
        const std::size_t upper = reverse ? row : row - 1;
        Mipmaps::halveRows(out + upper * stride, out + (upper + 1) * stride, outWidth, 4,
                           half + upper / 2 * (stride / 2));
    }
}

void AreaResampler::resample(const std::uint8_t* src, int sw, int sh, std::size_t srcStride,
                             std::uint8_t* dst, int dw, int dh, bool reverseRows, bool opaque,
                             std::uint8_t* halfLevel, RowFinish finish) {
    begin(sw, sh, dst, dw, dh, reverseRows, opaque, halfLevel, finish);
    consume(sh, [&](int y) { return src + static_cast<std::size_t>(y) * srcStride; });
}
