#include "cache/PixelPacking.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#define BYTE_SHUFFLES 1
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

// Loops over pixels that the compiler's vectoriser makes slower, not faster
// (with the instructions every x86-64 has).
#if defined(__GNUC__) && !defined(__clang__)
#define SCALAR __attribute__((optimize("no-tree-vectorize")))
#else
#define SCALAR
#endif

namespace PixelPacking {

namespace {

std::uint64_t rotate(std::uint64_t x, int by) {
    return (x << by) | (x >> (64 - by));
}

// The fingerprint (see the header), taken in steps of whole 64-byte blocks:
// eight independent lanes, each a chain of bijections of its state (xor
// with the word, multiplication by an odd constant, xor with its own high
// half), so that the multiplications of the lanes overlap in the CPU; then
// the lanes and the last partial block folded into one word.
class Lanes {
  public:
    explicit Lanes(std::uint64_t seed) {
        for (int k = 0; k < 8; ++k)
            lane[k] = seed + kOdd2 * static_cast<std::uint64_t>(k + 1);
    }
    // Kept scalar: vectorised, the 64-bit multiplications are taken apart
    // into 32-bit ones and the whole runs at half the speed.
    SCALAR void blocks(const std::uint8_t* data, std::size_t count) {
        for (std::size_t i = 0; i < count * 64; i += 64) {
            for (int k = 0; k < 8; ++k) {
                std::uint64_t word;
                std::memcpy(&word, data + i + 8 * k, 8);
                lane[k] = (lane[k] ^ word) * kOdd;
                lane[k] ^= lane[k] >> 32;
            }
        }
    }
    // `tail` holds the last size % 64 bytes of all `size`.
    std::uint64_t finish(const std::uint8_t* tail, std::size_t size, std::uint64_t seed) const {
        std::uint64_t h = seed ^ (static_cast<std::uint64_t>(size) * kOdd2);
        for (int k = 0; k < 8; ++k)
            h = rotate((h ^ lane[k]) * kOdd, 29);
        const std::size_t left = size % 64;
        for (std::size_t i = 0; i < left; i += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, tail + i, left - i < 8 ? left - i : 8);
            h = rotate((h ^ word) * kOdd, 29);
        }
        h ^= h >> 33;
        h *= kOdd2;
        h ^= h >> 29;
        return h;
    }

  private:
    static constexpr std::uint64_t kOdd = 0x9E3779B97F4A7C15ull;
    static constexpr std::uint64_t kOdd2 = 0xD6E8FEB86659FD93ull;
    std::uint64_t lane[8];
};

// Pixels go in groups whose three-byte form is a whole number of blocks.
constexpr std::size_t kGroup = 64;

#ifdef BYTE_SHUFFLES
// Sixteen pixels a step with byte shuffles, where the CPU has them (SSSE3,
// which nearly every x86-64 in use has; asked at run time): about four times
// as fast as the word-by-word loops below, which do the rest.
bool haveShuffles() {
    static const bool have = __builtin_cpu_supports("ssse3");
    return have;
}

// Packs pixels from `first` on, while at least sixteen are left before
// `end`; the first pixel not packed, or `end` + 1 when one's alpha is not 255.
__attribute__((target("ssse3"))) std::size_t
packShuffled(const std::uint8_t* pixels, std::size_t first, std::size_t end, std::uint8_t* out) {
    const __m128i drop = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    std::size_t i = first;
    for (; i + 16 <= end; i += 16) {
        const std::uint8_t* from = pixels + i * 4;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 48));
        const __m128i all = _mm_and_si128(_mm_and_si128(a, b), _mm_and_si128(c, d));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(all, alpha), alpha)) != 0xFFFF)
            return end + 1;
        // Twelve bytes in the low end of each, then joined into three.
        const __m128i p0 = _mm_shuffle_epi8(a, drop), p1 = _mm_shuffle_epi8(b, drop);
        const __m128i p2 = _mm_shuffle_epi8(c, drop), p3 = _mm_shuffle_epi8(d, drop);
        std::uint8_t* to = out + i * 3;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_or_si128(p0, _mm_slli_si128(p1, 12)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16),
                         _mm_or_si128(_mm_srli_si128(p1, 4), _mm_slli_si128(p2, 8)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 32),
                         _mm_or_si128(_mm_srli_si128(p2, 8), _mm_slli_si128(p3, 4)));
    }
    return i;
}

// Widens pixels from `first` on, while at least sixteen are left before
// `end`; the first pixel not widened. Each step takes in its 48 bytes before
// it writes its 64, as widenOpaque requires.
__attribute__((target("ssse3"))) std::size_t
widenShuffled(const std::uint8_t* from, std::size_t first, std::size_t end, std::uint8_t* to) {
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    std::size_t i = first;
    for (; i + 16 <= end; i += 16) {
        const std::uint8_t* in = from + i * 3;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32));
        const __m128i q0 = _mm_shuffle_epi8(a, spread);
        const __m128i q1 = _mm_shuffle_epi8(_mm_alignr_epi8(b, a, 12), spread);
        const __m128i q2 = _mm_shuffle_epi8(_mm_alignr_epi8(c, b, 8), spread);
        const __m128i q3 = _mm_shuffle_epi8(_mm_srli_si128(c, 4), spread);
        std::uint8_t* out = to + i * 4;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(q0, alpha));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_or_si128(q1, alpha));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_or_si128(q2, alpha));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48), _mm_or_si128(q3, alpha));
    }
    return i;
}
#endif

// Packs pixels first to last-1 of `pixels` (see packOpaque).
SCALAR bool pack(const std::uint8_t* pixels, std::size_t first, std::size_t end,
                 std::uint8_t* out) {
    std::size_t i = first;
#ifdef BYTE_SHUFFLES
    if (haveShuffles() && (i = packShuffled(pixels, i, end, out)) > end)
        return false;
#endif
    if constexpr (std::endian::native == std::endian::little) {
        // Four pixels at a time: four words in, three out.
        for (; i + 4 <= end; i += 4) {
            const std::uint8_t* from = pixels + i * 4;
            std::uint32_t p0, p1, p2, p3;
            std::memcpy(&p0, from, 4);
            std::memcpy(&p1, from + 4, 4);
            std::memcpy(&p2, from + 8, 4);
            std::memcpy(&p3, from + 12, 4);
            if ((p0 & p1 & p2 & p3) >> 24 != 0xFFu)
                return false;
            const std::uint32_t w0 = (p0 & 0xFFFFFFu) | (p1 << 24);
            const std::uint32_t w1 = ((p1 >> 8) & 0xFFFFu) | (p2 << 16);
            const std::uint32_t w2 = ((p2 >> 16) & 0xFFu) | (p3 << 8);
            std::memcpy(out + i * 3, &w0, 4);
            std::memcpy(out + i * 3 + 4, &w1, 4);
            std::memcpy(out + i * 3 + 8, &w2, 4);
        }
    }
    for (; i < end; ++i) {
        const std::uint8_t* from = pixels + i * 4;
        if (from[3] != 255)
            return false;
        out[i * 3] = from[0];
        out[i * 3 + 1] = from[1];
        out[i * 3 + 2] = from[2];
    }
    return true;
}

// Puts a packed group where it is kept, past the CPU's caches where it can:
// nothing reads it again before it goes to the disk, so bringing those lines
// in first (and pushing others out for them) would be wasted.
void putGroup(const std::uint8_t* group, std::uint8_t* to) {
#ifdef __SSE2__
    if (reinterpret_cast<std::uintptr_t>(to) % 16 == 0) {
        for (std::size_t k = 0; k < kGroup * 3; k += 16)
            _mm_stream_si128(reinterpret_cast<__m128i*>(to + k),
                             _mm_load_si128(reinterpret_cast<const __m128i*>(group + k)));
        return;
    }
#endif
    std::memcpy(to, group, kGroup * 3);
}

} // namespace

// Widens `count` three-byte pixels at `from` to four with alpha 255 at `to`,
// front to back, and returns the fingerprint of the three-byte ones from
// `seed`. `from` may lie inside the wider pixels, at least `count` bytes
// after `to`: a group's bytes are taken in before its wider ones are
// written, and those reach no byte not yet taken in.
SCALAR std::uint64_t widenOpaque(const std::uint8_t* from, std::size_t count, std::uint8_t* to,
                                 std::uint64_t seed) {
    Lanes lanes(seed);
    auto widen = [&](std::size_t first, std::size_t end) {
        std::size_t i = first;
#ifdef BYTE_SHUFFLES
        if (haveShuffles())
            i = widenShuffled(from, i, end, to);
#endif
        if constexpr (std::endian::native == std::endian::little) {
            // Four pixels at a time: three words in, four out.
            for (; i + 4 <= end; i += 4) {
                std::uint32_t w0, w1, w2;
                std::memcpy(&w0, from + i * 3, 4);
                std::memcpy(&w1, from + i * 3 + 4, 4);
                std::memcpy(&w2, from + i * 3 + 8, 4);
                const std::uint32_t p0 = w0 | 0xFF000000u;
                const std::uint32_t p1 = (w0 >> 24) | (w1 << 8) | 0xFF000000u;
                const std::uint32_t p2 = (w1 >> 16) | (w2 << 16) | 0xFF000000u;
                const std::uint32_t p3 = (w2 >> 8) | 0xFF000000u;
                std::memcpy(to + i * 4, &p0, 4);
                std::memcpy(to + i * 4 + 4, &p1, 4);
                std::memcpy(to + i * 4 + 8, &p2, 4);
                std::memcpy(to + i * 4 + 12, &p3, 4);
            }
        }
        for (; i < end; ++i) {
            const std::uint8_t r = from[i * 3], g = from[i * 3 + 1], b = from[i * 3 + 2];
            to[i * 4] = r;
            to[i * 4 + 1] = g;
            to[i * 4 + 2] = b;
            to[i * 4 + 3] = 255;
        }
    };
    std::size_t i = 0;
    for (; i + kGroup <= count; i += kGroup) {
        lanes.blocks(from + i * 3, kGroup * 3 / 64);
        widen(i, i + kGroup);
    }
    const std::size_t left = (count - i) * 3;
    lanes.blocks(from + i * 3, left / 64);
    const std::uint64_t h = lanes.finish(from + i * 3 + left / 64 * 64, count * 3, seed);
    widen(i, count);
    return h;
}

bool packOpaque(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out,
                std::uint64_t seed, std::uint64_t& check) {
    // Each group is packed and fingerprinted in a buffer of the CPU's
    // nearest cache, then put in place.
    Lanes lanes(seed);
    alignas(64) std::uint8_t group[kGroup * 3];
    std::size_t i = 0;
    bool opaque = true;
    for (; i + kGroup <= count && opaque; i += kGroup) {
        opaque = pack(pixels + i * 4, 0, kGroup, group);
        lanes.blocks(group, kGroup * 3 / 64);
        putGroup(group, out + i * 3);
    }
#ifdef __SSE2__
    _mm_sfence(); // the streamed groups are in memory before another thread is told
#endif
    if (!opaque || !pack(pixels, i, count, out))
        return false;
    const std::size_t left = (count - i) * 3;
    lanes.blocks(out + i * 3, left / 64);
    check = lanes.finish(out + i * 3 + left / 64 * 64, count * 3, seed);
    return true;
}

// Kept scalar: vectorised, the 64-bit multiplications of the lanes are
// taken apart into 32-bit ones and the whole runs at half the speed.
std::uint64_t fingerprint(const std::uint8_t* data, std::size_t size, std::uint64_t seed) {
    Lanes lanes(seed);
    lanes.blocks(data, size / 64);
    return lanes.finish(data + size / 64 * 64, size, seed);
}

} // namespace PixelPacking
