#pragma once

#include "decode/DecodedTexture.h"
#include "decode/DecoderVersions.h"
#include "decode/PixelBuffer.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

// One entry of the texture cache: the texture levels a decode made of one
// image file, with everything that decided them. The entry is kept in a file
// of its own, laid out as
//
//   header   magic, its own length, the key, the texture's shape and the
//            lengths of the two pixel blocks (native byte order), padded
//            with zeros to a multiple of kBlock bytes
//   pixels   level 0, bottom row first, rows packed tightly; four-byte
//            pixels whose alpha is 255 throughout are kept as three bytes
//            (a quarter less to write and read) and widened when read
//   trailer  the fingerprint of the two parts above (8 bytes,
//            PixelPacking::fingerprint)
//
// The pixels begin on a block boundary of the file, so that they can be
// read and written straight between the disk and memory of the program's
// own, past the kernel's page cache.
//
// The mipmap levels a decode built are not kept: reading builds them again
// from level 0, as the decode did.
//
// An entry is read like any file from outside: every length is checked
// against the file's own size and against what the shape needs before
// anything is allocated, and the fingerprint must match before a byte of it
// is used.
namespace CacheEntry {

// Entries are laid out in blocks of this size (see above).
constexpr std::size_t kBlock = 4096;
constexpr std::size_t roundUpToBlock(std::size_t n) {
    return (n + kBlock - 1) / kBlock * kBlock;
}

// What an entry must match to stand for a decode of the file now: the file
// (its path as given, device, inode, size, modification and change time,
// nanoseconds included), the loader's options, the GL implementation's
// largest texture size, and the decoding with every library whose output
// goes into the pixels (JPEG, PNG, colour management, Qt's image readers).
struct Key {
    std::string path;
    std::uint64_t device = 0, inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0, modifiedNanoseconds = 0;
    std::int64_t changedSeconds = 0, changedNanoseconds = 0;
    std::uint8_t alphaMatch = 0, matchRed = 0, matchGreen = 0, matchBlue = 0;
    std::uint8_t highQuality = 0, mipMapping = 0, prebuiltMipmaps = 0;
    std::int32_t textureFilter = 0, halvings = 0;
    std::int32_t maxTextureSize = 0;
    std::uint32_t decodingVersion = DecoderVersions::kDecoding;
    std::string libraries; // versions of the decoding libraries in use

    bool operator==(const Key&) const = default;
};

// The key of a decode of the file that `info` describes (a stat of `path`).
Key keyFor(const char* path, const struct stat& info, const TextureOptions& options,
           int maxTextureSize);

// True when two stats describe the same content of the same file: the file
// was not replaced or written in between.
bool sameFile(const struct stat& a, const struct stat& b);

// The name of the entry for a path decoded with these options: the same for
// every version of the file, so that a new version replaces the old entry.
std::string entryName(const Key& key);

// Whether a file name in the cache folder is that of an entry.
bool isEntryName(const char* name);

// The header of an entry for `decoded` (a successful decode) under `key`;
// `opaque` when its four-byte pixels are kept as three
// (PixelPacking::packOpaque).
// Its length does not depend on `opaque`.
std::vector<std::uint8_t> header(const Key& key, const DecodedTexture& decoded,
                                 bool opaque = false);

// The bytes of level 0 of a successful decode.
std::size_t pixelBytes(const DecodedTexture& decoded);

enum class Outcome;

// Where an entry is read from: `read` fills exactly `size` bytes or fails.
class Source {
  public:
    virtual ~Source() = default;
    virtual bool read(std::uint8_t* out, std::size_t size) = 0;
    // Reads the rest of the entry: `size` bytes of pixels to `ahead` bytes
    // (a multiple of kBlock) past `level0` in `pixels` (`level0` need not be
    // the buffer's start), with `room` bytes from `level0` on, and the 8-byte
    // trailer. NoMemory when the buffer cannot be had.
    virtual Outcome readPixels(PixelBuffer& pixels, std::size_t size, std::size_t room,
                               std::size_t ahead, std::uint8_t*& level0, std::uint64_t& trailer);
    // The whole entry's length in bytes.
    virtual std::size_t length() const = 0;
    // Whether a read failed for a cause outside the entry (an I/O error),
    // rather than for finding fewer bytes than the entry claims.
    virtual bool failed() const { return false; }
};

// How reading an entry ended.
enum class Outcome {
    Read,       // whole, sound and of the key expected
    Wrong,      // not whole, not consistent, damaged or of another key
    NoMemory,   // sound as far as read, but its buffers could not be had
    Unreadable, // the source failed before the entry could be judged
};

// Reads an entry into `pixels` and `mipmaps` and describes it in `result`
// (pixels pointing into the buffers), its key in `found` when given. When
// `expected` is given, the entry's key must equal it, and no pixel is read
// unless it does. Anything but Read leaves `result` failed. Only Wrong says
// the entry itself is bad.
Outcome read(Source& source, const Key* expected, PixelBuffer& pixels, PixelBuffer& mipmaps,
             DecodedTexture& result, Key* found = nullptr);

// The same on an entry held in memory; true when it was read.
bool readFromMemory(const std::uint8_t* data, std::size_t size, const Key* expected,
                    PixelBuffer& pixels, PixelBuffer& mipmaps, DecodedTexture& result,
                    Key* found = nullptr);

} // namespace CacheEntry
