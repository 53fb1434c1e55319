#include "decode/AreaResampler.h"

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

// Combines the source rows of one destination row into 16-bit sums.
void verticalRow(const std::uint8_t* const* rows, const std::int16_t* w, const std::uint32_t* pairs,
                 int taps, int length, std::int16_t* out) {
    int x = 0;
#if defined(__SSE2__)
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
void horizontalRow(const std::int16_t* row, const AreaResampler::AxisTaps& h, int dw,
                   std::uint8_t* out) {
    const int taps = h.taps;
    int x = 0;
#if defined(__SSE2__)
    const __m128i round = _mm_set1_epi32(1 << (kFinalShift - 1));
    // Sums the taps of destination pixel i, two source pixels per step: the
    // 16 bytes of pixels j and j + 1 are interleaved channel by channel.
    auto pixel = [&](int i) {
        const int* index = h.index.data() + static_cast<std::size_t>(i) * taps;
        const std::uint32_t* pairs = h.pairs.data() + static_cast<std::size_t>(i) * (taps / 2);
        const int pairCount = h.count[i] / 2;
        __m128i acc = _mm_setzero_si128();
        for (int p = 0; p < pairCount; ++p) {
            const __m128i a =
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + index[2 * p] * 4));
            const __m128i b =
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + index[2 * p + 1] * 4));
            acc =
                _mm_add_epi32(acc, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), pairWeights(pairs[p])));
        }
        return _mm_srai_epi32(_mm_add_epi32(acc, round), kFinalShift);
    };
    for (; x + 2 <= dw; x += 2) {
        const __m128i packed = _mm_packs_epi32(pixel(x), pixel(x + 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + static_cast<std::size_t>(x) * 4),
                         _mm_packus_epi16(packed, packed));
    }
#endif
    for (; x < dw; ++x) {
        const int* index = h.index.data() + static_cast<std::size_t>(x) * taps;
        const std::int16_t* w = h.weights.data() + static_cast<std::size_t>(x) * taps;
        for (int c = 0; c < 4; ++c) {
            std::int32_t sum = 0;
            for (int t = 0; t < taps; ++t)
                sum += w[t] * row[index[t] * 4 + c];
            const int value = (sum + (1 << (kFinalShift - 1))) >> kFinalShift;
            out[static_cast<std::size_t>(x) * 4 + c] =
                static_cast<std::uint8_t>(std::clamp(value, 0, 255));
        }
    }
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

void AreaResampler::resample(const std::uint8_t* src, int sw, int sh, std::size_t srcStride,
                             std::uint8_t* dst, int dw, int dh, bool reverseRows) {
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
    std::vector<const std::uint8_t*> rows(vertical.taps);
    for (int y = 0; y < dh; ++y) {
        const std::size_t base = static_cast<std::size_t>(y) * vertical.taps;
        for (int t = 0; t < vertical.taps; ++t)
            rows[t] = src + static_cast<std::size_t>(vertical.index[base + t]) * srcStride;
        verticalRow(rows.data(), vertical.weights.data() + base, vertical.pairs.data() + base / 2,
                    vertical.count[y], length, rowSums.data());
        const std::size_t row = static_cast<std::size_t>(reverseRows ? dh - 1 - y : y);
        horizontalRow(rowSums.data(), horizontal, dw, dst + row * dstStride);
    }
}
