#include "decode/PixelBuffer.h"

#include <new>

#include <sys/mman.h>

namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORBIVUE_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ORBIVUE_ADDRESS_SANITIZER 1
#endif

// Buffers from this size on are mappings of their own, which go back to the
// system the moment they are released. From the C library's heap they would
// depend on how it sizes its own mappings, which changes with what was freed
// before: a viewer's decode buffers could then stay in the process after it
// closed. The address sanitizer keeps the heap, whose bounds it checks.
#if defined(ORBIVUE_ADDRESS_SANITIZER)
constexpr std::size_t kMappedFrom = ~std::size_t(0);
#else
constexpr std::size_t kMappedFrom = std::size_t(1) << 20;
#endif

} // namespace

void PixelBufferFree::operator()(std::uint8_t* memory) const noexcept {
    if (mapped != 0)
        ::munmap(memory, mapped);
    else
        delete[] memory;
}

std::uint8_t* PixelBuffer::reserve(std::size_t size) {
    if (size <= allocated && storage)
        return storage.get();
    storage.reset();
    allocated = 0;
    std::uint8_t* memory = nullptr;
    std::size_t mapped = 0;
    if (size >= kMappedFrom) {
        void* pages =
            ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pages == MAP_FAILED)
            return nullptr;
        memory = static_cast<std::uint8_t*>(pages);
        mapped = size;
    } else {
        // Default-initialised: the contents are written by the caller anyway.
        memory = new (std::nothrow) std::uint8_t[size == 0 ? 1 : size];
        if (memory == nullptr)
            return nullptr;
    }
    storage = Storage(memory, PixelBufferFree{mapped});
    allocated = size;
    return memory;
}

void PixelBuffer::release() {
    storage.reset();
    allocated = 0;
}
