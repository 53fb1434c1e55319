#include "CacheEntry.h"

#include "Mipmaps.h"

#include <QtGlobal>
#include <jconfig.h>
#include <lcms2.h>
#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <dlfcn.h>
#include <new>
#include <sys/stat.h>

#if defined(__x86_64__) && defined(__GNUC__)
#define BYTE_SHUFFLES 1
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#ifndef LIBJPEG_TURBO_VERSION_NUMBER
#error "the JPEG library's headers do not say its version"
#endif

// Loops over pixels that the compiler's vectoriser makes slower, not faster
// (with the instructions every x86-64 has).
#if defined(__GNUC__) && !defined(__clang__)
#define SCALAR __attribute__((optimize("no-tree-vectorize")))
#else
#define SCALAR
#endif

namespace CacheEntry {

namespace {

constexpr char kMagic[8] = {'O', 'V', 'T', 'E', 'X', 'C', '\x02', '\n'};
// A header is small: its path is the longest part, and no path of the system
// is longer than this.
constexpr std::uint32_t kMaxPath = 4096;
constexpr std::uint32_t kMaxHeader = 2 * kBlock;
static_assert(512 + kMaxPath + 256 <= kMaxHeader);
// Textures are never larger than this on a side (the largest GL maximum in
// use), which bounds what a damaged header can ask to allocate.
constexpr std::int32_t kMaxSide = 32768;

// The JPEG library says its version only to the compiler; the file it is
// loaded from tells a library replaced since the build (an update of the
// same version that decodes differently), by its size and modification time.
std::string jpegLibrary() {
    std::string text = "jpeg " + std::to_string(LIBJPEG_TURBO_VERSION_NUMBER);
    Dl_info where{};
    struct stat info{};
    if (::dladdr(reinterpret_cast<void*>(&tjDecompress2), &where) != 0 &&
        where.dli_fname != nullptr && ::stat(where.dli_fname, &info) == 0)
        text += " (" + std::to_string(info.st_size) + " bytes, " +
                std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec) +
                ")";
    return text;
}

std::string libraryVersions() {
    return jpegLibrary() + ", lcms " + std::to_string(cmsGetEncodedCMMversion()) + ", png " +
           std::to_string(png_access_version_number()) + ", qt " + qVersion();
}

class Writer {
  public:
    template <typename T> void put(T value) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
        bytes.insert(bytes.end(), p, p + sizeof value);
    }
    void put(const std::string& text) {
        put(static_cast<std::uint32_t>(text.size()));
        bytes.insert(bytes.end(), text.begin(), text.end());
    }
    std::vector<std::uint8_t> bytes;
};

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : at(data), left(size) {}
    template <typename T> bool get(T& value) {
        if (left < sizeof value)
            return false;
        std::memcpy(&value, at, sizeof value);
        at += sizeof value;
        left -= sizeof value;
        return true;
    }
    bool get(std::string& text) {
        std::uint32_t n = 0;
        if (!get(n) || n > kMaxPath || n > left)
            return false;
        text.assign(reinterpret_cast<const char*>(at), n);
        at += n;
        left -= n;
        return true;
    }
    // Whether nothing but zeros is left.
    bool onlyZeros() const {
        for (std::size_t i = 0; i < left; ++i)
            if (at[i] != 0)
                return false;
        return true;
    }

  private:
    const std::uint8_t* at;
    std::size_t left;
};

void putKey(Writer& w, const Key& k) {
    w.put(k.path);
    w.put(k.device);
    w.put(k.inode);
    w.put(k.size);
    w.put(k.modifiedSeconds);
    w.put(k.modifiedNanoseconds);
    w.put(k.changedSeconds);
    w.put(k.changedNanoseconds);
    for (std::uint8_t b : {k.alphaMatch, k.matchRed, k.matchGreen, k.matchBlue, k.highQuality,
                           k.mipMapping, k.prebuiltMipmaps})
        w.put(b);
    w.put(k.textureFilter);
    w.put(k.halvings);
    w.put(k.maxTextureSize);
    w.put(k.decodingVersion);
    w.put(k.libraries);
}

bool getKey(Reader& r, Key& k) {
    return r.get(k.path) && r.get(k.device) && r.get(k.inode) && r.get(k.size) &&
           r.get(k.modifiedSeconds) && r.get(k.modifiedNanoseconds) && r.get(k.changedSeconds) &&
           r.get(k.changedNanoseconds) && r.get(k.alphaMatch) && r.get(k.matchRed) &&
           r.get(k.matchGreen) && r.get(k.matchBlue) && r.get(k.highQuality) &&
           r.get(k.mipMapping) && r.get(k.prebuiltMipmaps) && r.get(k.textureFilter) &&
           r.get(k.halvings) && r.get(k.maxTextureSize) && r.get(k.decodingVersion) &&
           r.get(k.libraries);
}

// The texture's shape as the header keeps it.
struct Shape {
    std::int32_t imageType = 0, width = 0, height = 0, bitsPerPixel = 0, bytesPerPixel = 0;
    std::int32_t longerSide = 0, mipmapLevels = 0;
    std::uint8_t imageTypeKnown = 0, targa = 0, rgba = 0;
    std::uint8_t opaque = 0;      // four-byte pixels kept as three: every alpha was 255
    std::uint64_t pixelBytes = 0; // as kept in the entry
};

void putShape(Writer& w, const Shape& s) {
    for (std::int32_t v : {s.imageType, s.width, s.height, s.bitsPerPixel, s.bytesPerPixel,
                           s.longerSide, s.mipmapLevels})
        w.put(v);
    for (std::uint8_t v : {s.imageTypeKnown, s.targa, s.rgba, s.opaque})
        w.put(v);
    w.put(s.pixelBytes);
}

bool getShape(Reader& r, Shape& s) {
    return r.get(s.imageType) && r.get(s.width) && r.get(s.height) && r.get(s.bitsPerPixel) &&
           r.get(s.bytesPerPixel) && r.get(s.longerSide) && r.get(s.mipmapLevels) &&
           r.get(s.imageTypeKnown) && r.get(s.targa) && r.get(s.rgba) && r.get(s.opaque) &&
           r.get(s.pixelBytes);
}

// Whether the shape is one a decode can make, with block lengths that agree
// with it: only then is anything allocated for the pixels.
bool consistent(const Shape& s) {
    if (s.width < 1 || s.height < 1 || s.width > kMaxSide || s.height > kMaxSide)
        return false;
    if (s.bytesPerPixel != 3 && s.bytesPerPixel != 4)
        return false;
    if ((s.rgba != 0) != (s.bytesPerPixel == 4) || s.imageTypeKnown > 1 || s.targa > 1 ||
        s.rgba > 1 || s.opaque > s.rgba)
        return false;
    const std::uint64_t level0 = static_cast<std::uint64_t>(s.width) *
                                 static_cast<std::uint64_t>(s.height) *
                                 static_cast<std::uint64_t>(s.opaque ? 3 : s.bytesPerPixel);
    if (s.pixelBytes != level0)
        return false;
    return s.mipmapLevels == 0 || (Mipmaps::buildable(s.width, s.height) &&
                                   s.mipmapLevels == Mipmaps::levelsBelow(s.width, s.height));
}

class MemorySource : public Source {
  public:
    MemorySource(const std::uint8_t* d, std::size_t n) : data(d), size(n) {}
    bool read(std::uint8_t* out, std::size_t n) override {
        if (n > size - at)
            return false;
        if (n > 0)
            std::memcpy(out, data + at, n);
        at += n;
        return true;
    }
    std::size_t length() const override { return size; }

  private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
};

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

} // namespace

Outcome Source::readPixels(PixelBuffer& pixels, std::size_t size, std::size_t room,
                           std::size_t ahead, std::uint8_t*& level0, std::uint64_t& trailer) {
    level0 = pixels.reserve(std::max(room, ahead + size));
    if (level0 == nullptr)
        return Outcome::NoMemory;
    return read(level0 + ahead, size) &&
                   read(reinterpret_cast<std::uint8_t*>(&trailer), sizeof trailer)
               ? Outcome::Read
               : Outcome::Wrong;
}

Key keyFor(const char* path, const struct stat& info, const TextureOptions& options,
           int maxTextureSize) {
    Key k;
    k.path = path;
    k.device = static_cast<std::uint64_t>(info.st_dev);
    k.inode = static_cast<std::uint64_t>(info.st_ino);
    k.size = static_cast<std::int64_t>(info.st_size);
    k.modifiedSeconds = static_cast<std::int64_t>(info.st_mtim.tv_sec);
    k.modifiedNanoseconds = static_cast<std::int64_t>(info.st_mtim.tv_nsec);
    k.changedSeconds = static_cast<std::int64_t>(info.st_ctim.tv_sec);
    k.changedNanoseconds = static_cast<std::int64_t>(info.st_ctim.tv_nsec);
    k.alphaMatch = options.alphaMatch;
    // The key colour decides nothing while the key is off.
    if (options.alphaMatch) {
        k.matchRed = options.matchRed;
        k.matchGreen = options.matchGreen;
        k.matchBlue = options.matchBlue;
    }
    k.highQuality = options.highQuality;
    k.mipMapping = options.mipMapping;
    k.prebuiltMipmaps = options.prebuiltMipmaps;
    k.textureFilter = options.textureFilter;
    k.halvings = options.halvings;
    k.maxTextureSize = maxTextureSize;
    static const std::string libraries = libraryVersions();
    k.libraries = libraries;
    return k;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

std::string entryName(const Key& key) {
    // Everything but the file's identity and the versions: those are checked
    // inside the entry, and an entry that no longer matches is replaced.
    Key naming = key;
    naming.device = naming.inode = 0;
    naming.size = naming.modifiedSeconds = naming.modifiedNanoseconds = 0;
    naming.changedSeconds = naming.changedNanoseconds = 0;
    naming.decodingVersion = 0;
    naming.libraries.clear();
    Writer w;
    putKey(w, naming);
    const std::uint64_t h = fingerprint(w.bytes.data(), w.bytes.size(), 0);
    static const char digits[] = "0123456789abcdef";
    std::string name(16, '0');
    for (int i = 0; i < 16; ++i)
        name[i] = digits[(h >> (60 - 4 * i)) & 15];
    return name + ".tex";
}

bool isEntryName(const char* name) {
    if (std::strlen(name) != 20 || std::strcmp(name + 16, ".tex") != 0)
        return false;
    for (int i = 0; i < 16; ++i)
        if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'f')))
            return false;
    return true;
}

namespace {

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

std::size_t pixelBytes(const DecodedTexture& d) {
    return static_cast<std::size_t>(d.width) * static_cast<std::size_t>(d.height) *
           static_cast<std::size_t>(d.bytesPerPixel);
}

std::vector<std::uint8_t> header(const Key& key, const DecodedTexture& d, bool opaque) {
    Shape s;
    s.imageType = d.imageType;
    s.imageTypeKnown = d.imageTypeKnown;
    s.targa = d.targa;
    s.width = d.width;
    s.height = d.height;
    s.rgba = d.format == PixelFormat::Rgba;
    s.bitsPerPixel = d.bitsPerPixel;
    s.bytesPerPixel = d.bytesPerPixel;
    s.longerSide = d.longerSide;
    s.mipmapLevels = d.mipmaps == nullptr ? 0 : d.mipmapLevels;
    s.opaque = opaque && s.rgba;
    s.pixelBytes = s.opaque ? pixelBytes(d) / 4 * 3 : pixelBytes(d);

    Writer w;
    w.bytes.assign(kMagic, kMagic + sizeof kMagic);
    w.put(std::uint32_t{0}); // the header's length, filled in below
    putKey(w, key);
    putShape(w, s);
    w.bytes.resize((w.bytes.size() + kBlock - 1) / kBlock * kBlock, 0);
    const auto length = static_cast<std::uint32_t>(w.bytes.size());
    std::memcpy(w.bytes.data() + sizeof kMagic, &length, sizeof length);
    return w.bytes;
}

// Kept scalar: vectorised, the 64-bit multiplications of the lanes are
// taken apart into 32-bit ones and the whole runs at half the speed.
std::uint64_t fingerprint(const std::uint8_t* data, std::size_t size, std::uint64_t seed) {
    Lanes lanes(seed);
    lanes.blocks(data, size / 64);
    return lanes.finish(data + size / 64 * 64, size, seed);
}

namespace {

Outcome readEntry(Source& source, const Key* expected, PixelBuffer& pixels, PixelBuffer& mipmaps,
                  DecodedTexture& result, Key* found) {
    std::uint8_t prefix[sizeof kMagic + 4];
    if (!source.read(prefix, sizeof prefix) || std::memcmp(prefix, kMagic, sizeof kMagic) != 0)
        return Outcome::Wrong;
    std::uint32_t length = 0;
    std::memcpy(&length, prefix + sizeof kMagic, sizeof length);
    if (length <= sizeof prefix || length > kMaxHeader || length % kBlock != 0 ||
        length > source.length())
        return Outcome::Wrong;
    std::vector<std::uint8_t> head(length);
    std::memcpy(head.data(), prefix, sizeof prefix);
    if (!source.read(head.data() + sizeof prefix, length - sizeof prefix))
        return Outcome::Wrong;

    Reader r(head.data() + sizeof prefix, length - sizeof prefix);
    Key key;
    Shape s;
    if (!getKey(r, key) || !getShape(r, s) || !r.onlyZeros() || !consistent(s))
        return Outcome::Wrong;
    if (expected != nullptr && !(key == *expected))
        return Outcome::Wrong;
    // The file holds exactly the header, the pixels and the trailer.
    const std::uint64_t whole = std::uint64_t{length} + s.pixelBytes + 8;
    if (whole != source.length())
        return Outcome::Wrong;

    // The entry is sound as far as it has been read; memory running short
    // from here on is the reader's trouble, not the entry's.
    std::uint8_t* level0 = nullptr;
    std::uint64_t stored = 0;
    // Opaque pixels are read a block-aligned pixel count past where they
    // are widened to, so that the widening can run front to back with the
    // fingerprint.
    const std::size_t count = s.pixelBytes / (s.opaque ? 3 : s.bytesPerPixel);
    const std::size_t ahead = s.opaque ? (count + kBlock - 1) / kBlock * kBlock : 0;
    const std::size_t room = s.opaque ? count * 4 : s.pixelBytes;
    if (const Outcome got = source.readPixels(pixels, s.pixelBytes, room, ahead, level0, stored);
        got != Outcome::Read)
        return got;
    const std::uint64_t seed = fingerprint(head.data(), length, 0);
    const std::uint64_t h = s.opaque ? widenOpaque(level0 + ahead, count, level0, seed)
                                     : fingerprint(level0, s.pixelBytes, seed);
    if (h != stored)
        return Outcome::Wrong;
    // The levels below are built again: the same function made them from the
    // same pixels, and they would cost a quarter more to write and read.
    std::uint8_t* below = nullptr;
    if (s.mipmapLevels > 0) {
        below = mipmaps.reserve(Mipmaps::bytesBelow(s.width, s.height, s.bytesPerPixel));
        if (below == nullptr)
            return Outcome::NoMemory;
        Mipmaps::build(level0, s.width, s.height, s.bytesPerPixel, below);
    }

    result.ok = true;
    result.targa = s.targa;
    result.imageTypeKnown = s.imageTypeKnown;
    result.imageType = s.imageType;
    result.headerKnown = s.targa;
    result.longerSide = s.longerSide;
    result.width = s.width;
    result.height = s.height;
    result.format = s.rgba ? PixelFormat::Rgba : PixelFormat::Rgb;
    result.bitsPerPixel = s.bitsPerPixel;
    result.bytesPerPixel = s.bytesPerPixel;
    result.pixels = level0;
    result.mipmaps = below;
    result.mipmapLevels = below == nullptr ? 0 : s.mipmapLevels;
    if (found != nullptr)
        *found = std::move(key);
    return Outcome::Read;
}

} // namespace

Outcome read(Source& source, const Key* expected, PixelBuffer& pixels, PixelBuffer& mipmaps,
             DecodedTexture& result, Key* found) {
    result = DecodedTexture();
    Outcome outcome = Outcome::Wrong;
    try {
        outcome = readEntry(source, expected, pixels, mipmaps, result, found);
    } catch (const std::bad_alloc&) { // the header's buffer or the key's texts
        outcome = Outcome::NoMemory;
    }
    // A read that failed on the way says nothing about the entry.
    if (outcome == Outcome::Wrong && source.failed())
        outcome = Outcome::Unreadable;
    if (outcome != Outcome::Read)
        result = DecodedTexture();
    return outcome;
}

bool readFromMemory(const std::uint8_t* data, std::size_t size, const Key* expected,
                    PixelBuffer& pixels, PixelBuffer& mipmaps, DecodedTexture& result, Key* found) {
    MemorySource source(data, size);
    return read(source, expected, pixels, mipmaps, result, found) == Outcome::Read;
}

} // namespace CacheEntry
