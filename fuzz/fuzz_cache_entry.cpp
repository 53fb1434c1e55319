// libFuzzer harness: the texture cache's entry reader on arbitrary bytes,
// from memory and from a file, read as the cache reads its entries (direct
// transfers where the file system has them).
#include "FileDescriptor.h"
#include "ReadWrite.h"
#include "cache/CacheEntry.h"
#include "cache/EntryFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// One file, written through one descriptor and read through another as an
// entry is.
struct EntryOnDisk {
    FileDescriptor writing, reading;
    EntryOnDisk() {
        char name[] = "/tmp/orbivue-fuzz-entry-XXXXXX";
        writing = FileDescriptor(::mkstemp(name));
        reading = FileDescriptor(EntryFile::openDirect(AT_FDCWD, name, O_RDONLY | O_CLOEXEC));
        ::unlink(name);
        if (!writing || !reading)
            std::abort();
    }
    void hold(const std::uint8_t* data, std::size_t size) const {
        if (::ftruncate(writing.get(), 0) != 0 ||
            !ReadWrite::writeAllAt(writing.get(), data, size, 0))
            std::abort();
    }
};

bool sameTexture(const DecodedTexture& a, const DecodedTexture& b) {
    return a.width == b.width && a.height == b.height && a.bytesPerPixel == b.bytesPerPixel &&
           a.mipmapLevels == b.mipmapLevels &&
           std::memcmp(a.pixels, b.pixels, CacheEntry::pixelBytes(a)) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static PixelBuffer pixels, mipmaps, filePixels, fileMipmaps;
    static const EntryOnDisk file;
    DecodedTexture result;
    CacheEntry::Key key;
    const bool read =
        CacheEntry::readFromMemory(data, size, nullptr, pixels, mipmaps, result, &key);

    // The same bytes from the file: the same verdict and the same pixels.
    file.hold(data, size);
    EntryFile::Source source(file.reading.get(), size);
    DecodedTexture fromFile;
    const CacheEntry::Outcome outcome =
        CacheEntry::read(source, nullptr, filePixels, fileMipmaps, fromFile);
    if (outcome != CacheEntry::Outcome::NoMemory &&
        (read != (outcome == CacheEntry::Outcome::Read) ||
         (read && !sameTexture(result, fromFile))))
        std::abort();
    if (!read)
        return 0;
    // An entry that reads is read again under its own key, and under no other.
    DecodedTexture again;
    if (!CacheEntry::readFromMemory(data, size, &key, pixels, mipmaps, again))
        std::abort();
    ++key.changedNanoseconds;
    if (CacheEntry::readFromMemory(data, size, &key, pixels, mipmaps, again))
        std::abort();
    return 0;
}
