#include "cache/CacheEntry.h"

#include "cache/PixelPacking.h"
#include "decode/DecoderVersions.h"
#include "decode/Mipmaps.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <sys/stat.h>

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
    static const std::string libraries = DecoderVersions::libraries();
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
    const std::uint64_t h = PixelPacking::fingerprint(w.bytes.data(), w.bytes.size(), 0);
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
    const std::uint64_t seed = PixelPacking::fingerprint(head.data(), length, 0);
    const std::uint64_t h = s.opaque
                                ? PixelPacking::widenOpaque(level0 + ahead, count, level0, seed)
                                : PixelPacking::fingerprint(level0, s.pixelBytes, seed);
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
