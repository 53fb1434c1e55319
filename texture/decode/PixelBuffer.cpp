#include "decode/PixelBuffer.h"

#include <new>

std::uint8_t* PixelBuffer::reserve(std::size_t size) {
    if (size <= allocated && storage)
        return storage.get();
    storage.reset();
    allocated = 0;
    // Default-initialised: the contents are written by the caller anyway.
    std::uint8_t* memory = new (std::nothrow) std::uint8_t[size == 0 ? 1 : size];
    if (memory == nullptr)
        return nullptr;
    storage.reset(memory);
    allocated = size;
    return memory;
}

void PixelBuffer::release() {
    storage.reset();
    allocated = 0;
}
