// libFuzzer harness: the texture cache's entry reader on arbitrary bytes.
#include "cache/CacheEntry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static PixelBuffer pixels, mipmaps;
    DecodedTexture result;
    CacheEntry::Key key;
    if (!CacheEntry::readFromMemory(data, size, nullptr, pixels, mipmaps, result, &key))
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
